// Feeds arbitrary bytes to the whole core through an in-memory source: every extractor that
// claims the input runs, so each new format is fuzzed as soon as it is registered.
#include <cstddef>
#include <cstdint>

#include "vorlix/parse.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vorlix_core::MemorySource source(std::span<const uint8_t>(data, size));
  vorlix_core::Report report = vorlix_core::parse(source, size);
  (void)report;
  return 0;
}
