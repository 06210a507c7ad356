// Core throughput on in-memory inputs: the whole parse of random bytes (file extractor only)
// and of the bundled sample photo.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <random>

#include "vorlix/parse.hpp"

namespace {

void BM_ParseRandom(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
  std::mt19937_64 rng(42);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (auto _ : state) {
    vorlix_core::MemorySource src(data);
    benchmark::DoNotOptimize(vorlix_core::parse(src, data.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ParseRandom)->Arg(64 << 10)->Arg(16 << 20);

void BM_ParseSamplePhoto(benchmark::State& state) {
  std::ifstream in(VORLIX_SAMPLE, std::ios::binary);
  const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
  for (auto _ : state) {
    vorlix_core::MemorySource src(data);
    benchmark::DoNotOptimize(vorlix_core::parse(src, data.size()));
  }
}
BENCHMARK(BM_ParseSamplePhoto);

}  // namespace

BENCHMARK_MAIN();
