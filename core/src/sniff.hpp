#pragma once
// Content-type detection from the leading bytes: an ordered table of 92 tests.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vorlix_core {

struct ContentType {
  std::string_view mime;
  std::string_view extension;
};

// The first table entry whose test accepts the header, or nothing (always for an empty header).
std::optional<ContentType> sniff(std::span<const uint8_t> header);

}  // namespace vorlix_core
