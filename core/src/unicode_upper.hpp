#pragma once
// Full Unicode upper-casing of single code points (the default mapping, without language or
// context rules): "é" gives "É", "ß" gives "SS", "ŉ" gives "ʼN".
#include <array>
#include <cstddef>
#include <cstdint>

namespace vorlix_core::unicode {

inline constexpr size_t kMaxUpperPoints = 3;

struct Upper {
  std::array<uint32_t, kMaxUpperPoints> points{};
  uint8_t size = 0;
};

// One to three code points; the code point itself when it has no upper-case form (including
// values that are not code points at all).
Upper full_upper(uint32_t code_point);

}  // namespace vorlix_core::unicode
