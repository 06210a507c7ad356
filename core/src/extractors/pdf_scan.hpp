#pragma once
// The single pass over a PDF's bytes that the counts, flags and information keys come from.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "cursor.hpp"

namespace vorlix_core::extractors::pdf {

struct InfoRow {
  std::string_view pattern;
  const char* key;
};

// The information keys looked for, each with the report key it fills.
inline constexpr std::array<InfoRow, 8> kInfoRows = {{
    {"/Title", "title"},
    {"/Author", "author"},
    {"/Subject", "subject"},
    {"/Creator", "creator"},
    {"/Producer", "producer"},
    {"/Keywords", "keywords"},
    {"/CreationDate", "creation_date"},
    {"/ModDate", "modification_date"},
}};

struct ScanResult {
  // Occurrences of " obj".
  uint64_t objects = 0;
  // Occurrences of "/Type/Page" or "/Type /Page" not followed by "s" (page-tree nodes).
  uint64_t pages = 0;
  bool linearized = false;  // "/Linearized" occurs
  bool encrypted = false;   // "/Encrypt" occurs
  // Where each information key of kInfoRows first occurs.
  std::array<std::optional<uint64_t>, kInfoRows.size()> info_at{};
};

// Reads the whole source once, in windows of `window` bytes, each read with a few bytes more
// (the longest pattern and the byte after it), so that a match across a window's edge is seen,
// once, from the window it starts in. None of the patterns can overlap itself, so counting every
// occurrence equals counting non-overlapping matches. Stops early when the data ends or a read
// fails (the source keeps the error; a cancelled parse fails every read).
ScanResult scan(Cursor& c, uint64_t window);

}  // namespace vorlix_core::extractors::pdf
