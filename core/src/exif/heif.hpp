#pragma once
// The ISO base media (HEIF) part of finding the TIFF block: recognising the file from its leading
// bytes, and following meta/iinf/iloc to the Exif item.
#include <cstdint>
#include <span>

#include "exif/container.hpp"
#include "source_reader.hpp"

namespace vorlix_core::exif {

// True when the top-level boxes wholly inside `probe` reach a first "ftyp" box that lists "mif1"
// or "msf1" among its compatible brands. Never looks past `probe`.
bool is_heif(std::span<const uint8_t> probe);

// The TIFF block of the Exif item of a HEIF file, reading only the boxes on the way to it.
LocateResult locate_in_heif(const SourceReader& file);

}  // namespace vorlix_core::exif
