#pragma once
// Finding the TIFF block that holds EXIF data inside a bare TIFF, JPEG, PNG, HEIF or WebP stream.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "source_reader.hpp"

namespace vorlix_core::exif {

// The container was recognised but carries no EXIF block.
struct NotFound {};
// A container-level failure; `message` is the exact user-visible text ("Unknown image format",
// "Broken JPEG file", an I/O error's display text, ...).
struct ContainerError {
  std::string message;
};
// A block copied out of its container: a JPEG segment, a HEIF item or a PNG / WebP chunk of at
// most kMaxCopiedBlock bytes.
using TiffBlock = std::vector<uint8_t>;
// A block read in place: a bare TIFF file (the whole source), or a larger PNG / WebP chunk.
struct SourceRange {
  uint64_t offset;
  uint64_t length;
  friend bool operator==(const SourceRange&, const SourceRange&) = default;
};
using LocateResult = std::variant<TiffBlock, SourceRange, NotFound, ContainerError>;

inline constexpr uint64_t kMaxCopiedBlock = 65536;

// Reads only what the container walk needs: the leading bytes, the headers of the segments,
// chunks or boxes before the block, and the block when it is copied.
LocateResult locate_tiff(const SourceReader& file);

}  // namespace vorlix_core::exif
