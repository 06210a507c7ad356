// Windows bitmaps: the file header and the 40-byte prefix of the DIB header.
#include <array>
#include <string_view>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "extractors/extractors.hpp"
#include "extractors/walk.hpp"
#include "formats/signatures.hpp"

namespace vorlix_core::extractors {

namespace {

// File header (14) plus the DIB fields up to and including the compression method.
constexpr uint64_t kBmpMinimum = 30;
// File header plus the 40-byte information header.
constexpr uint64_t kBmpInfoEnd = 54;
constexpr uint32_t kBmpInfoHeaderSize = 40;

constexpr std::array<std::string_view, 6> kCompressionNames = {
    "none (BI_RGB)",  // 0
    "RLE8",           // 1
    "RLE4",           // 2
    "bitfields",      // 3
    "JPEG",           // 4
    "PNG",            // 5
};

std::string_view compression_name(uint32_t method) {
  return method < kCompressionNames.size() ? kCompressionNames[method] : "other";
}

// |v| of a two's-complement 32-bit value; INT32_MIN gives 2^31 instead of overflowing.
uint32_t magnitude(uint32_t raw) {
  return (raw & 0x80000000u) ? ~raw + 1 : raw;
}

}  // namespace

const char* BmpExtractor::name() const {
  return "bmp";
}

bool BmpExtractor::supports(const ProbeContext& ctx) const {
  return ByteReader(ctx.header).matches(0, formats::kBmpMagic);
}

ExtractResult BmpExtractor::extract(ByteSource& src, const ProbeContext&) const {
  return walk_prefix<kBmpInfoEnd>(src, [](Cursor& c) -> ExtractResult {
    if (c.size() < kBmpMinimum) return Err{ExtractError::malformed("bmp", "header too short")};
    Namespace ns("bmp");
    ns.set("file_size_header", c.u32le(2));
    const uint32_t dib_size = c.u32le(14);
    ns.set("dib_header_size", dib_size);
    // Every header version from the 40-byte one on starts with the same fields; the 12-byte core
    // header lays them out differently and is not read.
    if (dib_size < kBmpInfoHeaderSize || c.size() < kBmpInfoEnd) return ns;

    c.seek(18);
    const uint32_t width = c.u32le();
    const uint32_t height = c.u32le();
    c.skip(2);  // planes
    const uint16_t bit_depth = c.u16le();
    const uint32_t compression = c.u32le();
    ns.set("width", magnitude(width));
    ns.set("height", magnitude(height));
    ns.set("top_down", (height & 0x80000000u) != 0);
    ns.set("bit_depth", bit_depth);
    ns.set("compression", compression_name(compression));
    return ns;
  });
}

}  // namespace vorlix_core::extractors
