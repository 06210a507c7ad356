#pragma once
// SHA-256 block compression with the x86 SHA extensions, optionally also counting every byte of
// the blocks into a histogram and folding them into a CRC-32 while the rounds run. SHA-NI rounds
// are latency-bound (about 128 cycles per block here), so the histogram's loads and stores and
// the CRC's carry-less multiplies fill otherwise idle issue slots.
#include <array>
#include <cstdint>
#include <span>

namespace vorlix_core::hash {

// Four interleaved tables: consecutive equal bytes hit different counters, which removes the
// store-to-load dependency that makes a single table slow on runs of one value.
using CountTables = std::array<std::array<uint64_t, 256>, 4>;

// The eight working words of SHA-256, in the standard order (a..h).
using Sha256State = std::array<uint32_t, 8>;

inline constexpr size_t kSha256Block = 64;

// A CRC-32 (the zip/gzip polynomial) in progress over whole 64-byte blocks: four 128-bit lanes
// that each block folds into (carry-less multiplication), reduced to 32 bits at the end.
struct CrcFold {
  std::array<uint64_t, 8> lanes{};
  bool started = false;
  uint32_t start = 0xffffffff;  // the CRC register before the first block (inverted CRC)
};

// True when this CPU has the SHA extensions, carry-less multiplication and the SSE levels the
// kernel uses. Always false on other architectures.
bool sha_ni_available();

// Compresses whole 64-byte blocks (blocks.size() must be a multiple of 64) into `state`. Only
// call when sha_ni_available().
void sha256_ni_blocks(Sha256State& state, std::span<const uint8_t> blocks);
// The same, also adding each byte of the blocks to `counts` (byte i of a block to table i % 4)
// and folding the blocks into `crc`.
void sha256_ni_blocks_summing(Sha256State& state, std::span<const uint8_t> blocks,
                              CountTables& counts, CrcFold& crc);
// The CRC register after the blocks folded so far (crc.start when none were).
uint32_t crc_fold_register(const CrcFold& crc);

}  // namespace vorlix_core::hash
