#pragma once
// How a 64-bit integer reaches JS: a number while it is exactly representable, a BigInt
// (sign plus one 64-bit magnitude word) beyond that.
#include <cstdint>

namespace vorlix_node {

inline constexpr uint64_t kMaxSafeInteger = 9007199254740991;  // 2^53 - 1

struct JsInteger {
  bool bigint;
  bool negative;
  uint64_t magnitude;
};

constexpr JsInteger js_integer(uint64_t u) {
  return {u > kMaxSafeInteger, false, u};
}

constexpr JsInteger js_integer(int64_t i) {
  // Negate in unsigned arithmetic: INT64_MIN has no positive counterpart.
  const uint64_t mag = i < 0 ? 0 - static_cast<uint64_t>(i) : static_cast<uint64_t>(i);
  return {mag > kMaxSafeInteger, i < 0, mag};
}

}  // namespace vorlix_node
