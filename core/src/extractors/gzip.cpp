// gzip: the member header's fields read straight off the bytes. Nothing is decompressed.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "extractors/extractors.hpp"
#include "extractors/walk.hpp"
#include "formats/signatures.hpp"
#include "limits.hpp"
#include "text.hpp"

namespace vorlix_core::extractors {

namespace {

constexpr uint64_t kGzipHeaderSize = 10;
constexpr uint8_t kGzipFlagExtra = 0x04;
constexpr uint8_t kGzipFlagName = 0x08;

constexpr std::array<std::pair<uint8_t, const char*>, 5> kGzipOsNames = {{
    {0, "FAT (Windows/DOS)"},
    {3, "Unix"},
    {7, "macOS"},
    {11, "NTFS"},
    {255, "unknown"},
}};

const char* gzip_os_name(uint8_t os) {
  for (const auto& [code, name] : kGzipOsNames) {
    if (code == os) return name;
  }
  return "other";
}

// byte comes within kMaxGzipNameBytes (or before the end).
std::optional<std::string> gzip_name(Cursor& c, uint64_t start) {
  std::string name;
  uint64_t pos = start;
  while (pos < c.size() && pos - start <= limits::kMaxGzipNameBytes) {
    const uint64_t room = limits::kMaxGzipNameBytes + 1 - (pos - start);
    const auto view = c.clamped(pos, std::min<uint64_t>(room, RandomAccess::kWindowBytes));
    if (view.empty()) break;
    const auto nul = std::find(view.begin(), view.end(), uint8_t{0});
    name.append(view.begin(), nul);
    if (nul != view.end()) return name;
    pos += view.size();
  }
  return std::nullopt;
}

}  // namespace

const char* GzipExtractor::name() const {
  return "gzip";
}

bool GzipExtractor::supports(const ProbeContext& ctx) const {
  return ByteReader(ctx.header).matches(0, formats::kGzipMagic);
}

ExtractResult GzipExtractor::extract(ByteSource& src, const ProbeContext& ctx) const {
  return walk_source(src, ctx, [](Cursor& c) -> ExtractResult {
    c.skip(2);  // ID1, ID2
    const uint8_t method = c.u8();
    const uint8_t flags = c.u8();
    const uint32_t mtime = c.u32le();
    c.skip(1);  // extra flags
    const uint8_t os = c.u8();
    if (!c.ok()) return Err{ExtractError::malformed("gzip", "header too short")};

    Namespace ns("gzip");
    ns.set("compression_method", method == formats::kGzipDeflate ? "deflate" : "unknown");
    // A zero MTIME means the writer recorded no time stamp.
    if (mtime != 0) ns.set("modification_time_unix", mtime);
    ns.set("os", gzip_os_name(os));

    if (flags & kGzipFlagName) {
      uint64_t start = kGzipHeaderSize;
      if (flags & kGzipFlagExtra) {
        const uint16_t xlen = c.u16le();
        // A file cut inside XLEN has no extra field to skip.
        if (c.ok()) start = kGzipHeaderSize + 2 + xlen;
      }
      if (auto name = gzip_name(c, start)) {
        ns.set("original_filename", utf8_lossy(as_bytes(*name)));
      }
    }
    return ns;
  });
}

}  // namespace vorlix_core::extractors
