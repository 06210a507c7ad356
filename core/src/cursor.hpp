#pragma once
// The reading idiom of every format walk: a position over a range of the source or over bytes in
// memory. Reads return plain values (0, or an empty span, when the bytes are not there) and a
// failed read sets a flag that stays set, so a walk reads a whole fixed header and tests once:
//
//   const uint32_t length = c.u32be();
//   const auto type = c.bytes(4);
//   if (!c.ok()) return;
//
// Reads at an offset (the overloads taking a position) serve offset-addressed formats under the
// same contract and leave the position alone. A source that cannot deliver bytes it stated (a file
// truncated meanwhile, a read error) fails the read like the end of the range; the first I/O error
// stays with the RandomAccess, for the extractor to report.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "byte_reader.hpp"
#include "source_reader.hpp"

namespace vorlix_core {

class Cursor {
 public:
  explicit Cursor(std::span<const uint8_t> bytes) : mem_(bytes), size_(bytes.size()) {}
  explicit Cursor(const SourceReader& range) : src_(range), size_(range.size()) {}

  uint64_t size() const { return size_; }
  uint64_t pos() const { return pos_; }
  // Bytes of the range from the position on (0 past the end).
  uint64_t remaining() const { return pos_ < size_ ? size_ - pos_ : 0; }
  // No read has failed so far.
  bool ok() const { return ok_; }

  // The range [pos, pos + len) lies within the cursor's (says nothing about whether the bytes can
  // still be read).
  bool has(uint64_t pos, uint64_t len) const { return pos <= size_ && len <= size_ - pos; }

  // Moves anywhere; reads from past the end fail.
  void seek(uint64_t pos) { pos_ = pos; }
  // Passes over n bytes without reading them; fails when they run past the end.
  void skip(uint64_t n) {
    if (!has(pos_, n)) {
      ok_ = false;
      return;
    }
    pos_ += n;
  }

  // Sequential reads: each advances past what it read; a failed one leaves the position.
  uint8_t u8() { return decode<uint8_t>(bytes(1), Endian::Big); }
  uint16_t u16be() { return decode<uint16_t>(bytes(2), Endian::Big); }
  uint16_t u16le() { return decode<uint16_t>(bytes(2), Endian::Little); }
  uint32_t u24be() { return decode<uint32_t>(bytes(3), Endian::Big); }
  uint32_t u24le() { return decode<uint32_t>(bytes(3), Endian::Little); }
  uint32_t u32be() { return decode<uint32_t>(bytes(4), Endian::Big); }
  uint32_t u32le() { return decode<uint32_t>(bytes(4), Endian::Little); }
  uint64_t u64be() { return decode<uint64_t>(bytes(8), Endian::Big); }
  uint64_t u64le() { return decode<uint64_t>(bytes(8), Endian::Little); }
  uint16_t u16(Endian e) { return decode<uint16_t>(bytes(2), e); }
  uint32_t u32(Endian e) { return decode<uint32_t>(bytes(4), e); }
  uint64_t u64(Endian e) { return decode<uint64_t>(bytes(8), e); }
  // Exactly n bytes, valid until the next read of the same source; empty when they are not there.
  std::span<const uint8_t> bytes(uint64_t n) {
    const auto s = bytes(pos_, n);
    if (s.size() == n) pos_ += n;
    return s;
  }

  // Reads at an offset of the range.
  uint8_t u8(uint64_t pos) { return decode<uint8_t>(bytes(pos, 1), Endian::Big); }
  uint16_t u16be(uint64_t pos) { return decode<uint16_t>(bytes(pos, 2), Endian::Big); }
  uint16_t u16le(uint64_t pos) { return decode<uint16_t>(bytes(pos, 2), Endian::Little); }
  uint32_t u24be(uint64_t pos) { return decode<uint32_t>(bytes(pos, 3), Endian::Big); }
  uint32_t u24le(uint64_t pos) { return decode<uint32_t>(bytes(pos, 3), Endian::Little); }
  uint32_t u32be(uint64_t pos) { return decode<uint32_t>(bytes(pos, 4), Endian::Big); }
  uint32_t u32le(uint64_t pos) { return decode<uint32_t>(bytes(pos, 4), Endian::Little); }
  uint64_t u64be(uint64_t pos) { return decode<uint64_t>(bytes(pos, 8), Endian::Big); }
  uint64_t u64le(uint64_t pos) { return decode<uint64_t>(bytes(pos, 8), Endian::Little); }
  uint16_t u16(uint64_t pos, Endian e) { return decode<uint16_t>(bytes(pos, 2), e); }
  uint32_t u32(uint64_t pos, Endian e) { return decode<uint32_t>(bytes(pos, 4), e); }
  uint64_t u64(uint64_t pos, Endian e) { return decode<uint64_t>(bytes(pos, 8), e); }
  std::span<const uint8_t> bytes(uint64_t pos, uint64_t n) {
    auto s = src_ ? src_->slice(pos, n) : ByteReader(mem_).slice(pos, n);
    if (!s) {
      ok_ = false;
      return {};
    }
    return *s;
  }

  // Tests and scans: they look without failing the cursor.
  bool matches(uint64_t pos, std::string_view text) {
    return src_ ? src_->matches(pos, text) : ByteReader(mem_).matches(pos, text);
  }
  bool matches(uint64_t pos, std::span<const uint8_t> bytes) {
    return src_ ? src_->matches(pos, bytes) : ByteReader(mem_).matches(pos, bytes);
  }
  // At most len bytes from pos: fewer near the end (or where the data ends early), empty past it.
  std::span<const uint8_t> clamped(uint64_t pos, uint64_t len) {
    return src_ ? src_->clamped(pos, len) : ByteReader(mem_).clamped(pos, len);
  }

  // The range [pos, pos + len) (clipped at the end) as a cursor of its own, with its own flag.
  Cursor sub(uint64_t pos, uint64_t len) const {
    if (src_) return Cursor(src_->sub(pos, len));
    return Cursor(ByteReader(mem_).clamped(pos, len));
  }
  // Exactly the n bytes at pos, read now, as an in-memory cursor valid until the next read of the
  // same source. When they are not all there it is empty and already failed; this cursor's flag
  // is left alone, for a walk that goes on past a part it cannot read.
  Cursor part(uint64_t pos, uint64_t n) {
    Cursor range = sub(pos, n);
    Cursor out(range.bytes(n));
    out.ok_ = range.ok_;
    return out;
  }

  // A read through the same source has failed (an I/O error, or the parse was cancelled). Scans
  // that read with clamped() stop on it rather than take the failure for the end of the data.
  bool source_failed() const { return src_ && src_->error().has_value(); }
  // A hint that [pos, pos + len) is read next, piece by piece (see ByteSource::will_read).
  void will_read(uint64_t pos, uint64_t len) const {
    if (src_) src_->will_read(pos, len);
  }
  // The range of the source behind the cursor, for readers that take one; nothing over memory.
  const std::optional<SourceReader>& source() const { return src_; }

 private:
  // The bytes in the given order; 0 for the empty span of a failed read.
  template <class T>
  static T decode(std::span<const uint8_t> s, Endian e) {
    T v = 0;
    for (size_t i = 0; i < s.size(); ++i) {
      v = static_cast<T>((v << 8) | s[e == Endian::Big ? i : s.size() - 1 - i]);
    }
    return v;
  }

  std::optional<SourceReader> src_;
  std::span<const uint8_t> mem_;
  uint64_t size_;
  uint64_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace vorlix_core
