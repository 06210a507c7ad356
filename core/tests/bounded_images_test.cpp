// Image walks read what their format needs, not the whole file: files with a 1 GiB hole after
// the metadata, files cut short while they are read, segments past 4 GiB, and record lists cut
// at their limit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "extractors/extractors.hpp"
#include "test_support.hpp"

namespace vorlix_core {
namespace {

using extractors::GifExtractor;
using extractors::JpegExtractor;
using extractors::PngExtractor;
using extractors::RiffExtractor;
using testing::field;
using testing::find;
using testing::HoleSource;
using testing::records;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kGiB = uint64_t{1} << 30;
// What a walk may read of a file whose metadata fits in its first few hundred bytes: a window.
constexpr uint64_t kFewKiB = 2 * 65536;

Bytes be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes jpeg_head() {
  return {0xFF, 0xD8,                                                        // SOI
          0xFF, 0xC0, 0x00, 0x0B, 8, 0x00, 0x10, 0x00, 0x20, 1, 1, 0x11, 0,  // SOF0 16x32
          0xFF, 0xDA, 0x00, 0x08, 1, 1,    0,    0,    0x3F, 0};             // SOS
}

Bytes png_chunk(const char* type, const Bytes& data) {
  const Bytes name(type, type + 4);
  return cat({be32(static_cast<uint32_t>(data.size())), name, data, be32(0)});  // CRC unchecked
}

// Signature, IHDR, then the header of an IDAT whose data is the hole.
Bytes png_head(uint32_t idat_length) {
  const Bytes signature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  const Bytes ihdr = {0, 0, 0, 7, 0, 0, 0, 5, 8, 2, 0, 0, 0};
  return cat({signature, png_chunk("IHDR", ihdr), be32(idat_length), Bytes{'I', 'D', 'A', 'T'}});
}

ProbeContext context_for(HoleSource& src) {
  ProbeContext ctx;
  ctx.length = src.size();
  return ctx;
}

TEST(BoundedReads, MetadataBeforeAHoleIsAllThatIsRead) {
  // JPEG: the walk ends at the scan; the compressed data is the hole.
  {
    HoleSource src(jpeg_head(), kGiB, {0xFF, 0xD9});
    auto r = JpegExtractor().extract(src, context_for(src));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(field<uint64_t>(r->fields(), "width"), 32u);
    EXPECT_EQ(field<uint64_t>(r->fields(), "scan_data_offset"), 25u);
    EXPECT_LE(src.bytes_read(), kFewKiB);
  }
  // PNG: the image data is passed over by its length; the text after it is still found.
  {
    const Bytes tail = cat({be32(0), png_chunk("tEXt", {'k', 0, 'v'}), png_chunk("IEND", {})});
    HoleSource src(png_head(static_cast<uint32_t>(kGiB)), kGiB, tail);
    auto r = PngExtractor().extract(src, context_for(src));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(records(*r, "chunks").size(), 4u);
    const Value* text = find(r->fields(), "text");
    ASSERT_TRUE(text && text->get_if<Map>());
    EXPECT_EQ(field<std::string>(*text->get_if<Map>(), "k"), "v");
    EXPECT_LE(src.bytes_read(), 2 * kFewKiB);
  }
  // WAVE: a large first chunk is skipped by its size on the way to "fmt ".
  {
    // A "junk" chunk of 1 GiB, little-endian size.
    const Bytes head = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0x7F, 'W', 'A',
                        'V', 'E', 'j', 'u', 'n',  'k',  0,    0,    0,   0x40};
    Bytes tail = {'f',  'm',  't', ' ', 16, 0, 0, 0, 1, 0, 2,  0,
                  0x44, 0xAC, 0,   0,   0,  0, 0, 0, 4, 0, 16, 0};
    HoleSource src(head, kGiB, tail);
    auto r = RiffExtractor().extract(src, context_for(src));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(field<uint64_t>(r->fields(), "sample_rate"), 44100u);
    EXPECT_EQ(field<uint64_t>(r->fields(), "channels"), 2u);
    EXPECT_LE(src.bytes_read(), 2 * kFewKiB);
  }
}

TEST(BoundedReads, GifBlockWalkCrossesWindowsInOnePass) {
  // Header, an image whose data is 100000 one-byte sub-blocks (they straddle many windows), then
  // stray zero bytes (the hole) before a second image, a loop extension and the trailer.
  Bytes head = {'G', 'I',  'F', '8', '9', 'a', 4, 0, 4, 0, 0, 0,
                0,   0x2C, 0,   0,   0,   0,   4, 0, 4, 0, 0, 2};
  for (int i = 0; i < 100000; ++i) {
    head.push_back(1);
    head.push_back(0xAA);
  }
  head.push_back(0);
  const Bytes tail = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C',  'A', 'P', 'E', '2',
                      '.',  '0',  3,  1,   5,   0,   0,   0x2C, 0,   0,   0,   0,
                      1,    0,    1,  0,   0,   2,   1,   0x55, 0,   0x3B};
  constexpr uint64_t kHole = uint64_t{64} << 20;
  HoleSource src(head, kHole, tail);
  auto r = GifExtractor().extract(src, context_for(src));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(field<uint64_t>(r->fields(), "frames"), 2u);
  EXPECT_EQ(field<uint64_t>(r->fields(), "loop_count"), 5u);
  EXPECT_EQ(field<bool>(r->fields(), "animated"), true);
  // The stream is walked once (windows overlap by a page).
  EXPECT_LE(src.bytes_read(), src.size() + src.size() / 8);
}

// A JPEG of `count` APP5 segments of the largest size, then a scan: every segment header sits
// 65537 bytes after the previous one, so offsets pass 4 GiB without the bytes being stored.
class LongJpegSource final : public ByteSource {
 public:
  static constexpr uint64_t kSegment = 65537;
  explicit LongJpegSource(uint64_t count) : count_(count) {}
  uint64_t size() const { return 2 + count_ * kSegment + 4; }

  IoResult<size_t> read_at(uint64_t offset, std::span<uint8_t> buf) override {
    const uint64_t end = std::min(offset + buf.size(), size());
    if (offset >= end) return size_t{0};
    std::memset(buf.data(), 0, static_cast<size_t>(end - offset));
    auto put = [&](uint64_t at, uint8_t v) {
      if (at >= offset && at < end) buf[static_cast<size_t>(at - offset)] = v;
    };
    put(0, 0xFF);
    put(1, 0xD8);
    const uint64_t first = offset < 2 + 4 ? 0 : (offset - 2 - 3) / kSegment;
    for (uint64_t k = first; k <= count_ && 2 + k * kSegment < end; ++k) {
      const uint64_t at = 2 + k * kSegment;
      const bool sos = k == count_;
      put(at, 0xFF);
      put(at + 1, sos ? 0xDA : 0xE5);
      put(at + 2, sos ? 0x00 : 0xFF);
      put(at + 3, sos ? 0x02 : 0xFF);
    }
    return static_cast<size_t>(end - offset);
  }
  IoResult<size_t> read(std::span<uint8_t>) override { return Err{IoError::fixed("no")}; }
  IoResult<uint64_t> seek(int64_t, Whence) override { return Err{IoError::fixed("no")}; }

 private:
  uint64_t count_;
};

TEST(BoundedReads, SegmentOffsetsPastFourGiBStayExact) {
  const uint64_t count = (uint64_t{1} << 32) / LongJpegSource::kSegment + 2;
  LongJpegSource src(count);
  ProbeContext ctx;
  ctx.length = src.size();
  auto r = JpegExtractor().extract(src, ctx);
  ASSERT_TRUE(r.ok());
  // The list stops at its cap, whose last record already lies past 4 GiB; the scan is found
  // beyond it all the same.
  const auto segs = records(*r, "segments");
  ASSERT_EQ(segs.size(), limits::kMaxJpegSegments);
  const uint64_t last_listed = 2 + (segs.size() - 1) * LongJpegSource::kSegment;
  EXPECT_GT(last_listed, uint64_t{1} << 32);
  EXPECT_EQ(field<uint64_t>(segs.back(), "offset"), last_listed);
  const uint64_t sos_at = 2 + count * LongJpegSource::kSegment;
  EXPECT_EQ(field<uint64_t>(r->fields(), "scan_data_offset"), sos_at + 4);
}

// A real file whose length was taken before another process cut it short.
class CutFile {
 public:
  CutFile(const Bytes& data, size_t keep) {
    char name[] = "/tmp/vorlix-cut-XXXXXX";
    fd_ = mkstemp(name);
    unlink(name);
    EXPECT_EQ(write(fd_, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    EXPECT_EQ(ftruncate(fd_, static_cast<off_t>(keep)), 0);
  }
  ~CutFile() { close(fd_); }
  int fd() const { return fd_; }

 private:
  int fd_;
};

TEST(BoundedReads, AFileCutShortWhileReadGivesAReport) {
  Bytes jpeg = jpeg_head();
  Bytes png = png_head(4);
  for (const Bytes& c :
       {Bytes{1, 2, 3, 4, 0, 0, 0, 0}, png_chunk("tEXt", {'a', 0, 'b'}), png_chunk("IEND", {})})
    png.insert(png.end(), c.begin(), c.end());
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0, 0, 0, 0x2C,
               0,   0,   0,   0,   4,   0,   4, 0, 0, 2, 2, 0, 0, 0x3B};
  struct Case {
    const char* name;
    const Extractor& extractor;
    const Bytes& data;
  };
  const JpegExtractor jpeg_x;
  const PngExtractor png_x;
  const GifExtractor gif_x;
  for (const Case& c :
       {Case{"jpeg", jpeg_x, jpeg}, Case{"png", png_x, png}, Case{"gif", gif_x, gif}}) {
    for (size_t keep = 0; keep <= c.data.size(); ++keep) {
      SCOPED_TRACE(std::string(c.name) + " cut at " + std::to_string(keep));
      CutFile f(c.data, keep);
      FileSource src(f.fd());
      ProbeContext ctx = testing::context_for(c.data);  // the length from before the cut
      auto r = c.extractor.extract(src, ctx);
      // Either outcome is sound; what matters is an answer without a crash, and a whole file
      // gives the full report.
      if (keep == c.data.size()) {
        ASSERT_TRUE(r.ok());
      } else if (!r.ok()) {
        EXPECT_FALSE(r.error().display().empty());
      }
    }
  }
}

TEST(CutLists, FlaggedOnlyWhenTheLimitCutsThem) {
  struct Case {
    const char* name;
    size_t records;
    bool cut;
  };
  static_assert(limits::kMaxJpegSegments == limits::kMaxPngChunks);
  constexpr size_t kCap = limits::kMaxJpegSegments;
  for (const Case& c :
       {Case{"under", kCap - 1, false}, Case{"at", kCap, false}, Case{"over", kCap + 1, true}}) {
    SCOPED_TRACE(c.name);
    // JPEG: records are SOI-less segments of 4 bytes each (APP5, empty payload), then SOS
    // counts as one of them.
    Bytes jpeg = {0xFF, 0xD8};
    for (size_t i = 0; i + 1 < c.records; ++i)
      jpeg.insert(jpeg.end(), {0xFF, 0xE5, 0x00, 0x02});
    jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0x00, 0x02});
    MemorySource jsrc(jpeg);
    auto j = JpegExtractor().extract(jsrc, testing::context_for(jpeg));
    ASSERT_TRUE(j.ok());
    EXPECT_EQ(records(*j, "segments").size(), std::min(c.records, kCap));
    EXPECT_EQ(field<bool>(j->fields(), "segments_truncated"),
              c.cut ? std::optional<bool>(true) : std::nullopt);
    // The walk goes on past the cap: the scan is still found.
    EXPECT_EQ(field<uint64_t>(j->fields(), "scan_data_offset"), jpeg.size());

    // PNG: empty chunks of an unknown type, then a text and IEND.
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const Bytes empty = png_chunk("abCd", {});
    const Bytes text = png_chunk("tEXt", {'k', 0, 'v'});
    const Bytes iend = png_chunk("IEND", {});
    png.reserve(png.size() + c.records * text.size());
    for (size_t i = 0; i < c.records; ++i) {
      const Bytes& chunk = i + 1 == c.records ? iend : i + 2 == c.records ? text : empty;
      png.insert(png.end(), chunk.begin(), chunk.end());
    }
    MemorySource psrc(png);
    auto p = PngExtractor().extract(psrc, testing::context_for(png));
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(records(*p, "chunks").size(), std::min(c.records, kCap));
    EXPECT_EQ(field<bool>(p->fields(), "chunks_truncated"),
              c.cut ? std::optional<bool>(true) : std::nullopt);
    // The walk goes on past the cap: the text is still read.
    const Value* texts = find(p->fields(), "text");
    ASSERT_TRUE(texts && texts->get_if<Map>());
    EXPECT_EQ(field<std::string>(*texts->get_if<Map>(), "k"), "v");
  }
}

}  // namespace
}  // namespace vorlix_core
