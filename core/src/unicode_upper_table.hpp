#pragma once
// The data behind full upper-casing, generated from the Unicode character database by
// scripts/gen_unicode_upper.py (see unicode_upper_table.cpp).
#include <cstdint>
#include <span>

namespace vorlix_core::unicode {

// Code points first, first + stride, ... (length of them) upper-case to themselves plus delta.
struct UpperRange {
  uint32_t first;
  uint16_t length;
  uint8_t stride;
  int32_t delta;
};

// A code point whose upper-case form is two or three code points.
struct UpperExpansion {
  uint32_t code_point;
  uint8_t size;
  uint32_t upper[3];
};

// Both sorted by code point; the ranges' spans [first, first + (length - 1) * stride] are
// disjoint. Code points found in neither upper-case to themselves.
std::span<const UpperRange> upper_ranges();
std::span<const UpperExpansion> upper_expansions();

}  // namespace vorlix_core::unicode
