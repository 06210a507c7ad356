#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

#include "hash/sha256_pass.hpp"
#include "test_support.hpp"

namespace vorlix_core::hash {
namespace {

std::array<uint8_t, 32> openssl_sha256(std::span<const uint8_t> data) {
  std::array<uint8_t, 32> out{};
  unsigned int len = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_sha256(), nullptr), 1);
  EXPECT_EQ(len, 32u);
  return out;
}

std::array<uint64_t, 256> slow_counts(std::span<const uint8_t> data) {
  std::array<uint64_t, 256> c{};
  for (uint8_t b : data)
    ++c[b];
  return c;
}

std::vector<uint8_t> random_bytes(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v)
    b = static_cast<uint8_t>(rng());
  return v;
}

// Every kernel this CPU can run; the SHA-NI one is skipped where the CPU lacks it.
std::vector<Sha256Kernel> kernels() {
  std::vector<Sha256Kernel> k = {Sha256Kernel::OpenSsl, Sha256Kernel::Auto};
  if (sha_ni_available()) k.push_back(Sha256Kernel::ShaNi);
  return k;
}

// Feeds `data` in pieces whose sizes come from `sizes` (cycled), so partial blocks get carried
// between updates.
ContentSums run(Sha256Kernel kernel, std::span<const uint8_t> data,
                std::span<const size_t> sizes = {}) {
  auto pass = Sha256Pass::create(kernel);
  EXPECT_TRUE(pass.has_value());
  if (!pass) return {};
  size_t i = 0;
  for (size_t k = 0; i < data.size(); ++k) {
    const size_t step = sizes.empty() ? data.size() : sizes[k % sizes.size()];
    const size_t n = std::min(step, data.size() - i);
    pass->update(data.subspan(i, n));
    i += n;
  }
  return pass->finish();
}

TEST(Sha256Pass, KernelIsSelectedOnlyWhereItRuns) {
  EXPECT_EQ(Sha256Pass::create(Sha256Kernel::ShaNi).has_value(), sha_ni_available());
  EXPECT_TRUE(Sha256Pass::create(Sha256Kernel::OpenSsl).has_value());
}

TEST(Sha256Pass, EveryLengthUpTo4096MatchesOpenSslAndTheCrc) {
  const std::vector<uint8_t> data = random_bytes(4096, 1);
  for (Sha256Kernel kernel : kernels()) {
    for (size_t n = 0; n <= data.size(); ++n) {
      const auto part = std::span<const uint8_t>(data).first(n);
      const ContentSums s = run(kernel, part);
      ASSERT_EQ(s.sha256, openssl_sha256(part)) << "length " << n;
      ASSERT_EQ(s.crc32, testing::slow_crc32(part)) << "length " << n;
      ASSERT_EQ(s.total, n);
    }
  }
}

TEST(Sha256Pass, UnalignedStartsAndSplitUpdates) {
  const std::vector<uint8_t> data = random_bytes(3000, 2);
  const std::vector<std::vector<size_t>> splits = {{}, {1}, {63}, {64}, {65}, {7, 130, 1}, {200}};
  for (Sha256Kernel kernel : kernels()) {
    for (size_t start = 0; start < 80; ++start) {
      const auto part = std::span<const uint8_t>(data).subspan(start, 2000 + start);
      const auto want = openssl_sha256(part);
      const uint32_t want_crc = testing::slow_crc32(part);
      for (const auto& sizes : splits) {
        const ContentSums s = run(kernel, part, sizes);
        ASSERT_EQ(s.sha256, want) << "start " << start << ", " << sizes.size() << " sizes";
        ASSERT_EQ(s.crc32, want_crc) << "start " << start << ", " << sizes.size() << " sizes";
      }
    }
  }
}

TEST(Sha256Pass, LargeInputsAgreeOnDigestCrcAndCounts) {
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
  };
  std::vector<Case> cases;
  cases.push_back({"random", random_bytes((3 << 20) + 77, 3)});
  cases.push_back({"one value", std::vector<uint8_t>(1 << 20, 0xa5)});
  std::vector<uint8_t> skewed = random_bytes(1 << 20, 4);
  for (size_t i = 0; i < skewed.size(); i += 3)
    skewed[i] = 0;
  cases.push_back({"skewed", std::move(skewed)});

  const std::vector<size_t> reads = {65536, 8191, 1, 100000};
  for (const Case& c : cases) {
    const auto want_sha = openssl_sha256(c.data);
    const uint32_t want_crc = testing::slow_crc32(c.data);
    const auto want_counts = slow_counts(c.data);
    for (Sha256Kernel kernel : kernels()) {
      const ContentSums whole = run(kernel, c.data);
      const ContentSums pieces = run(kernel, c.data, reads);
      for (const ContentSums* s : {&whole, &pieces}) {
        EXPECT_EQ(s->sha256, want_sha) << c.name;
        EXPECT_EQ(s->crc32, want_crc) << c.name;
        EXPECT_EQ(s->counts, want_counts) << c.name;
        EXPECT_EQ(s->total, c.data.size()) << c.name;
      }
    }
  }
}

TEST(Sha256Pass, SmallInputsCountAndCrcEveryByteOnce) {
  // Lengths around the block size, where bytes wait in a started block or the padding.
  const std::vector<uint8_t> data = random_bytes(200, 5);
  for (Sha256Kernel kernel : kernels()) {
    for (size_t n : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 200u}) {
      const auto part = std::span<const uint8_t>(data).first(n);
      const ContentSums s = run(kernel, part, std::vector<size_t>{3});
      EXPECT_EQ(s.crc32, testing::slow_crc32(part)) << n;
      EXPECT_EQ(s.counts, slow_counts(part)) << n;
    }
  }
}

}  // namespace
}  // namespace vorlix_core::hash
