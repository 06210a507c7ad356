#include "vorlix/value.hpp"

namespace vorlix_core {

void Namespace::put(std::string_view key, Value v) {
  auto it = fields_.find(key);
  if (it != fields_.end()) {
    it->second = std::move(v);
  } else {
    fields_.emplace(std::string(key), std::move(v));
  }
}

std::string to_hex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.resize(bytes.size() * 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0f];
  }
  return out;
}

std::string bytes_display(std::span<const uint8_t> bytes) {
  constexpr size_t kShown = 64;
  if (bytes.size() <= kShown) return to_hex(bytes);
  return to_hex(bytes.first(kShown)) + "... (" + std::to_string(bytes.size()) + " bytes)";
}

}  // namespace vorlix_core
