#include "text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace vorlix_core {
namespace {

const std::string kFffd = "\xef\xbf\xbd";

TEST(Utf8Lossy, MaximalSubpartsBecomeOneReplacementEach) {
  struct Case {
    std::vector<uint8_t> in;
    std::string want;
  };
  const Case cases[] = {
      {{}, ""},
      {{'a', 'b'}, "ab"},
      {{0xc3, 0xa9}, "\xc3\xa9"},                                 // valid two-byte
      {{0xf0, 0x9f, 0x98}, kFffd},                                // truncated four-byte: one
      {{0xc0, 0x80}, kFffd + kFffd},                              // overlong lead: each byte
      {{0xed, 0xa0, 0x80}, kFffd + kFffd + kFffd},                // surrogate: E0..9F only after ED
      {{0xe2, 0x82, 'x'}, kFffd + "x"},                           // broken three-byte then ASCII
      {{0x80, 'a'}, kFffd + "a"},                                 // lone continuation
      {{0xf4, 0x90, 0x80, 0x80}, kFffd + kFffd + kFffd + kFffd},  // above U+10FFFF
      {{0xf0, 0x9f, 0x98, 0x80}, "\xf0\x9f\x98\x80"},             // valid four-byte
  };
  for (const auto& c : cases)
    EXPECT_EQ(utf8_lossy(c.in), c.want);
}

TEST(Latin1, EveryByteIsItsCodePoint) {
  const std::vector<uint8_t> in = {'A', 0xe9, 0xff};
  EXPECT_EQ(latin1_to_utf8(in), "A\xc3\xa9\xc3\xbf");
}

TEST(Utf16, PairsJoinAndLoneSurrogatesAreReplaced) {
  // "A", U+1F600 as a pair, a lone high surrogate, "B", an odd trailing byte (dropped).
  const std::vector<uint8_t> le = {0x41, 0x00, 0x3d, 0xd8, 0x00, 0xde,
                                   0x00, 0xd8, 0x42, 0x00, 0x43};
  EXPECT_EQ(utf16le_lossy(le), "A\xf0\x9f\x98\x80" + kFffd + "B");
  const std::vector<uint8_t> be = {0x00, 0x41, 0xdc, 0x00, 0x00, 0x42};
  EXPECT_EQ(utf16be_lossy(be), "A" + kFffd + "B");
}

TEST(Round3, HalvesAwayFromZero) {
  EXPECT_EQ(round3(1.0005), std::round(1000.5) / 1000);
  EXPECT_EQ(round3(0.0125), 0.013);
  EXPECT_EQ(round3(-0.0125), -0.013);
  EXPECT_EQ(round3(2.0), 2.0);
  EXPECT_TRUE(std::signbit(round3(-0.0)));
}

}  // namespace
}  // namespace vorlix_core
