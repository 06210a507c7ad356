#pragma once
// Shannon entropy of a byte histogram, for the file extractor's content pass.
#include <array>
#include <cstdint>

namespace vorlix_core::extractors {

// Bits per byte, unrounded; -0.0 when one value makes up the whole input. The terms are summed
// in byte-value order, so the last bit is fixed by the histogram alone.
double entropy_sum(const std::array<uint64_t, 256>& counts, uint64_t total);

}  // namespace vorlix_core::extractors
