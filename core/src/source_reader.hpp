#pragma once
// A range of a source served by RandomAccess, so that a reader fetches only the bytes it looks
// at: what a Cursor over a source reads through (cursor.hpp, the idiom of format walks), which
// decodes integers from the views it returns.
//
// Reading can fail where ByteReader cannot: the data may end early (a file truncated while it is
// read) or the source may report an error. Both look like the end of the data to the walk, so
// every read's result must be checked even right after has(); the first I/O error is kept for
// the extractor to report.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "byte_reader.hpp"
#include "vorlix/source.hpp"

namespace vorlix_core {

class SourceReader {
 public:
  explicit SourceReader(RandomAccess& ra) : ra_(&ra), base_(0), size_(ra.size()) {}

  uint64_t size() const { return size_; }
  // Within the declared range; says nothing about whether the bytes can still be read.
  bool has(uint64_t pos, uint64_t len) const { return pos <= size_ && len <= size_ - pos; }

  // The range [pos, pos + len) of this reader as a reader of its own (clipped at the end).
  SourceReader sub(uint64_t pos, uint64_t len) const {
    SourceReader r = *this;
    r.base_ = base_ + std::min(pos, size_);
    r.size_ = std::min(len, size_ - std::min(pos, size_));
    return r;
  }

  // Exactly len bytes, valid until the next read through the same RandomAccess; nothing when
  // the range is outside the reader or the data ends before it.
  std::optional<std::span<const uint8_t>> slice(uint64_t pos, uint64_t len) {
    if (!has(pos, len)) return std::nullopt;
    auto v = view(pos, len);
    if (v.size() != len) return std::nullopt;
    return v;
  }
  // At most len bytes from pos: fewer near the end, empty past it.
  std::span<const uint8_t> clamped(uint64_t pos, uint64_t len) {
    if (pos >= size_) return {};
    return view(pos, std::min(len, size_ - pos));
  }
  bool matches(uint64_t pos, std::span<const uint8_t> bytes) {
    auto s = slice(pos, bytes.size());
    return s && ByteReader(*s).matches(0, bytes);
  }
  bool matches(uint64_t pos, std::string_view text) {
    auto s = slice(pos, text.size());
    return s && ByteReader(*s).matches(0, text);
  }

  // The first I/O failure met by any reader over the same RandomAccess.
  const std::optional<IoError>& error() const { return ra_->error(); }
  // See ByteSource::will_read.
  void will_read(uint64_t pos, uint64_t len) const {
    if (pos < size_) ra_->will_read(base_ + pos, std::min(len, size_ - pos));
  }

 private:
  std::span<const uint8_t> view(uint64_t pos, uint64_t len) {
    auto r = ra_->read_at(base_ + pos, len);
    return r ? *r : std::span<const uint8_t>{};
  }

  RandomAccess* ra_;
  uint64_t base_;
  uint64_t size_;
};

}  // namespace vorlix_core
