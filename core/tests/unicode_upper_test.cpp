#include "unicode_upper.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "unicode_upper_table.hpp"

namespace vorlix_core::unicode {
namespace {

std::vector<uint32_t> upper_of(uint32_t cp) {
  const Upper u = full_upper(cp);
  return std::vector<uint32_t>(u.points.begin(), u.points.begin() + u.size);
}

TEST(UnicodeUpper, SingleCodePoints) {
  struct Case {
    const char* why;
    uint32_t cp;
    std::vector<uint32_t> upper;
  };
  const Case cases[] = {
      {"ASCII lower", 'a', {'A'}},
      {"ASCII last lower", 'z', {'Z'}},
      {"ASCII upper stays", 'A', {'A'}},
      {"ASCII punctuation stays", '_', {'_'}},
      {"e acute", 0xE9, {0xC9}},
      {"y diaeresis leaves Latin-1", 0xFF, {0x178}},
      {"division sign between two runs", 0xF7, {0xF7}},
      {"alternating pair, lower", 0x101, {0x100}},
      {"alternating pair, upper stays", 0x100, {0x100}},
      {"dotless i", 0x131, {'I'}},
      {"long s", 0x17F, {'S'}},
      {"title-case DZ", 0x1C5, {0x1C4}},
      {"micro sign", 0xB5, {0x39C}},
      {"Cyrillic small a", 0x430, {0x410}},
      {"Georgian Mkhedruli has capitals", 0x10D0, {0x1C90}},
      {"Deseret, beyond the BMP", 0x10428, {0x10400}},
      {"Adlam, the last cased script", 0x1E943, {0x1E921}},
      {"CJK ideograph has no case", 0x4E00, {0x4E00}},
      {"sharp s", 0xDF, {'S', 'S'}},
      {"capital sharp s stays", 0x1E9E, {0x1E9E}},
      {"n preceded by apostrophe", 0x149, {0x2BC, 'N'}},
      {"ligature ffi", 0xFB03, {'F', 'F', 'I'}},
      {"iota with dialytika and tonos", 0x390, {0x399, 0x308, 0x301}},
      {"dotted capital I stays", 0x130, {0x130}},
      {"final sigma: the conditional rules are not applied", 0x3C2, {0x3A3}},
      {"last code point", 0x10FFFF, {0x10FFFF}},
      {"beyond Unicode", 0x110000, {0x110000}},
      {"largest value", 0xFFFFFFFF, {0xFFFFFFFF}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(upper_of(c.cp), c.upper) << c.why;
}

// The lookup relies on sorted, disjoint ranges and sorted expansions; a generator change that
// broke either would misplace mappings silently.
TEST(UnicodeUpper, TablesAreSortedAndDisjoint) {
  const auto ranges = upper_ranges();
  ASSERT_FALSE(ranges.empty());
  for (size_t i = 0; i < ranges.size(); ++i) {
    const UpperRange& r = ranges[i];
    EXPECT_GE(r.length, 1u) << i;
    EXPECT_TRUE(r.stride == 1 || r.stride == 2) << i;
    EXPECT_NE(r.delta, 0) << i;
    if (i + 1 < ranges.size()) {
      EXPECT_LT(r.first + (r.length - 1u) * r.stride, ranges[i + 1].first) << i;
    }
  }
  const auto expansions = upper_expansions();
  ASSERT_FALSE(expansions.empty());
  for (size_t i = 0; i < expansions.size(); ++i) {
    EXPECT_TRUE(expansions[i].size == 2 || expansions[i].size == 3) << i;
    if (i + 1 < expansions.size()) {
      EXPECT_LT(expansions[i].code_point, expansions[i + 1].code_point) << i;
    }
  }
}

}  // namespace
}  // namespace vorlix_core::unicode
