// Windows bitmaps: the file header and the 40-byte prefix of the DIB header.
#include <array>
#include <string_view>

#include "byte_reader.hpp"
#include "extractors/extractors.hpp"
#include "extractors/read_prefix.hpp"
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
  std::array<uint8_t, kBmpInfoEnd> buf{};
  auto prefix = read_prefix(src, buf);
  if (!prefix) return Err{ExtractError(std::move(prefix).error())};
  const ByteReader r(*prefix);
  if (r.size() < kBmpMinimum) return Err{ExtractError::malformed("bmp", "header too short")};

  Namespace ns("bmp");
  ns.set("file_size_header", *r.u32le(2));
  const uint32_t dib_size = *r.u32le(14);
  ns.set("dib_header_size", dib_size);
  // Every header version from the 40-byte one on starts with the same fields; the 12-byte core
  // header lays them out differently and is not read.
  if (dib_size < kBmpInfoHeaderSize || r.size() < kBmpInfoEnd) return ns;

  const uint32_t height = *r.u32le(22);
  ns.set("width", magnitude(*r.u32le(18)));
  ns.set("height", magnitude(height));
  ns.set("top_down", (height & 0x80000000u) != 0);
  ns.set("bit_depth", *r.u16le(28));
  ns.set("compression", compression_name(*r.u32le(30)));
  return ns;
}

}  // namespace vorlix_core::extractors
