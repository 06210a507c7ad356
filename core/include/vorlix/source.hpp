#pragma once
// Readable, seekable byte sources and the I/O error they report.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "vorlix/result.hpp"

namespace vorlix_core {

class IoError {
 public:
  // An operating-system error number (errno).
  static IoError os(int code) { return IoError(code, {}); }
  // A failure with a fixed text of its own.
  static IoError fixed(std::string text) { return IoError(0, std::move(text)); }
  static IoError short_read() { return fixed("failed to fill whole buffer"); }

  int os_code() const { return code_; }
  // "<strerror text> (os error N)" or the fixed text.
  std::string display() const;

 private:
  IoError(int code, std::string text) : code_(code), text_(std::move(text)) {}
  int code_;
  std::string text_;
};

template <class T>
using IoResult = Result<T, IoError>;

enum class Whence { Start, Current, End };

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Up to buf.size() bytes; 0 only at the end of the data.
  virtual IoResult<size_t> read(std::span<uint8_t> buf) = 0;
  // Returns the new position from the start.
  virtual IoResult<uint64_t> seek(int64_t offset, Whence whence) = 0;

  // Exactly buf.size() bytes, or "failed to fill whole buffer" when the data ends first.
  IoResult<Unit> read_exact(std::span<uint8_t> buf);

  // Up to buf.size() bytes from `offset`, fewer only where the data ends. Sources that can read
  // at a position without moving (pread) override this; the default seeks and reads, so the
  // position afterwards is unspecified.
  virtual IoResult<size_t> read_at(uint64_t offset, std::span<uint8_t> buf);
  // The whole content when it already sits in memory, for reading in place without a copy. A
  // source may withdraw it (nothing from then on; read_at says why), so readers ask again before
  // each step.
  virtual std::optional<std::span<const uint8_t>> memory() const { return std::nullopt; }
  // Whether a parse that does not read the content all through must still check its length
  // (a file another process writes; a stated length that disagrees with the bytes). A source
  // whose every read is a round trip and has its length checked says no.
  virtual bool length_may_change() const { return true; }
  // A hint that [offset, offset + length) is about to be read piece by piece (a ZIP directory):
  // a source whose every read is a round trip fetches it in one. Others ignore it.
  virtual void will_read(uint64_t offset, uint64_t length) {
    (void)offset;
    (void)length;
  }
};

// A cursor over caller-owned bytes; reads copy out of the span, nothing is copied up front.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> data) : data_(data) {}
  IoResult<size_t> read(std::span<uint8_t> buf) override;
  IoResult<uint64_t> seek(int64_t offset, Whence whence) override;
  IoResult<size_t> read_at(uint64_t offset, std::span<uint8_t> buf) override;
  std::optional<std::span<const uint8_t>> memory() const override { return data_; }

 private:
  std::span<const uint8_t> data_;
  uint64_t pos_ = 0;
};

// A file descriptor behind an 8192-byte read buffer. Does not own the descriptor.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  IoResult<size_t> read(std::span<uint8_t> buf) override;
  IoResult<uint64_t> seek(int64_t offset, Whence whence) override;
  // pread: leaves the sequential position and its buffer alone.
  IoResult<size_t> read_at(uint64_t offset, std::span<uint8_t> buf) override;

 private:
  static constexpr size_t kBufferSize = 8192;
  int fd_;
  std::vector<uint8_t> buf_ = std::vector<uint8_t>(kBufferSize);
  size_t buf_pos_ = 0;
  size_t buf_len_ = 0;
};

// Random access to a source of known length: the one way format walks read their input.
// Views of in-memory sources point into the caller's bytes; other sources are read with read_at
// into a few small windows, so memory stays constant whatever the input's size. Files are never
// memory-mapped: a file truncated by another process would raise SIGBUS in the host.
class RandomAccess {
 public:
  // `length` is the content's size as the caller knows it; in-memory sources use their own.
  RandomAccess(ByteSource& src, uint64_t length);
  RandomAccess(const RandomAccess&) = delete;
  RandomAccess& operator=(const RandomAccess&) = delete;

  uint64_t size() const { return size_; }

  // Up to n bytes from `offset`, clipped at size(); shorter also when the data ends early (a file
  // truncated meanwhile). The view is valid until the next call. Callers bound n: a request
  // beyond one window is served from a buffer of that size.
  IoResult<std::span<const uint8_t>> read_at(uint64_t offset, uint64_t n);

  // Passes ByteSource::will_read on, clipped at size(); nothing for content in memory.
  void will_read(uint64_t offset, uint64_t n) {
    if (!memory_ && offset < size_) src_.will_read(offset, std::min(n, size_ - offset));
  }

  // Bytes fetched from the source so far (in-memory views cost nothing).
  uint64_t bytes_fetched() const { return fetched_; }
  // The first read failure, kept so that a walk which took it for the end of the data can
  // still report it.
  const std::optional<IoError>& error() const { return error_; }

  static constexpr size_t kWindowBytes = 65536;
  static constexpr size_t kWindowAlign = 4096;

 private:
  struct Window {
    uint64_t start = 0;
    size_t len = 0;
    uint64_t last_use = 0;
    std::vector<uint8_t> buf;
  };
  static constexpr size_t kWindows = 4;

  IoResult<size_t> fill(std::vector<uint8_t>& buf, uint64_t start, size_t len);

  ByteSource& src_;
  std::optional<std::span<const uint8_t>> memory_;
  uint64_t size_;
  std::array<Window, kWindows> windows_;
  std::vector<uint8_t> large_;
  uint64_t clock_ = 0;
  uint64_t fetched_ = 0;
  std::optional<IoError> error_;
};

}  // namespace vorlix_core
