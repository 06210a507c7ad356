#pragma once
// Every bound on work driven by untrusted input, with why it is safe. Walks that could recurse
// or loop on attacker-controlled structure consult these.
#include <cstdint>

namespace vorlix_core::limits {

// The driver sniffs from at most this many leading bytes, read with one call.
inline constexpr uint64_t kHeaderBytes = 8192;
// The file extractor streams in chunks of this size: constant memory whatever the input.
inline constexpr uint64_t kStreamChunk = 65536;

}  // namespace vorlix_core::limits
