#pragma once
// Finding the TIFF block that holds EXIF data inside a bare TIFF, JPEG, PNG, HEIF or WebP stream.
#include <string>
#include <variant>
#include <vector>

#include "vorlix/source.hpp"

namespace vorlix_core::exif {

// The container was recognised but carries no EXIF block.
struct NotFound {};
// A container-level failure; `message` is the exact user-visible text ("Unknown image format",
// "Broken JPEG file", an I/O error's display text, ...).
struct ContainerError {
  std::string message;
};
using TiffBlock = std::vector<uint8_t>;
using LocateResult = std::variant<TiffBlock, NotFound, ContainerError>;

// Reads the source from its current position (offset 0).
LocateResult locate_tiff(ByteSource& src);

}  // namespace vorlix_core::exif
