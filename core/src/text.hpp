#pragma once
// Text decoding shared by every format: all decoders are total (never fail).
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vorlix_core {

// UTF-8 with each maximal ill-formed subpart replaced by one U+FFFD.
std::string utf8_lossy(std::span<const uint8_t> bytes);
void append_utf8_lossy(std::string& out, std::span<const uint8_t> bytes);
// ISO-8859-1: every byte is the code point of the same value.
std::string latin1_to_utf8(std::span<const uint8_t> bytes);
// UTF-16 code units (a trailing odd byte is dropped); unpaired surrogates become U+FFFD.
std::string utf16le_lossy(std::span<const uint8_t> bytes);
std::string utf16be_lossy(std::span<const uint8_t> bytes);
// Appends the UTF-8 encoding of a code point (must be a scalar value).
void append_utf8(std::string& out, uint32_t cp);

// A text longer than `max` bytes is cut after at most `max` bytes, at a character boundary, and
// then ends with "..." (so it is at most 3 bytes longer): the bound on one value of hostile
// input. Shorter texts are left as they are.
void bound_text(std::string& text, size_t max);

// One of the decoders above, its text bounded by bound_text at limits::kMaxTextBytes. Only the
// bytes the bounded text shows are decoded, so a 100 MB value costs the bound, not 100 MB.
enum class TextEncoding { Utf8, Latin1, Utf16le, Utf16be };
std::string decode_bounded(std::span<const uint8_t> bytes, TextEncoding encoding);
// How many leading bytes decode_bounded may look at.
size_t bounded_input_bytes();

// round(x * 1000) / 1000 with halves away from zero.
double round3(double x);

inline std::span<const uint8_t> as_bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace vorlix_core
