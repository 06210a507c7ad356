// EXIF extraction on hostile TIFF files next to ordinary ones of the same size, so that each pair
// shows the cost of the hostile structure as a ratio of two adjacent lines:
// - one 65535-entry IFD that all 65535 entries of IFD 0 point at, against two plain IFDs;
// - one entry of 4,000,000 RATIONALs, against one UNDEFINED value of the same 32 MB;
// - a 100 MB ASCII value of NUL bytes (a sparse file), against a 100 MB UNDEFINED value.
// The counter "text" is the bytes of display text produced.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <vector>

#include "extractors/extractors.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
  put16(b, static_cast<uint16_t>(v));
  put16(b, static_cast<uint16_t>(v >> 16));
}
void entry(Bytes& b, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  put16(b, tag);
  put16(b, type);
  put32(b, count);
  put32(b, value);
}
Bytes header() {
  Bytes b = {'I', 'I', 42, 0};
  put32(b, 8);
  return b;
}

// IFD 0 of k entries, then an IFD of k entries; with `fan_out` every IFD 0 entry points at the
// second IFD (read as the Exif IFD), else both hold plain fields.
Bytes fan_out_tiff(uint32_t k, bool fan_out) {
  Bytes b = header();
  const uint32_t second = 8 + 2 + 12 * k + 4;
  put16(b, static_cast<uint16_t>(k));
  for (uint32_t i = 0; i < k; ++i) {
    if (fan_out) {
      entry(b, 0x8769, 4, 1, second);
    } else {
      entry(b, static_cast<uint16_t>(i), 3, 1, i);
    }
  }
  put32(b, fan_out ? 0 : second);
  put16(b, static_cast<uint16_t>(k));
  for (uint32_t i = 0; i < k; ++i)
    entry(b, static_cast<uint16_t>(i), 3, 1, i);
  put32(b, 0);
  return b;
}

// One entry whose value of `bytes` bytes follows the IFD, filled with random bytes.
Bytes one_value_tiff(uint16_t type, uint32_t count, size_t bytes) {
  Bytes b = header();
  put16(b, 1);
  entry(b, 61441, type, count, 8 + 2 + 12 + 4);
  put32(b, 0);
  std::mt19937_64 rng(7);
  const size_t at = b.size();
  b.resize(at + bytes);
  for (size_t i = at; i < b.size(); ++i)
    b[i] = static_cast<uint8_t>(rng());
  return b;
}

uint64_t text_bytes(const vorlix_core::ExtractResult& r) {
  uint64_t n = 0;
  if (!r) return n;
  for (const auto& [group, fields] : r.value().fields()) {
    const auto* m = fields.get_if<vorlix_core::Map>();
    if (!m) continue;
    for (const auto& [name, text] : *m) {
      if (const auto* s = text.get_if<std::string>()) n += s->size();
    }
  }
  return n;
}

void run(benchmark::State& state, vorlix_core::ByteSource& src, uint64_t length) {
  vorlix_core::ProbeContext ctx;
  ctx.length = length;
  uint64_t text = 0;
  for (auto _ : state) {
    (void)src.seek(0, vorlix_core::Whence::Start);
    auto r = vorlix_core::extractors::ExifExtractor().extract(src, ctx);
    text = text_bytes(r);
    benchmark::DoNotOptimize(r);
  }
  state.counters["text"] = static_cast<double>(text);
}

void run_memory(benchmark::State& state, const Bytes& data) {
  vorlix_core::MemorySource src(data);
  run(state, src, data.size());
}

void BM_PlainIfds(benchmark::State& state) {
  run_memory(state, fan_out_tiff(65535, false));
}
void BM_FanOutIfd(benchmark::State& state) {
  run_memory(state, fan_out_tiff(65535, true));
}
BENCHMARK(BM_PlainIfds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FanOutIfd)->Unit(benchmark::kMillisecond);

void BM_UndefinedValue32MB(benchmark::State& state) {
  run_memory(state, one_value_tiff(7, 32'000'000, 32'000'000));
}
void BM_Rationals4M(benchmark::State& state) {
  run_memory(state, one_value_tiff(5, 4'000'000, 32'000'000));
}
BENCHMARK(BM_UndefinedValue32MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rationals4M)->Unit(benchmark::kMillisecond);

// A sparse file: the value is a hole, read as NUL bytes, costing no disk.
void run_sparse(benchmark::State& state, uint16_t type) {
  constexpr uint32_t kValue = 100'000'000;
  Bytes b = header();
  put16(b, 1);
  entry(b, 61441, type, kValue, 8 + 2 + 12 + 4);
  put32(b, 0);
  FILE* f = std::tmpfile();
  if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fflush(f) != 0 ||
      ftruncate(fileno(f), static_cast<off_t>(b.size() + kValue)) != 0) {
    state.SkipWithError("temporary file");
    return;
  }
  vorlix_core::FileSource src(fileno(f));
  run(state, src, b.size() + kValue);
  std::fclose(f);
}
void BM_SparseUndefined100MB(benchmark::State& state) {
  run_sparse(state, 7);
}
void BM_SparseAsciiNuls100MB(benchmark::State& state) {
  run_sparse(state, 2);
}
BENCHMARK(BM_SparseUndefined100MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SparseAsciiNuls100MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
