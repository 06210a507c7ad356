#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "extractors/extractors.hpp"
#include "test_support.hpp"

namespace vorlix_core {
namespace {

using extractors::GifExtractor;
using ByteVec = std::vector<uint8_t>;
using testing::render;

ExtractResult run(const ByteVec& bytes) {
  MemorySource src(bytes);
  ProbeContext ctx;
  ctx.header = bytes;
  ctx.length = bytes.size();
  return GifExtractor().extract(src, ctx);
}

std::optional<uint64_t> uint_field(const Namespace& ns, const char* key) {
  return testing::field<uint64_t>(ns.fields(), key);
}

void append(ByteVec& out, const ByteVec& block) {
  out.insert(out.end(), block.begin(), block.end());
}

// "GIF89a", a 2x3 logical screen and a packed byte; the global colour table is not included.
ByteVec header(uint8_t packed) {
  return {
      'G',    'I',  'F', '8', '9', 'a',  // signature and version
      0x02,   0x00,                      // logical screen width 2
      0x03,   0x00,                      // logical screen height 3
      packed,                            // packed fields
      0x00,                              // background colour index
      0x00,                              // pixel aspect ratio
  };
}

// No global colour table, colour resolution 8 (bits 4-6 = 7).
const ByteVec kPlainHeader = header(0x70);

// One image descriptor without a local colour table and with one 2-byte data sub-block.
const ByteVec kFrame = {
    0x2C,                    // image separator
    0x00, 0x00, 0x00, 0x00,  // left, top
    0x02, 0x00, 0x03, 0x00,  // width 2, height 3
    0x00,                    // packed: no local colour table
    0x02,                    // LZW minimum code size
    0x02, 0xAA, 0xBB,        // data sub-block of 2 bytes
    0x00,                    // block terminator
};

// Graphic control extension: skipped by its sub-blocks, never interpreted.
const ByteVec kGraphicControl = {
    0x21, 0xF9,        // extension introducer, graphic control label
    0x04,              // sub-block of 4 bytes
    0x00, 0x0A, 0x00,  // packed, delay 10
    0x00,              // transparent colour index
    0x00,              // block terminator
};

// Application extension with an 8-byte identifier, a 3-byte code and a loop-count sub-block.
ByteVec application(const char* identifier, const char* code, uint16_t loops) {
  ByteVec b = {0x21, 0xFF, 0x0B};  // introducer, application label, sub-block of 11 bytes
  b.insert(b.end(), identifier, identifier + 8);
  b.insert(b.end(), code, code + 3);
  append(b, {
                0x03, 0x01,                   // sub-block of 3 bytes, sub-block id 1
                static_cast<uint8_t>(loops),  // loop count, low byte
                static_cast<uint8_t>(loops >> 8),
                0x00,  // block terminator
            });
  return b;
}
ByteVec netscape(uint16_t loops) {
  return application("NETSCAPE", "2.0", loops);
}

ByteVec gif(std::initializer_list<ByteVec> blocks, const ByteVec& head = kPlainHeader) {
  ByteVec out = head;
  for (const auto& b : blocks)
    append(out, b);
  return out;
}

const ByteVec kTrailer = {0x3B};

TEST(GifExtractor, SupportsOnlyTheTwoSignatures) {
  struct Case {
    ByteVec header;
    bool expected;
  };
  const std::vector<Case> cases = {
      {{'G', 'I', 'F', '8', '7', 'a'}, true},
      {{'G', 'I', 'F', '8', '9', 'a', 0x00}, true},
      {{'G', 'I', 'F', '8', '9'}, false},       // one byte short
      {{'G', 'I', 'F', '8', '8', 'a'}, false},  // unknown version
      {{'g', 'i', 'f', '8', '9', 'a'}, false},  // case matters
      {{}, false},
  };
  for (const auto& c : cases) {
    ProbeContext ctx;
    ctx.header = c.header;
    EXPECT_EQ(GifExtractor().supports(ctx), c.expected) << ::testing::PrintToString(c.header);
  }
}

TEST(GifExtractor, ShorterThanTheScreenDescriptorIsMalformed) {
  ByteVec twelve = kPlainHeader;
  twelve.pop_back();
  for (const ByteVec& input : {ByteVec{}, ByteVec{'G', 'I', 'F'}, twelve}) {
    auto r = run(input);
    ASSERT_FALSE(r.ok()) << input.size();
    EXPECT_EQ(r.error().display(), "malformed gif: header too short");
  }
}

TEST(GifExtractor, HeaderFields) {
  struct Case {
    const char* name;
    ByteVec input;
    std::string expected;
  };
  ByteVec gif87 = kPlainHeader;
  gif87[4] = '7';
  ByteVec bad_version = kPlainHeader;
  bad_version[3] = 0xFF;  // not UTF-8
  ByteVec wide = kPlainHeader;
  wide[6] = 0x34, wide[7] = 0x12, wide[8] = 0xFF, wide[9] = 0xFF;  // 0x1234 x 65535

  const std::vector<Case> cases = {
      {"13 bytes, no blocks", kPlainHeader,
       "animated=false color_resolution_bits=8 frames=0 global_color_table=false height=3 "
       "version=\"89a\" width=2"},
      {"87a", gif87,
       "animated=false color_resolution_bits=8 frames=0 global_color_table=false height=3 "
       "version=\"87a\" width=2"},
      {"version bytes decoded lossily", bad_version,
       "animated=false color_resolution_bits=8 frames=0 global_color_table=false height=3 "
       "version=\"\xEF\xBF\xBD"
       "9a\" width=2"},
      {"little-endian sizes", wide,
       "animated=false color_resolution_bits=8 frames=0 global_color_table=false height=65535 "
       "version=\"89a\" width=4660"},
      // Smallest global table (2 entries, 6 bytes) and colour resolution 1.
      {"global table of 2", gif({ByteVec(6, 0x00)}, header(0x80)),
       "animated=false color_resolution_bits=1 frames=0 global_color_table=true "
       "global_color_table_size=2 height=3 version=\"89a\" width=2"},
      // Largest global table (256 entries, 768 bytes).
      {"global table of 256", gif({ByteVec(768, 0x00)}, header(0xF7)),
       "animated=false color_resolution_bits=8 frames=0 global_color_table=true "
       "global_color_table_size=256 height=3 version=\"89a\" width=2"},
      // Table size bits without the flag: no table and no size key.
      {"size bits without flag", header(0x07),
       "animated=false color_resolution_bits=1 frames=0 global_color_table=false height=3 "
       "version=\"89a\" width=2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = run(c.input);
    ASSERT_TRUE(r.ok()) << r.error().display();
    EXPECT_EQ(r->name(), std::string("gif"));
    EXPECT_EQ(render(*r), c.expected);
  }
}

TEST(GifExtractor, BlockWalk) {
  struct Case {
    const char* name;
    ByteVec input;
    uint64_t frames;
    bool animated;
    std::optional<uint64_t> loop_count;
  };
  ByteVec cut_loop = gif({kFrame, netscape(5)});
  cut_loop.resize(cut_loop.size() - 2);  // ends at p + 17: the loop count's high byte is missing
  ByteVec cut_descriptor = gif({kFrame, kFrame});
  cut_descriptor.resize(kPlainHeader.size() + kFrame.size() + 5);  // inside the second descriptor
  ByteVec cut_after_code_size = gif({kFrame});
  cut_after_code_size.resize(kPlainHeader.size() + 11);  // ends right after the LZW code size

  // A local colour table and sub-block data full of introducer bytes: a walk that does not skip
  // them would count extra frames or stop at the 0x3B.
  const ByteVec frame_with_table = {
      0x2C,                    // image separator
      0x00, 0x00, 0x00, 0x00,  // left, top
      0x02, 0x00, 0x03, 0x00,  // width, height
      0x81,                    // packed: local colour table, 4 entries
      0x2C, 0x2C, 0x2C, 0x21, 0x21, 0x21, 0x3B, 0x3B, 0x3B, 0x2C, 0x2C, 0x2C,  // table
      0x02,                    // LZW minimum code size
      0x03, 0x2C, 0x21, 0x3B,  // data sub-block of 3 bytes
      0x01, 0x2C,              // data sub-block of 1 byte
      0x00,                    // block terminator
  };
  const ByteVec comment = {
      0x21, 0xFE,              // extension introducer, comment label
      0x03, 0x2C, 0x2C, 0x2C,  // ",,,"
      0x00,                    // block terminator
  };
  // A global table whose bytes are introducers as well.
  const ByteVec global_table = {0x2C, 0x21, 0x3B, 0x2C, 0x21, 0x3B};
  ByteVec table_past_end = header(0x81);  // flags a 12-byte table
  append(table_past_end, {0x2C, 0x00, 0x00});

  const std::vector<Case> cases = {
      {"still image", gif({kFrame, kTrailer}), 1, false, std::nullopt},
      {"still image with a loop extension", gif({netscape(7), kFrame, kTrailer}), 1, false, 7},
      {"three frames, loop forever",
       gif({netscape(0), kGraphicControl, kFrame, kGraphicControl, kFrame, kGraphicControl, kFrame,
            kTrailer}),
       3, true, 0},
      {"loop count is little-endian and uninterpreted", gif({netscape(0xFFFE), kFrame, kFrame}), 2,
       true, 0xFFFE},
      {"NETSCAPE with another version", gif({application("NETSCAPE", "2.1", 3), kFrame}), 1, false,
       std::nullopt},
      {"another identifier", gif({application("ANIMEXTS", "1.0", 3), kFrame, kFrame}), 2, true,
       std::nullopt},
      {"the last loop extension wins", gif({netscape(4), kFrame, netscape(9), kFrame}), 2, true, 9},
      {"loop extension cut before p + 18", cut_loop, 1, false, std::nullopt},
      {"truncated inside an image descriptor", cut_descriptor, 2, true, std::nullopt},
      {"truncated after the LZW code size", cut_after_code_size, 1, false, std::nullopt},
      {"garbage between blocks", gif({{0x00, 0xFF, 0x13}, kFrame, {0x00}, kFrame, {0x42}}), 2, true,
       std::nullopt},
      {"trailer ends the walk", gif({kFrame, kTrailer, kFrame, kFrame, netscape(1)}), 1, false,
       std::nullopt},
      {"introducer bytes inside tables and sub-blocks",
       gif({global_table, frame_with_table, comment, frame_with_table, kTrailer}, header(0x80)), 2,
       true, std::nullopt},
      {"global table past the end", table_past_end, 0, false, std::nullopt},
      {"extension introducer as the second-to-last byte", gif({kFrame, {0x21, 0xFF}}), 1, false,
       std::nullopt},
      {"lone image separator at the end", gif({{0x2C}}), 1, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = run(c.input);
    ASSERT_TRUE(r.ok()) << r.error().display();
    EXPECT_EQ(uint_field(*r, "frames"), c.frames);
    EXPECT_EQ(*r->fields().at("animated").get_if<bool>(), c.animated);
    EXPECT_EQ(uint_field(*r, "loop_count"), c.loop_count);
  }
}

// A small animation with every kind of block, and where each block starts.
struct Layout {
  ByteVec bytes;
  std::vector<uint64_t> frames;  // image descriptors before the trailer
  uint64_t netscape = 0;
  uint64_t first_control = 0;
  uint64_t trailer = 0;
};

Layout animation() {
  Layout l;
  l.bytes = header(0xF1);  // global table of 4 entries
  append(l.bytes, {0x2C, 0x21, 0x3B, 0x00, 0x00, 0x00, 0x2C, 0x2C, 0x2C, 0x3B, 0x3B, 0x3B});
  l.netscape = l.bytes.size();
  append(l.bytes, netscape(3));
  l.first_control = l.bytes.size();
  append(l.bytes, kGraphicControl);
  for (int i = 0; i < 3; ++i) {
    l.frames.push_back(l.bytes.size());
    append(l.bytes, kFrame);
    append(l.bytes, kGraphicControl);
  }
  l.trailer = l.bytes.size();
  append(l.bytes, kTrailer);
  append(l.bytes, kFrame);  // after the trailer: never counted
  return l;
}

TEST(GifExtractor, EveryTruncationKeepsTheHeaderAndCountsFramesSeenSoFar) {
  const Layout l = animation();
  auto full = run(l.bytes);
  ASSERT_TRUE(full.ok());
  EXPECT_EQ(uint_field(*full, "frames"), 3u);
  EXPECT_EQ(uint_field(*full, "loop_count"), 3u);

  for (size_t k = 0; k <= l.bytes.size(); ++k) {
    SCOPED_TRACE(k);
    const ByteVec cut(l.bytes.begin(), l.bytes.begin() + static_cast<ptrdiff_t>(k));
    auto r = run(cut);
    if (k < 13) {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error().display(), "malformed gif: header too short");
      continue;
    }
    ASSERT_TRUE(r.ok());
    for (const char* key : {"version", "width", "height", "global_color_table_size"}) {
      EXPECT_TRUE(r->fields().count(key)) << key;
    }
    uint64_t started = 0;
    for (uint64_t p : l.frames)
      started += p < k ? 1 : 0;
    EXPECT_EQ(uint_field(*r, "frames"), started);
    EXPECT_EQ(uint_field(*r, "loop_count").has_value(), k >= l.netscape + 18);
  }
}

TEST(GifExtractor, OneFieldCorruptionsStayTolerant) {
  const Layout l = animation();
  struct Case {
    const char* name;
    uint64_t offset;
    uint8_t value;
    uint64_t frames;
    bool loop_count;
  };
  const uint64_t f0 = l.frames[0];
  const std::vector<Case> cases = {
      // The walk stops inside the first frame's data, after counting it.
      {"data sub-block length past the end", f0 + 11, 0xFF, 1, true},
      // The loop count is read before the sub-blocks are skipped.
      {"application sub-block length past the end", l.netscape + 2, 0xFF, 0, true},
      // The control block's payload (00 0A 00 00 00) is then stepped over as stray bytes.
      {"zero-length control block", l.first_control + 2, 0x00, 3, true},
      // AA BB 00 after the early terminator are stray bytes.
      {"zero-length first data sub-block", f0 + 11, 0x00, 3, true},
      {"application label changed", l.netscape + 1, 0xFE, 3, false},
      {"identifier changed", l.netscape + 3, 'X', 3, false},
      // Without the trailer the frame stored after it is reached.
      {"trailer overwritten", l.trailer, 0x00, 4, true},
      // A local table of 6 bytes that is not there swallows the data; the skip then lands on the
      // control block's size byte (4) and resynchronises at the next frame.
      {"local table flag set", f0 + 9, 0x80, 3, true},
      // A global table of 768 bytes runs past the end.
      {"global table size raised", 10, 0xF7, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ByteVec bytes = l.bytes;
    bytes.at(c.offset) = c.value;
    auto r = run(bytes);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(uint_field(*r, "frames"), c.frames);
    EXPECT_EQ(r->fields().count("loop_count") == 1, c.loop_count);
    EXPECT_EQ(uint_field(*r, "width"), 2u);
  }
}

TEST(GifExtractor, LongRunsOfEmptyBlocksAreWalkedToTheEnd) {
  // 200000 empty comment extensions, then one frame: every block is visited once.
  ByteVec bytes = kPlainHeader;
  for (int i = 0; i < 200000; ++i)
    append(bytes, {0x21, 0xFE, 0x00});
  append(bytes, kFrame);
  auto r = run(bytes);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(uint_field(*r, "frames"), 1u);
}

}  // namespace
}  // namespace vorlix_core
