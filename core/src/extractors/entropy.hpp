#pragma once
// Shannon entropy of a byte histogram, for the file extractor's content pass.
#include <array>
#include <cstdint>

#include "hash/sha256_pass.hpp"
#include "vorlix/value.hpp"

namespace vorlix_core::extractors {

// Bits per byte, unrounded; -0.0 when one value makes up the whole input. The terms are summed
// in byte-value order, so the last bit is fixed by the histogram alone.
double entropy_sum(const std::array<uint64_t, 256>& counts, uint64_t total);

// The file namespace's facts from a finished content pass: entropy (when there was content),
// SHA-256 and CRC-32. Also for content hashed as it streamed by, before the parse.
void set_content_facts(Namespace& ns, const hash::ContentSums& sums);

}  // namespace vorlix_core::extractors
