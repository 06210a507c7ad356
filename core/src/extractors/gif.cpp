// GIF: header and logical screen descriptor, then a walk over the block stream that counts
// image descriptors and picks up the loop count of the animation application extension. No
// image data is decoded; blocks are skipped by their sub-block lengths.
#include <algorithm>
#include <array>
#include <optional>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "extractors/extractors.hpp"
#include "extractors/walk.hpp"
#include "formats/signatures.hpp"
#include "text.hpp"

namespace vorlix_core::extractors {

namespace {

constexpr uint8_t kExtension = 0x21;
constexpr uint8_t kImageDescriptor = 0x2C;
constexpr uint8_t kTrailer = 0x3B;
constexpr uint8_t kApplicationLabel = 0xFF;

// Header (6) plus logical screen descriptor (7).
constexpr uint64_t kHeaderSize = 13;
// How much of the block stream one step of the walk looks at.
constexpr uint64_t kWindow = 65536;

// Bytes of a colour table whose packed-field exponent is bits 0-2 of `packed`: 3 x 2^(s+1).
uint64_t color_table_bytes(uint8_t packed) {
  return 3 * (uint64_t{2} << (packed & 0x07));
}

// Skips data sub-blocks whose first size byte is at q. Returns the position just after the
// terminating zero-size byte, or nothing when the data ends first (which ends the walk). Every step
// moves forward by at least two bytes, so the skip is linear in the input.
std::optional<uint64_t> skip_sub_blocks(Cursor& c, uint64_t q) {
  for (;;) {
    // Size bytes are followed within one window, so runs of tiny sub-blocks cost no read each.
    const auto window = c.clamped(q, kWindow);
    if (window.empty()) return std::nullopt;
    Cursor w(window);
    uint64_t i = 0;
    while (i < w.size()) {
      const uint8_t size = w.u8(i);
      if (size == 0) return q + i + 1;
      i += uint64_t{size} + 1;
    }
    q += i;
  }
}

// The loop count of a "NETSCAPE2.0" application extension whose introducer is at p.
std::optional<uint16_t> netscape_loop_count(Cursor& c, uint64_t p) {
  if (!c.matches(p + 1, std::array<uint8_t, 1>{kApplicationLabel})) return std::nullopt;
  if (!c.matches(p + 3, "NETSCAPE") || !c.matches(p + 11, "2.0")) return std::nullopt;
  Cursor field = c.sub(p + 16, 2);
  const uint16_t loop = field.u16le();
  if (!field.ok()) return std::nullopt;
  return loop;
}

struct WalkResult {
  uint64_t frames = 0;
  std::optional<uint16_t> loop_count;
};

// Every iteration advances p by at least one byte, so the walk ends after at most size() steps.
WalkResult walk_blocks(Cursor& c, uint64_t p) {
  WalkResult out;
  while (p < c.size()) {
    const uint8_t b = c.u8(p);
    if (!c.ok()) break;
    if (b == kExtension) {
      if (auto loop = netscape_loop_count(c, p)) out.loop_count = loop;
      const auto next = skip_sub_blocks(c, p + 2);
      if (!next) break;
      p = *next;
    } else if (b == kImageDescriptor) {
      // A descriptor cut short by the end of the data still counts as a frame.
      ++out.frames;
      const uint8_t packed = c.u8(p + 9);
      if (!c.ok()) break;
      uint64_t q = p + 10;
      if (packed & 0x80) q += color_table_bytes(packed);
      ++q;  // LZW minimum code size
      const auto next = skip_sub_blocks(c, q);
      if (!next) break;
      p = *next;
    } else if (b == kTrailer) {
      break;
    } else {
      // Stray bytes are passed over up to the next block introducer, a window at a time.
      const auto window = c.clamped(p, kWindow);
      const auto hit = std::find_if(window.begin() + 1, window.end(), [](uint8_t v) {
        return v == kExtension || v == kImageDescriptor || v == kTrailer;
      });
      p += static_cast<uint64_t>(hit - window.begin());
    }
  }
  return out;
}

}  // namespace

const char* GifExtractor::name() const {
  return "gif";
}

bool GifExtractor::supports(const ProbeContext& ctx) const {
  const ByteReader r(ctx.header);
  return r.matches(0, formats::kGif87a) || r.matches(0, formats::kGif89a);
}

ExtractResult GifExtractor::extract(ByteSource& src, const ProbeContext& ctx) const {
  return walk_source(src, ctx, [](Cursor& c) -> ExtractResult {
    c.skip(3);  // "GIF"
    const auto version = c.bytes(3);
    Namespace ns("gif");
    ns.set("version", utf8_lossy(version));
    const uint16_t width = c.u16le();
    const uint16_t height = c.u16le();
    const uint8_t packed = c.u8();
    c.skip(2);  // background colour index and pixel aspect ratio
    if (!c.ok()) return Err{ExtractError::malformed("gif", "header too short")};
    ns.set("width", width);
    ns.set("height", height);
    const bool global_table = (packed & 0x80) != 0;
    ns.set("color_resolution_bits", static_cast<unsigned>(((packed >> 4) & 0x07) + 1));
    ns.set("global_color_table", global_table);
    if (global_table) ns.set("global_color_table_size", color_table_bytes(packed) / 3);

    const uint64_t start = kHeaderSize + (global_table ? color_table_bytes(packed) : 0);
    const WalkResult walk = walk_blocks(c, start);
    ns.set("frames", walk.frames);
    ns.set("animated", walk.frames >= 2);
    if (walk.loop_count) ns.set("loop_count", *walk.loop_count);
    return ns;
  });
}

}  // namespace vorlix_core::extractors
