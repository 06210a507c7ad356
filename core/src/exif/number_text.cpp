#include "exif/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

namespace vorlix_core::exif {
namespace {

// Digits without the point (at most 17 from a shortest form), and the decimal exponent of the
// first digit.
struct Decimal {
  char digits[64];
  size_t len = 0;
  int exponent = 0;

  std::string_view view() const { return {digits, len}; }
};

// Parses the magnitude part of to_chars scientific output ("1.25e+03"), dropping trailing zeros
// of the digits.
template <size_t N>
void split_scientific(std::string_view s, char (&digits)[N], size_t& len, int& exponent) {
  const size_t e = s.find('e');
  len = 0;
  for (char c : s.substr(0, e)) {
    if (c != '.' && len < N) digits[len++] = c;
  }
  while (len > 1 && digits[len - 1] == '0')
    --len;
  exponent = 0;
  std::from_chars(s.data() + e + 1 + (s[e + 1] == '+' ? 1 : 0), s.data() + s.size(), exponent);
}

// A tie between two shortest candidates means the exact value is the shortest digits plus a
// single 5: at most 18 significant digits for a double (9 for a float). A binary value m * 2^e
// (m odd, below 2^53) has that few only when e >= -25 (5^26 has 19 digits) and, for integers,
// below 2^133 (m holds at most 22 factors of five, so at most 22 trailing zeros). Everything
// else skips the exact expansion.
bool tie_possible(double magnitude) {
  const double scaled = magnitude * 0x1p25;
  return magnitude < 0x1p133 && std::trunc(scaled) == scaled;
}

// Where a tie is possible the value has at most 41 significant digits, so 48 after the point in
// scientific form print it exactly.
constexpr int kExactPrecision = 48;

// The standard library breaks exact ties between two shortest candidates towards an even last
// digit; we want the candidate of larger magnitude.
//
// The shortest candidate S (n digits) lies 5 units of the exact value's last digit away from it,
// so it round-trips only if 5 / D is within half an ulp, 2^-53 relative (2^-24 for a float),
// where D >= 10^n is the exact significand: D must have at least 17 digits (8 for a float). So
// no tie has n <= digits10 and the exact expansion is skipped.
template <class T>
void prefer_larger_on_tie(Decimal& shortest, T magnitude) {
  if (shortest.len <= static_cast<size_t>(std::numeric_limits<T>::digits10)) return;
  if (!tie_possible(static_cast<double>(magnitude))) return;
  char buf[128];
  auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific,
                           kExactPrecision);
  char exact[64];
  size_t exact_len = 0;
  int exact_exponent = 0;
  split_scientific(std::string_view(buf, static_cast<size_t>(res.ptr - buf)), exact, exact_len,
                   exact_exponent);
  const size_t n = shortest.len;
  if (exact_exponent != shortest.exponent || exact_len != n + 1 ||
      std::string_view(exact, n) != shortest.view() || exact[n] != '5') {
    return;
  }
  size_t i = n;
  while (i > 0 && shortest.digits[i - 1] == '9')
    shortest.digits[--i] = '0';
  if (i > 0) {
    ++shortest.digits[i - 1];
  } else {
    // All nines: 99.5 becomes 100, one more power of ten with the same number of digits.
    shortest.digits[0] = '1';
    for (size_t k = 1; k < n; ++k)
      shortest.digits[k] = '0';
    ++shortest.exponent;
  }
  while (shortest.len > 1 && shortest.digits[shortest.len - 1] == '0')
    --shortest.len;
}

template <class T>
constexpr T kExactIntegerLimit = static_cast<T>(uint64_t{1} << std::numeric_limits<T>::digits);

template <class T>
void append_impl(std::string& out, T v) {
  if (std::isnan(v)) {
    out += "NaN";
    return;
  }
  if (std::signbit(v)) out.push_back('-');
  T magnitude = std::fabs(v);
  if (std::isinf(magnitude)) {
    out += "inf";
    return;
  }
  // Integers below 2^53 (2^24 for a float) are exactly their shortest digits, since every
  // integer there is representable: the common EXIF value (72, 200, 1/1) needs no digit search.
  if (magnitude < kExactIntegerLimit<T> && std::trunc(magnitude) == magnitude) {
    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, static_cast<uint64_t>(magnitude));
    out.append(digits, res.ptr);
    return;
  }
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
  Decimal d;
  split_scientific(std::string_view(buf, static_cast<size_t>(res.ptr - buf)), d.digits, d.len,
                   d.exponent);
  if (magnitude != 0) prefer_larger_on_tie(d, magnitude);

  const std::string_view digits = d.view();
  if (d.exponent < 0) {
    out += "0.";
    out.append(static_cast<size_t>(-d.exponent - 1), '0');
    out += digits;
    return;
  }
  const size_t int_len = static_cast<size_t>(d.exponent) + 1;
  if (digits.size() <= int_len) {
    out += digits;
    out.append(int_len - digits.size(), '0');
  } else {
    out += digits.substr(0, int_len);
    out.push_back('.');
    out += digits.substr(int_len);
  }
}

}  // namespace

void append_number(std::string& out, double v) {
  append_impl(out, v);
}
void append_number(std::string& out, float v) {
  append_impl(out, v);
}

std::string number_text(double v) {
  std::string s;
  append_number(s, v);
  return s;
}

}  // namespace vorlix_core::exif
