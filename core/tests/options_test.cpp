// What a caller can ask of one parse: which extractors run, whether the content is hashed, and
// cancellation through a flag; plus the driver's containment of throwing extractors.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>

#include "cancellable_source.hpp"
#include "extractors/extractors.hpp"
#include "test_support.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_core {
namespace {

using testing::keys;

// Counts what is fetched and, like another thread would, sets `flag` once `cancel_after` reads
// have been served.
class CountingSource final : public ByteSource {
 public:
  CountingSource(std::span<const uint8_t> data, std::atomic<bool>* flag = nullptr,
                 int cancel_after = -1)
      : inner_(data), flag_(flag), cancel_after_(cancel_after) {}
  IoResult<size_t> read(std::span<uint8_t> buf) override {
    auto r = inner_.read(buf);
    note(r);
    return r;
  }
  IoResult<size_t> read_at(uint64_t offset, std::span<uint8_t> buf) override {
    auto r = inner_.read_at(offset, buf);
    note(r);
    return r;
  }
  IoResult<uint64_t> seek(int64_t offset, Whence whence) override {
    return inner_.seek(offset, whence);
  }
  int reads = 0;
  uint64_t bytes = 0;

 private:
  void note(const IoResult<size_t>& r) {
    ++reads;
    if (r) bytes += *r;
    if (flag_ && reads == cancel_after_) flag_->store(true);
  }
  MemorySource inner_;
  std::atomic<bool>* flag_;
  int cancel_after_;
};

// 8-byte signature, a 1x1 IHDR and IEND (CRCs are not checked).
std::vector<uint8_t> tiny_png() {
  return {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a,  // signature
          0,    0,   0,   13,  'I',  'H',  'D',  'R',   // IHDR, 13 bytes
          0,    0,   0,   1,   0,    0,    0,    1,     // width 1, height 1
          8,    2,   0,   0,   0,                       // depth 8, RGB, no interlace
          0,    0,   0,   0,                            // CRC
          0,    0,   0,   0,   'I',  'E',  'N',  'D',   // IEND
          0,    0,   0,   0};
}

std::vector<std::string> names(const Report& r) {
  std::vector<std::string> out;
  for (const auto& [k, v] : r.namespaces)
    out.push_back(k);
  return out;
}

TEST(Options, DefaultOptionsGiveTheSameReportAsNone) {
  const auto png = tiny_png();
  MemorySource a(png), b(png);
  std::atomic<bool> never{false};
  ParseOptions opts;
  opts.cancel = &never;
  const Report plain = parse(a, png.size());
  const Report with = parse(b, png.size(), opts);
  EXPECT_EQ(names(plain), (std::vector<std::string>{"file", "png"}));
  EXPECT_EQ(names(with), names(plain));
  EXPECT_EQ(keys(with.namespaces.at("file")), keys(plain.namespaces.at("file")));
  EXPECT_EQ(keys(with.namespaces.at("png")), keys(plain.namespaces.at("png")));
  EXPECT_FALSE(with.cancelled);
}

TEST(Options, OnlySelectedExtractorsRunAndSniffingStays) {
  const auto png = tiny_png();
  struct Case {
    std::vector<std::string> selected;
    std::vector<std::string> namespaces;
  };
  const Case cases[] = {
      {{}, {}},
      {{"file"}, {"file"}},
      {{"png"}, {"png"}},
      {{"jpeg", "gif"}, {}},  // chosen, but neither claims a PNG
      {{"zip", "png", "file"}, {"file", "png"}},
      {{"no-such"}, {}},
  };
  for (const auto& c : cases) {
    MemorySource src(png);
    ParseOptions opts;
    opts.extractors = c.selected;
    const Report r = parse(src, png.size(), opts);
    EXPECT_EQ(names(r), c.namespaces) << ::testing::PrintToString(c.selected);
    EXPECT_TRUE(r.errors.empty());
  }
  // The type is still sniffed when only "file" runs.
  MemorySource src(png);
  ParseOptions opts;
  opts.extractors = std::vector<std::string>{"file"};
  const Report r = parse(src, png.size(), opts);
  EXPECT_EQ(testing::field<std::string>(r.namespaces.at("file"), "mime_detected"), "image/png");
}

TEST(Options, HashesOffSkipsTheContentPass) {
  const auto png = tiny_png();
  const std::vector<uint8_t> big(1 << 20, 'x');
  for (const auto* data : {&png, &big}) {
    CountingSource src(*data);
    ParseOptions opts;
    opts.hashes = false;
    opts.extractors = std::vector<std::string>{"file"};
    const Report r = parse(src, data->size(), opts);
    const Map& file = r.namespaces.at("file");
    EXPECT_FALSE(file.contains("sha256"));
    EXPECT_FALSE(file.contains("crc32"));
    EXPECT_FALSE(file.contains("entropy_bits_per_byte"));
    EXPECT_EQ(testing::field<uint64_t>(file, "size_bytes"), data->size());
    // The header read, and two bytes at the stated end to check the size.
    EXPECT_EQ(src.reads, 2);
    EXPECT_LE(src.bytes, limits::kHeaderBytes + 2);
    EXPECT_TRUE(r.errors.empty());
  }
  // The other extractors are unaffected.
  MemorySource src(png);
  ParseOptions opts;
  opts.hashes = false;
  const Report r = parse(src, png.size(), opts);
  EXPECT_EQ(names(r), (std::vector<std::string>{"file", "png"}));
  EXPECT_EQ(keys(r.namespaces.at("file")),
            (std::vector<std::string>{"extension_canonical", "mime_detected", "size_bytes"}));
}

TEST(Cancel, StopsAtTheNextChunk) {
  // 64 chunks of content; the flag is set while the file extractor is at its third.
  std::vector<uint8_t> data(64 * limits::kStreamChunk, 'x');
  std::atomic<bool> flag{false};
  CountingSource src(data, &flag, 4);  // header, then three chunks
  ParseOptions opts;
  opts.cancel = &flag;
  const Report r = parse(src, data.size(), opts);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(src.reads, 4);
  EXPECT_TRUE(r.namespaces.empty());
}

TEST(Cancel, FlagSetBeforeTheCallReadsNothing) {
  const auto png = tiny_png();
  std::atomic<bool> flag{true};
  CountingSource src(png);
  ParseOptions opts;
  opts.cancel = &flag;
  const Report r = parse(src, png.size(), opts);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(src.reads, 0);
  EXPECT_TRUE(r.namespaces.empty());
  EXPECT_TRUE(r.errors.empty());
}

TEST(Cancel, FileExtractorStopsAlsoForBytesInMemory) {
  // In-memory content is hashed in place, without reads a source could fail.
  const std::vector<uint8_t> data(4 * limits::kStreamChunk, 'x');
  for (const bool set : {false, true}) {
    std::atomic<bool> flag{set};
    MemorySource inner(data);
    CancellableSource src(inner, &flag);
    const auto r = extractors::FileExtractor().extract(src, testing::context_for(data));
    ASSERT_EQ(r.ok(), !set);
    if (set) {
      EXPECT_EQ(r.error().display(), "I/O error: cancelled");
    }
  }
}

TEST(Cancel, SourceFailsEveryReadOnceFlagged) {
  const std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6};
  MemorySource inner(data);
  std::atomic<bool> flag{false};
  CancellableSource src(inner, &flag);
  std::array<uint8_t, 2> buf{};
  ASSERT_TRUE(src.read(buf).ok());
  EXPECT_EQ(buf[1], 2);
  ASSERT_TRUE(src.read_at(4, buf).ok());
  EXPECT_EQ(buf[0], 5);
  ASSERT_TRUE(src.memory().has_value());
  RandomAccess ra(src, data.size());
  ASSERT_TRUE(ra.read_at(0, 2).ok());
  flag = true;
  const auto read = src.read(buf);
  const auto at = src.read_at(0, buf);
  // Bytes in memory are withdrawn too, so walks over them stop at their next read.
  const auto view = ra.read_at(0, 2);
  ASSERT_FALSE(read.ok());
  ASSERT_FALSE(at.ok());
  ASSERT_FALSE(view.ok());
  EXPECT_EQ(read.error().display(), "cancelled");
  EXPECT_EQ(at.error().display(), "cancelled");
  EXPECT_EQ(view.error().display(), "cancelled");
  EXPECT_FALSE(src.memory().has_value());
  EXPECT_EQ(*src.seek(0, Whence::Start), 0u);
}

// Throws from extract(): the allocation failure and the plain exception alike.
class ThrowingExtractor final : public Extractor {
 public:
  ThrowingExtractor(const char* name, int kind) : name_(name), kind_(kind) {}
  const char* name() const override { return name_; }
  bool supports(const ProbeContext&) const override { return true; }
  ExtractResult extract(ByteSource&, const ProbeContext&) const override {
    if (kind_ == 0) throw std::bad_alloc();
    if (kind_ == 1) throw std::runtime_error("table overflow");
    throw 42;
  }

 private:
  const char* name_;
  int kind_;
};

class FixedExtractor final : public Extractor {
 public:
  const char* name() const override { return "fixed"; }
  bool supports(const ProbeContext&) const override { return true; }
  ExtractResult extract(ByteSource&, const ProbeContext&) const override {
    Namespace ns("fixed");
    ns.set("ok", true);
    return ns;
  }
};

TEST(Driver, ThrowingExtractorsBecomeErrorsAndOthersStillRun) {
  Registry reg;
  reg.add(std::make_unique<ThrowingExtractor>("alloc", 0));
  reg.add(std::make_unique<FixedExtractor>());
  reg.add(std::make_unique<ThrowingExtractor>("runtime", 1));
  reg.add(std::make_unique<ThrowingExtractor>("other", 2));
  const std::vector<uint8_t> data = {1, 2, 3};
  MemorySource src(data);
  const Report r = parse_with(reg, src, data.size());
  EXPECT_EQ(names(r), std::vector<std::string>{"fixed"});
  ASSERT_EQ(r.errors.size(), 3u);
  EXPECT_EQ(r.errors[0].extractor, "alloc");
  EXPECT_EQ(r.errors[0].message, "out of memory");
  EXPECT_EQ(r.errors[1].extractor, "runtime");
  EXPECT_EQ(r.errors[1].message, "table overflow");
  EXPECT_EQ(r.errors[2].extractor, "other");
  EXPECT_EQ(r.errors[2].message, "unknown failure");
}

}  // namespace
}  // namespace vorlix_core
