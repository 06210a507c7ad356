#include "exif/container.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "byte_reader.hpp"
#include "exif/heif.hpp"
#include "source_reader.hpp"
#include "vorlix/result.hpp"

namespace vorlix_core::exif {
namespace {

// Containers are recognised from at most this many leading bytes.
constexpr size_t kProbeBytes = 4096;

constexpr uint8_t kTiffLe[] = {0x49, 0x49, 0x2A, 0x00};
constexpr uint8_t kTiffBe[] = {0x4D, 0x4D, 0x00, 0x2A};
constexpr uint8_t kJpegSoi[] = {0xFF, 0xD8};
constexpr uint8_t kPngSignature[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint8_t kExifId[] = {'E', 'x', 'i', 'f', 0x00, 0x00};

template <class T>
using Walk = Result<T, ContainerError>;

ContainerError io_failure(const IoError& e) {
  return ContainerError{e.display()};
}

// A forward walk over the source, as the JPEG, PNG and WebP walks need; lengths are skipped
// without reading what they pass over. Running out of data is reported with the container's own
// "Broken ... file" text, a failing read with its I/O text.
class Cursor {
 public:
  Cursor(RandomAccess& ra, uint64_t pos, const char* broken)
      : ra_(ra), pos_(pos), broken_(broken) {}

  uint64_t pos() const { return pos_; }

  // True when no further byte can be read.
  Walk<bool> at_end() {
    auto r = ra_.read_at(pos_, 1);
    if (!r) return Err{io_failure(r.error())};
    return r->empty();
  }

  // Exactly n bytes (n at most one window), valid until the next read.
  Walk<std::span<const uint8_t>> take(uint64_t n) {
    auto r = ra_.read_at(pos_, n);
    if (!r) return Err{io_failure(r.error())};
    if (r->size() < n) return Err{broken()};
    pos_ += n;
    return *r;
  }

  Walk<uint8_t> byte() {
    auto s = take(1);
    if (!s) return Err{s.error()};
    return (*s)[0];
  }

  Walk<Unit> skip(uint64_t n) {
    if (pos_ > ra_.size() || n > ra_.size() - pos_) return Err{broken()};
    pos_ += n;
    return Unit{};
  }

  // Consumes bytes up to and including the next `value`.
  Walk<Unit> skip_past(uint8_t value) {
    for (;;) {
      auto r = ra_.read_at(pos_, kScanStep);
      if (!r) return Err{io_failure(r.error())};
      if (r->empty()) return Err{broken()};
      const auto hit = std::find(r->begin(), r->end(), value);
      pos_ += static_cast<uint64_t>(hit - r->begin());
      if (hit != r->end()) {
        ++pos_;
        return Unit{};
      }
    }
  }

  // The next n bytes as the TIFF block: copied when small, else left in place once its last
  // byte is known to be there.
  LocateResult block(uint64_t n) {
    if (n <= kMaxCopiedBlock) {
      auto s = take(n);
      if (!s) return s.error();
      return TiffBlock(s->begin(), s->end());
    }
    const uint64_t start = pos_;
    if (auto s = skip(n - 1); !s) return s.error();
    if (auto s = take(1); !s) return s.error();
    return SourceRange{start, n};
  }

 private:
  // Small steps stay inside the window that holds the segment just read.
  static constexpr uint64_t kScanStep = 4096;

  ContainerError broken() const { return ContainerError{broken_}; }

  RandomAccess& ra_;
  uint64_t pos_;
  const char* broken_;
};

// Codes that stand alone, without a length: TEM, RSTn and the 00 of stuffed FF bytes.
bool jpeg_standalone(uint8_t code) {
  return code == 0x00 || code == 0x01 || (code & 0xF8) == 0xD0;
}

LocateResult walk_jpeg(Cursor& in) {
  constexpr uint8_t kSoi = 0xD8, kEoi = 0xD9, kApp1 = 0xE1;
  if (auto s = in.skip(2); !s) return s.error();  // SOI, already matched by the probe
  for (;;) {
    // Whatever lies between segments (scan data, garbage) is passed over up to the next FF.
    if (auto s = in.skip_past(0xFF); !s) return s.error();
    auto code = in.byte();
    while (code && *code == 0xFF)
      code = in.byte();  // fill bytes
    if (!code) return code.error();
    if (jpeg_standalone(*code)) continue;
    if (*code == kSoi) return ContainerError{"Unexpected SOI"};
    if (*code == kEoi) return NotFound{};
    auto two = in.take(2);
    if (!two) return two.error();
    const uint16_t length = ByteReader(*two).u16be(0).value_or(0);
    if (length < 2) return ContainerError{"Invalid segment length"};
    if (*code != kApp1) {
      if (auto s = in.skip(length - 2u); !s) return s.error();
      continue;
    }
    // At most 65533 bytes: one window.
    auto payload = in.take(length - 2u);
    if (!payload) return payload.error();
    const ByteReader r(*payload);
    if (r.matches(0, kExifId)) {
      auto tiff = r.tail(sizeof kExifId);
      return TiffBlock(tiff.begin(), tiff.end());
    }
  }
}

LocateResult walk_png(Cursor& in) {
  for (;;) {
    auto end = in.at_end();
    if (!end) return end.error();
    if (*end) return NotFound{};
    // Chunk length and type; CRCs, order and IEND are not looked at.
    auto head = in.take(8);
    if (!head) return head.error();
    const ByteReader r(*head);
    const uint32_t length = r.u32be(0).value_or(0);
    if (r.matches(4, "eXIf")) {
      return in.block(length);
    }
    if (auto s = in.skip(uint64_t{length} + 4); !s) return s.error();  // data and CRC
  }
}

LocateResult walk_webp(Cursor& in) {
  constexpr const char* kOverflow = "Chunk overflowing parent";
  auto riff = in.take(12);  // "RIFF", size, "WEBP", already matched
  if (!riff) return riff.error();
  const uint32_t riff_size = ByteReader(*riff).u32le(4).value_or(0);
  if (riff_size < 4) return ContainerError{"Invalid header file size"};
  uint64_t left = riff_size - 4u;  // after "WEBP"
  while (left > 0) {
    if (left < 8) return ContainerError{kOverflow};
    left -= 8;
    auto head = in.take(8);
    if (!head) return head.error();
    const ByteReader r(*head);
    const uint32_t size = r.u32le(4).value_or(0);
    const bool exif = r.matches(0, "EXIF");
    if (size > left) return ContainerError{kOverflow};
    left -= size;
    if (exif) {
      return in.block(size);
    }
    uint64_t skip = size;
    if (size % 2 == 1 && left > 0) {  // pad byte, when the parent still has room for it
      --left;
      ++skip;
    }
    if (auto s = in.skip(skip); !s) return s.error();
  }
  return NotFound{};
}

LocateResult walk(RandomAccess& ra) {
  auto read = ra.read_at(0, kProbeBytes);
  if (!read) return io_failure(read.error());
  // The view lasts only until the next read: every look at it below comes before a walk starts
  // reading.
  const std::span<const uint8_t> probe = *read;
  const ByteReader p(probe);

  if (p.matches(0, kTiffLe) || p.matches(0, kTiffBe)) return SourceRange{0, ra.size()};
  if (p.matches(0, kJpegSoi)) {
    Cursor in(ra, 0, "Broken JPEG file");
    return walk_jpeg(in);
  }
  if (p.matches(0, kPngSignature)) {
    Cursor in(ra, sizeof kPngSignature, "Broken PNG file");  // signature already matched
    return walk_png(in);
  }
  // The item data may sit anywhere in the file: the walk reads the file where its boxes point.
  if (is_heif(probe)) return locate_in_heif(SourceReader(ra));
  if (p.matches(0, "RIFF") && p.matches(8, "WEBP")) {
    Cursor in(ra, 0, "Broken WebP file");
    return walk_webp(in);
  }
  return ContainerError{"Unknown image format"};
}

}  // namespace

LocateResult locate_tiff(RandomAccess& ra) {
  LocateResult r = walk(ra);
  // A walk takes a failing read for the end of its data; the failure is what counts.
  if (ra.error()) return io_failure(*ra.error());
  return r;
}

}  // namespace vorlix_core::exif
