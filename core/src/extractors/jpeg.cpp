// JPEG: the marker segments up to the first scan, frame geometry, an IJG quality estimate and
// labels for the application segments. No image data is decoded.
#include "extractors/jpeg.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>
#include <string_view>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "extractors/extractors.hpp"
#include "extractors/walk.hpp"
#include "formats/jpeg.hpp"
#include "formats/signatures.hpp"
#include "limits.hpp"
#include "text.hpp"

namespace vorlix_core::extractors {

namespace {

using namespace formats::jpeg;
using ByteSpan = std::span<const uint8_t>;

// Position in row order of each coefficient as a DQT segment lists them (T.81 figure A.6).
constexpr std::array<uint8_t, 64> kZigzagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The standard luminance table (T.81 table K.1), row order.
constexpr std::array<uint16_t, 64> kStandardLuminance = {16, 11, 10, 16, 24,  40,  51,  61,   //
                                                         12, 12, 14, 19, 26,  58,  60,  55,   //
                                                         14, 13, 16, 24, 40,  57,  69,  56,   //
                                                         14, 17, 22, 29, 51,  87,  80,  62,   //
                                                         18, 22, 37, 56, 68,  109, 103, 77,   //
                                                         24, 35, 55, 64, 81,  104, 113, 92,   //
                                                         49, 64, 78, 87, 103, 121, 120, 101,  //
                                                         72, 92, 95, 98, 112, 100, 103, 99};

struct MarkerName {
  uint8_t code;
  const char* name;
};
constexpr std::array<MarkerName, 12> kMarkerNames = {{
    {kSof0, "SOF0 (baseline)"},
    {kSof2, "SOF2 (progressive)"},
    {kDht, "DHT (huffman)"},
    {kSos, "SOS (scan start)"},
    {kDqt, "DQT (quantization)"},
    {kDri, "DRI (restart interval)"},
    {kApp0, "APP0"},
    {kApp1, "APP1"},
    {kApp2, "APP2"},
    {kApp13, "APP13"},
    {kApp14, "APP14"},
    {kCom, "COM (comment)"},
}};

constexpr std::array<const char*, 3> kDensityUnits = {"aspect-ratio", "dpi", "dpcm"};
constexpr std::array<const char*, 5> kColorSpaceByComponents = {"unknown", "grayscale", "unknown",
                                                                "YCbCr/RGB", "CMYK/YCCK"};

// Shorter files cannot hold SOI plus one segment header; only the empty directory is reported.
constexpr uint64_t kMinWalkBytes = 6;
constexpr size_t kTypicalSegments = 16;

const char* marker_name(uint8_t code) {
  for (const auto& m : kMarkerNames) {
    if (m.code == code) return m.name;
  }
  return "other";
}

// Short record texts are assembled here rather than in strings: the record copies them anyway.
class ShortText {
 public:
  ShortText& add(std::string_view s) {
    const size_t n = std::min(s.size(), buf_.size() - len_);
    std::copy_n(s.begin(), n, buf_.begin() + static_cast<ptrdiff_t>(len_));
    len_ += n;
    return *this;
  }
  ShortText& add(char c) { return add(std::string_view(&c, 1)); }
  ShortText& number(uint32_t v) {
    char digits[10];
    const auto res = std::to_chars(digits, digits + sizeof digits, v);
    return add(std::string_view(digits, static_cast<size_t>(res.ptr - digits)));
  }
  std::string_view view() const { return {buf_.data(), len_}; }

 private:
  std::array<char, 32> buf_{};
  size_t len_ = 0;
};

ShortText marker_text(uint8_t code) {
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  return ShortText().add("FF").add(kDigits[code >> 4]).add(kDigits[code & 0xF]);
}

// The lossy decoder leaves valid UTF-8 untouched and changes every invalid input, so equality
// with the input is exactly validity.
bool decodes_as_is(std::span<const uint8_t> bytes, const std::string& decoded) {
  return std::string_view(decoded) ==
         std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void read_frame(Cursor& pl, uint8_t code, Namespace& ns) {
  const uint8_t bit_depth = pl.u8();
  const uint16_t height = pl.u16be();
  const uint16_t width = pl.u16be();
  const uint8_t components = pl.u8();
  if (!pl.ok()) return;
  ns.set("bit_depth", bit_depth);
  ns.set("height", height);
  ns.set("width", width);
  ns.set("components", components);
  ns.set("progressive", code == kSof2);
  ns.set("color_space_guess", components < kColorSpaceByComponents.size()
                                  ? kColorSpaceByComponents[components]
                                  : "unknown");
}

void read_quantization(Cursor& pl, Namespace& ns) {
  // Only an 8-bit table 0 (first byte 0x00) leading the segment is the luminance table we know.
  const uint8_t precision_and_id = pl.u8();
  const auto table = pl.bytes(64);
  if (!pl.ok() || precision_and_id != 0 || ns.fields().contains("quality_estimate")) return;
  ns.set("quality_estimate", estimate_ijg_quality(table.first<64>()));
}

// Keys of a segment record, in byte order, and their indexes.
enum SegmentKey : size_t {
  kCommentKey,
  kDensityKey,
  kJfifVersionKey,
  kLengthKey,
  kMarkerKey,
  kNameKey,
  kOffsetKey,
  kPayloadKey
};

// The record of the segment being walked: its cells in the list, or nowhere once the list is at
// its cap (the walk still reads the segment for the namespace's own fields).
class SegmentRecord {
 public:
  explicit SegmentRecord(RecordList* list) : list_(list) {}
  void set(SegmentKey k, std::string_view text) {
    if (list_) list_->set(k, text);
  }
  void set(SegmentKey k, uint64_t v) {
    if (list_) list_->set(k, v);
  }

 private:
  RecordList* list_;
};

void read_jfif(Cursor& pl, SegmentRecord& record) {
  if (!pl.matches(0, kJfifSignature)) return;
  pl.skip(kJfifSignature.size());
  const uint8_t major = pl.u8();
  const uint8_t minor = pl.u8();
  const uint8_t unit = pl.u8();
  const uint16_t x_density = pl.u16be();
  const uint16_t y_density = pl.u16be();
  if (!pl.ok()) return;
  // The minor version has at least two digits.
  ShortText version;
  version.number(major).add('.');
  if (minor < 10) version.add('0');
  record.set(kJfifVersionKey, version.number(minor).view());
  ShortText density;
  density.number(x_density).add('x').number(y_density).add(' ');
  record.set(kDensityKey,
             density.add(unit < kDensityUnits.size() ? kDensityUnits[unit] : "?").view());
}

void read_app1(Cursor& pl, SegmentRecord& record, Namespace& ns) {
  if (pl.matches(0, formats::kExifHeader)) {
    record.set(kPayloadKey, "EXIF");
    return;
  }
  if (!pl.matches(0, kXmpSignature)) return;
  record.set(kPayloadKey, "XMP");
  const auto packet = pl.clamped(kXmpSignature.size(), pl.size());
  if (decodes_as_is(packet, utf8_lossy(packet))) ns.set("xmp_packet_chars", packet.size());
}

void read_comment(std::span<const uint8_t> payload, SegmentRecord& record) {
  std::string text = utf8_lossy(payload);
  if (!decodes_as_is(payload, text)) return;
  while (!text.empty() && text.back() == '\0')
    text.pop_back();
  record.set(kCommentKey, text);
}

// Segments whose payload adds to the report (see describe_segment).
bool describes(uint8_t code) {
  switch (code) {
    case kDqt:
    case kApp0:
    case kApp1:
    case kApp2:
    case kApp13:
    case kCom:
      return true;
    default:
      return (code & 0xFC) == kSof0;
  }
}

// Adds what one segment's payload says to its record and to the namespace. The payload is empty
// when the length field is below 2 or runs past the end.
void describe_segment(uint8_t code, Cursor& pl, SegmentRecord& record, Namespace& ns) {
  // C0 to C3: baseline, extended, progressive and lossless Huffman frames share one layout.
  if ((code & 0xFC) == kSof0) {
    read_frame(pl, code, ns);
    return;
  }
  switch (code) {
    case kDqt:
      read_quantization(pl, ns);
      break;
    case kApp0:
      read_jfif(pl, record);
      break;
    case kApp1:
      read_app1(pl, record, ns);
      break;
    case kApp2:
      if (pl.matches(0, kIccSignature)) {
        record.set(kPayloadKey, "ICC profile");
      }
      break;
    case kApp13:
      if (pl.matches(0, kPhotoshopSignature)) {
        record.set(kPayloadKey, "Photoshop IRB (IPTC likely)");
      }
      break;
    case kCom:
      // A cut-off comment is unreadable; reporting it as the empty comment would be wrong.
      read_comment(pl.clamped(0, pl.size()), record);
      break;
    default:
      break;
  }
}

void walk_segments(Cursor& r, Namespace& ns) {
  // Always present, even when empty.
  RecordList segments(
      {"comment", "density", "jfif_version", "length", "marker", "name", "offset", "payload"});
  // Room for the segments of a typical file up to its scan, so the list does not regrow.
  segments.reserve(kTypicalSegments);
  uint64_t p = 2;  // SOI was checked by supports()
  while (r.size() >= kMinWalkBytes && r.has(p, 4)) {
    r.seek(p);
    const uint8_t prefix = r.u8();
    const uint8_t code = r.u8();
    const uint16_t length = r.u16be();
    if (!r.ok()) break;
    if (prefix != kMarkerPrefix) {
      // Bytes between segments are passed over up to the next FF, a window at a time.
      const auto window = r.clamped(p, kMarkerScanStep);
      if (window.empty()) break;
      const auto ff = std::find(window.begin(), window.end(), kMarkerPrefix);
      p += static_cast<uint64_t>(ff - window.begin());
      continue;
    }
    // RST0-RST7 and SOI stand alone, without a length field.
    if (code >= kRst0 && code <= kSoi) {
      p += 2;
      continue;
    }
    if (code == kEoi) break;
    const uint64_t end = p + 2 + length;
    // Only payloads that say something are fetched, and only whole; the rest are passed over by
    // their length.
    Cursor payload =
        length >= 2 && describes(code) ? r.part(p + 4, length - 2u) : Cursor(ByteSpan{});

    // Past the cap the walk goes on for the frame and scan facts, without listing.
    const bool listed = segments.size() < limits::kMaxJpegSegments;
    if (listed) {
      segments.add();
    } else {
      ns.set("segments_truncated", true);
    }
    SegmentRecord record(listed ? &segments : nullptr);
    record.set(kMarkerKey, marker_text(code).view());
    record.set(kNameKey, marker_name(code));
    record.set(kOffsetKey, p);
    record.set(kLengthKey, uint64_t{length});
    describe_segment(code, payload, record, ns);

    if (code == kSos) {
      ns.set("scan_data_offset", end);
      break;
    }
    // A length below 2 still moves on (by 2 or 3 bytes), so the walk always advances.
    p = end;
  }
  ns.set("segments", std::move(segments));
}

}  // namespace

uint32_t estimate_ijg_quality(std::span<const uint8_t, 64> table) {
  // The IJG luminance table at every quality, in zigzag order, built at compile time. Each
  // entry fits a byte, so the distance below is a sum of absolute byte differences, which
  // compilers turn into a few vector instructions per quality.
  using Tables = std::array<std::array<uint8_t, 64>, 100>;
  static constexpr Tables kScaled = [] {
    Tables t{};
    for (uint32_t q = 1; q <= 100; ++q) {
      const uint32_t scale = q < 50 ? 5000 / q : 200 - 2 * q;
      for (size_t k = 0; k < 64; ++k) {
        const uint32_t reference = kStandardLuminance[kZigzagToNatural[k]];
        t[q - 1][k] = static_cast<uint8_t>(std::clamp((reference * scale + 50) / 100, 1u, 255u));
      }
    }
    return t;
  }();
  uint32_t best_quality = 1;
  uint32_t best_error = UINT32_MAX;
  for (uint32_t q = 1; q <= 100; ++q) {
    const std::array<uint8_t, 64>& expected = kScaled[q - 1];
    uint32_t error = 0;
    for (size_t k = 0; k < 64; ++k) {
      const int diff = static_cast<int>(table[k]) - static_cast<int>(expected[k]);
      error += static_cast<uint32_t>(diff < 0 ? -diff : diff);
    }
    // The first quality with the smallest distance wins; none can beat an exact match.
    if (error < best_error) {
      best_error = error;
      best_quality = q;
      if (error == 0) break;
    }
  }
  return best_quality;
}

const char* JpegExtractor::name() const {
  return "jpeg";
}

bool JpegExtractor::supports(const ProbeContext& ctx) const {
  return ByteReader(ctx.header).matches(0, formats::kJpegStart);
}

ExtractResult JpegExtractor::extract(ByteSource& src, const ProbeContext& ctx) const {
  return walk_source(src, ctx, [](Cursor& c) -> ExtractResult {
    Namespace ns("jpeg");
    walk_segments(c, ns);
    return ns;
  });
}

}  // namespace vorlix_core::extractors
