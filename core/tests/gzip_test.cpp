// The gzip extractor over hand-built byte strings.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "extractors/extractors.hpp"
#include "test_support.hpp"
#include "text.hpp"

namespace vorlix_core {
namespace {

using namespace std::string_literals;

using extractors::GzipExtractor;

using testing::context_for;
using testing::HoleSource;

constexpr auto field = testing::find;
constexpr auto text_of = testing::field<std::string>;
constexpr auto uint_of = testing::field<uint64_t>;
const std::string kU = "\xEF\xBF\xBD";  // U+FFFD

// The fixed 10-byte member header.
std::string gz_header(uint8_t method, uint8_t flags, uint32_t mtime, uint8_t os) {
  std::string h = "\x1F\x8B";      // magic
  h += static_cast<char>(method);  // CM
  h += static_cast<char>(flags);   // FLG
  for (int i = 0; i < 4; ++i)
    h += static_cast<char>(mtime >> (8 * i));  // MTIME, little-endian
  h += '\0';                                   // XFL
  h += static_cast<char>(os);                  // OS
  return h;
}

Namespace gzip(std::string_view bytes) {
  auto r = testing::extract_bytes(GzipExtractor(), as_bytes(bytes));
  EXPECT_TRUE(r.ok()) << (r ? "" : r.error().display());
  return r ? std::move(r).value() : Namespace("gzip");
}

TEST(GzipExtractor, ClaimsOnlyTheMagic) {
  EXPECT_TRUE(GzipExtractor().supports(context_for(as_bytes("\x1F\x8B"))));
  EXPECT_FALSE(GzipExtractor().supports(context_for(as_bytes("\x1F"))));
  EXPECT_FALSE(GzipExtractor().supports(context_for(as_bytes("\x1F\x8C\x08"))));
}

TEST(GzipExtractor, HeaderFields) {
  const struct {
    std::string bytes;
    std::string method;
    std::optional<uint64_t> mtime;
    std::string os;
    std::optional<std::string> name;
  } cases[] = {
      // A Unix tool, no time stamp, no flags.
      {gz_header(8, 0, 0, 3) + "deflated data", "deflate", std::nullopt, "Unix", std::nullopt},
      {gz_header(7, 0, 0, 3), "unknown", std::nullopt, "Unix", std::nullopt},
      {gz_header(8, 0, 1700000000, 0), "deflate", 1700000000, "FAT (Windows/DOS)", std::nullopt},
      {gz_header(8, 0, 0xFFFFFFFF, 7), "deflate", 4294967295u, "macOS", std::nullopt},
      {gz_header(8, 0, 1, 11), "deflate", 1, "NTFS", std::nullopt},
      {gz_header(8, 0, 0, 255), "deflate", std::nullopt, "unknown", std::nullopt},
      {gz_header(8, 0, 0, 1), "deflate", std::nullopt, "other", std::nullopt},
      // FNAME: the name runs to its zero byte.
      {gz_header(8, 0x08, 0, 3) + "a.txt\0data"s, "deflate", std::nullopt, "Unix", "a.txt"},
      // FNAME with the zero byte right after the header.
      {gz_header(8, 0x08, 0, 3) + "\0"s, "deflate", std::nullopt, "Unix", ""},
      // FNAME without a terminator.
      {gz_header(8, 0x08, 0, 3) + "a.txt", "deflate", std::nullopt, "Unix", std::nullopt},
      // FNAME set but nothing after the header.
      {gz_header(8, 0x08, 0, 3), "deflate", std::nullopt, "Unix", std::nullopt},
      // FEXTRA | FNAME: XLEN 4, four extra bytes, then the name.
      {gz_header(8, 0x0C, 0, 3) + "\x04\x00"
                                  "AB\x00\x00"
                                  "b.bin\0"s,
       "deflate", std::nullopt, "Unix", "b.bin"},
      // FEXTRA | FNAME with XLEN 0.
      {gz_header(8, 0x0C, 0, 3) + "\x00\x00"
                                  "c\0"s,
       "deflate", std::nullopt, "Unix", "c"},
      // XLEN reaching past the end: no name.
      {gz_header(8, 0x0C, 0, 3) + "\xFF\xFF"
                                  "d\0"s,
       "deflate", std::nullopt, "Unix", std::nullopt},
      // XLEN ending exactly at the end: no name.
      {gz_header(8, 0x0C, 0, 3) + "\x02\x00"
                                  "xy"s,
       "deflate", std::nullopt, "Unix", std::nullopt},
      // Cut inside XLEN (11 bytes): the name is looked for from offset 10.
      {gz_header(8, 0x0C, 0, 3) + "\0"s, "deflate", std::nullopt, "Unix", ""},
      // FEXTRA alone: no name is looked for.
      {gz_header(8, 0x04, 0, 3) + "\x00\x00"
                                  "e\0"s,
       "deflate", std::nullopt, "Unix", std::nullopt},
      // Invalid UTF-8 in the name.
      {gz_header(8, 0x08, 0, 3) + "f\xFFg\0"s, "deflate", std::nullopt, "Unix", "f" + kU + "g"},
      // Reserved flag bits are ignored.
      {gz_header(8, 0xE8, 0, 3) + "h\0"s, "deflate", std::nullopt, "Unix", "h"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const Namespace ns = gzip(c.bytes);
    EXPECT_EQ(text_of(ns.fields(), "compression_method"), c.method) << i;
    EXPECT_EQ(uint_of(ns.fields(), "modification_time_unix"), c.mtime) << i;
    EXPECT_EQ(text_of(ns.fields(), "os"), c.os) << i;
    EXPECT_EQ(text_of(ns.fields(), "original_filename"), c.name) << i;
  }
}

TEST(GzipExtractor, ShortHeaderIsMalformed) {
  const std::string full = gz_header(8, 0, 0, 3);
  for (size_t n = 0; n < full.size(); ++n) {
    auto r = testing::extract_bytes(GzipExtractor(), as_bytes(full.substr(0, n)));
    ASSERT_FALSE(r.ok()) << n;
    EXPECT_EQ(r.error().display(), "malformed gzip: header too short");
  }
}

TEST(GzipExtractor, EveryTruncationAfterTheHeaderIsTolerated) {
  const std::string full = gz_header(8, 0x0C, 1234, 3) +
                           "\x03\x00"
                           "XYZ"
                           "name.txt\0"
                           "payload"s;
  for (size_t n = 10; n <= full.size(); ++n) {
    const Namespace ns = gzip(full.substr(0, n));
    EXPECT_EQ(uint_of(ns.fields(), "modification_time_unix"), 1234u);
    // The name appears only once its terminator is inside the data.
    const bool terminated = n > 10 + 2 + 3 + 8;
    EXPECT_EQ(text_of(ns.fields(), "original_filename"),
              terminated ? std::optional<std::string>("name.txt") : std::nullopt)
        << n;
  }
}

TEST(GzipExtractor, HugeUnterminatedName) {
  const std::string bytes = gz_header(8, 0x08, 0, 3) + std::string(1 << 22, 'n');
  EXPECT_EQ(field(gzip(bytes).fields(), "original_filename"), nullptr);
}

TEST(GzipExtractor, ReadsFromAFile) {
  const std::string bytes = gz_header(8, 0x08, 42, 3) + "from-disk.txt\0"s;
  auto r = testing::extract_from_file(GzipExtractor(), as_bytes(bytes));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(text_of(r->fields(), "original_filename"), "from-disk.txt");
  EXPECT_EQ(uint_of(r->fields(), "modification_time_unix"), 42u);
}

TEST(GzipExtractor, ReadsOnlyTheHeaderOfALargeFile) {
  const std::string head = gz_header(8, 0x08, 7, 3) + "big.bin\0"s;
  HoleSource src(std::vector<uint8_t>(head.begin(), head.end()), uint64_t{1} << 30, {});
  ProbeContext ctx;
  ctx.length = src.size();
  auto r = GzipExtractor().extract(src, ctx);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(text_of(r->fields(), "original_filename"), "big.bin");
  EXPECT_LE(src.bytes_read(), 2 * RandomAccess::kWindowBytes);
}

TEST(GzipExtractor, NameLengthIsBounded) {
  const std::string exact(limits::kMaxGzipNameBytes, 'n');
  EXPECT_EQ(text_of(gzip(gz_header(8, 0x08, 0, 3) + exact + "\0"s).fields(), "original_filename"),
            exact);
  // One byte more: the zero byte is past what is looked at, so there is no name.
  EXPECT_EQ(field(gzip(gz_header(8, 0x08, 0, 3) + exact + "n\0"s).fields(), "original_filename"),
            nullptr);
}

// A file shorter than the length it was stated to have (cut while it was read): what is there,
// or a plain error.
TEST(GzipExtractor, DeclaredLengthBeyondTheFile) {
  for (const std::string& bytes :
       {gz_header(8, 0x08, 0, 3) + "no-terminator", gz_header(8, 0, 0, 3).substr(0, 6)}) {
    auto r = testing::extract_from_file(GzipExtractor(), as_bytes(bytes), 100000);
    if (r.ok()) {
      EXPECT_EQ(field(r->fields(), "original_filename"), nullptr) << bytes;
    } else {
      EXPECT_EQ(r.error().display(), "malformed gzip: header too short") << bytes;
    }
  }
}

}  // namespace
}  // namespace vorlix_core
