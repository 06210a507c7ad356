#include "exif/container.hpp"

#include <algorithm>
#include <array>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "exif/heif.hpp"
#include "formats/jpeg.hpp"
#include "formats/signatures.hpp"
#include "source_reader.hpp"

namespace vorlix_core::exif {
namespace {

// Containers are recognised from at most this many leading bytes.
constexpr size_t kProbeBytes = 4096;

using namespace formats::jpeg;

// The container walks read forward through a Cursor; lengths are skipped without reading what
// they pass over. Running out of data is reported with the container's own "Broken ... file"
// text; a failed read takes the same path, and locate_tiff reports the I/O error instead.
class Walk {
 public:
  Walk(Cursor& in, const char* broken) : in_(in), broken_(broken) {}
  Cursor& in() { return in_; }
  ContainerError broken() const { return ContainerError{broken_}; }

  // Consumes bytes up to and including the next `value`; false when the data ends first.
  bool skip_past(uint8_t value) {
    for (;;) {
      const auto step = in_.clamped(in_.pos(), kMarkerScanStep);
      if (step.empty()) return false;
      const auto hit = std::find(step.begin(), step.end(), value);
      in_.seek(in_.pos() + static_cast<uint64_t>(hit - step.begin()));
      if (hit != step.end()) {
        in_.skip(1);
        return true;
      }
    }
  }

  // The next n bytes as the TIFF block: copied when small, else left in place once its last
  // byte is known to be there.
  LocateResult block(uint64_t n) {
    if (n <= kMaxCopiedBlock) {
      const auto s = in_.bytes(n);
      if (!in_.ok()) return broken();
      return TiffBlock(s.begin(), s.end());
    }
    const uint64_t start = in_.pos();
    in_.skip(n - 1);
    in_.u8();
    if (!in_.ok()) return broken();
    return SourceRange{start, n};
  }

 private:
  Cursor& in_;
  const char* broken_;
};

// Codes that stand alone, without a length: TEM, RSTn and the 00 of stuffed FF bytes.
bool jpeg_standalone(uint8_t code) {
  return code == 0x00 || code == kTem || (code & 0xF8) == kRst0;
}

LocateResult walk_jpeg(Walk& w) {
  Cursor& in = w.in();
  in.skip(2);  // SOI, already matched by the probe
  if (!in.ok()) return w.broken();
  for (;;) {
    // Whatever lies between segments (scan data, garbage) is passed over up to the next FF.
    if (!w.skip_past(kMarkerPrefix)) return w.broken();
    uint8_t code = in.u8();
    while (in.ok() && code == kMarkerPrefix)
      code = in.u8();  // fill bytes
    if (!in.ok()) return w.broken();
    if (jpeg_standalone(code)) continue;
    if (code == kSoi) return ContainerError{"Unexpected SOI"};
    if (code == kEoi) return NotFound{};
    const uint16_t length = in.u16be();
    if (!in.ok()) return w.broken();
    if (length < 2) return ContainerError{"Invalid segment length"};
    if (code != kApp1) {
      in.skip(length - 2u);
      if (!in.ok()) return w.broken();
      continue;
    }
    // At most 65533 bytes: one window.
    Cursor payload(in.bytes(length - 2u));
    if (!in.ok()) return w.broken();
    if (payload.matches(0, formats::kExifHeader)) {
      const auto tiff = payload.clamped(formats::kExifHeader.size(), payload.size());
      return TiffBlock(tiff.begin(), tiff.end());
    }
  }
}

LocateResult walk_png(Walk& w) {
  Cursor& in = w.in();
  in.skip(formats::kPngSignature.size());  // already matched by the probe
  if (!in.ok()) return w.broken();
  for (;;) {
    if (in.clamped(in.pos(), 1).empty()) return NotFound{};
    // Chunk length and type; CRCs, order and IEND are not looked at.
    const uint32_t length = in.u32be();
    const auto type = in.bytes(4);
    if (!in.ok()) return w.broken();
    if (ByteReader(type).matches(0, "eXIf")) return w.block(length);
    in.skip(uint64_t{length} + 4);  // data and CRC
    if (!in.ok()) return w.broken();
  }
}

LocateResult walk_webp(Walk& w) {
  constexpr const char* kOverflow = "Chunk overflowing parent";
  Cursor& in = w.in();
  in.skip(4);  // "RIFF", already matched
  const uint32_t riff_size = in.u32le();
  in.skip(4);  // "WEBP", already matched
  if (!in.ok()) return w.broken();
  if (riff_size < 4) return ContainerError{"Invalid header file size"};
  uint64_t left = riff_size - 4u;  // after "WEBP"
  while (left > 0) {
    if (left < 8) return ContainerError{kOverflow};
    left -= 8;
    const bool exif = in.matches(in.pos(), "EXIF");
    in.skip(4);
    const uint32_t size = in.u32le();
    if (!in.ok()) return w.broken();
    if (size > left) return ContainerError{kOverflow};
    left -= size;
    if (exif) return w.block(size);
    uint64_t skip = size;
    if (size % 2 == 1 && left > 0) {  // pad byte, when the parent still has room for it
      --left;
      ++skip;
    }
    in.skip(skip);
    if (!in.ok()) return w.broken();
  }
  return NotFound{};
}

LocateResult walk(const SourceReader& file) {
  Cursor in(file);
  // The view lasts only until the next read: every look at it below comes before a walk starts
  // reading.
  const std::span<const uint8_t> probe = in.clamped(0, kProbeBytes);
  const ByteReader p(probe);

  if (p.matches(0, formats::kTiffLittleEndian) || p.matches(0, formats::kTiffBigEndian)) {
    return SourceRange{0, file.size()};
  }
  if (p.matches(0, formats::kJpegStart.substr(0, 2))) {
    Walk w(in, "Broken JPEG file");
    return walk_jpeg(w);
  }
  if (p.matches(0, formats::kPngSignature)) {
    Walk w(in, "Broken PNG file");
    return walk_png(w);
  }
  // The item data may sit anywhere in the file: the walk reads the file where its boxes point.
  if (is_heif(probe)) return locate_in_heif(file);
  if (p.matches(0, formats::kRiffMagic) &&
      p.matches(formats::kRiffFormOffset, formats::kRiffFormWebp)) {
    Walk w(in, "Broken WebP file");
    return walk_webp(w);
  }
  return ContainerError{"Unknown image format"};
}

}  // namespace

LocateResult locate_tiff(const SourceReader& file) {
  LocateResult r = walk(file);
  // A walk takes a failing read for the end of its data; the failure is what counts.
  if (file.error()) return ContainerError{file.error()->display()};
  return r;
}

}  // namespace vorlix_core::exif
