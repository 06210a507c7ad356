#include "vorlix/source.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace vorlix_core {

namespace {

// strerror_r comes in two forms: GNU's returns the text (possibly not in buf), POSIX's (musl,
// and glibc without _GNU_SOURCE) fills buf and returns a status. Overloads pick whichever the
// C library declares.
[[maybe_unused]] const char* error_text(const char* gnu_result, const char*) {
  return gnu_result;
}
[[maybe_unused]] const char* error_text(int posix_status, const char* buf) {
  return posix_status == 0 ? buf : "Unknown error";
}

}  // namespace

std::string IoError::display() const {
  if (code_ == 0) return text_;
  char buf[256] = {};
  const char* msg = error_text(strerror_r(code_, buf, sizeof buf), buf);
  return std::string(msg) + " (os error " + std::to_string(code_) + ")";
}

IoResult<Unit> ByteSource::read_exact(std::span<uint8_t> buf) {
  size_t done = 0;
  while (done < buf.size()) {
    auto r = read(buf.subspan(done));
    if (!r) return Err{std::move(r).error()};
    if (*r == 0) return Err{IoError::short_read()};
    done += *r;
  }
  return Unit{};
}

IoResult<size_t> ByteSource::read_at(uint64_t offset, std::span<uint8_t> buf) {
  if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return size_t{0};
  if (auto s = seek(static_cast<int64_t>(offset), Whence::Start); !s) return Err{s.error()};
  size_t done = 0;
  while (done < buf.size()) {
    auto r = read(buf.subspan(done));
    if (!r) return Err{std::move(r).error()};
    if (*r == 0) break;
    done += *r;
  }
  return done;
}

IoResult<size_t> MemorySource::read_at(uint64_t offset, std::span<uint8_t> buf) {
  if (offset >= data_.size()) return size_t{0};
  const size_t n = std::min<uint64_t>(buf.size(), data_.size() - offset);
  std::memcpy(buf.data(), data_.data() + offset, n);
  return n;
}

IoResult<size_t> MemorySource::read(std::span<uint8_t> buf) {
  if (pos_ >= data_.size()) return size_t{0};
  const size_t n = std::min<uint64_t>(buf.size(), data_.size() - pos_);
  std::memcpy(buf.data(), data_.data() + pos_, n);
  pos_ += n;
  return n;
}

static IoResult<uint64_t> resolve_seek(uint64_t base, int64_t offset) {
  if (offset < 0 && static_cast<uint64_t>(-(offset + 1)) + 1 > base) {
    return Err{IoError::fixed("invalid seek to a negative or overflowing position")};
  }
  if (offset >= 0 && static_cast<uint64_t>(offset) > std::numeric_limits<uint64_t>::max() - base) {
    return Err{IoError::fixed("invalid seek to a negative or overflowing position")};
  }
  return offset < 0 ? base - (static_cast<uint64_t>(-(offset + 1)) + 1)
                    : base + static_cast<uint64_t>(offset);
}

IoResult<uint64_t> MemorySource::seek(int64_t offset, Whence whence) {
  const uint64_t base = whence == Whence::Start     ? 0
                        : whence == Whence::Current ? pos_
                                                    : data_.size();
  auto r = resolve_seek(base, offset);
  if (r) pos_ = *r;
  return r;
}

namespace {

// read(2) that retries when a signal interrupts it before any byte arrived.
IoResult<size_t> read_retrying(int fd, std::span<uint8_t> buf) {
  for (;;) {
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return Err{IoError::os(errno)};
  }
}

}  // namespace

IoResult<size_t> FileSource::read_at(uint64_t offset, std::span<uint8_t> buf) {
  size_t done = 0;
  while (done < buf.size()) {
    const uint64_t at = offset + done;
    if (at > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) break;
    const ssize_t n = ::pread(fd_, buf.data() + done, buf.size() - done, static_cast<off_t>(at));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Err{IoError::os(errno)};
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

IoResult<size_t> FileSource::read(std::span<uint8_t> buf) {
  if (buf.empty()) return size_t{0};
  if (buf_pos_ == buf_len_) {
    // Large reads bypass the buffer, as a buffered reader does.
    if (buf.size() >= kBufferSize) return read_retrying(fd_, buf);
    auto n = read_retrying(fd_, buf_);
    if (!n) return Err{std::move(n).error()};
    buf_pos_ = 0;
    buf_len_ = *n;
  }
  const size_t n = std::min(buf.size(), buf_len_ - buf_pos_);
  std::memcpy(buf.data(), buf_.data() + buf_pos_, n);
  buf_pos_ += n;
  return n;
}

IoResult<uint64_t> FileSource::seek(int64_t offset, Whence whence) {
  off_t r;
  if (whence == Whence::Current) {
    // The kernel's position is ahead of ours by what the buffer still holds.
    const int64_t pending = static_cast<int64_t>(buf_len_ - buf_pos_);
    if (offset < std::numeric_limits<int64_t>::min() + pending) {
      return Err{IoError::os(EINVAL)};
    }
    r = ::lseek(fd_, offset - pending, SEEK_CUR);
  } else {
    r = ::lseek(fd_, offset, whence == Whence::Start ? SEEK_SET : SEEK_END);
  }
  if (r < 0) return Err{IoError::os(errno)};
  buf_pos_ = buf_len_ = 0;
  return static_cast<uint64_t>(r);
}

RandomAccess::RandomAccess(ByteSource& src, uint64_t length)
    : src_(src), memory_(src.memory()), size_(memory_ ? memory_->size() : length) {}

IoResult<size_t> RandomAccess::fill(std::vector<uint8_t>& buf, uint64_t start, size_t len) {
  if (buf.size() < len) buf.resize(len);
  auto r = src_.read_at(start, std::span<uint8_t>(buf).first(len));
  if (r) {
    fetched_ += *r;
  } else if (!error_) {
    error_ = r.error();
  }
  return r;
}

IoResult<std::span<const uint8_t>> RandomAccess::read_at(uint64_t offset, uint64_t n) {
  if (offset >= size_ || n == 0) return std::span<const uint8_t>{};
  n = std::min(n, size_ - offset);
  // Asked each time: a source may withdraw its bytes (a cancelled parse), and is then read the
  // ordinary way, which reports why.
  if (memory_) {
    if (const auto memory = src_.memory()) {
      return memory->subspan(static_cast<size_t>(offset), static_cast<size_t>(n));
    }
  }
  if (n > kWindowBytes) {
    auto r = fill(large_, offset, static_cast<size_t>(n));
    if (!r) return Err{std::move(r).error()};
    return std::span<const uint8_t>(large_).first(*r);
  }
  ++clock_;
  for (Window& w : windows_) {
    if (offset >= w.start && offset - w.start <= w.len && n <= w.len - (offset - w.start)) {
      w.last_use = clock_;
      return std::span<const uint8_t>(w.buf).subspan(static_cast<size_t>(offset - w.start),
                                                     static_cast<size_t>(n));
    }
  }
  Window& w = *std::min_element(windows_.begin(), windows_.end(), [](const auto& a, const auto& b) {
    return a.last_use < b.last_use;
  });
  // A window starts at the page below the offset and holds one page more than the largest
  // request it serves, so a small read followed by a window-sized one from the same place (the
  // usual step of a scan) costs one fetch.
  const uint64_t start = offset - offset % kWindowAlign;
  const size_t len =
      static_cast<size_t>(std::min<uint64_t>(kWindowBytes + kWindowAlign, size_ - start));
  w.len = 0;
  w.last_use = clock_;
  auto r = fill(w.buf, start, len);
  if (!r) return Err{std::move(r).error()};
  w.start = start;
  w.len = *r;
  const uint64_t skip = offset - start;
  if (skip >= w.len) return std::span<const uint8_t>{};
  return std::span<const uint8_t>(w.buf).subspan(static_cast<size_t>(skip),
                                                 static_cast<size_t>(std::min(n, w.len - skip)));
}

}  // namespace vorlix_core
