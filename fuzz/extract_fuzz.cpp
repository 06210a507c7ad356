// Calls one extractor's extract directly, whether or not it would claim the input, so that each
// format's walk is fuzzed on its own and on bytes of every other kind. The first byte picks the
// extractor (its low seven bits) and whether the file extractor hashes (its high bit); the rest
// is the file. The context is the one the driver would build: header, sniffed type, length.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <vector>

#include "limits.hpp"
#include "sniff.hpp"
#include "vorlix/extractor.hpp"

namespace {

using namespace vorlix_core;

ProbeContext context_for(std::span<const uint8_t> file, bool hashes) {
  ProbeContext ctx;
  ctx.header = file.first(std::min<size_t>(file.size(), limits::kHeaderBytes));
  ctx.length = file.size();
  ctx.hashes = hashes;
  if (auto type = sniff(ctx.header)) {
    ctx.mime = type->mime;
    ctx.extension = type->extension;
  }
  return ctx;
}

}  // namespace

// With VORLIX_SEED_SELECTORS naming a file, prints in hex the selector byte of each extractor
// that claims it (the file extractor's when no other does), one a line, and exits.
// scripts/fuzz.sh prefixes its seeds with these, so neither the registry's order nor the
// formats' signatures are written there again.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* path = std::getenv("VORLIX_SEED_SELECTORS");
  if (path == nullptr) return 0;
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
  const Registry registry = Registry::with_defaults();
  const auto& extractors = registry.extractors();
  const ProbeContext ctx = context_for(file, false);
  bool claimed = false;
  // Index 0 is the file extractor, which claims every input.
  for (size_t i = 1; i < extractors.size(); ++i) {
    if (!extractors[i]->supports(ctx)) continue;
    std::printf("%02zx\n", i);
    claimed = true;
  }
  if (!claimed) std::printf("00\n");
  std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  if (input.empty()) return 0;
  const Registry registry = Registry::with_defaults();
  const auto& extractors = registry.extractors();
  const uint8_t selector = input[0];
  const Extractor& extractor = *extractors[(selector & 0x7F) % extractors.size()];

  const std::span<const uint8_t> file = input.subspan(1);
  const ProbeContext ctx = context_for(file, (selector & 0x80) != 0);
  MemorySource source(file);
  ExtractResult result = extractor.extract(source, ctx);
  if (!result) (void)result.error().display();
  return 0;
}
