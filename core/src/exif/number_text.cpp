#include "exif/number_text.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

namespace vorlix_core::exif {
namespace {

// Digits without the point, and the decimal exponent of the first digit.
struct Decimal {
  std::string digits;
  int exponent = 0;
};

// Parses the magnitude part of to_chars scientific output ("1.25e+03").
Decimal split_scientific(std::string_view s) {
  Decimal d;
  size_t e = s.find('e');
  for (char c : s.substr(0, e)) {
    if (c != '.') d.digits.push_back(c);
  }
  int exp = 0;
  std::from_chars(s.data() + e + 1 + (s[e + 1] == '+' ? 1 : 0), s.data() + s.size(), exp);
  d.exponent = exp;
  return d;
}

// The standard library breaks exact ties between two shortest candidates towards an even last
// digit; we want the candidate of larger magnitude. Exact expansions tell the two cases apart:
// a tie is exactly the shortest digits followed by a single 5.
template <class T>
void prefer_larger_on_tie(Decimal& shortest, T magnitude, int exact_precision) {
  char buf[1024];
  auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific,
                           exact_precision);
  Decimal exact = split_scientific(std::string_view(buf, static_cast<size_t>(res.ptr - buf)));
  const std::string& sd = shortest.digits;
  if (exact.exponent != shortest.exponent || exact.digits.size() <= sd.size() ||
      exact.digits.compare(0, sd.size(), sd) != 0 || exact.digits[sd.size()] != '5' ||
      exact.digits.find_first_not_of('0', sd.size() + 1) != std::string::npos) {
    return;
  }
  size_t i = sd.size();
  while (i > 0 && shortest.digits[i - 1] == '9')
    shortest.digits[--i] = '0';
  if (i > 0) {
    ++shortest.digits[i - 1];
  } else {
    shortest.digits.insert(shortest.digits.begin(), '1');
    shortest.digits.pop_back();
    ++shortest.exponent;
  }
}

template <class T>
void append_impl(std::string& out, T v, int exact_precision) {
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
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
  Decimal d = split_scientific(std::string_view(buf, static_cast<size_t>(res.ptr - buf)));
  if (magnitude != 0) prefer_larger_on_tie(d, magnitude, exact_precision);
  while (d.digits.size() > 1 && d.digits.back() == '0')
    d.digits.pop_back();

  const std::string& digits = d.digits;
  if (d.exponent < 0) {
    out += "0.";
    out.append(static_cast<size_t>(-d.exponent - 1), '0');
    out += digits;
    return;
  }
  size_t int_len = static_cast<size_t>(d.exponent) + 1;
  if (digits.size() <= int_len) {
    out += digits;
    out.append(int_len - digits.size(), '0');
  } else {
    out.append(digits, 0, int_len);
    out.push_back('.');
    out.append(digits, int_len);
  }
}

}  // namespace

// Precisions at which to_chars prints the exact binary value of any double / float.
void append_number(std::string& out, double v) {
  append_impl(out, v, 800);
}
void append_number(std::string& out, float v) {
  append_impl(out, v, 120);
}

std::string number_text(double v) {
  std::string s;
  append_number(s, v);
  return s;
}

}  // namespace vorlix_core::exif
