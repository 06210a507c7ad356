// Calls one extractor's extract directly, whether or not it would claim the input, so that each
// format's walk is fuzzed on its own and on bytes of every other kind. The first byte picks the
// extractor (its low seven bits) and whether the file extractor hashes (its high bit); the rest
// is the file. The context is the one the driver would build: header, sniffed type, length.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "limits.hpp"
#include "sniff.hpp"
#include "vorlix/extractor.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlix_core;
  const std::span<const uint8_t> input(data, size);
  if (input.empty()) return 0;
  const Registry registry = Registry::with_defaults();
  const auto& extractors = registry.extractors();
  const uint8_t selector = input[0];
  const Extractor& extractor = *extractors[(selector & 0x7F) % extractors.size()];

  const std::span<const uint8_t> file = input.subspan(1);
  ProbeContext ctx;
  ctx.header = file.first(std::min<size_t>(file.size(), limits::kHeaderBytes));
  ctx.length = file.size();
  ctx.hashes = (selector & 0x80) != 0;
  if (auto type = sniff(ctx.header)) {
    ctx.mime = type->mime;
    ctx.extension = type->extension;
  }
  MemorySource source(file);
  ExtractResult result = extractor.extract(source, ctx);
  if (!result) (void)result.error().display();
  return 0;
}
