#include "vorlix/source.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace vorlix_core {

std::string IoError::display() const {
  if (code_ == 0) return text_;
  char buf[256];
  // GNU strerror_r returns the text, possibly not in buf.
  const char* msg = strerror_r(code_, buf, sizeof buf);
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

IoResult<size_t> ByteSource::read_to_end(std::vector<uint8_t>& out) {
  const size_t start = out.size();
  constexpr size_t kStep = 65536;
  for (;;) {
    const size_t old = out.size();
    out.resize(old + kStep);
    auto r = read(std::span<uint8_t>(out).subspan(old));
    if (!r) {
      out.resize(old);
      return Err{std::move(r).error()};
    }
    out.resize(old + *r);
    if (*r == 0) break;
  }
  return out.size() - start;
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

IoResult<size_t> MemorySource::read_to_end(std::vector<uint8_t>& out) {
  std::span<const uint8_t> rest;
  remaining_in_memory(rest);
  out.insert(out.end(), rest.begin(), rest.end());
  pos_ += rest.size();
  return rest.size();
}

bool MemorySource::remaining_in_memory(std::span<const uint8_t>& out) {
  out = pos_ >= data_.size() ? std::span<const uint8_t>() : data_.subspan(pos_);
  return true;
}

IoResult<size_t> FileSource::read(std::span<uint8_t> buf) {
  if (buf.empty()) return size_t{0};
  if (buf_pos_ == buf_len_) {
    // Large reads bypass the buffer, as a buffered reader does.
    if (buf.size() >= kBufferSize) {
      ssize_t n = ::read(fd_, buf.data(), buf.size());
      if (n < 0) return Err{IoError::os(errno)};
      return static_cast<size_t>(n);
    }
    ssize_t n = ::read(fd_, buf_.data(), kBufferSize);
    if (n < 0) return Err{IoError::os(errno)};
    buf_pos_ = 0;
    buf_len_ = static_cast<size_t>(n);
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

IoResult<Content> Content::read_from(ByteSource& src) {
  Content c;
  std::span<const uint8_t> view;
  if (src.remaining_in_memory(view)) {
    c.view_ = view;
    auto r = src.seek(0, Whence::End);
    (void)r;
    return c;
  }
  auto r = src.read_to_end(c.owned_);
  if (!r) return Err{std::move(r).error()};
  c.view_ = c.owned_;
  return c;
}

}  // namespace vorlix_core
