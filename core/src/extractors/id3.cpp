// ID3v2 tag at the start of the source: the tag header and a few well-known text frames.
// Frames are read as stored: unsynchronisation is not undone and frame flags are ignored.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "extractors/extractors.hpp"
#include "extractors/walk.hpp"
#include "formats/signatures.hpp"
#include "text.hpp"

namespace vorlix_core::extractors {

namespace {

constexpr uint64_t kTagHeaderSize = 10;

struct FrameKey {
  std::string_view id;
  std::string_view key;
};

// ID3v2.2 uses three-character ids.
constexpr std::array<FrameKey, 6> kShortIdFrames{{
    {"TT2", "title"},
    {"TP1", "artist"},
    {"TAL", "album"},
    {"TYE", "year"},
    {"TCO", "genre"},
    {"TRK", "track"},
}};

constexpr std::array<FrameKey, 9> kFrames{{
    {"TIT2", "title"},
    {"TPE1", "artist"},
    {"TALB", "album"},
    {"TYER", "year"},
    {"TDRC", "year"},
    {"TCON", "genre"},
    {"TRCK", "track"},
    {"TPE2", "album_artist"},
    {"TCOM", "composer"},
}};

// Ids are compared as raw bytes: a lossy-decoded id can only equal a table entry when its bytes
// are exactly that ASCII text.
std::optional<std::string_view> frame_key(std::span<const uint8_t> id) {
  const std::string_view text(reinterpret_cast<const char*>(id.data()), id.size());
  const auto lookup = [&](const auto& table) -> std::optional<std::string_view> {
    for (const auto& entry : table) {
      if (entry.id == text) return entry.key;
    }
    return std::nullopt;
  };
  return id.size() == 3 ? lookup(kShortIdFrames) : lookup(kFrames);
}

// Four 7-bit groups read at the cursor. The top bit of each byte is deliberately not masked off,
// so a stray high bit spills into the next group instead of being dropped.
uint32_t unmasked_synchsafe(Cursor& c) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    v = (v << 7) | c.u8();
  }
  return v;
}

struct FrameLayout {
  uint64_t header_size;
  uint64_t id_width;
  uint8_t major;

  // From the frame's header, the cursor standing after the id.
  uint64_t frame_size(Cursor& h) const {
    if (major == 2) return h.u24be();
    if (major == 3) return h.u32be();
    return unmasked_synchsafe(h);
  }
};

FrameLayout layout_for(uint8_t major) {
  if (major == 2) return {6, 3, major};
  return {10, 4, major};
}

// Encoding 1 is UTF-16 led by a byte-order mark; encoding 2 (ID3v2.4) is big-endian without
// one. A mark, where present, decides the byte order for either; text without a mark under
// encoding 1 is taken as little-endian, the order nearly every tagger writes. Every U+FEFF at
// the start (the mark included) is dropped.
std::string decode_utf16(uint8_t encoding, std::span<const uint8_t> b) {
  bool big = encoding == 2;
  Cursor c(b);
  if (c.matches(0, "\xFF\xFE")) big = false;
  if (c.matches(0, "\xFE\xFF")) big = true;
  // The marks and the trailing U+0000 are dropped from the units, so that the bounded text
  // shows what follows them.
  b = b.first(b.size() & ~size_t{1});
  const auto unit = [&](size_t at) { return big ? c.u16be(at) : c.u16le(at); };
  size_t lead = 0;
  while (lead < b.size() && unit(lead) == 0xFEFF)
    lead += 2;
  size_t end = b.size();
  while (end > lead && unit(end - 2) == 0)
    end -= 2;
  return decode_bounded(b.subspan(lead, end - lead),
                        big ? TextEncoding::Utf16be : TextEncoding::Utf16le);
}

// The frame body starts with its encoding byte; nothing for an unknown encoding. Trailing
// U+0000 is dropped.
std::optional<std::string> decode_text(std::span<const uint8_t> body) {
  Cursor c(body);
  const uint8_t encoding = c.u8();
  auto rest = c.clamped(1, body.size());
  if (encoding == 1 || encoding == 2) return decode_utf16(encoding, rest);
  if (encoding != 0 && encoding != 3) return std::nullopt;
  // U+0000 is the single byte 0 in both and no other character contains that byte.
  const auto last = std::find_if(rest.rbegin(), rest.rend(), [](uint8_t c) { return c != 0; });
  rest = rest.first(static_cast<size_t>(rest.rend() - last));
  return decode_bounded(rest, encoding == 0 ? TextEncoding::Latin1 : TextEncoding::Utf8);
}

// Where the first frame starts. Versions 3 and 4 may put an extended header before the frames;
// it is skipped by its own size (which excludes its size field in 2.3 and includes it in 2.4).
// In 2.2 the same flag bit means compression and there is nothing to skip.
uint64_t first_frame(Cursor& r, uint8_t major, bool extended, uint64_t end) {
  if (!extended || (major != 3 && major != 4)) return kTagHeaderSize;
  Cursor field = r.sub(kTagHeaderSize, 4);
  const uint64_t skip =
      major == 3 ? uint64_t{4} + field.u32be() : std::max<uint64_t>(unmasked_synchsafe(field), 4);
  if (!field.ok()) return end;
  return skip > end - kTagHeaderSize ? end : kTagHeaderSize + skip;
}

// Each step moves past at least one frame header, so the walk is linear in the tag, and the
// bodies decoded never overlap. Only the headers and the bodies of listed frames are read.
Map walk_frames(Cursor& r, const FrameLayout& layout, uint64_t p, uint64_t end) {
  Map frames;
  const uint64_t h = layout.header_size;
  while (p <= end && end - p >= h) {
    Cursor header(r.bytes(p, h));
    if (!r.ok()) break;
    const auto id = header.bytes(layout.id_width);
    // Ids are never all zero bytes: that is the padding after the last frame.
    if (std::all_of(id.begin(), id.end(), [](uint8_t b) { return b == 0; })) break;
    const uint64_t size = layout.frame_size(header);
    const uint64_t body_start = p + h;
    const uint64_t body_len = std::min(size, end - body_start);
    if (body_len > 0) {
      if (const auto key = frame_key(id)) {
        const auto body = r.bytes(body_start, body_len);
        if (!r.ok()) break;
        if (auto text = decode_text(body)) {
          frames.insert_or_assign(std::string(*key), Value::text(std::move(*text)));
        }
      }
    }
    // Cannot overflow: body_start is below 2^63 and a frame size below 2^32.
    p = body_start + size;
  }
  return frames;
}

}  // namespace

const char* Id3Extractor::name() const {
  return "id3";
}

bool Id3Extractor::supports(const ProbeContext& ctx) const {
  return ByteReader(ctx.header).matches(0, formats::kId3Magic);
}

ExtractResult Id3Extractor::extract(ByteSource& src, const ProbeContext& ctx) const {
  return walk_source(src, ctx, [](Cursor& c) -> ExtractResult {
    c.skip(3);  // "ID3"
    const uint8_t major = c.u8();
    const uint8_t revision = c.u8();
    const uint8_t flags = c.u8();
    const uint32_t tag_size = unmasked_synchsafe(c);
    if (!c.ok()) return Err{ExtractError::malformed("id3", "header too short")};
    const bool extended = (flags & 0x40) != 0;

    Namespace ns("id3");
    ns.set("version", "2." + std::to_string(major) + "." + std::to_string(revision));
    ns.set("unsynchronisation", (flags & 0x80) != 0);
    ns.set("extended_header", extended);
    ns.set("tag_size", tag_size);

    const uint64_t end = kTagHeaderSize + std::min<uint64_t>(c.size() - kTagHeaderSize, tag_size);
    Map frames = walk_frames(c, layout_for(major), first_frame(c, major, extended, end), end);
    if (!frames.empty()) ns.set("frames", std::move(frames));
    return ns;
  });
}

}  // namespace vorlix_core::extractors
