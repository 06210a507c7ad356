#pragma once
// Text decoding shared by every format: all decoders are total (never fail).
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vorlix_core {

// UTF-8 with each maximal ill-formed subpart replaced by one U+FFFD.
std::string utf8_lossy(std::span<const uint8_t> bytes);
// ISO-8859-1: every byte is the code point of the same value.
std::string latin1_to_utf8(std::span<const uint8_t> bytes);
// UTF-16 code units (a trailing odd byte is dropped); unpaired surrogates become U+FFFD.
std::string utf16le_lossy(std::span<const uint8_t> bytes);
std::string utf16be_lossy(std::span<const uint8_t> bytes);
// Appends the UTF-8 encoding of a code point (must be a scalar value).
void append_utf8(std::string& out, uint32_t cp);

// round(x * 1000) / 1000 with halves away from zero.
double round3(double x);

inline std::span<const uint8_t> as_bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace vorlix_core
