#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "extractors/entropy.hpp"
#include "extractors/extractors.hpp"
#include "limits.hpp"
#include "test_support.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_core {
namespace {

Map run_file(std::span<const uint8_t> data, uint64_t stated) {
  extractors::FileExtractor fx;
  MemorySource src(data);
  ProbeContext ctx;
  ctx.length = stated;
  auto r = fx.extract(src, ctx);
  EXPECT_TRUE(r.ok());
  return r.ok() ? std::move(r.value().fields()) : Map{};
}

TEST(FileExtractor, KnownDigests) {
  const std::string hello = "hello";
  const Map f = run_file(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(hello.data()), hello.size()),
      hello.size());
  EXPECT_EQ(*f.at("sha256").get_if<std::string>(),
            "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824");
  EXPECT_EQ(*f.at("crc32").get_if<std::string>(), "3610a686");

  // Many 64 KiB chunks: the streamed digests must equal the one-shot ones.
  const std::vector<uint8_t> million(1000000, 'a');
  const Map m = run_file(million, million.size());
  EXPECT_EQ(*m.at("sha256").get_if<std::string>(),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  char want[9];
  snprintf(want, sizeof want, "%08x", testing::slow_crc32(million));
  EXPECT_EQ(*m.at("crc32").get_if<std::string>(), want);
}

TEST(FileExtractor, CrcIsZeroPaddedToEightDigits) {
  // Search a small input whose CRC starts with a zero nibble.
  std::vector<uint8_t> data = {0};
  for (uint32_t i = 0;; ++i) {
    data = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i >> 16)};
    if (testing::slow_crc32(data) < 0x10000000u) break;
  }
  char want[9];
  snprintf(want, sizeof want, "%08x", testing::slow_crc32(data));
  const Map f = run_file(data, data.size());
  EXPECT_EQ(*f.at("crc32").get_if<std::string>(), want);
  EXPECT_EQ(want[0], '0');
}

TEST(FileExtractor, EntropyEdges) {
  std::vector<uint8_t> all(256);
  for (size_t i = 0; i < 256; ++i)
    all[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(*run_file(all, 256).at("entropy_bits_per_byte").get_if<double>(), 8.0);

  const std::vector<uint8_t> same(1000, 0x41);
  const double e = *run_file(same, 1000).at("entropy_bits_per_byte").get_if<double>();
  EXPECT_EQ(e, 0.0);
  EXPECT_TRUE(std::signbit(e));

  // Two equally common values: exactly one bit; three values 1:1:2 give 1.5 bits.
  const std::vector<uint8_t> two = {1, 2, 1, 2, 1, 2, 1};
  EXPECT_EQ(*run_file(two, two.size()).at("entropy_bits_per_byte").get_if<double>(), 0.985);
  const std::vector<uint8_t> three = {7, 8, 9, 9};
  EXPECT_EQ(*run_file(three, 4).at("entropy_bits_per_byte").get_if<double>(), 1.5);
}

// The plain sum, one log2 per used byte value: the entropy must match it to the last bit.
double plain_entropy(const std::array<uint64_t, 256>& counts, uint64_t total) {
  double acc = -0.0;
  const double n = static_cast<double>(total);
  for (uint64_t c : counts) {
    if (c == 0) continue;
    const double p = static_cast<double>(c) / n;
    acc -= p * std::log2(p);
  }
  return acc;
}

TEST(FileExtractor, EntropyOfRepeatedCountsIsThePlainSumToTheLastBit) {
  struct Run {
    size_t first;
    size_t last;
    uint64_t count;
  };
  const std::vector<std::vector<Run>> cases = {
      {{0, 255, 1}},
      {{9, 9, 1}},
      {{0, 99, 3}, {100, 150, 1}, {151, 255, 2}},
      // Counts on both sides of the small ones, and a small count again after large ones.
      {{0, 0, 255}, {1, 1, 256}, {2, 2, 257}, {3, 3, 255}, {4, 200, 1}, {201, 201, 1000000}},
      {{0, 127, 300}, {128, 255, 7}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    std::array<uint64_t, 256> counts{};
    uint64_t total = 0;
    for (const Run& r : cases[i]) {
      for (size_t v = r.first; v <= r.last; ++v) {
        counts[v] = r.count;
        total += r.count;
      }
    }
    EXPECT_EQ(std::bit_cast<uint64_t>(extractors::entropy_sum(counts, total)),
              std::bit_cast<uint64_t>(plain_entropy(counts, total)))
        << "case " << i;
  }
  // Histograms of small inputs: few distinct counts, in no particular order.
  uint32_t x = 7;
  for (int round = 0; round < 200; ++round) {
    std::array<uint64_t, 256> counts{};
    uint64_t total = 0;
    for (auto& c : counts) {
      x = x * 1103515245u + 12345u;
      c = (x >> 16) % (round % 2 == 0 ? 5 : 300);
      total += c;
    }
    if (total == 0) continue;
    ASSERT_EQ(std::bit_cast<uint64_t>(extractors::entropy_sum(counts, total)),
              std::bit_cast<uint64_t>(plain_entropy(counts, total)))
        << "round " << round;
  }
}

TEST(FileExtractor, InMemoryAndStreamedSourcesGiveTheSameFacts) {
  // Bytes in memory are hashed in place, other sources through a buffer, read by read; sizes
  // around the SHA block and the read chunk, fed in steps that split blocks unevenly.
  for (size_t size : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{65536},
                      size_t{65537}, size_t{300001}}) {
    std::vector<uint8_t> data(size);
    uint32_t x = 12345;
    for (auto& b : data) {
      x = x * 1103515245u + 12345u;
      b = static_cast<uint8_t>(x >> (x % 7 == 0 ? 24 : 16));
    }
    const Map whole = run_file(data, size);
    for (size_t step : {size_t{1000}, size_t{65536}}) {
      if (size > 70000 && step == 1000) continue;  // enough uneven steps on the smaller sizes
      extractors::FileExtractor fx;
      testing::TrickleSource src(data, step);
      ProbeContext ctx;
      ctx.length = size;
      auto r = fx.extract(src, ctx);
      ASSERT_TRUE(r.ok()) << size;
      const Map& streamed = r->fields();
      for (const char* key : {"sha256", "crc32"})
        EXPECT_EQ(*streamed.at(key).get_if<std::string>(), *whole.at(key).get_if<std::string>())
            << key << " of " << size << " bytes";
      EXPECT_EQ(streamed.count("entropy_bits_per_byte"), whole.count("entropy_bits_per_byte"));
      if (size > 0) {
        EXPECT_EQ(*streamed.at("entropy_bits_per_byte").get_if<double>(),
                  *whole.at("entropy_bits_per_byte").get_if<double>());
      }
    }
    char want[9];
    snprintf(want, sizeof want, "%08x", testing::slow_crc32(data));
    EXPECT_EQ(*whole.at("crc32").get_if<std::string>(), want) << size;
  }
}

// A content of another length than stated (a file cut short or extended between its size's
// reading and the content pass): size_bytes stays as stated, the digests cover at most the
// stated bytes, and the namespace carries an error. Through each way of reading: in place, by
// read, read ahead on a second thread (16 MiB and more), and the probe of `hashes: false`.
TEST(FileExtractor, ContentOfAnotherLengthThanStatedIsReported) {
  const uint64_t big = limits::kReadAheadBytes;
  const std::string changed = "content changed during the read: expected ";
  struct Case {
    uint64_t actual;
    uint64_t stated;
    std::string hashed;    // the error of the content pass, "" for none
    std::string unhashed;  // the error without hashes
  };
  const std::vector<Case> cases = {
      {3, 99, "99 bytes, read 3", "99 bytes, found fewer"},
      {0, 5, "5 bytes, read 0", "5 bytes, found fewer"},
      {100, 99, "99 bytes, found more", "99 bytes, found more"},
      // As /proc files state a size of 0.
      {5, 0, "0 bytes, found more", "0 bytes, found more"},
      {99, 99, "", ""},
      {0, 0, "", ""},
      {big + 10, big, std::to_string(big) + " bytes, found more",
       std::to_string(big) + " bytes, found more"},
      {big, big + 7, std::to_string(big + 7) + " bytes, read " + std::to_string(big),
       std::to_string(big + 7) + " bytes, found fewer"},
      {big, big, "", ""},
  };
  const std::vector<uint8_t> head = {0x89, 'P', 'N', 'G', 7, 0, 200};
  const auto hole_source = [&](uint64_t size) {
    return std::make_unique<testing::HoleSource>(head, size - head.size(), std::vector<uint8_t>{});
  };
  extractors::FileExtractor fx;
  for (const Case& c : cases) {
    const std::string what =
        std::to_string(c.actual) + " bytes stated as " + std::to_string(c.stated);
    std::vector<uint8_t> data;
    std::vector<uint8_t> prefix;
    std::vector<std::unique_ptr<ByteSource>> sources;
    std::unique_ptr<ByteSource> reference;  // the bytes the digests should cover, as stated
    if (c.actual < big) {
      data.resize(c.actual);
      for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 37);
      sources.push_back(std::make_unique<MemorySource>(data));
      sources.push_back(std::make_unique<testing::TrickleSource>(data, 7));
      prefix.assign(data.begin(), data.begin() + std::min(c.actual, c.stated));
      reference = std::make_unique<MemorySource>(prefix);
    } else {
      sources.push_back(hole_source(c.actual));
      reference = hole_source(std::min(c.actual, c.stated));
    }
    ProbeContext exact;
    exact.length = std::min(c.actual, c.stated);
    auto want = fx.extract(*reference, exact);
    ASSERT_TRUE(want.ok() && !want->error()) << what;
    for (auto& src : sources) {
      for (const bool hashes : {true, false}) {
        ProbeContext ctx;
        ctx.length = c.stated;
        ctx.hashes = hashes;
        (void)src->seek(0, Whence::Start);
        auto r = fx.extract(*src, ctx);
        ASSERT_TRUE(r.ok()) << what;
        const std::string& error = hashes ? c.hashed : c.unhashed;
        EXPECT_EQ(r->error().value_or(""), error.empty() ? "" : changed + error) << what;
        const Map& f = r->fields();
        EXPECT_EQ(*f.at("size_bytes").get_if<uint64_t>(), c.stated) << what;
        if (!hashes) continue;
        for (const char* key : {"sha256", "crc32"})
          EXPECT_EQ(*f.at(key).get_if<std::string>(), *want->fields().at(key).get_if<std::string>())
              << key << " of " << what;
      }
    }
  }
  // The report keeps the namespace and lists the error under "file".
  const std::vector<uint8_t> three = {1, 2, 3};
  MemorySource src(three);
  ParseOptions only_file;
  only_file.extractors = std::vector<std::string>{"file"};
  const Report report = parse(src, 99, only_file);
  ASSERT_EQ(report.errors.size(), 1u);
  EXPECT_EQ(report.errors[0].extractor, "file");
  EXPECT_EQ(report.errors[0].message, changed + "99 bytes, read 3");
  EXPECT_EQ(*report.namespaces.at("file").at("size_bytes").get_if<uint64_t>(), 99u);
}

TEST(FileExtractor, ReportsSniffedTypeAndFailsWholeOnReadError) {
  extractors::FileExtractor fx;
  const std::vector<uint8_t> data(70000, 1);
  ProbeContext ctx;
  ctx.mime = "image/png";
  ctx.extension = "png";
  MemorySource ok(data);
  auto r = fx.extract(ok, ctx);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(*r->fields().at("mime_detected").get_if<std::string>(), "image/png");
  EXPECT_EQ(*r->fields().at("extension_canonical").get_if<std::string>(), "png");

  testing::FailingSource bad(data, 1);  // first chunk, then EIO
  ctx.length = data.size();
  auto f = fx.extract(bad, ctx);
  ASSERT_FALSE(f.ok());
  EXPECT_EQ(f.error().display(), "I/O error: Input/output error (os error 5)");
}

}  // namespace
}  // namespace vorlix_core
