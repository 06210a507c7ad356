#pragma once
// The compound-file (OLE2) check behind the legacy Office entries of the sniff table.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace vorlix_core {

using Clsid = std::array<uint8_t, 16>;

// The raw CLSID of the root directory entry when the bytes open as a complete, consistent
// compound file: every sector that its FAT, directory and MiniFAT name lies inside the bytes.
// Nothing otherwise; never reads past the end.
std::optional<Clsid> ole_root_clsid(std::span<const uint8_t> data);

}  // namespace vorlix_core
