#include "exif/container.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "byte_reader.hpp"
#include "exif/heif.hpp"
#include "vorlix/result.hpp"

namespace vorlix_core::exif {
namespace {

// Containers are recognised from at most this many leading bytes.
constexpr size_t kProbeBytes = 4096;
constexpr size_t kReadChunk = 65536;

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

// Serves the probe's bytes and then the rest of the source, strictly forwards, as the JPEG,
// PNG and WebP walks need: they never seek, and they read only as far as the EXIF block. Running
// out of data is reported with the container's own "Broken ... file" text.
class ForwardReader {
 public:
  ForwardReader(ByteSource& src, std::vector<uint8_t> probe, const char* broken)
      : src_(src), buf_(std::move(probe)), len_(buf_.size()), broken_(broken) {
    buf_.resize(std::max(buf_.size(), kReadChunk));
  }

  // True when no further byte can be read.
  Walk<bool> at_end() {
    auto f = fill();
    if (!f) return Err{f.error()};
    return pos_ == len_;
  }

  Walk<Unit> read(std::span<uint8_t> out) {
    size_t done = 0;
    while (done < out.size()) {
      auto f = available();
      if (!f) return Err{f.error()};
      const size_t n = std::min(out.size() - done, len_ - pos_);
      std::copy_n(buf_.begin() + static_cast<ptrdiff_t>(pos_), n, out.begin() + done);
      pos_ += n;
      done += n;
    }
    return Unit{};
  }

  Walk<uint8_t> byte() {
    auto f = available();
    if (!f) return Err{f.error()};
    return buf_[pos_++];
  }

  Walk<Unit> skip(uint64_t n) {
    while (n > 0) {
      auto f = available();
      if (!f) return Err{f.error()};
      const size_t step = static_cast<size_t>(std::min<uint64_t>(n, len_ - pos_));
      pos_ += step;
      n -= step;
    }
    return Unit{};
  }

  // Consumes bytes up to and including the next `value`.
  Walk<Unit> skip_past(uint8_t value) {
    for (;;) {
      auto f = available();
      if (!f) return Err{f.error()};
      const auto begin = buf_.begin() + static_cast<ptrdiff_t>(pos_);
      const auto end = buf_.begin() + static_cast<ptrdiff_t>(len_);
      const auto hit = std::find(begin, end, value);
      pos_ = static_cast<size_t>(hit - buf_.begin());
      if (hit != end) {
        ++pos_;
        return Unit{};
      }
    }
  }

  // Exactly n bytes into `out`. `out` grows only with the bytes actually delivered, so a
  // declared length far beyond the data costs no more than the data.
  Walk<Unit> read_block(uint64_t n, std::vector<uint8_t>& out) {
    out.clear();
    while (n > 0) {
      auto f = available();
      if (!f) return Err{f.error()};
      const size_t step = static_cast<size_t>(std::min<uint64_t>(n, len_ - pos_));
      const auto from = buf_.begin() + static_cast<ptrdiff_t>(pos_);
      out.insert(out.end(), from, from + static_cast<ptrdiff_t>(step));
      pos_ += step;
      n -= step;
    }
    return Unit{};
  }

 private:
  // Refills an exhausted buffer; afterwards pos_ == len_ only at the end of the data.
  Walk<Unit> fill() {
    if (pos_ < len_) return Unit{};
    auto r = src_.read(buf_);
    if (!r) return Err{io_failure(r.error())};
    pos_ = 0;
    len_ = *r;
    return Unit{};
  }
  // Like fill, but the end of the data is an error.
  Walk<Unit> available() {
    auto f = fill();
    if (!f) return f;
    if (pos_ == len_) return Err{ContainerError{broken_}};
    return Unit{};
  }

  ByteSource& src_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0;
  size_t len_;
  const char* broken_;
};

// Codes that stand alone, without a length: TEM, RSTn and the 00 of stuffed FF bytes.
bool jpeg_standalone(uint8_t code) {
  return code == 0x00 || code == 0x01 || (code & 0xF8) == 0xD0;
}

LocateResult walk_jpeg(ForwardReader& in) {
  constexpr uint8_t kSoi = 0xD8, kEoi = 0xD9, kApp1 = 0xE1;
  std::array<uint8_t, 2> two{};
  if (auto s = in.read(two); !s) return s.error();  // SOI, already matched by the probe
  std::vector<uint8_t> payload;
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
    if (auto s = in.read(two); !s) return s.error();
    const uint16_t length = *ByteReader(two).u16be(0);
    if (length < 2) return ContainerError{"Invalid segment length"};
    if (*code != kApp1) {
      if (auto s = in.skip(length - 2u); !s) return s.error();
      continue;
    }
    if (auto s = in.read_block(length - 2u, payload); !s) return s.error();
    const ByteReader r(payload);
    if (r.matches(0, kExifId)) {
      auto tiff = r.tail(sizeof kExifId);
      return TiffBlock(tiff.begin(), tiff.end());
    }
  }
}

LocateResult walk_png(ForwardReader& in) {
  std::array<uint8_t, 8> head{};
  if (auto s = in.read(head); !s) return s.error();  // signature, already matched
  for (;;) {
    auto end = in.at_end();
    if (!end) return end.error();
    if (*end) return NotFound{};
    // Chunk length and type; CRCs, order and IEND are not looked at.
    if (auto s = in.read(head); !s) return s.error();
    const ByteReader r(head);
    const uint32_t length = *r.u32be(0);
    if (r.matches(4, "eXIf")) {
      TiffBlock block;
      if (auto s = in.read_block(length, block); !s) return s.error();
      return block;
    }
    if (auto s = in.skip(uint64_t{length} + 4); !s) return s.error();  // data and CRC
  }
}

LocateResult walk_webp(ForwardReader& in) {
  constexpr const char* kOverflow = "Chunk overflowing parent";
  std::array<uint8_t, 12> riff{};
  if (auto s = in.read(riff); !s) return s.error();  // "RIFF", size, "WEBP", already matched
  const uint32_t riff_size = *ByteReader(riff).u32le(4);
  if (riff_size < 4) return ContainerError{"Invalid header file size"};
  uint64_t left = riff_size - 4u;  // after "WEBP"
  std::array<uint8_t, 8> head{};
  while (left > 0) {
    if (left < 8) return ContainerError{kOverflow};
    left -= 8;
    if (auto s = in.read(head); !s) return s.error();
    const ByteReader r(head);
    const uint32_t size = *r.u32le(4);
    if (size > left) return ContainerError{kOverflow};
    left -= size;
    if (r.matches(0, "EXIF")) {
      TiffBlock block;
      if (auto s = in.read_block(size, block); !s) return s.error();
      return block;
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

}  // namespace

LocateResult locate_tiff(ByteSource& src) {
  std::vector<uint8_t> probe(kProbeBytes);
  size_t got = 0;
  while (got < probe.size()) {
    auto r = src.read(std::span<uint8_t>(probe).subspan(got));
    if (!r) return io_failure(r.error());
    if (*r == 0) break;
    got += *r;
  }
  probe.resize(got);
  const ByteReader p(probe);

  if (p.matches(0, kTiffLe) || p.matches(0, kTiffBe)) {
    auto r = src.read_to_end(probe);
    if (!r) return io_failure(r.error());
    return probe;
  }
  if (p.matches(0, kJpegSoi)) {
    ForwardReader in(src, std::move(probe), "Broken JPEG file");
    return walk_jpeg(in);
  }
  if (p.matches(0, kPngSignature)) {
    ForwardReader in(src, std::move(probe), "Broken PNG file");
    return walk_png(in);
  }
  if (is_heif(probe)) {
    // The item data may sit anywhere in the file, so the walk starts over on the whole content.
    if (auto r = src.seek(0, Whence::Start); !r) return io_failure(r.error());
    auto content = Content::read_from(src);
    if (!content) return io_failure(content.error());
    return locate_in_heif(content->bytes());
  }
  if (p.matches(0, "RIFF") && p.matches(8, "WEBP")) {
    ForwardReader in(src, std::move(probe), "Broken WebP file");
    return walk_webp(in);
  }
  return ContainerError{"Unknown image format"};
}

}  // namespace vorlix_core::exif
