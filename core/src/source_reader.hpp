#pragma once
// A range of a source served by RandomAccess, so that a reader fetches only the bytes it looks
// at: what a Cursor over a source reads through (cursor.hpp, the idiom of format walks). Its
// accessors return optionals, for the EXIF reader's value views. Integers are decoded by
// ByteReader over the view each read returns.
//
// Reading can fail where ByteReader cannot: the data may end early (a file truncated while it is
// read) or the source may report an error. Both look like the end of the data to the walk, so
// every accessor's result must be checked even right after has(); the first I/O error is kept
// for the extractor to report.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

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
  // A copy, for bytes that must outlive the next read.
  std::optional<std::vector<uint8_t>> copy(uint64_t pos, uint64_t len) {
    auto s = slice(pos, len);
    if (!s) return std::nullopt;
    return std::vector<uint8_t>(s->begin(), s->end());
  }

  bool matches(uint64_t pos, std::span<const uint8_t> bytes) {
    auto s = slice(pos, bytes.size());
    return s && ByteReader(*s).matches(0, bytes);
  }
  bool matches(uint64_t pos, std::string_view text) {
    auto s = slice(pos, text.size());
    return s && ByteReader(*s).matches(0, text);
  }

  std::optional<uint8_t> u8(uint64_t pos) { return get<1>(pos, &ByteReader::u8); }
  std::optional<uint16_t> u16be(uint64_t pos) { return get<2>(pos, &ByteReader::u16be); }
  std::optional<uint16_t> u16le(uint64_t pos) { return get<2>(pos, &ByteReader::u16le); }
  std::optional<uint32_t> u24be(uint64_t pos) { return get<3>(pos, &ByteReader::u24be); }
  std::optional<uint32_t> u32be(uint64_t pos) { return get<4>(pos, &ByteReader::u32be); }
  std::optional<uint32_t> u32le(uint64_t pos) { return get<4>(pos, &ByteReader::u32le); }
  std::optional<uint64_t> u64be(uint64_t pos) { return get<8>(pos, &ByteReader::u64be); }
  std::optional<uint64_t> u64le(uint64_t pos) { return get<8>(pos, &ByteReader::u64le); }
  std::optional<uint16_t> u16(uint64_t pos, Endian e) {
    auto s = slice(pos, 2);
    return s ? ByteReader(*s).u16(0, e) : std::nullopt;
  }
  std::optional<uint32_t> u32(uint64_t pos, Endian e) {
    auto s = slice(pos, 4);
    return s ? ByteReader(*s).u32(0, e) : std::nullopt;
  }
  std::optional<uint64_t> u64(uint64_t pos, Endian e) {
    auto s = slice(pos, 8);
    return s ? ByteReader(*s).u64(0, e) : std::nullopt;
  }

  // The first I/O failure met by any reader over the same RandomAccess.
  const std::optional<IoError>& error() const { return ra_->error(); }
  // See ByteSource::will_read.
  void will_read(uint64_t pos, uint64_t len) const {
    if (pos < size_) ra_->will_read(base_ + pos, std::min(len, size_ - pos));
  }

 private:
  template <size_t N, class T>
  std::optional<T> get(uint64_t pos, std::optional<T> (ByteReader::*read)(uint64_t) const) {
    auto s = slice(pos, N);
    if (!s) return std::nullopt;
    return (ByteReader(*s).*read)(0);
  }

  std::span<const uint8_t> view(uint64_t pos, uint64_t len) {
    auto r = ra_->read_at(base_ + pos, len);
    return r ? *r : std::span<const uint8_t>{};
  }

  RandomAccess* ra_;
  uint64_t base_;
  uint64_t size_;
};

}  // namespace vorlix_core
