#include "exif/container.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "test_support.hpp"

namespace vorlix_core::exif {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes be16(uint16_t v) {
  return {uint8_t(v >> 8), uint8_t(v)};
}
Bytes be32(uint32_t v) {
  return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}
Bytes be64(uint64_t v) {
  return {uint8_t(v >> 56), uint8_t(v >> 48), uint8_t(v >> 40), uint8_t(v >> 32),
          uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8),  uint8_t(v)};
}
Bytes le32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
// The bytes of a literal, embedded NULs included, without the terminating NUL.
template <size_t N>
Bytes b(const char (&s)[N]) {
  return Bytes(s, s + N - 1);
}
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes zeros(size_t n) {
  return Bytes(n, 0);
}

// Stand-ins for TIFF blocks; the container walk never looks inside them.
const Bytes kTiff1 = b("II*\0\x08\0\0\0\x01");
const Bytes kTiff2 = b("MM\0*\0\0\0\x08\x02");

LocateResult block(Bytes bytes) {
  return TiffBlock(std::move(bytes));
}
// A bare TIFF: the whole input, read in place.
LocateResult whole(const Bytes& input) {
  return SourceRange{0, input.size()};
}
LocateResult error(const char* text) {
  return ContainerError{text};
}
const LocateResult kNotFound = NotFound{};

std::string describe(const LocateResult& r) {
  if (const auto* blk = std::get_if<TiffBlock>(&r)) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "block[" + std::to_string(blk->size()) + "] ";
    for (size_t i = 0; i < blk->size() && i < 32; ++i) {
      out += kHex[(*blk)[i] >> 4];
      out += kHex[(*blk)[i] & 15];
    }
    return out;
  }
  if (const auto* range = std::get_if<SourceRange>(&r)) {
    return "range[" + std::to_string(range->offset) + ", " + std::to_string(range->length) + "]";
  }
  if (std::holds_alternative<NotFound>(r)) return "not found";
  return "error: " + std::get<ContainerError>(r).message;
}

LocateResult locate(ByteSource& src, uint64_t length) {
  RandomAccess ra(src, length);
  return locate_tiff(SourceReader(ra));
}
LocateResult locate(const Bytes& input) {
  MemorySource src(input);
  return locate(src, input.size());
}

struct Case {
  const char* name;
  Bytes input;
  LocateResult expected;
};

void check_all(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto got = locate(c.input);
    EXPECT_EQ(describe(got), describe(c.expected));
    // describe() shows only a prefix; whole blocks must match too.
    if (std::holds_alternative<TiffBlock>(c.expected) && std::holds_alternative<TiffBlock>(got)) {
      EXPECT_EQ(std::get<TiffBlock>(got), std::get<TiffBlock>(c.expected));
    }
  }
}

// ---------------------------------------------------------------- recognition

TEST(ExifContainer, RecognitionFromTheLeadingBytes) {
  Bytes big_tiff = cat({kTiff1, zeros(10000), b("end")});
  check_all({
      {"empty stream", {}, error("Unknown image format")},
      {"one byte", b("\xff"), error("Unknown image format")},
      {"SOI alone is JPEG", b("\xff\xd8"), error("Broken JPEG file")},
      {"LE TIFF signature alone", b("II*\0"), whole(b("II*\0"))},
      {"BE TIFF is the whole stream", kTiff2, whole(kTiff2)},
      {"TIFF past the probe is the whole stream", big_tiff, whole(big_tiff)},
      {"byte-order mark with the other order's 42", b("II\0*\x08\0\0\0"),
       error("Unknown image format")},
      {"GIF", b("GIF89a\x01\0\x01\0\0\0\0"), error("Unknown image format")},
      {"PNG signature cut short", b("\x89PNG\r\n\x1a"), error("Unknown image format")},
      {"RIFF WEBP in 11 bytes", b("RIFF\x04\0\0\0WEB"), error("Unknown image format")},
      {"RIFF of another form", b("RIFF\x04\0\0\0WAVE"), error("Unknown image format")},
  });
}

// ---------------------------------------------------------------- JPEG

Bytes segment(uint8_t code, const Bytes& payload) {
  return cat({{0xFF, code}, be16(uint16_t(payload.size() + 2)), payload});
}
const Bytes kSoi = {0xFF, 0xD8};
const Bytes kEoi = {0xFF, 0xD9};
Bytes exif_app1(const Bytes& tiff) {
  return segment(0xE1, cat({b("Exif\0\0"), tiff}));
}
const Bytes kDqt = segment(0xDB, b("\0\x01\x01"));  // table id 0, two of its values

TEST(ExifContainer, Jpeg) {
  check_all({
      {"APP1 Exif", cat({kSoi, kDqt, exif_app1(kTiff1), kEoi}), block(kTiff1)},
      {"no APP1, ends at EOI", cat({kSoi, kDqt, kEoi}), kNotFound},
      {"bytes after EOI are never read", cat({kSoi, kEoi, kSoi}), kNotFound},
      {"garbage after SOI and between segments is passed over",
       cat({kSoi, b("abc"), kDqt, b("\x12\x00"), exif_app1(kTiff1), kEoi}), block(kTiff1)},
      {"fill bytes before a marker", cat({kSoi, b("\xff\xff"), exif_app1(kTiff1)}), block(kTiff1)},
      {"stand-alone codes carry no length",
       cat({kSoi, b("\xff\x00\xff\x01\xff\xd0\xff\xd7"), exif_app1(kTiff1)}), block(kTiff1)},
      {"second SOI", cat({kSoi, kDqt, kSoi}), error("Unexpected SOI")},
      {"segment length 1", cat({kSoi, b("\xff\xe0\x00\x01"), zeros(8)}),
       error("Invalid segment length")},
      {"segment length 0", cat({kSoi, b("\xff\xdb\x00\x00"), kEoi}),
       error("Invalid segment length")},
      {"Exif id with a non-zero sixth byte is skipped",
       cat({kSoi, segment(0xE1, cat({b("Exif\0\x01"), kTiff2})), exif_app1(kTiff1), kEoi}),
       block(kTiff1)},
      {"XMP APP1 first",
       cat({kSoi, segment(0xE1, b("http://ns.adobe.com/xap/1.0/\0<x/>")), exif_app1(kTiff1), kEoi}),
       block(kTiff1)},
      {"the first Exif APP1 wins", cat({kSoi, exif_app1(kTiff1), exif_app1(kTiff2), kEoi}),
       block(kTiff1)},
      {"Exif id alone gives an empty block", cat({kSoi, exif_app1({}), kEoi}), block({})},
      {"five-byte payload is no Exif id", cat({kSoi, segment(0xE1, b("Exif\0")), kEoi}), kNotFound},
      {"Exif id in APP0 is ignored", cat({kSoi, segment(0xE0, cat({b("Exif\0\0"), kTiff1})), kEoi}),
       kNotFound},
      {"Exif after the scan, past stuffing and RST",
       cat({kSoi, segment(0xDA, b("\x01\x01\0\0\x3f\0")),  // SOS header
            b("\x12\xff\x00\x34\xff\xd3\x56"),             // scan data
            exif_app1(kTiff2), kEoi}),
       block(kTiff2)},
      {"no EOI", cat({kSoi, kDqt}), error("Broken JPEG file")},
      {"end right after FF", cat({kSoi, b("\xff")}), error("Broken JPEG file")},
      {"end inside fill bytes", cat({kSoi, b("\xff\xff\xff")}), error("Broken JPEG file")},
      {"end inside a length", cat({kSoi, b("\xff\xe1\x01")}), error("Broken JPEG file")},
      {"end inside a payload",
       cat({kSoi, b("\xff\xe1\x01\x00"
                    "Exif\0\0II*\0")}),
       error("Broken JPEG file")},
      {"end inside a skipped payload", cat({kSoi, b("\xff\xdb\x00\x40\x00")}),
       error("Broken JPEG file")},
  });
}

// ---------------------------------------------------------------- PNG

const Bytes kPngSig = b("\x89PNG\r\n\x1a\n");
// Length, type, data and a CRC that is never checked.
Bytes chunk(const char (&type)[5], const Bytes& data) {
  return cat({be32(uint32_t(data.size())), b(type), data, b("CRC!")});
}
const Bytes kIhdr = chunk("IHDR", cat({be32(1), be32(1), b("\x08\0\0\0\0")}));
const Bytes kIend = chunk("IEND", {});

TEST(ExifContainer, Png) {
  check_all({
      {"eXIf before IDAT", cat({kPngSig, kIhdr, chunk("eXIf", kTiff1), kIend}), block(kTiff1)},
      {"eXIf after IEND is still found",
       cat({kPngSig, kIhdr, chunk("IDAT", b("\x78\x9c")), kIend, chunk("eXIf", kTiff2)}),
       block(kTiff2)},
      {"no eXIf", cat({kPngSig, kIhdr, kIend}), kNotFound},
      {"signature alone", kPngSig, kNotFound},
      {"chunk type is case-sensitive", cat({kPngSig, chunk("exif", kTiff1), kIend}), kNotFound},
      {"empty eXIf", cat({kPngSig, chunk("eXIf", {}), kIend}), block({})},
      {"eXIf payload is used as is", cat({kPngSig, chunk("eXIf", cat({b("Exif\0\0"), kTiff1}))}),
       block(cat({b("Exif\0\0"), kTiff1}))},
      {"trailing bytes after IEND", cat({kPngSig, kIhdr, kIend, b("\0\x01\x02")}),
       error("Broken PNG file")},
      {"end inside the eXIf data", cat({kPngSig, be32(100), b("eXIf"), kTiff1}),
       error("Broken PNG file")},
      {"end inside a CRC", cat({kPngSig, be32(0), b("IEND"), b("CR")}), error("Broken PNG file")},
      {"end inside a length", cat({kPngSig, b("\0\0")}), error("Broken PNG file")},
      {"huge skipped chunk", cat({kPngSig, be32(0xFFFFFFFF), b("IDAT"), zeros(20)}),
       error("Broken PNG file")},
      {"huge eXIf", cat({kPngSig, be32(0xFFFFFFFF), b("eXIf"), kTiff1}), error("Broken PNG file")},
      {"large eXIf cut short by one byte",
       cat({kPngSig, be32(70000), b("eXIf"), kTiff1, zeros(70000 - kTiff1.size() - 1)}),
       error("Broken PNG file")},
  });
}

// ---------------------------------------------------------------- WebP

// "RIFF", the declared size, "WEBP", then the chunks.
Bytes riff(uint32_t size, const Bytes& chunks) {
  return cat({b("RIFF"), le32(size), b("WEBP"), chunks});
}
// Id, size, data and a pad byte after odd-sized data.
Bytes rchunk(const char (&id)[5], const Bytes& data) {
  return cat({b(id), le32(uint32_t(data.size())), data, data.size() % 2 ? zeros(1) : Bytes{}});
}
Bytes webp(const Bytes& chunks) {
  return riff(uint32_t(chunks.size() + 4), chunks);
}
const Bytes kVp8x = rchunk("VP8X", b("\x08\0\0\0\0\0\0\0\0\0"));  // flags (EXIF), canvas 1x1

TEST(ExifContainer, WebP) {
  check_all({
      {"EXIF after VP8X", webp(cat({kVp8x, rchunk("EXIF", kTiff1)})), block(kTiff1)},
      {"EXIF after an odd, padded chunk",
       webp(cat({rchunk("ICCP", b("abc")), rchunk("EXIF", kTiff2)})), block(kTiff2)},
      {"no chunks", riff(4, {}), kNotFound},
      {"no EXIF", webp(kVp8x), kNotFound},
      {"chunk id is case-sensitive", webp(rchunk("exif", kTiff1)), kNotFound},
      {"odd last chunk without room for a pad",
       riff(4 + 8 + 3, cat({b("ICCP"), le32(3), b("abc")})), kNotFound},
      {"EXIF payload is used as is", webp(rchunk("EXIF", cat({b("Exif\0\0"), kTiff1}))),
       block(cat({b("Exif\0\0"), kTiff1}))},
      {"size 3", riff(3, {}), error("Invalid header file size")},
      {"size 0", riff(0, kVp8x), error("Invalid header file size")},
      {"room for less than a chunk header", riff(4 + 5, zeros(5)),
       error("Chunk overflowing parent")},
      {"chunk larger than the rest", riff(4 + 8 + 4, cat({b("EXIF"), le32(10), kTiff1})),
       error("Chunk overflowing parent")},
      {"declared size past the data", riff(4 + 8 + 100, cat({b("VP8L"), le32(100), zeros(10)})),
       error("Broken WebP file")},
      {"end inside a chunk header", riff(4 + 16, b("VP8")), error("Broken WebP file")},
      {"end inside the EXIF data", riff(4 + 8 + 100, cat({b("EXIF"), le32(100), kTiff1})),
       error("Broken WebP file")},
      {"huge sizes skip only what is there",
       riff(0xFFFFFFFF, cat({b("VP8L"), le32(0xFFFFFF00), zeros(30)})), error("Broken WebP file")},
  });
}

// Blocks larger than a JPEG segment could hold are left in the source and read in place.
TEST(ExifContainer, LargeChunksAreReadInPlace) {
  const Bytes big = cat({kTiff1, zeros(70000)});
  const uint64_t n = big.size();
  check_all({
      {"PNG eXIf", cat({kPngSig, kIhdr, chunk("eXIf", big), kIend}),
       SourceRange{kPngSig.size() + kIhdr.size() + 8, n}},
      {"WebP EXIF", webp(cat({kVp8x, rchunk("EXIF", big)})), SourceRange{12 + kVp8x.size() + 8, n}},
      {"PNG eXIf of exactly the copy limit", cat({kPngSig, chunk("eXIf", zeros(kMaxCopiedBlock))}),
       block(zeros(kMaxCopiedBlock))},
  });
}

// ---------------------------------------------------------------- HEIF

using Fourcc = const char (&)[5];

// Size, type, payload.
Bytes box(Fourcc type, const Bytes& payload) {
  return cat({be32(uint32_t(payload.size() + 8)), b(type), payload});
}
// A box whose payload starts with version (8 bits) and flags (24 bits).
Bytes full_box(Fourcc type, uint8_t version, const Bytes& payload) {
  return box(type, cat({be32(uint32_t{version} << 24), payload}));
}
// Major brand, minor version, compatible brands.
Bytes ftyp(const Bytes& brands) {
  return box("ftyp", cat({b("heic"), be32(0), brands}));
}
const Bytes kFtyp = ftyp(b("mif1heic"));
Bytes meta(const Bytes& children) {
  return full_box("meta", 0, children);
}
// Version 2: 16-bit item id, protection index, item type, empty name.
Bytes infe(uint16_t id, Fourcc type) {
  return full_box("infe", 2, cat({be16(id), be16(0), b(type), zeros(1)}));
}
// Version 0: 16-bit entry count, then the entries.
Bytes iinf(uint16_t count, const Bytes& entries) {
  return full_box("iinf", 0, cat({be16(count), entries}));
}
const Bytes kIinfExif = iinf(1, infe(1, "Exif"));
// Version 1 with 4-byte offsets and lengths, no base offset or index: the word 0x4400, the item
// count, then the items.
Bytes iloc1(uint16_t count, const Bytes& items) {
  return full_box("iloc", 1, cat({be16(0x4400), be16(count), items}));
}
// A version-1 item: id, construction method, data reference, extent count, (offset, length)s.
Bytes item1(uint16_t id, uint16_t method, std::vector<std::pair<uint32_t, uint32_t>> extents,
            uint16_t data_ref = 0) {
  Bytes out = cat({be16(id), be16(method), be16(data_ref), be16(uint16_t(extents.size()))});
  for (auto [offset, length] : extents)
    out = cat({out, be32(offset), be32(length)});
  return out;
}
// The Exif item: the offset of the TIFF header after this word, then the bytes up to it.
Bytes exif_item(const Bytes& tiff) {
  return cat({be32(0), tiff});
}
const Bytes kItem = exif_item(kTiff1);
uint32_t size32(const Bytes& v) {
  return uint32_t(v.size());
}

// ftyp + meta(iinf Exif id 1, iloc with `item_entry`, idat holding `data`).
Bytes heif_idat(const Bytes& data, const Bytes& item_entry, const Bytes& extra_meta = {}) {
  return cat({kFtyp, meta(cat({kIinfExif, iloc1(1, item_entry), box("idat", data), extra_meta}))});
}
Bytes heif_idat(const Bytes& data) {
  return heif_idat(data, item1(1, 1, {{0, size32(data)}}));
}

// ftyp + meta(iinf, iloc version 0) + mdat holding `data`; the extent points into the mdat.
Bytes heif_mdat(const Bytes& data) {
  auto head = [&](uint32_t at) {
    // Word 0x4400, one item: id 1, data reference 0, one extent (offset, length).
    Bytes iloc = full_box(
        "iloc", 0,
        cat({be16(0x4400), be16(1), be16(1), be16(0), be16(1), be32(at), be32(size32(data))}));
    return cat({kFtyp, meta(cat({kIinfExif, iloc}))});
  };
  const uint32_t at = size32(head(0)) + 8;
  return cat({head(at), box("mdat", data)});
}

TEST(ExifContainer, HeifRecognition) {
  const Bytes rest =
      meta(cat({kIinfExif, iloc1(1, item1(1, 1, {{0, size32(kItem)}})), box("idat", kItem)}));
  check_all({
      {"mif1 as compatible brand", cat({kFtyp, rest}), block(kTiff1)},
      {"msf1 as compatible brand", cat({ftyp(b("msf1")), rest}), block(kTiff1)},
      {"mif1 only as major brand", cat({box("ftyp", b("mif1\0\0\0\0heic")), rest}),
       error("Unknown image format")},
      {"partial trailing brand", cat({ftyp(b("heicmif")), rest}), error("Unknown image format")},
      {"ftyp body under 8 bytes", cat({box("ftyp", b("mif1mif")), rest}),
       error("Unknown image format")},
      {"other boxes before ftyp", cat({box("free", zeros(100)), kFtyp, rest}), block(kTiff1)},
      {"ftyp past the first 4096 bytes", cat({box("free", zeros(4096)), kFtyp, rest}),
       error("Unknown image format")},
      {"box size below 8 before ftyp", cat({be32(4), b("free"), kFtyp, rest}),
       error("Unknown image format")},
      {"first ftyp decides", cat({ftyp(b("heic")), kFtyp, rest}), error("Unknown image format")},
      {"ftyp with a 64-bit size",
       cat({be32(1), b("ftyp"), be64(16 + 16), b("heic"), be32(0), b("mif1heic"), rest}),
       block(kTiff1)},
      // Size 0 is the rest of the probe there, and the rest of the file when extracting.
      {"ftyp running to the end", cat({be32(0), b("ftyp"), b("heic"), be32(0), b("mif1"), rest}),
       kNotFound},
  });
}

TEST(ExifContainer, HeifTopLevel) {
  const Bytes tail =
      meta(cat({kIinfExif, iloc1(1, item1(1, 1, {{0, size32(kItem)}})), box("idat", kItem)}));
  check_all({
      {"Exif item in idat", heif_idat(kItem), block(kTiff1)},
      {"Exif item in mdat, Exif prefix skipped", heif_mdat(cat({be32(6), b("Exif\0\0"), kTiff2})),
       block(kTiff2)},
      {"no meta", cat({kFtyp, box("mdat", kItem)}), kNotFound},
      {"meta before ftyp", cat({tail, kFtyp}), error("MetaBox found before FileTypeBox")},
      {"second ftyp without a HEIF brand", cat({kFtyp, ftyp(b("heic")), tail}),
       error("No compatible brand recognized in ISO base media file")},
      {"second ftyp too small", cat({kFtyp, box("ftyp", b("heic")), tail}), error("Box too small")},
      {"ftyp body past the end", cat({kFtyp, be32(100), b("ftyp"), b("heic"), be32(0)}),
       error("Broken HEIF file")},
      {"truncated box header", cat({kFtyp, b("\0\0\0")}), error("Broken HEIF file")},
      {"truncated 64-bit size", cat({kFtyp, be32(1), b("free"), be32(0)}),
       error("Broken HEIF file")},
      {"box size 7", cat({kFtyp, be32(7), b("free"), tail}), error("Invalid box size")},
      {"64-bit size 15", cat({kFtyp, be32(1), b("free"), be64(15), tail}),
       error("Invalid box size")},
      {"skip beyond signed 64 bits", cat({kFtyp, be32(1), b("free"), be64(0x8000000000000010)}),
       error("Large seek not supported")},
      {"largest allowed skip runs past the end",
       cat({kFtyp, be32(1), b("free"), be64(0x800000000000000F), tail}), kNotFound},
      {"skipped box runs past the end", cat({kFtyp, be32(0xFFFFFFFF), b("mdat"), tail}), kNotFound},
      {"skipped box of size 0 runs to the end", cat({kFtyp, be32(0), b("mdat"), tail}), kNotFound},
      {"meta body past the end", cat({kFtyp, be32(1000), b("meta"), be32(0)}),
       error("Broken HEIF file")},
      {"meta of size 0 runs to the end",
       cat({kFtyp, be32(0), b("meta"), be32(0), kIinfExif,
            iloc1(1, item1(1, 1, {{0, size32(kItem)}})), box("idat", kItem)}),
       block(kTiff1)},
      {"the first meta decides", cat({kFtyp, meta(box("hdlr", zeros(4))), tail}), kNotFound},
  });
}

TEST(ExifContainer, HeifMetaAndItemInfo) {
  const Bytes iloc = iloc1(1, item1(1, 1, {{0, size32(kItem)}}));
  const Bytes idat = box("idat", kItem);
  auto file = [](const Bytes& meta_body) { return cat({kFtyp, meta(meta_body)}); };
  check_all({
      {"meta version 1", cat({kFtyp, full_box("meta", 1, cat({kIinfExif, iloc, idat}))}),
       error("Unsupported MetaBox")},
      {"meta without its version word", cat({kFtyp, box("meta", b("\0\0"))}),
       error("Box too small")},
      {"child size 5", file(cat({kIinfExif, iloc, idat, be32(5), b("free")})),
       error("Invalid box size")},
      {"child past the end of meta", file(cat({kIinfExif, iloc, idat, be32(9), b("free")})),
       error("Box too small")},
      {"7 stray bytes after the children",
       file(cat({kIinfExif, iloc, idat,
                 b("\0\0\0\x08"
                   "fre")})),
       error("Box too small")},
      {"8 zero bytes form an empty child", file(cat({kIinfExif, iloc, idat, zeros(8)})),
       block(kTiff1)},
      {"no Exif item", file(cat({iinf(1, infe(1, "mime")), iloc, idat})), kNotFound},
      {"Exif item without iloc", file(cat({kIinfExif, idat})), error("No ItemLocationBox")},
      {"entry count 0 skips the entries", file(cat({iinf(0, infe(1, "Exif")), iloc, idat})),
       kNotFound},
      {"entry count above the entries", file(cat({iinf(2, infe(1, "Exif")), iloc, idat})),
       error("Box too small")},
      {"huge entry count",
       file(cat({full_box("iinf", 1, cat({be32(0xFFFFFFFF), infe(1, "Exif")})), iloc, idat})),
       error("Box too small")},
      {"stray bytes after the counted entries",
       file(cat({iinf(1, cat({infe(1, "Exif"), b("\0\0\0\x08"
                                                 "fre")})),
                 iloc, idat})),
       block(kTiff1)},
      {"32-bit entry count and item id",
       file(cat(
           {full_box("iinf", 1,
                     cat({be32(1), full_box("infe", 3,
                                            cat({be32(0x10001), be16(0), b("Exif"), zeros(1)}))})),
            full_box("iloc", 2,
                     cat({be16(0x4400), be32(1),   // sizes, item count
                          be32(0x10001), be16(1),  // item id, method 1
                          be16(0), be16(1),        // data reference, extents
                          be32(0), be32(size32(kItem))})),
            idat})),
       block(kTiff1)},
      {"infe version 1 fails even for other items",
       file(cat(
           {iinf(2, cat({full_box("infe", 1, b("\0\x02\0\0")), infe(1, "Exif")})), iloc, idat})),
       error("Unsupported ItemInfoEntry")},
      {"infe without its item type",
       file(cat({iinf(1, full_box("infe", 2, b("\0\x01\0\0"))), iloc, idat})),
       error("Box too small")},
      {"other children of iinf are ignored",
       file(cat({iinf(2, cat({box("free", zeros(3)), infe(1, "Exif")})), iloc, idat})),
       block(kTiff1)},
      {"a later iinf names the Exif item",
       file(cat({kIinfExif, iinf(1, infe(2, "Exif")),
                 iloc1(2, cat({item1(1, 1, {{0, size32(kItem)}}),
                               item1(2, 1, {{size32(kItem), size32(kItem)}})})),
                 box("idat", cat({kItem, exif_item(kTiff2)}))})),
       block(kTiff2)},
      {"a later iloc replaces an earlier one",
       file(cat({kIinfExif, iloc1(1, item1(1, 2, {{0, 1}})), iloc, idat})), block(kTiff1)},
      {"a later idat replaces an earlier one",
       file(cat({kIinfExif, iloc, box("idat", exif_item(kTiff2)), idat})), block(kTiff1)},
  });
}

// A whole iloc of the given version, size word (offset, length, base offset, index widths),
// item count and item entries.
Bytes iloc_box(uint8_t version, uint16_t sizes, uint16_t count, const Bytes& items) {
  return full_box("iloc", version, cat({be16(sizes), be16(count), items}));
}

TEST(ExifContainer, HeifItemLocation) {
  const Bytes idat = box("idat", kItem);
  auto file = [&](const Bytes& iloc) { return cat({kFtyp, meta(cat({kIinfExif, iloc, idat}))}); };
  const uint32_t n = size32(kItem);
  check_all({
      {"version 3", file(iloc_box(3, 0x4400, 1, item1(1, 1, {{0, n}}))),
       error("Unsupported ItemLocationBox")},
      {"item not listed", file(iloc_box(1, 0x4400, 1, item1(2, 1, {{0, n}}))),
       error("No matching item in ItemLocationBox")},
      {"external data for another item",
       file(iloc_box(1, 0x4400, 2, cat({item1(2, 0, {}, 7), item1(1, 1, {{0, n}})}))),
       error("External data reference is not supported")},
      {"data reference with idat construction",
       file(iloc_box(1, 0x4400, 1, item1(1, 1, {{0, n}}, 7))), block(kTiff1)},
      {"construction method is the low 4 bits",
       file(iloc_box(1, 0x4400, 1, item1(1, 0xF1, {{0, n}}))), block(kTiff1)},
      {"base_offset_size 2",
       file(iloc_box(1, 0x4420, 1, cat({be16(1), be16(1), be16(0), be16(0)}))),
       error("Invalid base_offset_size")},
      {"4-byte base offset is added",
       cat({kFtyp, meta(cat({kIinfExif,
                             iloc_box(1, 0x4440, 1,
                                      cat({be16(1), be16(1), be16(0), be32(2),  // id .. base
                                           be16(1), be32(2), be32(n)})),        // at base + 2
                             box("idat", cat({zeros(4), kItem}))}))}),
       block(kTiff1)},
      {"8-byte index, offset and length",
       file(iloc_box(1, 0x8808, 1,
                     cat({be16(1), be16(1), be16(0), be16(1),  // id .. extents
                          be64(9), be64(0), be64(n)}))),       // index, offset, length
       block(kTiff1)},
      {"offset_size 2", file(iloc_box(1, 0x2400, 1, item1(1, 1, {{0, n}}))),
       error("Invalid offset_size")},
      {"length_size 3", file(iloc_box(1, 0x4300, 1, item1(1, 1, {{0, n}}))),
       error("Invalid length_size")},
      {"index_size 1", file(iloc_box(1, 0x4401, 1, item1(1, 1, {{0, n}}))),
       error("Invalid index_size")},
      {"other items' widths are not checked", file(iloc_box(1, 0x2300, 1, item1(2, 1, {{0, n}}))),
       error("No matching item in ItemLocationBox")},
      {"no extents, bad widths unchecked", file(iloc_box(1, 0x2300, 1, item1(1, 1, {}))),
       error("ExifDataBlock too small")},
      {"Exif extents cut short",
       file(iloc_box(1, 0x4400, 1,
                     cat({be16(1), be16(1), be16(0), be16(2),  // two extents
                          be32(0), be32(n), be32(0)}))),       // one and a half
       error("Box too small")},
      {"a bad width is found after the fields before it",
       file(iloc_box(1, 0x4200, 1, cat({be16(1), be16(1), be16(0), be16(1), be16(0)}))),
       error("Box too small")},
      {"other extents cut short",
       file(iloc_box(1, 0x4400, 1, cat({be16(2), be16(1), be16(0), be16(3), be32(0)}))),
       error("Box too small")},
      {"huge item count", file(full_box("iloc", 2, cat({be16(0x4400), be32(0xFFFFFFFF), be32(1)}))),
       error("Box too small")},
  });
}

// ftyp + meta(iinf, iloc version 1 with the `sizes` word, construction method 0, extents
// counted from the first byte of the mdat data) + mdat holding `data`.
Bytes heif_file_extents(const Bytes& data, std::vector<std::pair<uint32_t, uint32_t>> extents,
                        uint16_t sizes = 0x4400) {
  auto head = [&](uint32_t at) {
    auto moved = extents;
    for (auto& e : moved)
      e.first += at;
    return cat({kFtyp, meta(cat({kIinfExif, iloc_box(1, sizes, 1, item1(1, 0, moved))}))});
  };
  const uint32_t at = size32(head(0)) + 8;
  return cat({head(at), box("mdat", data)});
}

TEST(ExifContainer, HeifItemData) {
  const uint32_t n = size32(kItem);
  auto idat_file = [](const Bytes& iloc, const Bytes& data) {
    return cat({kFtyp, meta(cat({kIinfExif, iloc, box("idat", data)}))});
  };
  // 8-byte offsets, lengths and base offsets: id 1, the method, reference 0, base, one extent.
  auto wide = [&](uint16_t method, uint64_t base, uint64_t offset, uint64_t length) {
    return idat_file(iloc_box(1, 0x8880, 1,
                              cat({be16(1), be16(method), be16(0), be64(base), be16(1),
                                   be64(offset), be64(length)})),
                     kItem);
  };
  Bytes largest = exif_item(cat({kTiff1, zeros(65535 - 4 - kTiff1.size())}));
  Bytes too_large = cat({largest, zeros(1)});
  check_all({
      {"method 1 without idat",
       cat({kFtyp, meta(cat({kIinfExif, iloc1(1, item1(1, 1, {{0, n}}))}))}),
       error("No ItemDataBox")},
      {"method 2", heif_idat(kItem, item1(1, 2, {{0, n}})),
       error("Construction by item offset is not supported")},
      {"method 3", heif_idat(kItem, item1(1, 3, {{0, n}})), error("Invalid construction_method")},
      {"two extents are joined", heif_idat(kItem, item1(1, 1, {{0, 5}, {5, n - 5}})),
       block(kTiff1)},
      {"idat: offset overflows", wide(1, ~uint64_t{0}, 1, 1), error("Invalid offset")},
      {"idat: end overflows", wide(1, 0, 1, ~uint64_t{0}), error("Invalid length")},
      {"idat: end past the data", heif_idat(kItem, item1(1, 1, {{0, n + 1}})),
       error("Out of ItemDataBox")},
      {"idat: empty extent past the data", heif_idat(kItem, item1(1, 1, {{n + 1, 0}})),
       error("Out of ItemDataBox")},
      {"idat: empty extent at the end adds nothing",
       heif_idat(kItem, item1(1, 1, {{0, n}, {n, 0}})), block(kTiff1)},
      {"idat: length 0 reads to the end", heif_idat(kItem, item1(1, 1, {{0, 0}})), block(kTiff1)},
      {"file: offset overflows", wide(0, ~uint64_t{0}, 1, 1), error("Invalid offset")},
      {"file: extent past the end", heif_file_extents(kItem, {{0, n + 1}}),
       error("Broken HEIF file")},
      {"file: huge position", wide(0, 0, uint64_t{1} << 62, 4), error("Broken HEIF file")},
      {"file: empty extent past the end", heif_file_extents(kItem, {{n + 100, 0}}),
       error("ExifDataBlock too small")},
      {"file: data, then an empty extent past the end",
       heif_file_extents(kItem, {{0, n}, {n + 100, 0}}), block(kTiff1)},
      {"file: length 0 reads to the end", heif_file_extents(kItem, {{0, 0}}), block(kTiff1)},
      {"file: index width ignored in version 0",
       [&] {
         auto head = [&](uint32_t at) {
           // Word 0x440F, one item: id 1, data reference 0, one extent (offset, length).
           Bytes iloc =
               full_box("iloc", 0,
                        cat({be16(0x440F), be16(1), be16(1), be16(0), be16(1), be32(at), be32(n)}));
           return cat({kFtyp, meta(cat({kIinfExif, iloc}))});
         };
         return cat({head(size32(head(0)) + 8), box("mdat", kItem)});
       }(),
       block(kTiff1)},
      {"largest item", heif_idat(largest), block(Bytes(largest.begin() + 4, largest.end()))},
      {"item one byte too large", heif_idat(too_large), error("Exif data too large")},
      {"the limit counts the item as gathered",
       heif_idat(largest, item1(1, 1, {{0, 65535}, {0, 1}})), error("Exif data too large")},
      {"item under 4 bytes", heif_idat(b("\0\0\0")), error("ExifDataBlock too small")},
      {"header offset past the item", heif_idat(cat({be32(size32(kTiff1) + 1), kTiff1})),
       error("Invalid Exif header offset")},
      {"header offset at the end of the item", heif_idat(cat({be32(size32(kTiff1)), kTiff1})),
       block({})},
  });
}

// An iloc listing the Exif item 20000 times with 65535 zero-width extents each: only the last
// entry counts, and its extents are read once.
TEST(ExifContainer, HeifRepeatedExtentsStayLinear) {
  Bytes items;
  const uint16_t entries = 20000;
  for (uint16_t i = 0; i < entries; ++i) {
    items.insert(items.end(), {0x00, 0x01,    // item id 1
                               0x00, 0x01,    // construction method 1 (idat)
                               0x00, 0x00,    // data reference
                               0xFF, 0xFF});  // 65535 extents of no bytes
  }
  const Bytes file =
      cat({kFtyp, meta(cat({kIinfExif, iloc_box(1, 0x0000, entries, items), box("idat", {})}))});
  EXPECT_EQ(describe(locate(file)), describe(error("ExifDataBlock too small")));
}

// ---------------------------------------------------------------- I/O

// The source serves one read (the first window of the file, 64 KiB) and fails every later one.
TEST(ExifContainer, IoErrorsGiveTheirText) {
  const std::string eio = IoError::os(EIO).display();
  const Bytes jpeg_exif = cat({kSoi, exif_app1(kTiff1), zeros(100000), kEoi});
  const Bytes jpeg_plain = cat({kSoi, kDqt, zeros(100000), kEoi});
  const Bytes tiff = cat({kTiff1, zeros(100000)});
  const Bytes heif = cat(
      {kFtyp, box("free", zeros(100000)),
       meta(cat({kIinfExif, iloc1(1, item1(1, 1, {{0, size32(kItem)}})), box("idat", kItem)}))});
  const struct {
    const char* name;
    const Bytes& input;
    int good_reads;
    LocateResult expected;
  } cases[] = {
      {"probe read fails", jpeg_exif, 0, error(eio.c_str())},
      // The EXIF block lies within the first window, so nothing after it is read.
      {"JPEG with EXIF early", jpeg_exif, 1, block(kTiff1)},
      {"JPEG scanned past the first window", jpeg_plain, 1, error(eio.c_str())},
      // The block is read by the IFD walk, not here.
      {"TIFF is left in place", tiff, 1, whole(tiff)},
      {"HEIF meta box past the first window", heif, 1, error(eio.c_str())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::FailingSource src(c.input, c.good_reads);
    EXPECT_EQ(describe(locate(src, c.input.size())), describe(c.expected));
  }
}

// ---------------------------------------------------------------- fixtures

Bytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The TIFF header check that follows locating the block: "" when the header is sound.
std::string tiff_header_fault(const Bytes& blk) {
  if (blk.size() < 8) return "Truncated TIFF header";
  const bool le = blk[0] == 'I' && blk[1] == 'I';
  const bool be = blk[0] == 'M' && blk[1] == 'M';
  if (!le && !be) return "Invalid TIFF byte order";
  const unsigned magic = le ? blk[2] | blk[3] << 8 : blk[2] << 8 | blk[3];
  return magic == 42 ? "" : "Invalid forty two";
}

// What each fixture's expected result says about the container step:
// - {"error": T} with a TIFF header text T: a block whose header fails with T;
// - {"error": T} otherwise: the container error T;
// - {}: not found, except for bare TIFF input (an IFD walk that found no fields);
// - groups: a block with a sound header.
// Bare TIFF input must come back whole.
TEST(ExifContainer, Fixtures) {
  const std::filesystem::path dir = VORLIX_TEST_FIXTURES "/exif/";
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << "EXIF fixtures missing: " << dir;
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const auto path = entry.path();
    const std::string name = path.filename().string();
    const auto ext = path.extension().string();
    if (ext == ".json" || ext == ".py" || ext == ".md") continue;
    SCOPED_TRACE(name);
    const Bytes input = read_file(path);
    const Bytes json = read_file(path.string() + ".expected.json");
    const std::string expected(json.begin(), json.end());

    const auto got = locate(input);
    // The block's bytes: copied out, or (bare TIFF) the input itself.
    auto block_bytes = [&]() -> Bytes {
      if (const auto* range = std::get_if<SourceRange>(&got)) {
        return Bytes(input.begin() + static_cast<ptrdiff_t>(range->offset),
                     input.begin() + static_cast<ptrdiff_t>(range->offset + range->length));
      }
      return std::get<TiffBlock>(got);
    };
    const bool bare_tiff =
        input.size() >= 4 && (std::equal(input.begin(), input.begin() + 4, b("II*\0").begin()) ||
                              std::equal(input.begin(), input.begin() + 4, b("MM\0*").begin()));
    const auto key = expected.find("\"error\": \"");
    if (key != std::string::npos) {
      const auto start = key + 10;
      const std::string text = expected.substr(start, expected.find('"', start) - start);
      if (text == "Truncated TIFF header" || text == "Invalid TIFF byte order" ||
          text == "Invalid forty two") {
        ASSERT_FALSE(std::holds_alternative<NotFound>(got) ||
                     std::holds_alternative<ContainerError>(got))
            << describe(got);
        EXPECT_EQ(tiff_header_fault(block_bytes()), text);
      } else {
        EXPECT_EQ(describe(got), describe(error(text.c_str())));
      }
    } else if (expected.find('"') == std::string::npos && !bare_tiff) {
      EXPECT_EQ(describe(got), describe(kNotFound));
    } else {
      ASSERT_FALSE(std::holds_alternative<NotFound>(got) ||
                   std::holds_alternative<ContainerError>(got))
          << describe(got);
      EXPECT_EQ(tiff_header_fault(block_bytes()), "");
    }
    if (bare_tiff) {
      EXPECT_EQ(describe(got), describe(whole(input)));
    }

    // A file behind a descriptor gives the same result as the bytes in memory.
    const int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    FileSource file(fd);
    EXPECT_EQ(describe(locate(file, input.size())), describe(got));
    close(fd);
    ++checked;
  }
  EXPECT_GE(checked, 60);
}

}  // namespace
}  // namespace vorlix_core::exif
