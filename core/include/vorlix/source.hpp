#pragma once
// Readable, seekable byte sources and the I/O error they report.
#include <cstdint>
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
  // Appends everything from the current position to the end; returns the count appended.
  virtual IoResult<size_t> read_to_end(std::vector<uint8_t>& out);

  // The bytes from the current position to the end when they already sit in memory (no copy);
  // empty span and false otherwise. Lets whole-content readers avoid copying caller buffers.
  virtual bool remaining_in_memory(std::span<const uint8_t>& out) {
    (void)out;
    return false;
  }
};

// A cursor over caller-owned bytes; reads copy out of the span, nothing is copied up front.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> data) : data_(data) {}
  IoResult<size_t> read(std::span<uint8_t> buf) override;
  IoResult<uint64_t> seek(int64_t offset, Whence whence) override;
  IoResult<size_t> read_to_end(std::vector<uint8_t>& out) override;
  bool remaining_in_memory(std::span<const uint8_t>& out) override;

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

 private:
  static constexpr size_t kBufferSize = 8192;
  int fd_;
  std::vector<uint8_t> buf_ = std::vector<uint8_t>(kBufferSize);
  size_t buf_pos_ = 0;
  size_t buf_len_ = 0;
};

// The whole remaining content of a source as one read-only view. Points into the caller's
// memory for in-memory sources; owns what it read otherwise.
class Content {
 public:
  Content() = default;
  Content(const Content&) = delete;
  Content& operator=(const Content&) = delete;
  // Moving a vector keeps its heap block, so the view stays valid.
  Content(Content&&) = default;
  Content& operator=(Content&&) = default;

  std::span<const uint8_t> bytes() const { return view_; }
  uint64_t size() const { return view_.size(); }

  static IoResult<Content> read_from(ByteSource& src);

 private:
  std::vector<uint8_t> owned_;
  std::span<const uint8_t> view_;
};

}  // namespace vorlix_core
