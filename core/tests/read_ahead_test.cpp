// The file pass's read-ahead: the same bytes in the same order as reading on one thread, errors
// after the bytes before them, a bounded distance ahead, and a prompt stop.
#include "read_ahead.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "extractors/extractors.hpp"
#include "test_support.hpp"

namespace vorlix_core {
namespace {

constexpr size_t kPiece = ReadAhead::kBufferBytes;

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i)
    v[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  return v;
}

// Everything the read-ahead hands out, up to the end or the first error.
struct Drained {
  std::vector<uint8_t> bytes;
  std::optional<std::string> error;
};
Drained drain(ReadAhead& ahead) {
  Drained d;
  for (;;) {
    auto r = ahead.next();
    if (!r) {
      d.error = r.error().display();
      return d;
    }
    if (r->empty()) return d;
    d.bytes.insert(d.bytes.end(), r->begin(), r->end());
  }
}

TEST(ReadAhead, SameBytesInOrderWhateverTheReadSizes) {
  for (size_t size : {size_t{0}, size_t{1}, kPiece - 1, kPiece, kPiece + 1, 9 * kPiece + 17}) {
    const std::vector<uint8_t> data = pattern(size);
    for (size_t step : {size_t{4096}, kPiece, size_t{1} << 30}) {
      testing::TrickleSource src(data, step);
      auto ahead = ReadAhead::start(src);
      ASSERT_NE(ahead, nullptr);
      const Drained d = drain(*ahead);
      EXPECT_FALSE(d.error) << size << "/" << step;
      EXPECT_EQ(d.bytes, data) << size << "/" << step;
      // The end stays the end.
      auto again = ahead->next();
      ASSERT_TRUE(again.ok());
      EXPECT_TRUE(again->empty());
    }
  }
}

TEST(ReadAhead, AnErrorComesAfterTheBytesBeforeIt) {
  const std::vector<uint8_t> data = pattern(6 * kPiece);
  for (size_t fail_at : {size_t{0}, size_t{100}, 3 * kPiece, 3 * kPiece + 5}) {
    testing::TrickleSource src(data, kPiece, fail_at);
    auto ahead = ReadAhead::start(src);
    ASSERT_NE(ahead, nullptr);
    const Drained d = drain(*ahead);
    EXPECT_EQ(d.error, "Input/output error (os error 5)") << fail_at;
    EXPECT_EQ(d.bytes, std::vector<uint8_t>(data.begin(), data.begin() + fail_at)) << fail_at;
    EXPECT_FALSE(ahead->next().ok()) << fail_at;
  }
}

TEST(ReadAhead, ReadsABoundedDistanceAheadAndStopsWhenDropped) {
  // A 1 GiB hole: a reader that ran on would read all of it before the drop returned.
  testing::HoleSource src({1, 2, 3}, uint64_t{1} << 30, {});
  {
    auto ahead = ReadAhead::start(src);
    ASSERT_NE(ahead, nullptr);
    auto first = ahead->next();
    ASSERT_TRUE(first.ok());
    EXPECT_EQ((*first)[0], 1);
  }
  EXPECT_LE(src.bytes_read(), (ReadAhead::kBuffers + 1) * kPiece);
}

TEST(ReadAhead, TheFilePassGivesTheSameFactsFromAFileAsFromMemory) {
  // Above the size where the pass reads ahead, with reads that end mid-block.
  const std::vector<uint8_t> data = pattern(limits::kReadAheadBytes + 3 * kPiece + 13);
  const extractors::FileExtractor fx;
  ProbeContext ctx;
  ctx.length = data.size();
  MemorySource mem(data);
  testing::TrickleSource file(data, 100003);
  auto a = fx.extract(mem, ctx);
  auto b = fx.extract(file, ctx);
  ASSERT_TRUE(a.ok());
  ASSERT_TRUE(b.ok());
  EXPECT_EQ(testing::render(*a), testing::render(*b));
  EXPECT_NE(testing::render(*a).find("sha256"), std::string::npos);

  testing::TrickleSource failing(data, kPiece, 2 * kPiece);
  auto f = fx.extract(failing, ctx);
  ASSERT_FALSE(f.ok());
  EXPECT_EQ(f.error().display(), "I/O error: Input/output error (os error 5)");
}

}  // namespace
}  // namespace vorlix_core
