// PNG: the chunk directory plus header fields, gamma, resolution, modification time and the
// uncompressed text chunks. Nothing is decompressed and CRCs are not checked.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "extractors/extractors.hpp"
#include "extractors/walk.hpp"
#include "formats/signatures.hpp"
#include "limits.hpp"
#include "text.hpp"

namespace vorlix_core::extractors {

namespace {

// Below this there is not even one chunk header after the signature.
constexpr uint64_t kMinWalkBytes = 16;
// Length, type and CRC around each chunk's data.
constexpr uint64_t kChunkOverhead = 12;
// A text chunk's zero byte is looked for a window at a time.
constexpr uint64_t kScanWindow = RandomAccess::kWindowBytes;
constexpr double kMetresPerInch = 0.0254;

constexpr std::array<const char*, 7> kColorTypes = {"grayscale",       "unknown", "RGB", "palette",
                                                    "grayscale+alpha", "unknown", "RGBA"};

struct Walk {
  Namespace& ns;
  // Keyword to text; a file can hold any number of keywords in any order, so they are sorted
  // once at the end rather than inserted one by one.
  std::unordered_map<std::string, std::string> text;
  bool text_truncated = false;
};

void read_header(Cursor& d, Walk& w) {
  const uint32_t width = d.u32be();
  const uint32_t height = d.u32be();
  const uint8_t bit_depth = d.u8();
  const uint8_t color_type = d.u8();
  d.skip(2);  // compression and filter methods
  const uint8_t interlace = d.u8();
  if (!d.ok()) return;
  w.ns.set("width", width);
  w.ns.set("height", height);
  w.ns.set("bit_depth", bit_depth);
  w.ns.set("color_type", color_type < kColorTypes.size() ? kColorTypes[color_type] : "unknown");
  w.ns.set("interlaced", interlace == 1);
}

// The keyword runs to the first zero byte, the text from there to the end of the data, which
// must lie within the file. Both are bounded texts, so the data is read in windows to find the
// zero byte and then only as far as the texts show: a 100 MB chunk costs a window, not 100 MB.
void read_text(Cursor& r, uint64_t start, uint64_t length, Walk& w) {
  if (!r.has(start, length)) return;
  uint64_t nul = length;
  for (uint64_t at = 0; at < length;) {
    const auto window = r.clamped(start + at, std::min<uint64_t>(length - at, kScanWindow));
    if (window.empty()) return;
    const auto zero = std::find(window.begin(), window.end(), uint8_t{0});
    if (zero != window.end()) {
      nul = at + static_cast<uint64_t>(zero - window.begin());
      break;
    }
    at += window.size();
  }
  if (nul == length) return;
  const uint64_t shown = bounded_input_bytes();
  Cursor text_range = r.sub(start, length);
  const auto key_bytes = text_range.bytes(std::min(nul, shown));
  if (!text_range.ok()) return;
  std::string keyword = decode_bounded(key_bytes, TextEncoding::Utf8);
  auto it = w.text.find(keyword);
  if (it == w.text.end() && w.text.size() >= limits::kMaxPngTexts) {
    w.text_truncated = true;
    return;
  }
  const auto text_bytes = text_range.bytes(nul + 1, std::min(length - nul - 1, shown));
  if (!text_range.ok()) return;
  std::string text = decode_bounded(text_bytes, TextEncoding::Utf8);
  if (it != w.text.end()) {
    it->second = std::move(text);
  } else {
    w.text.emplace(std::move(keyword), std::move(text));
  }
}

void read_time(Cursor& d, Walk& w) {
  const uint16_t year_number = d.u16be();
  const auto fields = d.bytes(5);  // month, day, hour, minute, second
  if (!d.ok()) return;
  std::string year = std::to_string(year_number);
  if (year.size() < 4) year.insert(0, 4 - year.size(), '0');
  std::string stamp = std::move(year);
  constexpr std::array<char, 5> kSeparators = {'-', '-', 'T', ':', ':'};
  Cursor f(fields);
  for (const char separator : kSeparators) {
    const uint8_t v = f.u8();
    stamp += separator;
    if (v < 10) stamp += '0';
    stamp += std::to_string(v);
  }
  stamp += 'Z';
  w.ns.set("last_modified", std::move(stamp));
}

void read_gamma(Cursor& d, Walk& w) {
  const uint32_t gamma = d.u32be();
  if (d.ok()) w.ns.set("gamma", gamma / 100000.0);
}

void read_physical(Cursor& d, Walk& w) {
  const uint32_t x_per_unit = d.u32be();
  d.skip(4);  // y, the same for square pixels
  const uint8_t unit = d.u8();
  // Unit 1 is the metre; the unitless aspect ratio (0) has no dpi.
  if (!d.ok() || unit != 1) return;
  w.ns.set("dpi", std::round(x_per_unit * kMetresPerInch));
}

enum class Next { Continue, Stop };

struct ChunkHandler {
  std::string_view type;
  void (*read)(Cursor&, Walk&);
  Next next;
};
constexpr std::array<ChunkHandler, 6> kHandlers = {{
    {"IHDR", read_header, Next::Continue},
    {"tEXt", nullptr, Next::Continue},  // read_text, from the source
    {"tIME", read_time, Next::Continue},
    {"gAMA", read_gamma, Next::Continue},
    {"pHYs", read_physical, Next::Continue},
    {"IEND", nullptr, Next::Stop},
}};

// Exact comparison: a type with any byte of 0x80 or above never matches a known one.
const ChunkHandler* find_handler(std::span<const uint8_t> type) {
  const ByteReader t(type);
  for (const auto& h : kHandlers) {
    if (t.matches(0, h.type)) return &h;
  }
  return nullptr;
}

void walk_chunks(Cursor& r, Namespace& ns) {
  Walk w{ns, {}};
  // Always present, even when empty.
  RecordList chunks({"length", "offset", "type"});
  Map record;
  uint64_t k = 8;  // after the signature, which supports() checked
  while (r.size() >= kMinWalkBytes && r.has(k, 8)) {
    r.seek(k);
    const uint32_t length = r.u32be();
    std::array<uint8_t, 4> type{};
    const auto type_bytes = r.bytes(type.size());
    if (!r.ok()) break;
    std::copy(type_bytes.begin(), type_bytes.end(), type.begin());
    // Past the cap the walk goes on for the fields and texts, without listing.
    if (chunks.size() < limits::kMaxPngChunks) {
      record.clear();
      record.emplace("type", Value::text(latin1_to_utf8(type)));
      record.emplace("offset", Value::uint64(k));
      record.emplace("length", Value::uint64(length));
      chunks.push(record);
    } else {
      ns.set("chunks_truncated", true);
    }

    if (const ChunkHandler* h = find_handler(type)) {
      // Only the chunks read here are fetched; image data is passed over by its length.
      if (h->type == "tEXt") {
        read_text(r, k + 8, length, w);
      } else if (h->read) {
        // Fields are read only from a chunk that can be read whole.
        Cursor data = r.part(k + 8, length);
        h->read(data, w);
      }
      if (h->next == Next::Stop) break;
    }
    // k < size and length < 2^32, so this cannot overflow; a length past the end ends the walk.
    k += length + kChunkOverhead;
  }
  ns.set("chunks", std::move(chunks));
  if (!w.text.empty()) {
    std::vector<std::pair<std::string, std::string>> text;
    text.reserve(w.text.size());
    while (!w.text.empty()) {
      auto node = w.text.extract(w.text.begin());
      text.emplace_back(std::move(node.key()), std::move(node.mapped()));
    }
    ns.set("text", Map::from_unsorted(std::move(text)));
  }
  if (w.text_truncated) ns.set("text_truncated", true);
}

}  // namespace

const char* PngExtractor::name() const {
  return "png";
}

bool PngExtractor::supports(const ProbeContext& ctx) const {
  return ByteReader(ctx.header).matches(0, formats::kPngSignature);
}

ExtractResult PngExtractor::extract(ByteSource& src, const ProbeContext& ctx) const {
  return walk_source(src, ctx, [](Cursor& c) -> ExtractResult {
    Namespace ns("png");
    walk_chunks(c, ns);
    return ns;
  });
}

}  // namespace vorlix_core::extractors
