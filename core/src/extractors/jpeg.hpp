#pragma once
// JPEG helpers that are worth testing on their own.
#include <cstdint>
#include <span>

namespace vorlix_core::extractors {

// The IJG quality setting (1 to 100) whose scaled standard luminance table is closest, by the
// sum of absolute differences, to `table`: 64 entries in the zigzag order a DQT segment stores
// them. Ties go to the lowest quality, so every table written by the IJG rule gives back its q.
uint32_t estimate_ijg_quality(std::span<const uint8_t, 64> table);

}  // namespace vorlix_core::extractors
