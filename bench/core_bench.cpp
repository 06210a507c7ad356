// Core throughput on in-memory inputs: the whole parse of random bytes (file extractor only),
// of a PDF-like input of the same size (file pass plus PDF scan), of the bundled sample photo and
// of a few small fixtures; and the two small-input hot spots, the JPEG quality estimate and EXIF
// number text.
#include <benchmark/benchmark.h>

#include <array>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "exif/number_text.hpp"
#include "extractors/jpeg.hpp"
#include "vorlix/parse.hpp"

namespace {

void BM_ParseRandom(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
  std::mt19937_64 rng(42);
  for (auto& b : data)
    b = static_cast<uint8_t>(rng());
  for (auto _ : state) {
    vorlix_core::MemorySource src(data);
    benchmark::DoNotOptimize(vorlix_core::parse(src, data.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ParseRandom)->Arg(64 << 10)->Arg(16 << 20);

// A PDF-like input of the given size: random bytes (as compressed streams are) with a line of
// object syntax every 4 KiB. Parsing it runs the file pass and the PDF scan; BM_ParseRandom of
// the same size is the file pass alone, so the two rates give the PDF scan's share.
std::vector<uint8_t> pdf_like(size_t size) {
  std::vector<uint8_t> data(size);
  std::mt19937_64 rng(7);
  for (auto& b : data)
    b = static_cast<uint8_t>(rng());
  const std::string_view line =
      "12 0 obj\n<< /Type /Page /Parent 3 0 R /Contents 4 0 R >>\nendobj\n";
  for (size_t i = 0; i + line.size() < size; i += 4096)
    std::copy(line.begin(), line.end(), data.begin() + static_cast<ptrdiff_t>(i));
  const std::string_view header = "%PDF-1.7\n";
  std::copy(header.begin(), header.end(), data.begin());
  return data;
}

void BM_ParsePdf(benchmark::State& state) {
  const auto data = pdf_like(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    vorlix_core::MemorySource src(data);
    benchmark::DoNotOptimize(vorlix_core::parse(src, data.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ParsePdf)->Arg(16 << 20);

void BM_ParseSamplePhoto(benchmark::State& state) {
  std::ifstream in(VORLIX_SAMPLE, std::ios::binary);
  const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
  for (auto _ : state) {
    vorlix_core::MemorySource src(data);
    benchmark::DoNotOptimize(vorlix_core::parse(src, data.size()));
  }
}
BENCHMARK(BM_ParseSamplePhoto);

// Small files, where the fixed cost of a parse (sniffing, extractor set-up, building the report)
// outweighs the bytes. The bench fixtures sit beside the sample photo in the source tree.
std::vector<uint8_t> source_tree_file(std::string_view relative) {
  std::string_view sample = VORLIX_SAMPLE;
  constexpr std::string_view kSampleRelative = "examples/sample.jpg";
  sample.remove_suffix(kSampleRelative.size());
  std::ifstream in(std::string(sample) + std::string(relative), std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

void BM_ParseSmall(benchmark::State& state, std::string_view relative) {
  const auto data = source_tree_file(relative);
  if (data.empty()) {
    state.SkipWithError("fixture missing");
    return;
  }
  for (auto _ : state) {
    vorlix_core::MemorySource src(data);
    benchmark::DoNotOptimize(vorlix_core::parse(src, data.size()));
  }
}
BENCHMARK_CAPTURE(BM_ParseSmall, SamplePhoto, "examples/sample.jpg");
BENCHMARK_CAPTURE(BM_ParseSmall, Gzip, "test/fixtures/documents/field-notes.txt.gz");
BENCHMARK_CAPTURE(BM_ParseSmall, Pdf, "test/fixtures/documents/gs-tiny.pdf");
BENCHMARK_CAPTURE(BM_ParseSmall, Zip, "test/fixtures/documents/mixed.zip");
BENCHMARK_CAPTURE(BM_ParseSmall, ExifGps, "core/tests/fixtures/exif/c_jpeg_gps_south_west.jpg");

void BM_EstimateIjgQuality(benchmark::State& state) {
  // A quality-75 luminance table with a few entries off by one, as some encoders write them.
  std::array<uint8_t, 64> table{};
  std::mt19937 rng(7);
  for (size_t k = 0; k < table.size(); ++k)
    table[k] = static_cast<uint8_t>(8 + k * 3 / 2 + rng() % 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(table);
    benchmark::DoNotOptimize(vorlix_core::extractors::estimate_ijg_quality(table));
  }
}
BENCHMARK(BM_EstimateIjgQuality);

// Typical EXIF rationals (resolutions, exposure times, f-numbers, GPS parts) and values at exact
// ties, the slow case of shortest-digit text.
void BM_NumberText(benchmark::State& state) {
  const double values[] = {72.0,
                           1.0 / 60,
                           2.8,
                           35.5,
                           1.0 / 3,
                           4032.0,
                           0.0125,
                           51.5074,
                           1e-7,
                           1125899906842624.25,
                           2147483649.0 / 2048.0,
                           1048576.0,
                           0.1 + 0.2,
                           3.0 / 8,
                           1e21};
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (double v : values)
      vorlix_core::exif::append_number(out, v);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * std::size(values));
}
BENCHMARK(BM_NumberText);

// One long list of rationals, as one EXIF entry with millions of components renders.
void BM_NumberTextRationalList(benchmark::State& state) {
  std::mt19937 rng(3);
  std::vector<double> values(static_cast<size_t>(state.range(0)));
  for (auto& v : values)
    v = static_cast<double>(rng()) / static_cast<double>(rng() | 1);
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (double v : values) {
      vorlix_core::exif::append_number(out, v);
      out.push_back(' ');
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_NumberTextRationalList)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
