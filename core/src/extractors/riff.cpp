// RIFF containers: the form type; WebP first-chunk sizes and flags; the WAVE "fmt " chunk; AVI
// media kind.
#include <algorithm>
#include <array>
#include <string_view>

#include "byte_reader.hpp"
#include "extractors/extractors.hpp"
#include "extractors/read_prefix.hpp"
#include "formats/signatures.hpp"
#include "source_reader.hpp"
#include "text.hpp"

namespace vorlix_core::extractors {

namespace {

// Everything but the WAVE walk lies in the first 30 bytes (the end of a WebP first-chunk header).
constexpr size_t kRiffPrefix = 30;
constexpr uint64_t kRiffHeaderSize = 12;
constexpr std::array<uint8_t, 3> kVp8StartCode = {0x9D, 0x01, 0x2A};

struct MediaKind {
  std::string_view form;
  std::string_view kind;
};
constexpr std::array<MediaKind, 3> kMediaKinds = {{
    {formats::kRiffFormWebp, "image (WebP)"},
    {formats::kRiffFormWave, "audio (WAV)"},
    {"AVI ", "video (AVI)"},
}};

uint32_t u24le(const ByteReader& r, uint64_t pos) {
  return uint32_t{*r.u8(pos)} | uint32_t{*r.u8(pos + 1)} << 8 | uint32_t{*r.u8(pos + 2)} << 16;
}

// The first chunk of a WebP file, which must start at offset 12. `r` covers at least the first
// 30 bytes of the file, or all of it when shorter.
void read_webp(const ByteReader& r, Namespace& ns) {
  const auto format_byte = r.u8(15);  // the chunk id needs all four bytes
  if (!r.matches(12, "VP8") || !format_byte) return;
  const uint8_t format = *format_byte;
  if (format == ' ') {
    ns.set("webp_format", "lossy");
    if (!r.matches(23, kVp8StartCode) || !r.has(26, 4)) return;
    // 14-bit sizes; the two scale bits above them are dropped.
    ns.set("width", *r.u16le(26) & 0x3FFFu);
    ns.set("height", *r.u16le(28) & 0x3FFFu);
  } else if (format == 'L') {
    ns.set("webp_format", "lossless");
    const auto bits = r.u32le(21);  // after the one-byte signature: 14 + 14 bits of size - 1
    if (!bits) return;
    ns.set("width", (*bits & 0x3FFFu) + 1);
    ns.set("height", ((*bits >> 14) & 0x3FFFu) + 1);
  } else if (format == 'X') {
    ns.set("webp_format", "extended");
    if (!r.has(20, 10)) return;
    const uint8_t flags = *r.u8(20);
    ns.set("has_alpha", (flags & 0x10) != 0);
    ns.set("has_animation", (flags & 0x02) != 0);
    ns.set("has_exif", (flags & 0x08) != 0);
    ns.set("width", u24le(r, 24) + 1);
    ns.set("height", u24le(r, 27) + 1);
  }
}

// Walks the chunks after the form type up to the first "fmt " chunk with 16 bytes of data in the
// buffer. Each step moves at least 8 bytes forward, so the walk is linear in the input.
void read_wave(SourceReader& r, Namespace& ns) {
  uint64_t i = kRiffHeaderSize;
  while (r.has(i, 8)) {
    // Chunk header and, for "fmt ", the 16 bytes of fields, as one read.
    const auto head = r.clamped(i, 24);
    const ByteReader c(head);
    if (c.size() < 8) return;
    const uint32_t size = *c.u32le(4);
    if (c.matches(0, "fmt ") && c.has(8, 16)) {
      // Fields beyond the chunk's stated size belong to whatever follows it (a 14-byte
      // WAVEFORMAT has no bits per sample), so only those inside the chunk are reported.
      constexpr uint64_t d = 8;
      if (size >= 2) ns.set("audio_format_tag", *c.u16le(d));
      if (size >= 4) ns.set("channels", *c.u16le(d + 2));
      if (size >= 8) ns.set("sample_rate", *c.u32le(d + 4));
      if (size >= 16) ns.set("bits_per_sample", *c.u16le(d + 14));
      return;
    }
    i += 8 + uint64_t{size} + (size & 1);
  }
}

}  // namespace

const char* RiffExtractor::name() const {
  return "riff";
}

bool RiffExtractor::supports(const ProbeContext& ctx) const {
  return ByteReader(ctx.header).matches(0, formats::kRiffMagic);
}

ExtractResult RiffExtractor::extract(ByteSource& src, const ProbeContext& ctx) const {
  std::array<uint8_t, kRiffPrefix> buf{};
  auto prefix = read_prefix(src, buf);
  if (!prefix) return Err{ExtractError(std::move(prefix).error())};
  const ByteReader head(*prefix);
  if (head.size() < kRiffHeaderSize) {
    return Err{ExtractError::malformed("riff", "header too short")};
  }

  Namespace ns("riff");
  ns.set("form_type", utf8_lossy(*head.slice(formats::kRiffFormOffset, 4)));
  for (const auto& m : kMediaKinds) {
    if (head.matches(formats::kRiffFormOffset, m.form)) ns.set("media_kind", m.kind);
  }

  if (head.matches(formats::kRiffFormOffset, formats::kRiffFormWebp)) {
    read_webp(head, ns);
  } else if (head.matches(formats::kRiffFormOffset, formats::kRiffFormWave)) {
    // Only WAVE needs more than the prefix: its chunk headers are read one by one.
    RandomAccess ra(src, ctx.length);
    SourceReader r(ra);
    read_wave(r, ns);
    if (r.error()) return Err{ExtractError(*r.error())};
  }
  return ns;
}

}  // namespace vorlix_core::extractors
