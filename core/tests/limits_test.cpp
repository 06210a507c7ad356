// Inputs crafted to produce more records than any real file: every list stops at the cap
// instead of growing with the input.
#include <gtest/gtest.h>

#include <string>

#include "formats/signatures.hpp"
#include "limits.hpp"
#include "test_support.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_core {
namespace {

using namespace std::string_literals;

const size_t kOver = limits::kMaxListedRecords + 10;

std::string times(const std::string& unit, size_t n) {
  std::string out;
  out.reserve(unit.size() * n);
  for (size_t i = 0; i < n; ++i)
    out += unit;
  return out;
}
std::string be32(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string le32(uint32_t v) {
  return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

std::string many_jpeg_segments() {
  return "\xFF\xD8"s                           // SOI
         + times("\xFF\xFE\x00\x02"s, kOver);  // empty COM segments, 4 bytes each
}

std::string many_png_chunks() {
  return std::string(formats::kPngSignature) +
         times("\0\0\0\0abcd\0\0\0\0"s, kOver);  // empty private chunks
}

std::string many_zip_entries() {
  return "PK\3\4"s + std::string(26, '\0')  // a local header, so the file is claimed
         + times("PK\1\2"s + std::string(42, '\0'), kOver)  // central headers, nothing variable
         + "PK\5\6\0\0\0\0\xFF\xFF\xFF\xFF"s                // EOCD: counts 65535
         + le32(static_cast<uint32_t>(kOver * 46))          // directory size
         + le32(30) + "\0\0"s;                              // directory offset, comment length
}

std::string many_mp4_boxes() {
  return be32(static_cast<uint32_t>(16 + 4 * kOver)) + "ftypisom\0\0\0\0"s  // ftyp header
         + times("mp41", kOver)                                             // compatible brands
         + times("\0\0\0\x08"s + "free", kOver);                            // empty boxes
}

TEST(Limits, RecordListsStopAtTheCap) {
  struct Case {
    const char* ns;
    const char* list;
    std::string bytes;
  };
  const Case cases[] = {
      {"jpeg", "segments", many_jpeg_segments()},   {"png", "chunks", many_png_chunks()},
      {"zip", "entries", many_zip_entries()},       {"mp4", "compatible_brands", many_mp4_boxes()},
      {"mp4", "top_level_boxes", many_mp4_boxes()},
  };
  for (const auto& c : cases) {
    MemorySource src(std::span(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()));
    const Report r = parse(src, c.bytes.size());
    ASSERT_TRUE(r.namespaces.contains(c.ns)) << c.ns;
    const Value& value = r.namespaces.at(c.ns).at(c.list);
    ASSERT_TRUE(testing::is_list(&value)) << c.list;
    const List list = testing::as_list(&value);
    // MP4 top-level boxes, JPEG segments and PNG chunks have lower caps of their own.
    const std::string_view list_key = c.list;
    const size_t cap = list_key == "top_level_boxes" ? limits::kMaxMp4TopLevelBoxes
                       : list_key == "segments"      ? limits::kMaxJpegSegments
                       : list_key == "chunks"        ? limits::kMaxPngChunks
                                                     : limits::kMaxListedRecords;
    EXPECT_EQ(list.size(), cap) << c.ns << "." << c.list;
  }
}

}  // namespace
}  // namespace vorlix_core
