// RIFF containers: the form type; WebP first-chunk sizes and flags; the WAVE "fmt " chunk; AVI
// media kind.
#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "extractors/extractors.hpp"
#include "extractors/walk.hpp"
#include "formats/signatures.hpp"
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
    {formats::kRiffFormAvi, "video (AVI)"},
}};

// The first chunk of a WebP file, which must start at offset 12. `r` covers at least the first
// 30 bytes of the file, or all of it when shorter.
void read_webp(Cursor& r, Namespace& ns) {
  // The chunk id needs all four bytes.
  const uint8_t format = r.u8(15);
  if (!r.matches(12, "VP8") || !r.ok()) return;
  if (format == ' ') {
    ns.set("webp_format", "lossy");
    if (!r.matches(23, kVp8StartCode)) return;
    r.seek(26);
    // 14-bit sizes; the two scale bits above them are dropped.
    const uint16_t width = r.u16le();
    const uint16_t height = r.u16le();
    if (!r.ok()) return;
    ns.set("width", width & 0x3FFFu);
    ns.set("height", height & 0x3FFFu);
  } else if (format == 'L') {
    ns.set("webp_format", "lossless");
    const uint32_t bits = r.u32le(21);  // after the one-byte signature: 14 + 14 bits of size - 1
    if (!r.ok()) return;
    ns.set("width", (bits & 0x3FFFu) + 1);
    ns.set("height", ((bits >> 14) & 0x3FFFu) + 1);
  } else if (format == 'X') {
    ns.set("webp_format", "extended");
    r.seek(20);
    const uint8_t flags = r.u8();
    r.skip(3);  // reserved
    const uint32_t width = r.u24le();
    const uint32_t height = r.u24le();
    if (!r.ok()) return;
    ns.set("has_alpha", (flags & 0x10) != 0);
    ns.set("has_animation", (flags & 0x02) != 0);
    ns.set("has_exif", (flags & 0x08) != 0);
    ns.set("width", width + 1);
    ns.set("height", height + 1);
  }
}

// Walks the chunks after the form type up to the first "fmt " chunk with 16 bytes of data in the
// buffer. Each step moves at least 8 bytes forward, so the walk is linear in the input.
void read_wave(Cursor& r, Namespace& ns) {
  uint64_t i = kRiffHeaderSize;
  while (r.has(i, 8)) {
    // Chunk header and, for "fmt ", the 16 bytes of fields, as one read.
    Cursor c(r.clamped(i, 24));
    c.skip(4);  // the chunk id
    const uint32_t size = c.u32le();
    if (!c.ok()) return;
    if (c.matches(0, "fmt ") && c.has(8, 16)) {
      const uint16_t format_tag = c.u16le();
      const uint16_t channels = c.u16le();
      const uint32_t sample_rate = c.u32le();
      c.skip(6);  // byte rate and block alignment
      const uint16_t bits_per_sample = c.u16le();
      // Fields beyond the chunk's stated size belong to whatever follows it (a 14-byte
      // WAVEFORMAT has no bits per sample), so only those inside the chunk are reported.
      if (size >= 2) ns.set("audio_format_tag", format_tag);
      if (size >= 4) ns.set("channels", channels);
      if (size >= 8) ns.set("sample_rate", sample_rate);
      if (size >= 16) ns.set("bits_per_sample", bits_per_sample);
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
  bool wave = false;
  auto head = walk_prefix<kRiffPrefix>(src, [&wave](Cursor& c) -> ExtractResult {
    if (c.size() < kRiffHeaderSize) {
      return Err{ExtractError::malformed("riff", "header too short")};
    }
    Namespace ns("riff");
    ns.set("form_type", utf8_lossy(c.bytes(formats::kRiffFormOffset, 4)));
    for (const auto& m : kMediaKinds) {
      if (c.matches(formats::kRiffFormOffset, m.form)) ns.set("media_kind", m.kind);
    }
    if (c.matches(formats::kRiffFormOffset, formats::kRiffFormWebp)) read_webp(c, ns);
    wave = c.matches(formats::kRiffFormOffset, formats::kRiffFormWave);
    return ns;
  });
  if (!head || !wave) return head;
  // Only WAVE needs more than the prefix: its chunk headers are read one by one.
  return walk_source(src, ctx, [&head](Cursor& c) -> ExtractResult {
    read_wave(c, *head);
    return std::move(head);
  });
}

}  // namespace vorlix_core::extractors
