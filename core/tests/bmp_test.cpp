#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "extractors/extractors.hpp"
#include "test_support.hpp"

namespace vorlix_core {
namespace {

using extractors::BmpExtractor;
using ByteVec = std::vector<uint8_t>;
using testing::render;
using testing::TrickleSource;

ExtractResult run(ByteSource& src, const ByteVec& header) {
  ProbeContext ctx;
  ctx.header = header;
  ctx.length = header.size();
  return BmpExtractor().extract(src, ctx);
}

ExtractResult run(const ByteVec& bytes) {
  MemorySource src(bytes);
  return run(src, bytes);
}

void le16(ByteVec& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void le32(ByteVec& b, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct Info {
  uint32_t dib_size = 40;
  int32_t width = 2;
  int32_t height = 3;
  uint16_t bit_depth = 24;
  uint32_t compression = 0;
  std::optional<uint32_t> file_size = std::nullopt;  // as stored; the real size when absent
};

// A bitmap with an information header (or a V4/V5 one, zero-padded after the first 40 bytes) and
// 2x3 pixels of 24 bits, rows padded to 8 bytes.
ByteVec bitmap(const Info& f) {
  const uint32_t header_end = 14 + (f.dib_size > 40 && f.dib_size <= 124 ? f.dib_size : 40);
  const uint32_t total = header_end + 24;
  ByteVec b = {'B', 'M'};                    // signature
  le32(b, f.file_size.value_or(total));      // file size as stored
  le32(b, 0);                                // reserved
  le32(b, header_end);                       // pixel data offset
  le32(b, f.dib_size);                       // DIB header size
  le32(b, static_cast<uint32_t>(f.width));   // width, signed
  le32(b, static_cast<uint32_t>(f.height));  // height, signed; negative = top-down
  le16(b, 1);                                // planes
  le16(b, f.bit_depth);                      // bits per pixel
  le32(b, f.compression);                    // compression method
  le32(b, 24);                               // image size
  le32(b, 2835);                             // horizontal resolution, pixels per metre
  le32(b, 2835);                             // vertical resolution
  le32(b, 0);                                // colours used
  le32(b, 0);                                // important colours
  b.resize(header_end, 0);                   // rest of a larger header (masks, colour space)
  b.resize(total, 0x7F);                     // pixel rows
  return b;
}

// A 12-byte core header: 16-bit sizes, no compression field.
ByteVec core_bitmap() {
  ByteVec b = {'B', 'M'};   // signature
  le32(b, 26 + 24);         // file size
  le32(b, 0);               // reserved
  le32(b, 26);              // pixel data offset
  le32(b, 12);              // DIB header size
  le16(b, 2);               // width
  le16(b, 3);               // height
  le16(b, 1);               // planes
  le16(b, 24);              // bits per pixel
  b.resize(26 + 24, 0x7F);  // pixel rows
  return b;
}

ByteVec first(const ByteVec& b, size_t n) {
  return ByteVec(b.begin(), b.begin() + n);
}

const char* const kBottomUp2x3 =
    "bit_depth=24 compression=\"none (BI_RGB)\" dib_header_size=40 file_size_header=78 "
    "height=3 top_down=false width=2";

TEST(BmpExtractor, SupportsTheBmSignatureOnly) {
  struct Case {
    ByteVec header;
    bool expected;
  };
  const std::vector<Case> cases = {
      {{'B', 'M'}, true},  {{'B', 'M', 0x00}, true}, {{'B'}, false},
      {{'b', 'm'}, false}, {{'B', 'A'}, false},      {{}, false},
  };
  for (const auto& c : cases) {
    ProbeContext ctx;
    ctx.header = c.header;
    EXPECT_EQ(BmpExtractor().supports(ctx), c.expected) << ::testing::PrintToString(c.header);
  }
}

TEST(BmpExtractor, Headers) {
  struct Case {
    const char* name;
    ByteVec input;
    std::string expected;
  };
  const ByteVec plain = bitmap({});
  const std::vector<Case> cases = {
      {"30 bytes", first(plain, 30), "dib_header_size=40 file_size_header=78"},
      {"information header cut at 53 bytes", first(plain, 53),
       "dib_header_size=40 file_size_header=78"},
      {"54 bytes, no pixels", first(plain, 54), kBottomUp2x3},
      {"bottom-up 2x3", plain, kBottomUp2x3},
      {"top-down", bitmap({.height = -3}),
       "bit_depth=24 compression=\"none (BI_RGB)\" dib_header_size=40 file_size_header=78 "
       "height=3 top_down=true width=2"},
      {"negative width: top_down follows the height alone", bitmap({.width = -2}), kBottomUp2x3},
      {"most negative sizes", bitmap({.width = INT32_MIN, .height = INT32_MIN}),
       "bit_depth=24 compression=\"none (BI_RGB)\" dib_header_size=40 file_size_header=78 "
       "height=2147483648 top_down=true width=2147483648"},
      {"largest sizes", bitmap({.width = INT32_MAX, .height = INT32_MAX}),
       "bit_depth=24 compression=\"none (BI_RGB)\" dib_header_size=40 file_size_header=78 "
       "height=2147483647 top_down=false width=2147483647"},
      {"core header", core_bitmap(), "dib_header_size=12 file_size_header=50"},
      {"DIB header size just below 40", bitmap({.dib_size = 39}),
       "dib_header_size=39 file_size_header=78"},
      {"DIB header size zero", bitmap({.dib_size = 0}), "dib_header_size=0 file_size_header=78"},
      {"V5 header read like the information header", bitmap({.dib_size = 124}),
       "bit_depth=24 compression=\"none (BI_RGB)\" dib_header_size=124 file_size_header=162 "
       "height=3 top_down=false width=2"},
      // Past the end of the file, yet only its 40-byte prefix is ever read.
      {"DIB header size past the end", bitmap({.dib_size = 0xFFFFFFFF}),
       "bit_depth=24 compression=\"none (BI_RGB)\" dib_header_size=4294967295 "
       "file_size_header=78 height=3 top_down=false width=2"},
      {"stored sizes and depth reported as stored",
       bitmap({.bit_depth = 0xFFFF, .file_size = 0xFFFFFFFF}),
       "bit_depth=65535 compression=\"none (BI_RGB)\" dib_header_size=40 "
       "file_size_header=4294967295 height=3 top_down=false width=2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = run(c.input);
    ASSERT_TRUE(r.ok()) << r.error().display();
    EXPECT_EQ(r->name(), std::string("bmp"));
    EXPECT_EQ(render(*r), c.expected);
  }
}

TEST(BmpExtractor, CompressionNames) {
  struct Case {
    uint32_t method;
    const char* name;
  };
  const std::vector<Case> cases = {
      {0, "none (BI_RGB)"}, {1, "RLE8"},  {2, "RLE4"},   {3, "bitfields"},      {4, "JPEG"},
      {5, "PNG"},           {6, "other"}, {11, "other"}, {0xFFFFFFFF, "other"},
  };
  for (const auto& c : cases) {
    auto r = run(bitmap({.compression = c.method}));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r->fields().at("compression").get_if<std::string>(), c.name) << c.method;
  }
}

TEST(BmpExtractor, EveryTruncation) {
  const ByteVec full = bitmap({.height = -3});
  auto whole = run(full);
  ASSERT_TRUE(whole.ok());
  const std::string expected_full = render(*whole);
  for (size_t k = 0; k <= full.size(); ++k) {
    SCOPED_TRACE(k);
    auto r = run(first(full, k));
    if (k < 30) {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error().display(), "malformed bmp: header too short");
    } else if (k < 54) {
      ASSERT_TRUE(r.ok());
      EXPECT_EQ(render(*r), "dib_header_size=40 file_size_header=78");
    } else {
      ASSERT_TRUE(r.ok());
      EXPECT_EQ(render(*r), expected_full);
    }
  }
}

TEST(BmpExtractor, StreamedSourcesGiveTheSameFields) {
  const ByteVec full = bitmap({.width = -2, .height = -3, .compression = 3});
  const std::string expected = render(*run(full));
  for (size_t step : {size_t{1}, size_t{7}, size_t{4096}}) {
    TrickleSource src(full, step);
    auto r = run(src, full);
    ASSERT_TRUE(r.ok()) << step;
    EXPECT_EQ(render(*r), expected) << step;
  }
  // Only the header is read, so a failure in the pixel data goes unnoticed.
  TrickleSource failing_later(full, 16, 54);
  auto r = run(failing_later, full);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(render(*r), expected);
}

TEST(BmpExtractor, ReadFailureIsAnIoError) {
  const ByteVec full = bitmap({});
  for (size_t fail_at : {size_t{0}, size_t{16}, size_t{53}}) {
    TrickleSource src(full, 16, fail_at);
    auto r = run(src, full);
    ASSERT_FALSE(r.ok()) << fail_at;
    EXPECT_EQ(r.error().display().rfind("I/O error: ", 0), 0u) << r.error().display();
  }
}

}  // namespace
}  // namespace vorlix_core
