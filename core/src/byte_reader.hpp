#pragma once
// The bounds check under every read of bytes in memory. Positions and lengths are 64-bit and every
// range check is written so that it cannot overflow. Format walks read through Cursor
// (cursor.hpp), which decodes through this; supports() tests use its matches() on the header.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vorlix_core {

enum class Endian { Big, Little };

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}

  uint64_t size() const { return data_.size(); }
  std::span<const uint8_t> data() const { return data_; }

  bool has(uint64_t pos, uint64_t len) const { return pos <= size() && len <= size() - pos; }

  std::optional<std::span<const uint8_t>> slice(uint64_t pos, uint64_t len) const {
    if (!has(pos, len)) return std::nullopt;
    return data_.subspan(static_cast<size_t>(pos), static_cast<size_t>(len));
  }
  // From pos to the end; empty when pos is past the end.
  std::span<const uint8_t> tail(uint64_t pos) const {
    if (pos >= size()) return {};
    return data_.subspan(static_cast<size_t>(pos));
  }
  // At most len bytes from pos (fewer near the end, empty past it).
  std::span<const uint8_t> clamped(uint64_t pos, uint64_t len) const {
    auto t = tail(pos);
    return t.first(static_cast<size_t>(len < t.size() ? len : t.size()));
  }

  bool matches(uint64_t pos, std::span<const uint8_t> bytes) const {
    if (!has(pos, bytes.size())) return false;
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (data_[static_cast<size_t>(pos) + i] != bytes[i]) return false;
    }
    return true;
  }
  bool matches(uint64_t pos, std::string_view text) const {
    return matches(
        pos, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  }

  std::optional<uint8_t> u8(uint64_t pos) const {
    if (!has(pos, 1)) return std::nullopt;
    return data_[static_cast<size_t>(pos)];
  }
  std::optional<uint16_t> u16be(uint64_t pos) const { return read<uint16_t>(pos, Endian::Big); }
  std::optional<uint16_t> u16le(uint64_t pos) const { return read<uint16_t>(pos, Endian::Little); }
  std::optional<uint32_t> u24be(uint64_t pos) const {
    auto s = slice(pos, 3);
    if (!s) return std::nullopt;
    return (uint32_t{(*s)[0]} << 16) | (uint32_t{(*s)[1]} << 8) | uint32_t{(*s)[2]};
  }
  std::optional<uint32_t> u32be(uint64_t pos) const { return read<uint32_t>(pos, Endian::Big); }
  std::optional<uint32_t> u32le(uint64_t pos) const { return read<uint32_t>(pos, Endian::Little); }
  std::optional<uint64_t> u64be(uint64_t pos) const { return read<uint64_t>(pos, Endian::Big); }
  std::optional<uint64_t> u64le(uint64_t pos) const { return read<uint64_t>(pos, Endian::Little); }

  // Byte order chosen at run time (TIFF carries its own).
  std::optional<uint16_t> u16(uint64_t pos, Endian e) const { return read<uint16_t>(pos, e); }
  std::optional<uint32_t> u32(uint64_t pos, Endian e) const { return read<uint32_t>(pos, e); }
  std::optional<uint64_t> u64(uint64_t pos, Endian e) const { return read<uint64_t>(pos, e); }

 private:
  template <class T>
  std::optional<T> read(uint64_t pos, Endian e) const {
    auto s = slice(pos, sizeof(T));
    if (!s) return std::nullopt;
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
      size_t idx = e == Endian::Big ? i : sizeof(T) - 1 - i;
      v = static_cast<T>((v << 8) | (*s)[idx]);
    }
    return v;
  }

  std::span<const uint8_t> data_;
};

}  // namespace vorlix_core
