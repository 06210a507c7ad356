#pragma once
// Floating-point numbers as display text: shortest round-trip digits, laid out positionally.
#include <string>

namespace vorlix_core::exif {

// "72", "0.5", "0.0000001", "1000000000000000000000", "-0", "NaN", "inf", "-inf". Among equally
// short digit strings the nearest wins; an exact tie goes to the larger magnitude.
void append_number(std::string& out, double v);
// The same with binary32 precision (FLOAT components).
void append_number(std::string& out, float v);

std::string number_text(double v);

}  // namespace vorlix_core::exif
