// The file pass against its parts, on the same 16 MiB in memory and in 64 KiB updates as the
// file extractor feeds it: OpenSSL's SHA-256 alone, the SHA-NI rounds alone, CRC-32 alone, and
// the whole pass (SHA-256 + CRC-32 + histogram) on each kernel. Compare the rates side by side.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "hash/sha256_ni.hpp"
#include "hash/sha256_pass.hpp"

namespace {

constexpr size_t kUpdate = 65536;

const std::vector<uint8_t>& data() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> b(16 << 20);
    std::mt19937_64 rng(7);
    for (auto& x : b)
      x = static_cast<uint8_t>(rng());
    return b;
  }();
  return bytes;
}

template <class F>
void in_updates(F&& f) {
  const auto& d = data();
  for (size_t at = 0; at < d.size(); at += kUpdate) {
    f(std::span<const uint8_t>(d).subspan(at, std::min(kUpdate, d.size() - at)));
  }
}

void done(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data().size()));
}

void BM_OpenSslSha256(benchmark::State& state) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  for (auto _ : state) {
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    in_updates([&](std::span<const uint8_t> s) { EVP_DigestUpdate(ctx, s.data(), s.size()); });
    unsigned char out[32];
    EVP_DigestFinal_ex(ctx, out, nullptr);
    benchmark::DoNotOptimize(out);
  }
  EVP_MD_CTX_free(ctx);
  done(state);
}
BENCHMARK(BM_OpenSslSha256);

void BM_ShaNiRoundsOnly(benchmark::State& state) {
  if (!vorlix_core::hash::sha_ni_available()) {
    state.SkipWithError("no SHA extensions");
    return;
  }
  for (auto _ : state) {
    vorlix_core::hash::Sha256State s{};
    in_updates([&](std::span<const uint8_t> c) { vorlix_core::hash::sha256_ni_blocks(s, c); });
    benchmark::DoNotOptimize(s);
  }
  done(state);
}
BENCHMARK(BM_ShaNiRoundsOnly);

void BM_Crc32Only(benchmark::State& state) {
  for (auto _ : state) {
    uint32_t crc = 0;
    in_updates(
        [&](std::span<const uint8_t> c) { crc = libdeflate_crc32(crc, c.data(), c.size()); });
    benchmark::DoNotOptimize(crc);
  }
  done(state);
}
BENCHMARK(BM_Crc32Only);

void pass(benchmark::State& state, vorlix_core::hash::Sha256Kernel kernel) {
  for (auto _ : state) {
    auto p = vorlix_core::hash::Sha256Pass::create(kernel);
    if (!p) {
      state.SkipWithError("kernel unavailable");
      return;
    }
    in_updates([&](std::span<const uint8_t> c) { p->update(c); });
    benchmark::DoNotOptimize(p->finish());
  }
  done(state);
}
BENCHMARK_CAPTURE(pass, WholePassShaNi, vorlix_core::hash::Sha256Kernel::ShaNi);
BENCHMARK_CAPTURE(pass, WholePassOpenSsl, vorlix_core::hash::Sha256Kernel::OpenSsl);

}  // namespace

BENCHMARK_MAIN();
