#include <gtest/gtest.h>

#include <limits>

#include "../../node/src/number_rules.hpp"

namespace vorlix_node {
namespace {

TEST(JsInteger, NumberUpToTwoPow53MinusOneThenBigInt) {
  struct Case {
    JsInteger got;
    bool bigint;
    bool negative;
    uint64_t magnitude;
  };
  const Case cases[] = {
      {js_integer(uint64_t{0}), false, false, 0},
      {js_integer(uint64_t{9007199254740991}), false, false, 9007199254740991},
      {js_integer(uint64_t{9007199254740992}), true, false, 9007199254740992},
      {js_integer(std::numeric_limits<uint64_t>::max()), true, false,
       std::numeric_limits<uint64_t>::max()},
      {js_integer(int64_t{-9007199254740991}), false, true, 9007199254740991},
      {js_integer(int64_t{-9007199254740992}), true, true, 9007199254740992},
      {js_integer(std::numeric_limits<int64_t>::min()), true, true, uint64_t{1} << 63},
      {js_integer(std::numeric_limits<int64_t>::max()), true, false,
       uint64_t(std::numeric_limits<int64_t>::max())},
      {js_integer(int64_t{-1}), false, true, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.got.bigint, c.bigint) << c.magnitude;
    EXPECT_EQ(c.got.negative, c.negative) << c.magnitude;
    EXPECT_EQ(c.got.magnitude, c.magnitude);
  }
}

}  // namespace
}  // namespace vorlix_node
