#include "sniff.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <iterator>

#include "byte_reader.hpp"
#include "formats/signatures.hpp"
#include "sniff_ole.hpp"

namespace vorlix_core {
namespace {

using Test = bool (*)(const ByteReader&);

struct Entry {
  std::string_view mime;
  std::string_view extension;
  Test test;
};

// ---- Helpers -------------------------------------------------------------------------------

bool at(const ByteReader& r, uint64_t pos, std::initializer_list<uint8_t> bytes) {
  return r.matches(pos, std::span<const uint8_t>(bytes.begin(), bytes.size()));
}
bool at(const ByteReader& r, uint64_t pos, std::span<const uint8_t> bytes) {
  return r.matches(pos, bytes);
}
bool at(const ByteReader& r, uint64_t pos, std::string_view text) {
  return r.matches(pos, text);
}
bool byte_in(const ByteReader& r, uint64_t pos, std::initializer_list<uint8_t> set) {
  auto b = r.u8(pos);
  return b && std::ranges::find(set, *b) != set.end();
}
bool min_len(const ByteReader& r, uint64_t n) {
  return r.size() >= n;
}

uint8_t ascii_upper(uint8_t b) {
  return b >= 'a' && b <= 'z' ? b - ('a' - 'A') : b;
}
// `upper` holds no lower-case letters; only ASCII letters of the input are folded.
bool at_nocase(const ByteReader& r, uint64_t pos, std::string_view upper) {
  auto s = r.slice(pos, upper.size());
  if (!s) return false;
  return std::ranges::equal(*s, upper, {}, ascii_upper, [](char c) { return uint8_t(c); });
}
bool is_space(uint8_t b) {
  return b == 0x09 || b == 0x0A || b == 0x0C || b == 0x0D || b == 0x20;
}
uint64_t skip_space(const ByteReader& r, uint64_t pos) {
  while (auto b = r.u8(pos)) {
    if (!is_space(*b)) break;
    ++pos;
  }
  return pos;
}

using formats::kZipLocalHeader;
constexpr uint8_t kCafeBabe[] = {0xCA, 0xFE, 0xBA, 0xBE};

// ---- Executables and certificates ----------------------------------------------------------

bool wasm(const ByteReader& r) {
  return at(r, 0, {0x00, 0x61, 0x73, 0x6D, 0x01, 0x00, 0x00, 0x00});
}
bool elf(const ByteReader& r) {
  return min_len(r, 53) && at(r, 0, formats::kElfMagic);
}
bool pe(const ByteReader& r) {
  return at(r, 0, "MZ");
}
// CA FE BA BE starts both class files and fat Mach-O; a fat binary's architecture count is small.
bool java_class(const ByteReader& r) {
  return min_len(r, 8) && at(r, 0, kCafeBabe) && r.u32be(4) >= 45u && r.u16be(6) >= 45u;
}
bool llvm(const ByteReader& r) {
  return at(r, 0, "BC");
}
bool mach(const ByteReader& r) {
  if (!min_len(r, 4)) return false;
  return (byte_in(r, 0, {0xCE, 0xCF}) && at(r, 1, {0xFA, 0xED, 0xFE})) ||
         (at(r, 0, {0xFE, 0xED, 0xFA}) && byte_in(r, 3, {0xCE, 0xCF})) ||
         (min_len(r, 8) && at(r, 0, kCafeBabe) && r.u32be(4) < 45u);
}
bool dex(const ByteReader& r) {
  return min_len(r, 37) && at(r, 0, "dex\n") && r.u8(36) == 0x70;
}
bool dey(const ByteReader& r) {
  return min_len(r, 101) && at(r, 0, "dey\n") && at(r, 40, "dex\n") && r.u8(76) == 0x70;
}
bool der(const ByteReader& r) {
  return min_len(r, 3) && at(r, 0, {0x30, 0x82});
}
bool coff(const ByteReader& r) {
  return min_len(r, 3) &&
         (at(r, 0, {0x64, 0x86}) || at(r, 0, {0x4C, 0x01}) || at(r, 0, {0x00, 0x02}));
}
bool pem(const ByteReader& r) {
  return min_len(r, 12) && at(r, 0, "-----BEGIN ");
}

// ---- Books -----------------------------------------------------------------------------------

// Packages whose first entry is an uncompressed "mimetype" file: its name at 30, content at 38.
bool epub(const ByteReader& r) {
  return at(r, 0, kZipLocalHeader) && at(r, 30, "mimetypeapplication/epub+zip");
}
bool mobi(const ByteReader& r) {
  return at(r, 60, "BOOKMOBI");
}

// ---- Images ----------------------------------------------------------------------------------

bool jpeg(const ByteReader& r) {
  return at(r, 0, formats::kJpegStart);
}
bool jp2(const ByteReader& r) {
  return at(r, 0, {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A, 0x00});
}
bool png(const ByteReader& r) {
  return at(r, 0, formats::kPngMagic);
}
bool gif(const ByteReader& r) {
  return at(r, 0, formats::kGifMagic);
}
bool webp(const ByteReader& r) {
  return at(r, formats::kRiffFormOffset, formats::kRiffFormWebp);
}
bool tiff_magic(const ByteReader& r) {
  return at(r, 0, formats::kTiffLittleEndian) || at(r, 0, formats::kTiffBigEndian);
}
bool cr2(const ByteReader& r) {
  return min_len(r, 11) && tiff_magic(r) && at(r, 8, {'C', 'R', 0x02});
}
// Each of bytes 8 and 9 on its own excludes a TIFF, which keeps every CR2 out.
bool tiff(const ByteReader& r) {
  return min_len(r, 10) && tiff_magic(r) && r.u8(8) != 'C' && r.u8(9) != 'R';
}
bool bmp(const ByteReader& r) {
  return at(r, 0, formats::kBmpMagic);
}
bool jxr(const ByteReader& r) {
  return at(r, 0, {0x49, 0x49, 0xBC});
}
bool psd(const ByteReader& r) {
  return at(r, 0, "8BPS");
}
bool ico(const ByteReader& r) {
  return at(r, 0, {0x00, 0x00, 0x01, 0x00});
}

// The number of compatible brands of an ftyp box at 0 that lies wholly inside the header (a box
// size of 0 passes with none); nothing when there is no such box.
std::optional<uint64_t> ftyp_brands(const ByteReader& r) {
  if (!min_len(r, 16) || !at(r, formats::kIsoFileTypeOffset, formats::kIsoFileType))
    return std::nullopt;
  auto size = r.u32be(0);
  if (!size || *size > r.size()) return std::nullopt;
  const uint64_t groups = *size / 4;
  return groups > 4 ? groups - 4 : 0;
}
bool compatible_brand(const ByteReader& r, uint64_t brands, std::string_view brand) {
  for (uint64_t i = 0; i < brands; ++i) {
    if (at(r, 16 + 4 * i, brand)) return true;
  }
  return false;
}
bool heif(const ByteReader& r) {
  auto brands = ftyp_brands(r);
  if (!brands) return false;
  if (at(r, 8, "heic")) return true;
  return (at(r, 8, "mif1") || at(r, 8, "msf1")) && compatible_brand(r, *brands, "heic");
}
bool avif(const ByteReader& r) {
  auto brands = ftyp_brands(r);
  if (!brands) return false;
  return at(r, 8, "avif") || at(r, 8, "avis") || compatible_brand(r, *brands, "avif") ||
         compatible_brand(r, *brands, "avis");
}
bool jxl(const ByteReader& r) {
  return (min_len(r, 3) && at(r, 0, {0xFF, 0x0A})) ||
         (min_len(r, 13) &&
          at(r, 0, {0x00, 0x00, 0x00, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A}));
}
bool ora(const ByteReader& r) {
  return min_len(r, 58) && at(r, 0, kZipLocalHeader) && at(r, 30, "mimetypeimage/openraster");
}

// ---- Video -----------------------------------------------------------------------------------

constexpr std::string_view kMp4Brands[] = {"avc1", "dash", "iso2", "iso3", "iso4", "iso5", "iso6",
                                           "isom", "mmp4", "mp41", "mp42", "mp4v", "mp71", "MSNV",
                                           "NDAS", "NDSC", "NSDC", "NDSH", "NDSM", "NDSP", "NDSS",
                                           "NDXC", "NDXH", "NDXM", "NDXP", "NDXS", "F4V ", "F4P "};

bool mp4(const ByteReader& r) {
  return min_len(r, 12) && at(r, formats::kIsoFileTypeOffset, formats::kIsoFileType) &&
         std::ranges::any_of(kMp4Brands, [&](std::string_view b) { return at(r, 8, b); });
}
bool m4v(const ByteReader& r) {
  return at(r, formats::kIsoFileTypeOffset, formats::kIsoFileType) && at(r, 8, "M4V");
}
constexpr uint8_t kEbml[] = {0x1A, 0x45, 0xDF, 0xA3};
// Only a DocType element right after the EBML magic, or "matroska" at 31, marks Matroska.
bool mkv(const ByteReader& r) {
  return (at(r, 0, kEbml) && at(r, 4, {0x93, 0x42, 0x82, 0x88}) && at(r, 8, "matroska")) ||
         at(r, 31, "matroska");
}
bool webm(const ByteReader& r) {
  return at(r, 0, kEbml);
}
bool mov(const ByteReader& r) {
  return min_len(r, 16) &&
         (at(r, 4, "ftypqt  ") || at(r, 4, "moov") || at(r, 4, "mdat") || at(r, 12, "mdat"));
}
bool avi(const ByteReader& r) {
  return at(r, 0, formats::kRiffMagic) &&
         at(r, formats::kRiffFormOffset, formats::kRiffFormAvi.substr(0, 3));
}
bool wmv(const ByteReader& r) {
  return at(r, 0, {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9});
}
bool mpeg(const ByteReader& r) {
  auto b = r.u8(3);
  return at(r, 0, {0x00, 0x00, 0x01}) && b && *b >= 0xB0 && *b <= 0xBF;
}
bool flv(const ByteReader& r) {
  return at(r, 0, {'F', 'L', 'V', 0x01});
}

// ---- Audio -----------------------------------------------------------------------------------

bool midi(const ByteReader& r) {
  return at(r, 0, "MThd");
}
bool mp3(const ByteReader& r) {
  return min_len(r, 3) && (at(r, 0, formats::kId3Magic) || at(r, 0, {0xFF, 0xFB}));
}
bool m4a(const ByteReader& r) {
  return min_len(r, 11) && (at(r, 4, "ftypM4A") || at(r, 0, "M4A "));
}
bool opus(const ByteReader& r) {
  return at(r, 0, "OggS") && at(r, 28, "OpusHead");
}
bool ogg(const ByteReader& r) {
  return at(r, 0, "OggS");
}
bool flac(const ByteReader& r) {
  return at(r, 0, "fLaC");
}
bool wav(const ByteReader& r) {
  return at(r, 0, formats::kRiffMagic) && at(r, formats::kRiffFormOffset, formats::kRiffFormWave);
}
bool amr(const ByteReader& r) {
  return min_len(r, 12) && at(r, 0, "#!AMR\n");
}
bool aac(const ByteReader& r) {
  return r.u8(0) == 0xFF && byte_in(r, 1, {0xF1, 0xF9});
}
bool aiff(const ByteReader& r) {
  return at(r, 0, "FORM") && at(r, 8, "AIFF");
}
bool dsf(const ByteReader& r) {
  return min_len(r, 5) && at(r, 0, "DSD ");
}
bool ape(const ByteReader& r) {
  return min_len(r, 5) && at(r, 0, "MAC ");
}

// ---- Fonts -----------------------------------------------------------------------------------

bool woff(const ByteReader& r) {
  return at(r, 0, {'w', 'O', 'F', 'F', 0x00, 0x01, 0x00, 0x00});
}
bool woff2(const ByteReader& r) {
  return at(r, 0, {'w', 'O', 'F', '2', 0x00, 0x01, 0x00, 0x00});
}
bool ttf(const ByteReader& r) {
  return at(r, 0, {0x00, 0x01, 0x00, 0x00, 0x00});
}
bool otf(const ByteReader& r) {
  return at(r, 0, {'O', 'T', 'T', 'O', 0x00});
}

// ---- Office documents ------------------------------------------------------------------------

constexpr Clsid kWordClsid = {0x06, 0x09, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                              0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr Clsid kExcel5Clsid = {0x10, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr Clsid kExcelClsid = {0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                               0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr Clsid kPowerPointClsid = {0x10, 0x8D, 0x81, 0x64, 0x9B, 0x4F, 0xCF, 0x11,
                                    0x86, 0xEA, 0x00, 0xAA, 0x00, 0xB9, 0x29, 0xE8};

bool ole_root_is(const ByteReader& r, std::initializer_list<Clsid> ids) {
  if (!at(r, 0, formats::kOleMagic)) return false;
  auto clsid = ole_root_clsid(r.data());
  return clsid && std::ranges::find(ids, *clsid) != ids.end();
}
bool doc(const ByteReader& r) {
  return ole_root_is(r, {kWordClsid});
}
bool xls(const ByteReader& r) {
  return ole_root_is(r, {kExcel5Clsid, kExcelClsid});
}
bool ppt(const ByteReader& r) {
  return ole_root_is(r, {kPowerPointClsid});
}

enum class Ooxml { None, Word, Ppt, Xl };

Ooxml ooxml_kind(const ByteReader& r, uint64_t pos) {
  if (at(r, pos, "word/")) return Ooxml::Word;
  if (at(r, pos, "ppt/")) return Ooxml::Ppt;
  if (at(r, pos, "xl/")) return Ooxml::Xl;
  return Ooxml::None;
}

// Each search for the next local file header looks at most this far ahead.
constexpr uint64_t kLocalHeaderWindow = 6000;

// The first local-file-header signature lying wholly in [from, from + window) and in the header.
std::optional<uint64_t> find_local_header(const ByteReader& r, uint64_t from) {
  const uint64_t end = std::min(from + kLocalHeaderWindow, r.size());
  if (from >= end) return std::nullopt;
  const auto window = r.clamped(from, end - from);
  const auto hit =
      std::search(window.begin(), window.end(), kZipLocalHeader.begin(), kZipLocalHeader.end(),
                  [](uint8_t a, char b) { return a == uint8_t(b); });
  if (hit == window.end()) return std::nullopt;
  return from + static_cast<uint64_t>(hit - window.begin());
}

// Which Office Open XML document the package is, judged from the names of its first local
// headers without parsing the archive: the first entry itself, or else (for a package starting
// with its content-types, relationships or properties part) the entry after the next two.
Ooxml ooxml(const ByteReader& r) {
  if (!at(r, 0, kZipLocalHeader)) return Ooxml::None;
  if (auto kind = ooxml_kind(r, 30); kind != Ooxml::None) return kind;
  if (!at(r, 30, "[Content_Types].xml") && !at(r, 30, "_rels/.rels") && !at(r, 30, "docProps")) {
    return Ooxml::None;
  }
  // The first entry's data is assumed to follow a 19-byte name, whatever its real length.
  auto compressed = r.u32le(18);
  if (!compressed) return Ooxml::None;
  const uint64_t second_from = uint64_t{*compressed} + 30 + 19;
  if (second_from > UINT32_MAX) return Ooxml::None;
  auto second = find_local_header(r, second_from);
  if (!second) return Ooxml::None;
  auto third = find_local_header(r, *second + 30);
  if (!third || ooxml_kind(r, *third + 30) == Ooxml::None) return Ooxml::None;
  auto fourth = find_local_header(r, *third + 56);
  // A third entry alone only shows a generic package, which no entry accepts.
  return fourth ? ooxml_kind(r, *fourth + 30) : Ooxml::None;
}
bool docx(const ByteReader& r) {
  return ooxml(r) == Ooxml::Word;
}
bool xlsx(const ByteReader& r) {
  return ooxml(r) == Ooxml::Xl;
}
bool pptx(const ByteReader& r) {
  return ooxml(r) == Ooxml::Ppt;
}

// OpenDocument packages: "mimetype" stored first; its content's tail after "application/".
bool odf(const ByteReader& r, std::string_view kind) {
  return at(r, 0, kZipLocalHeader) && at(r, 30, "mimetype") && at(r, 50, kind);
}
bool odt(const ByteReader& r) {
  return odf(r, "vnd.oasis.opendocument.text");
}
bool ods(const ByteReader& r) {
  return odf(r, "vnd.oasis.opendocument.spreadsheet");
}
bool odp(const ByteReader& r) {
  return odf(r, "vnd.oasis.opendocument.presentation");
}

// ---- Archives --------------------------------------------------------------------------------

bool zip(const ByteReader& r) {
  return at(r, 0, kZipLocalHeader) || at(r, 0, formats::kZipEndOfCentralDirectory) ||
         at(r, 0, formats::kZipSpanned) || (at(r, 0, "PK00") && at(r, 4, kZipLocalHeader));
}
bool tar(const ByteReader& r) {
  return at(r, 257, "ustar");
}
bool rar(const ByteReader& r) {
  return at(r, 0, {'R', 'a', 'r', '!', 0x1A, 0x07}) && byte_in(r, 6, {0x00, 0x01});
}
bool gz(const ByteReader& r) {
  return at(r, 0, formats::kGzipMagic) && at(r, 2, {formats::kGzipDeflate});
}
bool bz2(const ByteReader& r) {
  return at(r, 0, "BZh");
}
bool sevenz(const ByteReader& r) {
  return at(r, 0, {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C});
}
bool xz(const ByteReader& r) {
  return at(r, 0, {0xFD, '7', 'z', 'X', 'Z', 0x00});
}
bool pdf(const ByteReader& r) {
  return at(r, 0, formats::kPdfHeader.substr(0, 4));
}
bool swf(const ByteReader& r) {
  return byte_in(r, 0, {'C', 'F'}) && at(r, 1, "WS");
}
bool rtf(const ByteReader& r) {
  return at(r, 0, "{\\rtf");
}
bool eot(const ByteReader& r) {
  return at(r, 34, "LP") && (at(r, 8, {0x02, 0x00, 0x01}) || at(r, 8, {0x01, 0x00, 0x00}) ||
                             at(r, 8, {0x02, 0x00, 0x02}));
}
bool ps(const ByteReader& r) {
  return at(r, 0, "%!");
}
bool sqlite(const ByteReader& r) {
  return at(r, 0, "SQLi");
}
bool nes(const ByteReader& r) {
  return at(r, 0, {'N', 'E', 'S', 0x1A});
}
bool crx(const ByteReader& r) {
  return at(r, 0, "Cr24");
}
bool cab(const ByteReader& r) {
  return at(r, 0, "MSCF") || at(r, 0, "ISc(");
}
bool deb(const ByteReader& r) {
  return at(r, 0, "!<arch>\ndebian-binary");
}
bool ar(const ByteReader& r) {
  return at(r, 0, "!<arch>");
}
bool compress(const ByteReader& r) {
  return r.u8(0) == 0x1F && byte_in(r, 1, {0x9D, 0xA0});
}
bool lzip(const ByteReader& r) {
  return at(r, 0, "LZIP");
}
bool rpm(const ByteReader& r) {
  return min_len(r, 97) && at(r, 0, {0xED, 0xAB, 0xEE, 0xDB});
}
bool dicom(const ByteReader& r) {
  return at(r, 128, "DICM");
}

// A frame magic, possibly after skippable frames that lie wholly inside the header.
bool zstd(const ByteReader& r) {
  uint64_t pos = 0;
  for (;;) {
    if (at(r, pos, {0x28, 0xB5, 0x2F, 0xFD})) return true;
    auto magic = r.u32le(pos);
    auto skip = r.u32le(pos + 4);
    if (!magic || !skip || (*magic & 0xFFFFFFF0) != 0x184D2A50) return false;
    const uint64_t frame = uint64_t{8} + *skip;
    if (!r.has(pos, frame)) return false;
    pos += frame;
  }
}
bool msi(const ByteReader& r) {
  return at(r, 0, formats::kOleMagic);
}
bool cpio(const ByteReader& r) {
  return (at(r, 0, {0xC7, 0x71}) || at(r, 0, {0x71, 0xC7})) ||
         (min_len(r, 7) && at(r, 0, "070701"));
}

// ---- Text ------------------------------------------------------------------------------------

constexpr std::string_view kHtmlMarkers[] = {"<!DOCTYPE HTML",
                                             "<HTML",
                                             "<HEAD",
                                             "<SCRIPT",
                                             "<IFRAME",
                                             "<H1",
                                             "<DIV",
                                             "<FONT",
                                             "<TABLE",
                                             "<A",
                                             "<STYLE",
                                             "<TITLE",
                                             "<B",
                                             "<BODY",
                                             "<BR",
                                             "<P",
                                             "<!--"};

// A known tag after leading whitespace, ended by a space or '>'.
bool html(const ByteReader& r) {
  const uint64_t pos = skip_space(r, 0);
  return std::ranges::any_of(kHtmlMarkers, [&](std::string_view marker) {
    if (!at_nocase(r, pos, marker)) return false;
    auto after = r.u8(pos + marker.size());
    return after == ' ' || after == '>';
  });
}
// "<?xml" after leading whitespace and then byte-order marks (whitespace after a mark is not
// skipped).
bool xml(const ByteReader& r) {
  uint64_t pos = skip_space(r, 0);
  while (r.has(pos, 3)) {
    if (at(r, pos, {0xEF, 0xBB, 0xBF})) {
      pos += 3;
    } else if (at(r, pos, {0xFE, 0xFF}) || at(r, pos, {0xFF, 0xFE})) {
      pos += 2;
    } else {
      break;
    }
  }
  return at_nocase(r, pos, "<?XML");
}
bool sh(const ByteReader& r) {
  return min_len(r, 3) && at(r, 0, "#!");
}

// ---- The table -------------------------------------------------------------------------------

// Order decides between overlapping tests: the first entry that accepts wins.
constexpr Entry kTable[] = {
    {"application/wasm", "wasm", wasm},
    {"application/x-executable", "elf", elf},
    {"application/vnd.microsoft.portable-executable", "exe", pe},
    // Never matches: "exe" above accepts every input this row would. Kept so that the table
    // lists each type the detector knows.
    {"application/vnd.microsoft.portable-executable", "dll", pe},
    {"application/java", "class", java_class},
    {"application/x-llvm", "bc", llvm},
    {"application/x-mach-binary", "mach", mach},
    {"application/vnd.android.dex", "dex", dex},
    {"application/vnd.android.dey", "dey", dey},
    {"application/x-x509-ca-cert", "der", der},
    {"application/x-executable", "obj", coff},
    {"application/x-x509-ca-cert", "pem", pem},
    {"application/epub+zip", "epub", epub},
    {"application/x-mobipocket-ebook", "mobi", mobi},
    {"image/jpeg", "jpg", jpeg},
    {"image/jp2", "jp2", jp2},
    {"image/png", "png", png},
    {"image/gif", "gif", gif},
    {"image/webp", "webp", webp},
    {"image/x-canon-cr2", "cr2", cr2},
    {"image/tiff", "tif", tiff},
    {"image/bmp", "bmp", bmp},
    {"image/vnd.ms-photo", "jxr", jxr},
    {"image/vnd.adobe.photoshop", "psd", psd},
    {"image/vnd.microsoft.icon", "ico", ico},
    {"image/heif", "heif", heif},
    {"image/avif", "avif", avif},
    {"image/jxl", "jxl", jxl},
    {"image/openraster", "ora", ora},
    {"video/mp4", "mp4", mp4},
    {"video/x-m4v", "m4v", m4v},
    {"video/x-matroska", "mkv", mkv},
    {"video/webm", "webm", webm},
    {"video/quicktime", "mov", mov},
    {"video/x-msvideo", "avi", avi},
    {"video/x-ms-wmv", "wmv", wmv},
    {"video/mpeg", "mpg", mpeg},
    {"video/x-flv", "flv", flv},
    {"audio/midi", "midi", midi},
    {"audio/mpeg", "mp3", mp3},
    {"audio/m4a", "m4a", m4a},
    {"audio/opus", "opus", opus},
    {"audio/ogg", "ogg", ogg},
    {"audio/x-flac", "flac", flac},
    {"audio/x-wav", "wav", wav},
    {"audio/amr", "amr", amr},
    {"audio/aac", "aac", aac},
    {"audio/x-aiff", "aiff", aiff},
    {"audio/x-dsf", "dsf", dsf},
    {"audio/x-ape", "ape", ape},
    {"application/font-woff", "woff", woff},
    {"application/font-woff", "woff2", woff2},
    {"application/font-sfnt", "ttf", ttf},
    {"application/font-sfnt", "otf", otf},
    {"application/msword", "doc", doc},
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", "docx", docx},
    {"application/vnd.ms-excel", "xls", xls},
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "xlsx", xlsx},
    {"application/vnd.ms-powerpoint", "ppt", ppt},
    {"application/vnd.openxmlformats-officedocument.presentationml.presentation", "pptx", pptx},
    {"application/vnd.oasis.opendocument.text", "odt", odt},
    {"application/vnd.oasis.opendocument.spreadsheet", "ods", ods},
    {"application/vnd.oasis.opendocument.presentation", "odp", odp},
    // Never matches: the "epub" row above runs the same test first. Kept, like "dll", so that
    // the table's rows stay as the detector lists them.
    {"application/epub+zip", "epub", epub},
    {"application/zip", "zip", zip},
    {"application/x-tar", "tar", tar},
    {"application/vnd.rar", "rar", rar},
    {"application/gzip", "gz", gz},
    {"application/x-bzip2", "bz2", bz2},
    {"application/x-7z-compressed", "7z", sevenz},
    {"application/x-xz", "xz", xz},
    {"application/pdf", "pdf", pdf},
    {"application/x-shockwave-flash", "swf", swf},
    {"application/rtf", "rtf", rtf},
    {"application/octet-stream", "eot", eot},
    {"application/postscript", "ps", ps},
    {"application/vnd.sqlite3", "sqlite", sqlite},
    {"application/x-nintendo-nes-rom", "nes", nes},
    {"application/x-google-chrome-extension", "crx", crx},
    {"application/vnd.ms-cab-compressed", "cab", cab},
    {"application/vnd.debian.binary-package", "deb", deb},
    {"application/x-unix-archive", "ar", ar},
    {"application/x-compress", "Z", compress},
    {"application/x-lzip", "lz", lzip},
    {"application/x-rpm", "rpm", rpm},
    {"application/dicom", "dcm", dicom},
    {"application/zstd", "zst", zstd},
    {"application/x-ole-storage", "msi", msi},
    {"application/x-cpio", "cpio", cpio},
    {"text/html", "html", html},
    {"text/xml", "xml", xml},
    {"text/x-shellscript", "sh", sh},
};
static_assert(std::size(kTable) == 92);

}  // namespace

std::optional<ContentType> sniff(std::span<const uint8_t> header) {
  const ByteReader r(header);
  for (const Entry& e : kTable) {
    if (e.test(r)) return ContentType{e.mime, e.extension};
  }
  return std::nullopt;
}

}  // namespace vorlix_core
