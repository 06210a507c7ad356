// The JPEG segment walk over hand-built streams, the IJG quality estimate, and corruptions of a
// small valid stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "extractors/extractors.hpp"
#include "extractors/jpeg.hpp"
#include "test_support.hpp"

namespace vorlix_core::extractors {
namespace {

using Buf = std::vector<uint8_t>;

Buf text_bytes(std::string_view s) {
  return Buf(s.begin(), s.end());
}
Buf first_n(const Buf& b, size_t n) {
  return Buf(b.begin(), b.begin() + static_cast<long>(n));
}
Buf concat(std::initializer_list<Buf> parts) {
  Buf out;
  for (const auto& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Builds a stream starting with SOI and remembers where each segment starts.
struct Stream {
  Buf bytes{0xFF, 0xD8};  // SOI
  std::vector<size_t> offsets;

  // FF, marker code, big-endian length counting itself, payload.
  Stream& seg(uint8_t code, const Buf& payload) {
    offsets.push_back(bytes.size());
    const size_t len = payload.size() + 2;
    bytes.insert(bytes.end(),
                 {0xFF, code, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len & 0xFF)});
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return *this;
  }
  Stream& raw(const Buf& b) {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
  }
};

// Row order of each coefficient in zigzag order, derived by walking the anti-diagonals (an
// independent check of the extractor's constant table).
std::array<uint8_t, 64> zigzag_to_natural() {
  std::array<uint8_t, 64> out{};
  size_t k = 0;
  for (int s = 0; s < 15; ++s) {
    const int lo = std::max(0, s - 7), hi = std::min(s, 7);
    if (s % 2 == 0) {
      for (int r = hi; r >= lo; --r)
        out[k++] = static_cast<uint8_t>(r * 8 + (s - r));
    } else {
      for (int r = lo; r <= hi; ++r)
        out[k++] = static_cast<uint8_t>(r * 8 + (s - r));
    }
  }
  return out;
}

// What an IJG encoder writes for quality q with baseline clamping, in zigzag order.
std::array<uint8_t, 64> ijg_luminance_table(int q) {
  static constexpr std::array<int, 64> kK1 = {
      16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
      14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
      18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
      49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
  const int scale = q < 50 ? 5000 / q : 200 - 2 * q;
  const auto order = zigzag_to_natural();
  std::array<uint8_t, 64> out{};
  for (size_t k = 0; k < 64; ++k) {
    out[k] = static_cast<uint8_t>(std::clamp((kK1[order[k]] * scale + 50) / 100, 1, 255));
  }
  return out;
}

// DQT payload: precision/destination byte, then 64 entries.
Buf dqt_payload(uint8_t pq_tq, const std::array<uint8_t, 64>& table) {
  Buf out{pq_tq};
  out.insert(out.end(), table.begin(), table.end());
  return out;
}

// SOF payload: precision, height, width, component count, then 3 bytes per component.
Buf sof_payload(uint8_t precision, uint16_t height, uint16_t width, uint8_t components) {
  Buf out{precision,
          static_cast<uint8_t>(height >> 8),
          static_cast<uint8_t>(height),
          static_cast<uint8_t>(width >> 8),
          static_cast<uint8_t>(width),
          components};
  for (uint8_t c = 1; c <= components; ++c)
    out.insert(out.end(), {c, 0x11, 0x00});
  return out;
}

// JFIF APP0 payload: signature, version, density unit, X and Y density, no thumbnail.
Buf jfif_payload(uint8_t major, uint8_t minor, uint8_t unit, uint16_t x, uint16_t y) {
  return concat({text_bytes(std::string_view("JFIF\0", 5)),
                 {major, minor, unit, static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x),
                  static_cast<uint8_t>(y >> 8), static_cast<uint8_t>(y), 0, 0}});
}

const Buf kXmpSig = text_bytes(std::string_view("http://ns.adobe.com/xap/1.0/\0", 29));
const Buf kExifSig = text_bytes(std::string_view("Exif\0\0", 6));
// DHT payload: class/destination and sixteen zero code counts (never parsed).
const Buf kDht(17, 0x00);
// SOS payload: one component, its table selectors, spectral range 0-63, approximation 0.
const Buf kSos = {0x01, 0x01, 0x00, 0x00, 0x3F, 0x00};

ExtractResult extract(const Buf& bytes) {
  MemorySource src(bytes);
  ProbeContext ctx;
  ctx.header = std::span<const uint8_t>(bytes).first(std::min<size_t>(bytes.size(), 8192));
  return JpegExtractor().extract(src, ctx);
}

Namespace walk(const Buf& bytes) {
  auto r = extract(bytes);
  EXPECT_TRUE(r.ok());
  if (!r.ok()) return Namespace("jpeg");
  return std::move(r).value();
}

using testing::find;
using testing::keys;
constexpr auto uint_at = testing::field<uint64_t>;
constexpr auto text_at = testing::field<std::string>;
constexpr auto bool_at = testing::field<bool>;
std::vector<Map> segments(const Namespace& ns) {
  return testing::records(ns, "segments");
}
using Keys = std::vector<std::string>;

TEST(JpegSupports, NeedsSoiAndTheNextMarkerByte) {
  struct Case {
    Buf header;
    bool expected;
  } cases[] = {
      {{0xFF, 0xD8, 0xFF}, true},
      {{0xFF, 0xD8, 0xFF, 0xE0, 0x00}, true},
      {{0xFF, 0xD8}, false},              // too short
      {{0xFF, 0xD8, 0xFE}, false},        // third byte is not a marker prefix
      {{0x00, 0xFF, 0xD8, 0xFF}, false},  // not at the start
      {{}, false},
  };
  for (const auto& c : cases) {
    ProbeContext ctx;
    ctx.header = c.header;
    EXPECT_EQ(JpegExtractor().supports(ctx), c.expected) << c.header.size();
  }
  EXPECT_STREQ(JpegExtractor().name(), "jpeg");
}

TEST(JpegWalk, TinyInputsGiveOnlyAnEmptyDirectory) {
  const Buf cases[] = {
      {0xFF, 0xD8, 0xFF, 0xE0, 0x00},        // five bytes: too short to walk
      {0xFF, 0xD8, 0xFF, 0xD9, 0x00, 0x00},  // EOI ends the walk and is not recorded
      {0xFF, 0xD8, 0xFF, 0xD0, 0xFF, 0xD8},  // RST0 and SOI stand alone, then too little is left
  };
  for (const auto& bytes : cases) {
    const Namespace ns = walk(bytes);
    EXPECT_EQ(keys(ns.fields()), Keys{"segments"});
    EXPECT_TRUE(segments(ns).empty());
  }
}

TEST(JpegWalk, TypicalBaselineStream) {
  Stream s;
  s.seg(0xE0, jfif_payload(1, 1, 1, 72, 72))                  // APP0 JFIF 1.01, 72x72 dpi
      .seg(0xDB, dqt_payload(0x00, ijg_luminance_table(75)))  // 8-bit table 0 at q75
      .seg(0xC0, sof_payload(8, 480, 640, 3))                 // SOF0 640x480, 3 components
      .seg(0xC4, kDht)
      .seg(0xDA, kSos)
      .raw({0x12, 0x34, 0xFF, 0x00, 0xFF, 0xD9});  // entropy-coded data, stuffed FF, EOI
  const Namespace ns = walk(s.bytes);
  const auto segs = segments(ns);
  ASSERT_EQ(segs.size(), 5u);
  const char* markers[] = {"FFE0", "FFDB", "FFC0", "FFC4", "FFDA"};
  const char* names[] = {"APP0", "DQT (quantization)", "SOF0 (baseline)", "DHT (huffman)",
                         "SOS (scan start)"};
  for (size_t i = 0; i < segs.size(); ++i) {
    EXPECT_EQ(text_at(segs[i], "marker"), markers[i]);
    EXPECT_EQ(text_at(segs[i], "name"), names[i]);
    EXPECT_EQ(uint_at(segs[i], "offset"), s.offsets[i]);
  }
  EXPECT_EQ(uint_at(segs[0], "length"), 16u);
  EXPECT_EQ(uint_at(segs[1], "length"), 67u);
  EXPECT_EQ(text_at(segs[0], "jfif_version"), "1.01");
  EXPECT_EQ(text_at(segs[0], "density"), "72x72 dpi");
  EXPECT_EQ(keys(segs[1]), (Keys{"length", "marker", "name", "offset"}));

  const Map& f = ns.fields();
  EXPECT_EQ(uint_at(f, "quality_estimate"), 75u);
  EXPECT_EQ(uint_at(f, "width"), 640u);
  EXPECT_EQ(uint_at(f, "height"), 480u);
  EXPECT_EQ(uint_at(f, "components"), 3u);
  EXPECT_EQ(uint_at(f, "bit_depth"), 8u);
  EXPECT_EQ(bool_at(f, "progressive"), false);
  EXPECT_EQ(text_at(f, "color_space_guess"), "YCbCr/RGB");
  EXPECT_EQ(uint_at(f, "scan_data_offset"), s.offsets[4] + 2 + 8);
  EXPECT_EQ(find(f, "xmp_packet_chars"), nullptr);
}

TEST(JpegQuality, EveryIjgTableGivesBackItsQuality) {
  for (int q = 1; q <= 100; ++q) {
    EXPECT_EQ(estimate_ijg_quality(ijg_luminance_table(q)), static_cast<uint32_t>(q));
  }
}

TEST(JpegQuality, ExtremeAndPerturbedTables) {
  std::array<uint8_t, 64> table{};
  table.fill(1);
  EXPECT_EQ(estimate_ijg_quality(table), 100u);
  table.fill(255);
  EXPECT_EQ(estimate_ijg_quality(table), 1u);
  // An encoder that rounds one coefficient differently still lands on its quality.
  table = ijg_luminance_table(60);
  table[20] += 1;
  EXPECT_EQ(estimate_ijg_quality(table), 60u);
  // Entries in row order instead of zigzag order are a different table: the estimate must
  // come from comparing coefficient by coefficient, so it is not exact.
  const auto zz = ijg_luminance_table(30);
  const auto order = zigzag_to_natural();
  std::array<uint8_t, 64> row_order{};
  for (size_t k = 0; k < 64; ++k)
    row_order[order[k]] = zz[k];
  EXPECT_NE(estimate_ijg_quality(row_order), 30u);
}

TEST(JpegQuality, TieGoesToTheLowerQuality) {
  // Quality 100 is all ones; quality 99 has a 2 wherever the reference entry is 75 or more.
  // Keeping half of those 2s puts the table exactly between the two.
  auto table = ijg_luminance_table(99);
  const auto twos = std::count(table.begin(), table.end(), uint8_t{2});
  ASSERT_EQ(twos % 2, 0);
  auto to_drop = twos / 2;
  for (auto& e : table) {
    if (e == 2 && to_drop > 0) {
      e = 1;
      --to_drop;
    }
  }
  EXPECT_EQ(estimate_ijg_quality(table), 99u);
}

TEST(JpegQuality, OnlyTheFirstEightBitTableZeroCounts) {
  const auto q75 = ijg_luminance_table(75);
  const auto q20 = ijg_luminance_table(20);
  struct Case {
    const char* what;
    Buf payload;
    std::optional<uint64_t> expected;
  } cases[] = {
      {"8-bit table 0", dqt_payload(0x00, q75), 75},
      {"16-bit precision", dqt_payload(0x10, q75), std::nullopt},
      {"destination 1", dqt_payload(0x01, q75), std::nullopt},
      {"table cut short", first_n(dqt_payload(0x00, q75), 64), std::nullopt},
      {"empty", {}, std::nullopt},
      // Two tables in one segment: the second (destination 0 again) is not looked at.
      {"first of two", concat({dqt_payload(0x01, q20), dqt_payload(0x00, q75)}), std::nullopt},
  };
  for (const auto& c : cases) {
    Stream s;
    s.seg(0xDB, c.payload).seg(0xDA, kSos);
    EXPECT_EQ(uint_at(walk(s.bytes).fields(), "quality_estimate"), c.expected) << c.what;
  }

  Stream twice;  // a later qualifying table does not replace the first estimate
  twice.seg(0xDB, dqt_payload(0x00, q20)).seg(0xDB, dqt_payload(0x00, q75)).seg(0xDA, kSos);
  EXPECT_EQ(uint_at(walk(twice.bytes).fields(), "quality_estimate"), 20u);

  Stream late;  // a non-qualifying table first does not block a later one
  late.seg(0xDB, dqt_payload(0x01, q20)).seg(0xDB, dqt_payload(0x00, q75)).seg(0xDA, kSos);
  EXPECT_EQ(uint_at(walk(late.bytes).fields(), "quality_estimate"), 75u);
}

TEST(JpegFrame, StartOfFrameCodes) {
  struct Case {
    uint8_t code;
    const char* name;
    std::optional<bool> progressive;  // absent: no geometry at all
  } cases[] = {
      {0xC0, "SOF0 (baseline)", false},   {0xC1, "other", false},
      {0xC2, "SOF2 (progressive)", true}, {0xC3, "other", false},
      {0xC5, "other", std::nullopt},  // hierarchical
      {0xC9, "other", std::nullopt},  // arithmetic
      {0xCF, "other", std::nullopt},
  };
  for (const auto& c : cases) {
    Stream s;
    s.seg(c.code, sof_payload(12, 100, 200, 1)).seg(0xDA, kSos);
    const Namespace ns = walk(s.bytes);
    EXPECT_EQ(text_at(segments(ns)[0], "name"), c.name) << int(c.code);
    EXPECT_EQ(bool_at(ns.fields(), "progressive"), c.progressive) << int(c.code);
    if (c.progressive) {
      EXPECT_EQ(uint_at(ns.fields(), "bit_depth"), 12u);
      EXPECT_EQ(uint_at(ns.fields(), "height"), 100u);
      EXPECT_EQ(uint_at(ns.fields(), "width"), 200u);
    } else {
      EXPECT_EQ(find(ns.fields(), "width"), nullptr);
    }
  }
}

TEST(JpegFrame, ColourSpaceGuessFollowsComponentCount) {
  const std::pair<uint8_t, const char*> cases[] = {
      {1, "grayscale"}, {2, "unknown"}, {3, "YCbCr/RGB"},
      {4, "CMYK/YCCK"}, {0, "unknown"}, {5, "unknown"},
  };
  for (const auto& [components, guess] : cases) {
    Stream s;
    s.seg(0xC0, sof_payload(8, 1, 1, components)).seg(0xDA, kSos);
    EXPECT_EQ(text_at(walk(s.bytes).fields(), "color_space_guess"), guess) << int(components);
  }
}

TEST(JpegFrame, ShortFrameHeaderIsIgnoredAndLaterFramesOverwrite) {
  Stream s;
  s.seg(0xC0, {8, 0, 1, 0, 1})  // five bytes: no component count
      .seg(0xDA, kSos);
  EXPECT_EQ(find(walk(s.bytes).fields(), "width"), nullptr);

  Stream two;
  two.seg(0xC0, sof_payload(8, 10, 20, 3)).seg(0xC2, sof_payload(8, 30, 40, 1)).seg(0xDA, kSos);
  const Namespace ns = walk(two.bytes);
  EXPECT_EQ(uint_at(ns.fields(), "width"), 40u);
  EXPECT_EQ(uint_at(ns.fields(), "height"), 30u);
  EXPECT_EQ(bool_at(ns.fields(), "progressive"), true);
  EXPECT_EQ(text_at(ns.fields(), "color_space_guess"), "grayscale");
}

TEST(JpegApp0, JfifVersionAndDensity) {
  struct Case {
    Buf payload;
    std::optional<std::string> version, density;
  } cases[] = {
      {jfif_payload(1, 2, 0, 1, 1), "1.02", "1x1 aspect-ratio"},
      {jfif_payload(1, 1, 1, 72, 72), "1.01", "72x72 dpi"},
      {jfif_payload(2, 10, 2, 118, 59), "2.10", "118x59 dpcm"},
      {jfif_payload(1, 0, 3, 65535, 0), "1.00", "65535x0 ?"},
      // Eleven bytes: the Y density is incomplete.
      {first_n(jfif_payload(1, 1, 1, 72, 72), 11), std::nullopt, std::nullopt},
      {concat({text_bytes("JFXX"), Buf(10, 0)}), std::nullopt, std::nullopt},
      {concat({text_bytes("JFIF!"), Buf(10, 0)}), std::nullopt, std::nullopt},  // no NUL
  };
  for (const auto& c : cases) {
    Stream s;
    s.seg(0xE0, c.payload).seg(0xDA, kSos);
    const auto seg = segments(walk(s.bytes))[0];
    EXPECT_EQ(text_at(seg, "jfif_version"), c.version);
    EXPECT_EQ(text_at(seg, "density"), c.density);
  }
}

TEST(JpegApps, PayloadLabels) {
  struct Case {
    uint8_t code;
    Buf payload;
    std::optional<std::string> label;
  } cases[] = {
      {0xE1, concat({kExifSig, {'I', 'I', 42, 0}}), "EXIF"},
      {0xE1, kExifSig, "EXIF"},  // six bytes are enough for the label
      {0xE1, {'E', 'x', 'i', 'f', 0}, std::nullopt},
      {0xE1, concat({kXmpSig, text_bytes("<x/>")}), "XMP"},
      {0xE1, kXmpSig, "XMP"},
      // Extended XMP has a different namespace identifier.
      {0xE1,
       concat({text_bytes(std::string_view("http://ns.adobe.com/xmp/extension/\0", 35)),
               Buf(40, 'a')}),
       std::nullopt},
      {0xE2, concat({text_bytes(std::string_view("ICC_PROFILE\0", 12)), {1, 1}}), "ICC profile"},
      {0xE2, text_bytes(std::string_view("ICC_PROFILE\0", 12)), "ICC profile"},
      {0xE2, text_bytes("ICC_PROFILE"), std::nullopt},
      {0xED, text_bytes(std::string_view("Photoshop 3.0\0", 14)), "Photoshop IRB (IPTC likely)"},
      {0xED, text_bytes("Photoshop 3.0"), std::nullopt},
      {0xE3, kExifSig, std::nullopt},  // APP3 is never inspected
      {0xEE, text_bytes("Adobe\0\0\0\0\0\0\0"), std::nullopt},
  };
  for (const auto& c : cases) {
    Stream s;
    s.seg(c.code, c.payload).seg(0xDA, kSos);
    const Namespace ns = walk(s.bytes);
    EXPECT_EQ(text_at(segments(ns)[0], "payload"), c.label)
        << int(c.code) << " " << c.payload.size();
    if (c.label != "XMP") {
      EXPECT_EQ(find(ns.fields(), "xmp_packet_chars"), nullptr);
    }
  }
}

TEST(JpegApps, XmpPacketLength) {
  Stream s;
  s.seg(0xE1, concat({kXmpSig, Buf(1000, 'x')})).seg(0xDA, kSos);
  EXPECT_EQ(uint_at(walk(s.bytes).fields(), "xmp_packet_chars"), 1000u);

  // The count is in bytes, not characters: 300 two-byte characters.
  Buf two_byte;
  for (int i = 0; i < 300; ++i)
    two_byte.insert(two_byte.end(), {0xC3, 0xA9});
  Stream multi;
  multi.seg(0xE1, concat({kXmpSig, two_byte})).seg(0xDA, kSos);
  EXPECT_EQ(uint_at(walk(multi.bytes).fields(), "xmp_packet_chars"), 600u);

  Stream invalid;  // still labelled, but no count
  invalid.seg(0xE1, concat({kXmpSig, {'<', 0xFF, '>'}})).seg(0xDA, kSos);
  const Namespace ns = walk(invalid.bytes);
  EXPECT_EQ(text_at(segments(ns)[0], "payload"), "XMP");
  EXPECT_EQ(find(ns.fields(), "xmp_packet_chars"), nullptr);

  Stream later;  // the last XMP packet's count wins
  later.seg(0xE1, concat({kXmpSig, Buf(10, 'a')}))
      .seg(0xE1, concat({kXmpSig, Buf(20, 'b')}))
      .seg(0xDA, kSos);
  EXPECT_EQ(uint_at(walk(later.bytes).fields(), "xmp_packet_chars"), 20u);
}

TEST(JpegComment, Decoding) {
  struct Case {
    const char* what;
    Buf payload;
    std::optional<std::string> comment;
  } cases[] = {
      {"trailing NULs stripped", {'h', 'e', 'l', 'l', 'o', 0, 0, 0}, "hello"},
      {"only NULs", {0, 0, 0}, ""},
      {"empty payload", {}, ""},
      {"inner NUL kept", {'a', 0, 'b', 0}, std::string("a\0b", 3)},
      {"UTF-8 kept", {0xC3, 0xA9, 't', 0xC3, 0xA9}, "\xC3\xA9t\xC3\xA9"},
      {"Latin-1 byte", {'c', 'a', 'f', 0xE9}, std::nullopt},
      {"overlong NUL", {'a', 0xC0, 0x80}, std::nullopt},
  };
  for (const auto& c : cases) {
    Stream s;
    s.seg(0xFE, c.payload).seg(0xDA, kSos);
    EXPECT_EQ(text_at(segments(walk(s.bytes))[0], "comment"), c.comment) << c.what;
  }
}

TEST(JpegWalk, BadLengthFields) {
  // Length 0 is recorded and the walk resumes at the length field, finding the next marker.
  Buf zero = {0xFF, 0xD8,               // SOI
              0xFF, 0xC4, 0x00, 0x00,   // DHT with length 0
              0xFF, 0xFE, 0x00, 0x04,   // COM, length 4
              'o',  'k',                // comment text
              0xFF, 0xDA, 0x00, 0x02};  // SOS with an empty header
  Namespace ns = walk(zero);
  auto segs = segments(ns);
  ASSERT_EQ(segs.size(), 3u);
  EXPECT_EQ(uint_at(segs[0], "length"), 0u);
  EXPECT_EQ(uint_at(segs[1], "offset"), 6u);
  EXPECT_EQ(text_at(segs[1], "comment"), "ok");
  EXPECT_EQ(uint_at(ns.fields(), "scan_data_offset"), 16u);

  // Length 1 moves on by three bytes: here onto the next segment's FF.
  Buf one = {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x01, 0x00, 0xFF, 0xDA, 0x00, 0x02};
  segs = segments(walk(one));
  ASSERT_EQ(segs.size(), 2u);
  EXPECT_EQ(uint_at(segs[1], "offset"), 7u);

  // A length running past the end is recorded with an unreadable payload and ends the walk.
  Buf past = {0xFF, 0xD8,                                             // SOI
              0xFF, 0xE1, 0x01, 0x00,                                 // APP1 claiming 256 bytes
              'E',  'x',  'i',  'f',  0, 0, 0xFF, 0xDA, 0x00, 0x02};  // never reached
  ns = walk(past);
  segs = segments(ns);
  ASSERT_EQ(segs.size(), 1u);
  EXPECT_EQ(uint_at(segs[0], "length"), 256u);
  EXPECT_EQ(keys(segs[0]), (Keys{"length", "marker", "name", "offset"}));
  EXPECT_EQ(find(ns.fields(), "scan_data_offset"), nullptr);

  // A comment whose length is invalid has an empty payload, which is valid (empty) text.
  for (const Buf& com : {Buf{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x09, 'a', 'b'},
                         Buf{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x01, 0x00, 0x00}}) {
    segs = segments(walk(com));
    ASSERT_FALSE(segs.empty());
    EXPECT_EQ(text_at(segs[0], "comment"), "");
  }
}

TEST(JpegWalk, MarkersWithoutLengthAndStrayBytes) {
  Stream s;
  s.raw({0x00, 0x12, 0x34})                       // garbage before the first segment
      .raw({0xFF, 0xD0, 0xFF, 0xD7, 0xFF, 0xD8})  // RST0, RST7, SOI: no record
      .seg(0xFE, text_bytes("a"))
      .raw({0xAB, 0xCD})        // garbage between segments
      .seg(0xDD, {0x00, 0x10})  // DRI
      .seg(0xDA, kSos)
      .seg(0xFE, text_bytes("after"));  // after the first scan: never examined
  const Namespace ns = walk(s.bytes);
  const auto segs = segments(ns);
  ASSERT_EQ(segs.size(), 3u);
  EXPECT_EQ(uint_at(segs[0], "offset"), s.offsets[0]);
  EXPECT_EQ(text_at(segs[1], "name"), "DRI (restart interval)");
  EXPECT_EQ(uint_at(segs[1], "offset"), s.offsets[1]);
  EXPECT_EQ(text_at(segs[2], "marker"), "FFDA");

  // FF 00 and FF FF are taken as segments with a length field.
  const Buf odd = {0xFF, 0xD8, 0xFF, 0x00, 0x00, 0x02, 0xFF, 0xFF, 0x00, 0x02};
  const auto odd_segs = segments(walk(odd));
  ASSERT_EQ(odd_segs.size(), 2u);
  EXPECT_EQ(text_at(odd_segs[0], "marker"), "FF00");
  EXPECT_EQ(text_at(odd_segs[0], "name"), "other");
  EXPECT_EQ(text_at(odd_segs[1], "marker"), "FFFF");
}

TEST(JpegWalk, MarkerNames) {
  const std::pair<uint8_t, const char*> cases[] = {
      {0xC0, "SOF0 (baseline)"},
      {0xC2, "SOF2 (progressive)"},
      {0xC4, "DHT (huffman)"},
      {0xDB, "DQT (quantization)"},
      {0xDD, "DRI (restart interval)"},
      {0xE0, "APP0"},
      {0xE1, "APP1"},
      {0xE2, "APP2"},
      {0xED, "APP13"},
      {0xEE, "APP14"},
      {0xFE, "COM (comment)"},
      {0xDC, "other"},
      {0xDE, "other"},
      {0xDF, "other"},
      {0xE3, "other"},
      {0xEC, "other"},
      {0xEF, "other"},
      {0xC8, "other"},
      {0xCC, "other"},
      {0x01, "other"},
      {0xDA, "SOS (scan start)"},
  };
  for (const auto& [code, name] : cases) {
    Stream s;
    s.seg(code, Buf(8, 0x00));
    const auto segs = segments(walk(s.bytes));
    ASSERT_EQ(segs.size(), 1u);
    EXPECT_EQ(text_at(segs[0], "name"), name) << int(code);
  }
}

TEST(JpegSource, StreamedSourceMatchesMemoryAndReadFailureIsIoError) {
  Stream s;
  s.seg(0xFE, text_bytes("x")).seg(0xC0, sof_payload(8, 2, 3, 3)).seg(0xDA, kSos);
  testing::TrickleSource trickle(s.bytes, 5);
  auto r = JpegExtractor().extract(trickle, testing::context_for(s.bytes));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(segments(r.value()).size(), 3u);
  EXPECT_EQ(uint_at(r.value().fields(), "width"), 3u);

  testing::FailingSource failing;
  ProbeContext stated;
  stated.length = 64;  // a file that claims content its reads cannot deliver
  auto e = JpegExtractor().extract(failing, stated);
  ASSERT_FALSE(e.ok());
  EXPECT_EQ(e.error().display().rfind("I/O error: ", 0), 0u) << e.error().display();
}

// ---- One-field corruptions of a small valid stream -------------------------------------------

// What each segment of the corruption fixture contributes; no payload holds an FF byte, so a
// walk that lands inside one finds the next segment's marker.
struct Part {
  uint8_t code;
  Buf payload;
  std::vector<std::string> ns_keys;  // namespace keys this segment alone sets
};

std::vector<Part> valid_parts() {
  return {
      {0xE0, jfif_payload(1, 1, 1, 300, 300), {}},
      {0xE1, concat({kXmpSig, text_bytes("<x:xmpmeta/>")}), {"xmp_packet_chars"}},
      {0xFE, text_bytes("made by hand"), {}},
      {0xDB, dqt_payload(0x00, ijg_luminance_table(90)), {"quality_estimate"}},
      {0xC0,
       sof_payload(8, 16, 16, 3),
       {"bit_depth", "color_space_guess", "components", "height", "progressive", "width"}},
      {0xC4, kDht, {}},
      {0xDA, kSos, {"scan_data_offset"}},
  };
}

Stream build(const std::vector<Part>& parts) {
  Stream s;
  for (const auto& p : parts)
    s.seg(p.code, p.payload);
  s.raw({0x55, 0xAA, 0xFF, 0xD9});  // scan data, EOI
  return s;
}

// The keys of a segment whose payload could not be read: it counts as empty, so only a COM
// record adds something (an empty comment).
Keys unreadable_payload_keys(const Map& seg) {
  if (text_at(seg, "marker") == "FFFE") return {"comment", "length", "marker", "name", "offset"};
  return {"length", "marker", "name", "offset"};
}

TEST(JpegCorruption, TruncationAtEveryPosition) {
  const auto parts = valid_parts();
  const Stream s = build(parts);
  const Namespace full = walk(s.bytes);
  const auto full_segs = segments(full);
  ASSERT_EQ(full_segs.size(), parts.size());

  for (size_t m = 0; m <= s.bytes.size(); ++m) {
    const Buf cut(s.bytes.begin(), s.bytes.begin() + m);
    const Namespace ns = walk(cut);
    const auto segs = segments(ns);
    size_t expected = 0;
    while (m >= 6 && expected < parts.size() && s.offsets[expected] + 4 <= m)
      ++expected;
    ASSERT_EQ(segs.size(), expected) << "cut at " << m;

    for (size_t i = 0; i < expected; ++i) {
      const bool whole = s.offsets[i] + 4 + parts[i].payload.size() <= m;
      if (whole) {
        EXPECT_EQ(keys(segs[i]), keys(full_segs[i])) << "cut at " << m;
      } else {
        EXPECT_EQ(keys(segs[i]), unreadable_payload_keys(segs[i])) << "cut at " << m;
      }
      EXPECT_EQ(uint_at(segs[i], "length"), uint_at(full_segs[i], "length"));
      for (const auto& k : parts[i].ns_keys) {
        // The scan offset comes from the length field alone; everything else needs the payload.
        const bool present = k == "scan_data_offset" || whole;
        EXPECT_EQ(find(ns.fields(), k) != nullptr, present) << k << " cut at " << m;
      }
    }
    for (size_t i = expected; i < parts.size(); ++i) {
      for (const auto& k : parts[i].ns_keys) {
        EXPECT_EQ(find(ns.fields(), k), nullptr) << k << " cut at " << m;
      }
    }
  }
}

TEST(JpegCorruption, OneBadLengthFieldPerSegment) {
  const auto parts = valid_parts();
  const Stream s = build(parts);
  const auto full_segs = segments(walk(s.bytes));

  for (size_t i = 0; i < parts.size(); ++i) {
    for (const uint16_t bad : {uint16_t{0}, uint16_t{0xFFFF}}) {
      Buf b = s.bytes;
      b[s.offsets[i] + 2] = static_cast<uint8_t>(bad >> 8);
      b[s.offsets[i] + 3] = static_cast<uint8_t>(bad);
      const Namespace ns = walk(b);
      const auto segs = segments(ns);
      // Zero: the walk resynchronises on the next marker. Past the end: the walk stops there.
      const size_t expected = bad == 0 ? parts.size() : i + 1;
      ASSERT_EQ(segs.size(), expected) << "segment " << i << " length " << bad;
      for (size_t j = 0; j < expected; ++j) {
        if (j == i) {
          EXPECT_EQ(uint_at(segs[j], "length"), bad);
          EXPECT_EQ(keys(segs[j]), unreadable_payload_keys(segs[j]));
        } else {
          EXPECT_EQ(keys(segs[j]), keys(full_segs[j]));
          EXPECT_EQ(uint_at(segs[j], "offset"), uint_at(full_segs[j], "offset"));
        }
      }
      for (size_t j = 0; j < parts.size(); ++j) {
        for (const auto& k : parts[j].ns_keys) {
          if (k == "scan_data_offset") continue;
          const bool present = j < i || (bad == 0 && j > i);
          EXPECT_EQ(find(ns.fields(), k) != nullptr, present) << k << " segment " << i;
        }
      }
      if (parts[i].code == 0xDA) {
        EXPECT_EQ(uint_at(ns.fields(), "scan_data_offset"), s.offsets[i] + 2 + bad);
      }
    }
  }
}

TEST(JpegCorruption, LostMarkerByteDropsOnlyThatSegment) {
  const auto parts = valid_parts();
  const Stream s = build(parts);
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    Buf b = s.bytes;
    b[s.offsets[i]] = 0x00;
    const Namespace ns = walk(b);
    const auto segs = segments(ns);
    ASSERT_EQ(segs.size(), parts.size() - 1) << i;
    for (const auto& k : parts[i].ns_keys)
      EXPECT_EQ(find(ns.fields(), k), nullptr) << k;
    EXPECT_TRUE(find(ns.fields(), "scan_data_offset"));
  }
}

TEST(JpegRealFile, SharedSampleMatchesWhatImageMagickReports) {
  std::ifstream in(std::string(VORLIX_TEST_FIXTURES) + "/content-types/sample.jpg",
                   std::ios::binary);
  ASSERT_TRUE(in) << "sample file missing from the test fixtures";
  const Buf bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const Namespace ns = walk(bytes);
  const Map& f = ns.fields();
  // identify -verbose: Geometry 256x170, Depth 8-bit, Interlace JPEG, Quality 90,
  // jpeg:colorspace 2, comment "Optimized by JPEGmini 3.14.12.71901706 0x4b0840d9".
  EXPECT_EQ(uint_at(f, "width"), 256u);
  EXPECT_EQ(uint_at(f, "height"), 170u);
  EXPECT_EQ(uint_at(f, "bit_depth"), 8u);
  EXPECT_EQ(bool_at(f, "progressive"), true);
  EXPECT_EQ(uint_at(f, "quality_estimate"), 90u);
  EXPECT_EQ(uint_at(f, "components"), 3u);
  const auto segs = segments(ns);
  ASSERT_FALSE(segs.empty());
  std::vector<std::string> comments, labels;
  for (const auto& s : segs) {
    if (auto c = text_at(s, "comment")) comments.push_back(*c);
    if (auto l = text_at(s, "payload")) labels.push_back(*l);
  }
  EXPECT_EQ(comments, Keys{"Optimized by JPEGmini 3.14.12.71901706 0x4b0840d9"});
  EXPECT_EQ(labels, (Keys{"EXIF", "XMP"}));
  EXPECT_EQ(text_at(segs.back(), "marker"), "FFDA");
  EXPECT_EQ(uint_at(f, "scan_data_offset"),
            *uint_at(segs.back(), "offset") + 2 + *uint_at(segs.back(), "length"));
}

}  // namespace
}  // namespace vorlix_core::extractors
