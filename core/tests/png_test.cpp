// The PNG chunk walk over hand-built files, and corruptions of a small valid file.
#include <gtest/gtest.h>

#include <algorithm>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "extractors/extractors.hpp"
#include "test_support.hpp"

namespace vorlix_core::extractors {
namespace {

using Buf = std::vector<uint8_t>;

Buf text_bytes(std::string_view s) {
  return Buf(s.begin(), s.end());
}
Buf be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}
Buf concat(std::initializer_list<Buf> parts) {
  Buf out;
  for (const auto& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Builds a file starting with the signature and remembers where each chunk starts.
struct File {
  Buf bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<size_t> offsets;

  // Big-endian data length, four type bytes, data, CRC (never checked, so left zero).
  File& chunk(const Buf& type, const Buf& data) {
    offsets.push_back(bytes.size());
    const Buf len = be32(static_cast<uint32_t>(data.size()));
    bytes.insert(bytes.end(), len.begin(), len.end());
    bytes.insert(bytes.end(), type.begin(), type.end());
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.insert(bytes.end(), {0, 0, 0, 0});
    return *this;
  }
  File& chunk(std::string_view type, const Buf& data) { return chunk(text_bytes(type), data); }
};

// IHDR data: width, height, bit depth, colour type, compression, filter, interlace.
Buf ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t color, uint8_t interlace) {
  return concat({be32(w), be32(h), {depth, color, 0, 0, interlace}});
}
// pHYs data: X and Y pixels per unit, unit byte.
Buf phys(uint32_t x, uint32_t y, uint8_t unit) {
  return concat({be32(x), be32(y), {unit}});
}
// tIME data: year (2 bytes), month, day, hour, minute, second.
Buf time_data(uint16_t year, uint8_t mo, uint8_t d, uint8_t h, uint8_t mi, uint8_t s) {
  return {static_cast<uint8_t>(year >> 8), static_cast<uint8_t>(year), mo, d, h, mi, s};
}
// tEXt data: keyword, NUL, text.
Buf text_chunk(std::string_view key, std::string_view text) {
  return concat({text_bytes(key), {0}, text_bytes(text)});
}
// A few bytes standing in for compressed image data.
const Buf kIdat = {0x78, 0x9C, 0x63, 0x00, 0x00};

ExtractResult extract(const Buf& bytes) {
  MemorySource src(bytes);
  ProbeContext ctx;
  ctx.header = std::span<const uint8_t>(bytes).first(std::min<size_t>(bytes.size(), 8192));
  return PngExtractor().extract(src, ctx);
}

Namespace walk(const Buf& bytes) {
  auto r = extract(bytes);
  EXPECT_TRUE(r.ok());
  if (!r.ok()) return Namespace("png");
  return std::move(r).value();
}

using testing::FailingSource;
using testing::find;
using testing::keys;
template <class T>
constexpr auto at = testing::field<T>;
std::vector<Map> chunks(const Namespace& ns) {
  return testing::records(ns, "chunks");
}
std::vector<std::string> chunk_types(const Namespace& ns) {
  std::vector<std::string> out;
  for (const auto& c : chunks(ns))
    out.push_back(at<std::string>(c, "type").value_or("?"));
  return out;
}
using Strings = std::vector<std::string>;

TEST(PngSupports, NeedsTheWholeSignature) {
  const Buf sig = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  struct Case {
    Buf header;
    bool expected;
  } cases[] = {
      {sig, true},
      {concat({sig, {0, 0, 0, 13}}), true},
      {Buf(sig.begin(), sig.end() - 1), false},                // seven bytes
      {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x00}, false},  // last byte differs
      {{0x89, 'P', 'N', 'G', 0x0A, 0x0A, 0x1A, 0x0A}, false},  // line ending translated
      {{}, false},
  };
  for (const auto& c : cases) {
    ProbeContext ctx;
    ctx.header = c.header;
    EXPECT_EQ(PngExtractor().supports(ctx), c.expected) << c.header.size();
  }
  EXPECT_STREQ(PngExtractor().name(), "png");
}

TEST(PngWalk, FifteenBytesGiveOnlyAnEmptyDirectory) {
  File f;
  f.bytes.insert(f.bytes.end(), {0, 0, 0, 0, 'I', 'E', 'N'});  // a chunk header cut short
  ASSERT_EQ(f.bytes.size(), 15u);
  const Namespace ns = walk(f.bytes);
  EXPECT_EQ(keys(ns.fields()), Strings{"chunks"});
  EXPECT_TRUE(chunks(ns).empty());
}

TEST(PngWalk, MinimalValidFile) {
  File f;
  f.chunk("IHDR", ihdr(1, 1, 8, 6, 0)).chunk("IDAT", kIdat).chunk("IEND", {});
  const Namespace ns = walk(f.bytes);
  const Map& m = ns.fields();
  EXPECT_EQ(keys(m),
            (Strings{"bit_depth", "chunks", "color_type", "height", "interlaced", "width"}));
  EXPECT_EQ(at<uint64_t>(m, "width"), 1u);
  EXPECT_EQ(at<uint64_t>(m, "height"), 1u);
  EXPECT_EQ(at<uint64_t>(m, "bit_depth"), 8u);
  EXPECT_EQ(at<std::string>(m, "color_type"), "RGBA");
  EXPECT_EQ(at<bool>(m, "interlaced"), false);
  const auto c = chunks(ns);
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(chunk_types(ns), (Strings{"IHDR", "IDAT", "IEND"}));
  EXPECT_EQ(at<uint64_t>(c[0], "offset"), 8u);
  EXPECT_EQ(at<uint64_t>(c[0], "length"), 13u);
  EXPECT_EQ(at<uint64_t>(c[1], "offset"), 33u);
  EXPECT_EQ(at<uint64_t>(c[1], "length"), kIdat.size());
  EXPECT_EQ(at<uint64_t>(c[2], "offset"), f.offsets[2]);
  EXPECT_EQ(at<uint64_t>(c[2], "length"), 0u);
  EXPECT_EQ(keys(c[0]), (Strings{"length", "offset", "type"}));
}

TEST(PngHeader, ColourTypesAndInterlace) {
  const std::pair<uint8_t, const char*> colours[] = {
      {0, "grayscale"}, {1, "unknown"}, {2, "RGB"},     {3, "palette"}, {4, "grayscale+alpha"},
      {5, "unknown"},   {6, "RGBA"},    {7, "unknown"}, {9, "unknown"}, {255, "unknown"},
  };
  for (const auto& [type, name] : colours) {
    File f;
    f.chunk("IHDR", ihdr(640, 480, 16, type, 0)).chunk("IEND", {});
    EXPECT_EQ(at<std::string>(walk(f.bytes).fields(), "color_type"), name) << int(type);
  }
  const std::pair<uint8_t, bool> interlace[] = {{0, false}, {1, true}, {2, false}, {255, false}};
  for (const auto& [method, expected] : interlace) {
    File f;
    f.chunk("IHDR", ihdr(1, 1, 8, 2, method)).chunk("IEND", {});
    EXPECT_EQ(at<bool>(walk(f.bytes).fields(), "interlaced"), expected) << int(method);
  }

  File big;  // full 32-bit dimensions, and a later IHDR overwrites
  big.chunk("IHDR", ihdr(1, 2, 8, 2, 0)).chunk("IHDR", ihdr(0xFFFFFFFF, 0x80000000, 1, 0, 1));
  const Namespace ns = walk(big.bytes);
  EXPECT_EQ(at<uint64_t>(ns.fields(), "width"), 0xFFFFFFFFu);
  EXPECT_EQ(at<uint64_t>(ns.fields(), "height"), 0x80000000u);
  EXPECT_EQ(at<std::string>(ns.fields(), "color_type"), "grayscale");

  File twelve;  // twelve bytes: no interlace byte, so nothing is set
  const Buf h = ihdr(1, 1, 8, 2, 0);
  twelve.chunk("IHDR", Buf(h.begin(), h.begin() + 12)).chunk("IEND", {});
  EXPECT_EQ(keys(walk(twelve.bytes).fields()), Strings{"chunks"});
}

TEST(PngAncillary, GammaResolutionAndTime) {
  struct Case {
    const char* what;
    const char* type;
    Buf data;
    const char* key;
    std::variant<std::monostate, double, std::string> expected;  // monostate: key absent
  } cases[] = {
      {"gamma 1/2.2", "gAMA", be32(45455), "gamma", 0.45455},
      {"gamma one", "gAMA", be32(100000), "gamma", 1.0},
      {"gamma short", "gAMA", {0, 0, 0xB1}, "gamma", std::monostate{}},
      {"72 dpi", "pHYs", phys(2835, 2835, 1), "dpi", 72.0},
      {"300 dpi", "pHYs", phys(11811, 5000, 1), "dpi", 300.0},  // 299.9994, Y ignored
      {"100 dpi", "pHYs", phys(3937, 3937, 1), "dpi", 100.0},   // 99.9998
      {"zero", "pHYs", phys(0, 0, 1), "dpi", 0.0},
      {"aspect only", "pHYs", phys(2835, 2835, 0), "dpi", std::monostate{}},
      {"unit 2", "pHYs", phys(2835, 2835, 2), "dpi", std::monostate{}},
      {"pHYs short", "pHYs", Buf(8, 0x10), "dpi", std::monostate{}},
      {"time", "tIME", time_data(2024, 1, 5, 9, 3, 7), "last_modified",
       std::string("2024-01-05T09:03:07Z")},
      {"year 999", "tIME", time_data(999, 1, 1, 0, 0, 0), "last_modified",
       std::string("0999-01-01T00:00:00Z")},
      {"year 5", "tIME", time_data(5, 12, 31, 23, 59, 60), "last_modified",
       std::string("0005-12-31T23:59:60Z")},
      {"as stored", "tIME", time_data(65535, 0, 255, 24, 99, 0), "last_modified",
       std::string("65535-00-255T24:99:00Z")},
      {"time short", "tIME", {0x07, 0xE8, 1, 5, 9, 3}, "last_modified", std::monostate{}},
      {"lower-case type", "gama", be32(45455), "gamma", std::monostate{}},
  };
  for (const auto& c : cases) {
    File f;
    f.chunk("IHDR", ihdr(1, 1, 8, 0, 0)).chunk(c.type, c.data).chunk("IEND", {});
    const Namespace ns = walk(f.bytes);
    if (const auto* d = std::get_if<double>(&c.expected)) {
      EXPECT_EQ(at<double>(ns.fields(), c.key), *d) << c.what;
    } else if (const auto* t = std::get_if<std::string>(&c.expected)) {
      EXPECT_EQ(at<std::string>(ns.fields(), c.key), *t) << c.what;
    } else {
      EXPECT_EQ(find(ns.fields(), c.key), nullptr) << c.what;
    }
  }
}

TEST(PngText, KeywordsAndDecoding) {
  using TextMap = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    const char* what;
    std::vector<Buf> texts;  // data of consecutive tEXt chunks
    std::optional<TextMap> expected;
  } cases[] = {
      {"one entry", {text_chunk("Title", "Sunset")}, TextMap{{"Title", "Sunset"}}},
      {"same keyword twice", {text_chunk("K", "A"), text_chunk("K", "B")}, TextMap{{"K", "B"}}},
      {"no NUL", {text_bytes("Comment only")}, std::nullopt},
      {"empty data", {Buf{}}, std::nullopt},
      {"empty keyword", {text_chunk("", "x")}, TextMap{{"", "x"}}},
      {"empty text", {text_chunk("Author", "")}, TextMap{{"Author", ""}}},
      {"later NULs are text",
       {concat({text_bytes("a"), {0}, text_bytes("b"), {0}, text_bytes("c")})},
       TextMap{{"a", std::string("b\0c", 3)}}},
      {"Latin-1 becomes U+FFFD",
       {concat({text_bytes("caf"), {0xE9, 0}, text_bytes("na"), {0xEF, 'v', 'e'}})},
       TextMap{{"caf\xEF\xBF\xBD", "na\xEF\xBF\xBDve"}}},
      {"valid UTF-8 kept",
       {concat({text_bytes("k"), {0}, {0xC3, 0xA9}})},
       TextMap{{"k", "\xC3\xA9"}}},
      {"sorted by keyword",
       {text_chunk("b", "2"), text_chunk("B", "1"), text_chunk("a", "3")},
       TextMap{{"B", "1"}, {"a", "3"}, {"b", "2"}}},
      {"one bad, one good", {text_bytes("nothing"), text_chunk("k", "v")}, TextMap{{"k", "v"}}},
      {"repeats interleaved: the last of each wins",
       {text_chunk("b", "1"), text_chunk("a", "2"), text_chunk("b", "3"), text_chunk("a", "4")},
       TextMap{{"a", "4"}, {"b", "3"}}},
  };
  for (const auto& c : cases) {
    File f;
    f.chunk("IHDR", ihdr(1, 1, 8, 0, 0));
    for (const auto& t : c.texts)
      f.chunk("tEXt", t);
    f.chunk("IEND", {});
    const Namespace ns = walk(f.bytes);
    const Value* v = find(ns.fields(), "text");
    if (!c.expected) {
      EXPECT_EQ(v, nullptr) << c.what;
      continue;
    }
    ASSERT_TRUE(v && v->get_if<Map>()) << c.what;
    TextMap got;
    for (const auto& [k, val] : *v->get_if<Map>()) {
      got.emplace_back(k, val.get_if<std::string>() ? *val.get_if<std::string>() : "<not text>");
    }
    EXPECT_EQ(got, *c.expected) << c.what;
  }
}

TEST(PngText, ThousandsOfKeywordsInReverseOrderComeOutSortedOnce) {
  // A crafted file may hold any number of distinct keywords in any order; each is listed once,
  // sorted, with the last text given for it.
  // Appended, not "k" + ...: GCC 12 warns falsely about that concatenation.
  const auto keyword = [](int i) { return std::string("k").append(std::to_string(100000 + i)); };
  File f;
  f.chunk("IHDR", ihdr(1, 1, 8, 0, 0));
  constexpr int kKeywords = 20000;
  for (int i = kKeywords - 1; i >= 0; --i)
    f.chunk("tEXt", text_chunk(keyword(i), "first"));
  f.chunk("tEXt", text_chunk("k100007", "last"));
  f.chunk("IEND", {});
  const Namespace ns = walk(f.bytes);
  const Value* v = find(ns.fields(), "text");
  ASSERT_TRUE(v && v->get_if<Map>());
  const Map& text = *v->get_if<Map>();
  ASSERT_EQ(text.size(), static_cast<size_t>(kKeywords));
  EXPECT_EQ(text.begin()->first, "k100000");
  EXPECT_EQ((text.end() - 1)->first, keyword(kKeywords - 1));
  EXPECT_TRUE(std::is_sorted(text.begin(), text.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; }));
  EXPECT_EQ(*text.at("k100007").get_if<std::string>(), "last");
  EXPECT_EQ(*text.at("k100008").get_if<std::string>(), "first");
}

TEST(PngWalk, CompressedTextIsOnlyListed) {
  File f;
  f.chunk("IHDR", ihdr(1, 1, 8, 0, 0))
      .chunk("zTXt", concat({text_bytes("Comment"), {0, 0, 0x78, 0x9C}}))  // keyword, method
      .chunk("iTXt", concat({text_bytes("Title"), {0, 0, 0, 0, 0}, text_bytes("x")}))
      .chunk("IEND", {});
  const Namespace ns = walk(f.bytes);
  EXPECT_EQ(chunk_types(ns), (Strings{"IHDR", "zTXt", "iTXt", "IEND"}));
  EXPECT_EQ(find(ns.fields(), "text"), nullptr);
}

TEST(PngWalk, EndOfWalk) {
  File after;  // IEND stops the walk
  after.chunk("IHDR", ihdr(1, 1, 8, 0, 0)).chunk("IEND", {}).chunk("tEXt", text_chunk("k", "v"));
  Namespace ns = walk(after.bytes);
  EXPECT_EQ(chunk_types(ns), (Strings{"IHDR", "IEND"}));
  EXPECT_EQ(find(ns.fields(), "text"), nullptr);

  File no_end;  // without IEND the walk runs to the end of the data
  no_end.chunk("IHDR", ihdr(1, 1, 8, 0, 0))
      .chunk("IDAT", kIdat)
      .chunk("tEXt", text_chunk("k", "v"));
  no_end.bytes.insert(no_end.bytes.end(), {0, 0, 0});  // fewer than 8 trailing bytes
  ns = walk(no_end.bytes);
  EXPECT_EQ(chunk_types(ns), (Strings{"IHDR", "IDAT", "tEXt"}));
  EXPECT_TRUE(find(ns.fields(), "text"));

  File no_crc;  // the last chunk may lack its CRC: only its header and data are needed
  no_crc.chunk("IHDR", ihdr(7, 9, 8, 0, 0));
  no_crc.bytes.resize(no_crc.bytes.size() - 4);
  ns = walk(no_crc.bytes);
  EXPECT_EQ(at<uint64_t>(ns.fields(), "width"), 7u);

  File first_not_ihdr;  // IHDR is not required to come first
  first_not_ihdr.chunk("tEXt", text_chunk("k", "v")).chunk("IHDR", ihdr(3, 4, 8, 2, 0));
  ns = walk(first_not_ihdr.bytes);
  EXPECT_EQ(at<uint64_t>(ns.fields(), "height"), 4u);
  EXPECT_TRUE(find(ns.fields(), "text"));
}

TEST(PngWalk, ChunkPastTheEnd) {
  File f;
  f.chunk("IHDR", ihdr(1, 1, 8, 6, 0));
  f.bytes[11] = 100;  // IHDR claims 100 bytes
  const Namespace ns = walk(f.bytes);
  const auto c = chunks(ns);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(at<uint64_t>(c[0], "length"), 100u);
  EXPECT_EQ(keys(ns.fields()), Strings{"chunks"});

  File huge;  // the largest length must not wrap around to an earlier position
  huge.chunk("tEXt", text_chunk("k", "v")).chunk("IEND", {});
  huge.bytes[8] = huge.bytes[9] = huge.bytes[10] = huge.bytes[11] = 0xFF;
  EXPECT_EQ(chunk_types(walk(huge.bytes)), Strings{"tEXt"});
}

TEST(PngWalk, HighBytesInChunkTypes) {
  File f;
  f.chunk(Buf{'I', 'H', 'D', 0xD2}, ihdr(5, 5, 8, 2, 0))  // 'R' | 0x80
      .chunk(Buf{0xC9, 'E', 'N', 'D'}, {})                // 'I' | 0x80: not IEND
      .chunk("tEXt", text_chunk("k", "v"))
      .chunk("IEND", {});
  const Namespace ns = walk(f.bytes);
  EXPECT_EQ(chunk_types(ns), (Strings{"IHD\xC3\x92",
                                      "\xC3\x89"
                                      "END",
                                      "tEXt", "IEND"}));
  EXPECT_EQ(find(ns.fields(), "width"), nullptr);
  EXPECT_TRUE(find(ns.fields(), "text"));
}

TEST(PngSource, ReadFailureIsIoError) {
  FailingSource failing;
  ProbeContext stated;
  stated.length = 64;  // a file that claims content its reads cannot deliver
  auto e = PngExtractor().extract(failing, stated);
  ASSERT_FALSE(e.ok());
  EXPECT_EQ(e.error().display().rfind("I/O error: ", 0), 0u) << e.error().display();
}

// ---- One-field corruptions of a small valid file ---------------------------------------------

struct Part {
  const char* type;
  Buf data;
  const char* ns_key;  // the namespace key this chunk alone sets, or null
};

std::vector<Part> valid_parts() {
  return {
      {"IHDR", ihdr(3, 2, 8, 2, 0), "width"},
      {"gAMA", be32(45455), "gamma"},
      {"pHYs", phys(2835, 2835, 1), "dpi"},
      {"tIME", time_data(2024, 2, 29, 12, 0, 0), "last_modified"},
      {"tEXt", text_chunk("Software", "hand"), "text"},
      {"IDAT", kIdat, nullptr},
      {"IEND", {}, nullptr},
  };
}

File build(const std::vector<Part>& parts) {
  File f;
  for (const auto& p : parts)
    f.chunk(p.type, p.data);
  return f;
}

TEST(PngCorruption, TruncationAtEveryPosition) {
  const auto parts = valid_parts();
  const File f = build(parts);
  for (size_t m = 0; m <= f.bytes.size(); ++m) {
    const Buf cut(f.bytes.begin(), f.bytes.begin() + static_cast<long>(m));
    const Namespace ns = walk(cut);
    const auto c = chunks(ns);
    size_t expected = 0;
    while (m >= 16 && expected < parts.size() && f.offsets[expected] + 8 <= m)
      ++expected;
    ASSERT_EQ(c.size(), expected) << "cut at " << m;
    for (size_t i = 0; i < parts.size(); ++i) {
      if (i < expected) {
        EXPECT_EQ(at<uint64_t>(c[i], "length"), parts[i].data.size());
        EXPECT_EQ(at<std::string>(c[i], "type"), parts[i].type);
      }
      if (!parts[i].ns_key) continue;
      const bool whole = f.offsets[i] + 8 + parts[i].data.size() <= m;
      EXPECT_EQ(find(ns.fields(), parts[i].ns_key) != nullptr, whole)
          << parts[i].ns_key << " cut at " << m;
    }
  }
}

TEST(PngCorruption, OneBadLengthFieldPerChunk) {
  const auto parts = valid_parts();
  const File f = build(parts);
  for (size_t i = 0; i < parts.size(); ++i) {
    for (const uint32_t bad : {0u, 0xFFFFFFFFu, static_cast<uint32_t>(f.bytes.size())}) {
      Buf b = f.bytes;
      const Buf len = be32(bad);
      std::copy(len.begin(), len.end(), b.begin() + static_cast<long>(f.offsets[i]));
      const Namespace ns = walk(b);
      const auto c = chunks(ns);
      ASSERT_GT(c.size(), i) << "chunk " << i;
      EXPECT_EQ(at<uint64_t>(c[i], "length"), bad);
      for (size_t j = 0; j < i; ++j) {
        EXPECT_EQ(at<uint64_t>(c[j], "offset"), f.offsets[j]);
        if (parts[j].ns_key) {
          EXPECT_TRUE(find(ns.fields(), parts[j].ns_key)) << parts[j].ns_key;
        }
      }
      // A length past the end ends the walk; zero sends it into the data, which it must survive.
      if (bad != 0) {
        EXPECT_EQ(c.size(), i + 1);
        for (size_t j = i; j < parts.size(); ++j) {
          if (parts[j].ns_key) {
            EXPECT_EQ(find(ns.fields(), parts[j].ns_key), nullptr) << parts[j].ns_key;
          }
        }
      } else if (parts[i].ns_key && std::string_view(parts[i].ns_key) != "text") {
        EXPECT_EQ(find(ns.fields(), parts[i].ns_key), nullptr) << parts[i].ns_key;
      }
    }
  }
}

TEST(PngCorruption, CorruptCrcIsIgnored) {
  const auto parts = valid_parts();
  File f = build(parts);
  const Namespace clean = walk(f.bytes);
  for (size_t i = 0; i < parts.size(); ++i) {
    f.bytes[f.offsets[i] + 8 + parts[i].data.size()] ^= 0xA5;
  }
  const Namespace ns = walk(f.bytes);
  EXPECT_EQ(keys(ns.fields()), keys(clean.fields()));
  EXPECT_EQ(chunks(ns).size(), parts.size());
}

TEST(PngRealFile, SharedSampleMatchesWhatImageMagickReports) {
  std::ifstream in(std::string(VORLIX_TEST_FIXTURES) + "/content-types/sample.png",
                   std::ios::binary);
  ASSERT_TRUE(in) << "sample file missing from the test fixtures";
  const Buf bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const Namespace ns = walk(bytes);
  const Map& f = ns.fields();
  // identify -verbose: png:IHDR.width,height 256, 170; bit_depth 8; color_type 2 (Truecolor);
  // interlace_method 0; pHYs x_res=2835 units=1; tIME 2019-02-19T21:58:52Z; no tEXt.
  EXPECT_EQ(at<uint64_t>(f, "width"), 256u);
  EXPECT_EQ(at<uint64_t>(f, "height"), 170u);
  EXPECT_EQ(at<uint64_t>(f, "bit_depth"), 8u);
  EXPECT_EQ(at<std::string>(f, "color_type"), "RGB");
  EXPECT_EQ(at<bool>(f, "interlaced"), false);
  EXPECT_EQ(at<double>(f, "dpi"), 72.0);
  EXPECT_EQ(at<std::string>(f, "last_modified"), "2019-02-19T21:58:52Z");
  EXPECT_EQ(find(f, "text"), nullptr);
  const auto c = chunks(ns);
  ASSERT_FALSE(c.empty());
  EXPECT_EQ(at<std::string>(c.back(), "type"), "IEND");
  // Chunks tile the file: each starts where the previous one's CRC ends.
  for (size_t i = 1; i < c.size(); ++i) {
    EXPECT_EQ(*at<uint64_t>(c[i], "offset"),
              *at<uint64_t>(c[i - 1], "offset") + *at<uint64_t>(c[i - 1], "length") + 12);
  }
  EXPECT_EQ(*at<uint64_t>(c.back(), "offset") + 12, bytes.size());
}

}  // namespace
}  // namespace vorlix_core::extractors
