#include "sniff.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sniff_ole.hpp"

namespace vorlix_core {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == '\t') {
      fields.emplace_back();
    } else if (c != '\r') {
      fields.back() += c;
    }
  }
  return fields;
}

std::optional<Bytes> from_hex(std::string_view hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (hex.size() % 2 != 0) return std::nullopt;
  Bytes out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return out;
}

// Rows of a tab-separated file after its header line.
std::vector<std::vector<std::string>> read_tsv(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  if (!std::getline(in, line)) return rows;
  while (std::getline(in, line)) {
    if (!line.empty()) rows.push_back(split_tabs(line));
  }
  return rows;
}

Bytes read_prefix(const std::string& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  Bytes out(limit);
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(limit));
  out.resize(static_cast<size_t>(in.gcount()));
  return out;
}

std::string describe(std::optional<ContentType> type) {
  if (!type) return "none";
  return std::string(type->mime) + " (" + std::string(type->extension) + ")";
}
std::string describe(const std::string& mime, const std::string& ext) {
  return mime.empty() && ext.empty() ? "none" : mime + " (" + ext + ")";
}

std::string sniffed_ext(const Bytes& bytes) {
  auto type = sniff(bytes);
  return type ? std::string(type->extension) : "none";
}

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines)
    out += "  " + l + "\n";
  return out;
}

TEST(SniffReference, EveryVectorGivesItsExpectedType) {
  const auto rows = read_tsv(VORLIX_TEST_FIXTURES "/reference/content-type-vectors.tsv");
  ASSERT_EQ(rows.size(), 318u);
  std::vector<std::string> failures;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 4u) << row[0];
    auto bytes = from_hex(row[1]);
    ASSERT_TRUE(bytes) << row[0];
    const std::string got = describe(sniff(*bytes));
    const std::string want = describe(row[2], row[3]);
    if (got != want) failures.push_back(row[0] + ": got " + got + ", want " + want);
  }
  EXPECT_TRUE(failures.empty()) << failures.size() << " failing vectors:\n" << joined(failures);
}

TEST(SniffReference, EverySampleFileGivesItsExpectedTypeOnItsFirst8192Bytes) {
  const std::string dir = VORLIX_TEST_FIXTURES "/content-types/";
  const auto rows = read_tsv(dir + "EXPECTED.tsv");
  ASSERT_EQ(rows.size(), 58u) << "EXPECTED.tsv missing or changed";
  std::vector<std::string> failures;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 3u) << row[0];
    const Bytes header = read_prefix(dir + row[0], 8192);
    ASSERT_FALSE(header.empty()) << row[0];
    const std::string got = describe(sniff(header));
    const std::string want = describe(row[1], row[2]);
    if (got != want) failures.push_back(row[0] + ": got " + got + ", want " + want);
  }
  EXPECT_TRUE(failures.empty()) << failures.size() << " failing files:\n" << joined(failures);
}

// ---- Compound files ------------------------------------------------------------------------

constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kEnd = 0xFFFFFFFE;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kDifSect = 0xFFFFFFFC;

constexpr Clsid kWord = {0x06, 0x09, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr Clsid kExcel5 = {0x10, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr Clsid kExcel = {0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr Clsid kPowerPoint = {0x10, 0x8D, 0x81, 0x64, 0x9B, 0x4F, 0xCF, 0x11,
                               0x86, 0xEA, 0x00, 0xAA, 0x00, 0xB9, 0x29, 0xE8};

// A version-3 compound file (512-byte sectors) built field by field.
struct Ole {
  Bytes b;

  void u16(size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
  }
  void u32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      b[at + i] = uint8_t(v >> (8 * i));
  }
  static size_t sector(uint32_t id) { return (id + 1) * 512; }
  void fat(uint32_t index, uint32_t v) { u32(sector(0) + 4 * index, v); }
  // Directory entries live in sector 1, four to a sector.
  static size_t entry(uint32_t index) { return sector(1) + 128 * index; }
  void name(uint32_t index, std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i)
      u16(entry(index) + 2 * i, text[i]);
    u16(entry(index) + 64, static_cast<uint16_t>(2 * (text.size() + 1)));  // bytes incl. NUL
  }
  void stream(uint32_t index, std::u16string_view text) {
    name(index, text);
    b[entry(index) + 66] = 2;       // type: stream
    b[entry(index) + 67] = 1;       // colour: black
    u32(entry(index) + 68, kFree);  // left sibling
    u32(entry(index) + 72, kFree);  // right sibling
    u32(entry(index) + 76, kFree);  // child
  }

  // A one-sector MiniFAT in sector 2 whose only used slot ends a one-mini-sector chain.
  void minifat_in_sector_2() {
    u32(60, 2);  // first MiniFAT sector
    u32(64, 1);  // MiniFAT sectors
    fat(2, kEnd);
    u32(sector(2), kEnd);  // mini sector 0 ends its chain
    for (uint32_t i = 1; i < 128; ++i)
      u32(sector(2) + 4 * i, kFree);
  }

  // Header, FAT in sector 0, directory in sector 1 holding the root and three zeroed entries.
  explicit Ole(const Clsid& root_clsid, size_t sectors = 2) : b(512 * (sectors + 1), 0) {
    const uint8_t magic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(magic), std::end(magic), b.begin());
    u16(24, 0x3E);    // minor version (not examined)
    u16(26, 3);       // major version: 512-byte sectors
    u16(28, 0xFFFE);  // byte order mark
    u16(30, 9);       // sector shift
    u16(32, 6);       // mini sector shift
    u32(44, 1);       // FAT sectors
    u32(48, 1);       // first directory sector
    u32(56, 4096);    // mini stream cutoff
    u32(60, kEnd);    // first MiniFAT sector: none
    u32(64, 0);       // MiniFAT sectors
    u32(68, kEnd);    // first DIFAT sector: none
    u32(72, 0);       // DIFAT sectors
    u32(76, 0);       // header DIFAT: the FAT is sector 0 ...
    for (size_t i = 1; i < 109; ++i)
      u32(76 + 4 * i, kFree);  // ... and nothing else
    for (size_t i = 0; i < 128; ++i)
      fat(i, kFree);
    fat(0, kFatSect);  // sector 0 holds the FAT
    fat(1, kEnd);      // sector 1 is a one-sector directory chain
    name(0, u"Root Entry");
    b[entry(0) + 66] = 5;  // type: root
    b[entry(0) + 67] = 1;  // colour: black
    u32(entry(0) + 68, kFree);
    u32(entry(0) + 72, kFree);
    u32(entry(0) + 76, kFree);
    std::copy(root_clsid.begin(), root_clsid.end(), b.begin() + entry(0) + 80);
  }
};

TEST(SniffOle, MinimalCompoundFileIsNamedByItsRootClsid) {
  const std::pair<Clsid, std::string> cases[] = {
      {kWord, "doc"}, {kExcel5, "xls"}, {kExcel, "xls"}, {kPowerPoint, "ppt"}};
  for (const auto& [clsid, ext] : cases) {
    Ole ole(clsid);
    EXPECT_EQ(ole.b.size(), 1536u);
    EXPECT_EQ(sniffed_ext(ole.b), ext);
    EXPECT_EQ(ole_root_clsid(ole.b), clsid);
  }
}

struct OleCase {
  const char* name;
  size_t sectors;
  std::function<void(Ole&)> edit;
  const char* ext;
};

// Each rejection comes with an accepted neighbour, so a rejection can only come from its edit.
TEST(SniffOle, ConsistentLayoutsOpenAndEachFaultFallsBackToTheMagic) {
  const OleCase cases[] = {
      {"unknown root CLSID", 2, [](Ole& o) { o.b[Ole::entry(0) + 80] ^= 1; }, "msi"},
      {"one byte short", 2, [](Ole& o) { o.b.pop_back(); }, "msi"},
      {"header only", 2, [](Ole& o) { o.b.resize(512); }, "msi"},
      {"byte order swapped", 2, [](Ole& o) { o.u16(28, 0xFEFF); }, "msi"},
      {"version 5", 2, [](Ole& o) { o.u16(26, 5); }, "msi"},
      {"sector shift of version 4", 2, [](Ole& o) { o.u16(30, 12); }, "msi"},
      {"mini sector shift 7", 2, [](Ole& o) { o.u16(32, 7); }, "msi"},
      {"mini stream cutoff 8192", 2, [](Ole& o) { o.u32(56, 8192); }, "msi"},
      {"header DIFAT holds END", 2, [](Ole& o) { o.u32(76, kEnd); }, "msi"},
      {"FAT sector count 2", 2, [](Ole& o) { o.u32(44, 2); }, "msi"},
      {"FAT sector past the data", 2, [](Ole& o) { o.u32(76, 2); }, "msi"},
      {"FAT sector not marked FATSECT", 2, [](Ole& o) { o.fat(0, kEnd); }, "msi"},
      {"FAT longer than the sectors present", 2, [](Ole& o) { o.fat(2, kEnd); }, "msi"},
      {"unused sectors chained", 4,
       [](Ole& o) {
         o.fat(2, 3);
         o.fat(3, kEnd);
       },
       "doc"},
      {"FAT sectors listed many times", 3,
       [](Ole& o) {
         for (uint32_t i = 1; i < 109; ++i)
           o.u32(76 + 4 * i, 2);  // header DIFAT: 0, 2, 2, ...
         o.u32(44, 109);          // FAT sectors
         for (uint32_t i = 0; i < 128; ++i)
           o.u32(Ole::sector(2) + 4 * i, kFree);
         o.fat(2, kFatSect);
       },
       "doc"},
      {"two links into one sector", 4,
       [](Ole& o) {
         o.fat(2, 3);
         o.fat(3, 3);
       },
       "msi"},
      {"directory chain loops", 2, [](Ole& o) { o.fat(1, 1); }, "msi"},
      {"no directory sector", 2, [](Ole& o) { o.u32(48, kEnd); }, "msi"},
      {"directory sector FREE", 2, [](Ole& o) { o.u32(48, kFree); }, "msi"},
      {"DIFAT sector count without a chain", 2, [](Ole& o) { o.u32(72, 1); }, "msi"},
      {"DIFAT chain of one empty sector", 3,
       [](Ole& o) {
         o.u32(68, 2);  // first DIFAT sector
         o.u32(72, 1);  // DIFAT sectors
         for (uint32_t i = 0; i < 127; ++i)
           o.u32(Ole::sector(2) + 4 * i, kFree);
         o.u32(Ole::sector(2) + 4 * 127, kEnd);  // next DIFAT sector
         o.fat(2, kDifSect);
       },
       "doc"},
      {"DIFAT sector not marked DIFSECT", 3,
       [](Ole& o) {
         o.u32(68, 2);
         o.u32(72, 1);
         for (uint32_t i = 0; i < 127; ++i)
           o.u32(Ole::sector(2) + 4 * i, kFree);
         o.u32(Ole::sector(2) + 4 * 127, kEnd);
         o.fat(2, kEnd);
       },
       "msi"},
      {"MiniFAT of one slot", 3,
       [](Ole& o) {
         o.minifat_in_sector_2();
         o.u32(Ole::entry(0) + 120, 64);  // root size: one mini sector
       },
       "doc"},
      {"MiniFAT larger than the mini stream", 3, [](Ole& o) { o.minifat_in_sector_2(); }, "msi"},
      {"MiniFAT count without a chain", 2, [](Ole& o) { o.u32(64, 1); }, "msi"},
      {"MiniFAT starts FREE", 2, [](Ole& o) { o.u32(60, kFree); }, "msi"},
      {"root size not a multiple of 64", 2, [](Ole& o) { o.u32(Ole::entry(0) + 120, 10); }, "msi"},
      {"MiniFAT against a root size past 32 bits", 3,
       [](Ole& o) {
         o.minifat_in_sector_2();
         o.u32(Ole::entry(0) + 124, 1);  // root size 2^32: version 3 keeps the low 32 bits
       },
       "msi"},
      {"root is a storage", 2, [](Ole& o) { o.b[Ole::entry(0) + 66] = 1; }, "msi"},
      {"odd name length", 2, [](Ole& o) { o.u16(Ole::entry(1) + 64, 3); }, "msi"},
      {"name longer than 64 bytes", 2, [](Ole& o) { o.u16(Ole::entry(0) + 64, 66); }, "msi"},
      {"entry type 3", 2, [](Ole& o) { o.b[Ole::entry(1) + 66] = 3; }, "msi"},
      {"colour 2", 2, [](Ole& o) { o.b[Ole::entry(0) + 67] = 2; }, "msi"},
      {"colon in an unused entry's name", 2, [](Ole& o) { o.name(1, u"a:"); }, "msi"},
      {"unpaired surrogate", 2,
       [](Ole& o) {
         o.name(3,
                u"\xD800"
                u"a");
       },
       "msi"},
      {"paired surrogates", 2, [](Ole& o) { o.name(3, u"\xD800\xDC00"); }, "doc"},
      {"sibling link past the entries", 2, [](Ole& o) { o.u32(Ole::entry(0) + 68, 4); }, "msi"},
      {"sibling link INVALID", 2, [](Ole& o) { o.u32(Ole::entry(0) + 72, 0xFFFFFFFB); }, "msi"},
      {"root is its own child", 2, [](Ole& o) { o.u32(Ole::entry(0) + 76, 0); }, "msi"},
      {"stream with a child", 2,
       [](Ole& o) {
         o.stream(1, u"B");
         o.u32(Ole::entry(1) + 76, 2);
       },
       "msi"},
      {"ordered siblings, case folded", 2,
       [](Ole& o) {
         o.u32(Ole::entry(0) + 76, 1);  // root's child: "B"
         o.stream(1, u"B");
         o.stream(2, u"a");   // left of "B": 'A' < 'B' once folded
         o.stream(3, u"AA");  // right of "B": longer names sort later
         o.u32(Ole::entry(1) + 68, 2);
         o.u32(Ole::entry(1) + 72, 3);
       },
       "doc"},
      {"left sibling greater", 2,
       [](Ole& o) {
         o.u32(Ole::entry(0) + 76, 1);
         o.stream(1, u"B");
         o.stream(2, u"c");
         o.u32(Ole::entry(1) + 68, 2);
       },
       "msi"},
      {"siblings with equal names", 2,
       [](Ole& o) {
         o.u32(Ole::entry(0) + 76, 1);
         o.stream(1, u"B");
         o.stream(2, u"b");
         o.u32(Ole::entry(1) + 72, 2);
       },
       "msi"},
      {"entry reached twice", 2,
       [](Ole& o) {
         o.u32(Ole::entry(0) + 76, 1);
         o.stream(1, u"B");
         o.stream(2, u"C");
         o.u32(Ole::entry(1) + 72, 2);
         o.u32(Ole::entry(2) + 68, 1);  // back to "B"
       },
       "msi"},
  };
  for (const auto& c : cases) {
    Ole ole(kWord, c.sectors);
    c.edit(ole);
    EXPECT_EQ(sniffed_ext(ole.b), c.ext) << c.name;
  }
}

// Sibling names compare by their UTF-16 length as stored, then by their full Unicode upper-case
// forms. Each case puts `left` as the left sibling of `parent`, which opens only when left sorts
// strictly first; every pair is also tried the other way round.
TEST(SniffOle, SiblingNamesCompareByLengthThenFullUpperCase) {
  struct NameCase {
    const char* why;
    std::u16string left, parent;
    const char* ext;          // left of parent
    const char* swapped_ext;  // parent of left
  };
  const NameCase cases[] = {
      {"ASCII letters fold to upper case", u"a", u"B", "doc", "msi"},
      {"ASCII case only: equal", u"b", u"B", "msi", "msi"},
      {"upper, not lower, folding: 'A' < '_'", u"a", u"_", "doc", "msi"},
      {"shorter first whatever the letters", u"Z", u"AA", "doc", "msi"},
      {"e acute equals E acute", u"\u00E9", u"\u00C9", "msi", "msi"},
      {"E acute before E circumflex, either case", u"\u00E9", u"\u00CA", "doc", "msi"},
      {"sharp s upper-cases to SS: SSA < SZ", u"\u00DFA", u"SZ", "doc", "msi"},
      {"sharp s with S equals S with sharp s", u"\u00DFS", u"S\u00DF", "msi", "msi"},
      {"the stored length counts, not the upper-cased one", u"\u00DF", u"SS", "doc", "msi"},
      {"a prefix sorts first: SS < SSS", u"SS", u"\u00DFS", "doc", "msi"},
      {"ligature ffi upper-cases to FFI", u"\uFB03X", u"FG", "doc", "msi"},
      {"dotless i equals I", u"\u0131", u"I", "msi", "msi"},
      {"dotted capital I has no other form", u"i", u"\u0130", "doc", "msi"},
      {"micro sign equals capital mu", u"\u00B5", u"\u039C", "msi", "msi"},
      {"title-case DZ equals capital DZ", u"\u01C5", u"\u01C4", "msi", "msi"},
      {"Deseret letters beyond the BMP", u"\U00010428", u"\U00010400", "msi", "msi"},
      {"Deseret small before a later capital", u"\U00010428", u"\U00010401", "doc", "msi"},
  };
  for (const auto& c : cases) {
    for (const bool swapped : {false, true}) {
      Ole ole(kWord);
      ole.u32(Ole::entry(0) + 76, 1);  // root's child: the parent
      ole.stream(1, swapped ? c.left : c.parent);
      ole.stream(2, swapped ? c.parent : c.left);
      ole.u32(Ole::entry(1) + 68, 2);  // its left sibling
      EXPECT_EQ(sniffed_ext(ole.b), swapped ? c.swapped_ext : c.ext)
          << c.why << (swapped ? " (swapped)" : "");
    }
  }
}

TEST(SniffOle, HeaderDifatNamingOneSectorRepeatedlyIsRejectedQuickly) {
  // 109 header slots all naming sector 0 make a FAT of 109 copies of it: too long to trim.
  Ole ole(kWord, 15);
  for (size_t i = 0; i < 109; ++i)
    ole.u32(76 + 4 * i, 0);
  ole.u32(44, 109);
  EXPECT_EQ(sniffed_ext(ole.b), "msi");
  EXPECT_EQ(ole_root_clsid(ole.b), std::nullopt);
}

// ---- Variable-length tests, one byte short ---------------------------------------------------

// A ZIP local file header (stored, no extra field) with its name and `data` zero bytes.
void local_header(Bytes& out, std::string_view name, uint32_t data) {
  const size_t at = out.size();
  out.resize(at + 30, 0);
  auto le = [&](size_t pos, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
      out[at + pos + i] = uint8_t(v >> (8 * i));
  };
  le(0, 0x04034B50, 4);                           // signature "PK" 03 04
  le(4, 20, 2);                                   // version needed
  le(18, data, 4);                                // compressed size
  le(22, data, 4);                                // uncompressed size
  le(26, static_cast<uint32_t>(name.size()), 2);  // name length
  out.insert(out.end(), name.begin(), name.end());
  out.insert(out.end(), data, 0);
}

struct CutCase {
  const char* name;
  Bytes bytes;
  const char* whole;  // extension on all bytes
  const char* cut;    // extension without the last byte
};

std::vector<CutCase> cut_cases() {
  std::vector<CutCase> cases;

  // Content types, relationships, then a word/ entry whose data pushes the fourth header past
  // the third header's name + 26, where the last search starts.
  Bytes ooxml;
  local_header(ooxml, "[Content_Types].xml", 0);
  local_header(ooxml, "_rels/.rels", 0);
  local_header(ooxml, "word/document.xml", 9);
  local_header(ooxml, "word/", 0);
  cases.push_back({"docx decided by the fourth entry", ooxml, "docx", "zip"});

  const uint8_t heif[] = {
      0,   0,   0,   24,   // ftyp box size
      'f', 't', 'y', 'p',  // box type
      'm', 'i', 'f', '1',  // major brand
      0,   0,   0,   0,    // minor version
      'm', 'i', 'a', 'f',  // compatible brands
      'h', 'e', 'i', 'c',
  };
  cases.push_back(
      {"heif brand at the box end", Bytes(std::begin(heif), std::end(heif)), "heif", "none"});

  const uint8_t zstd[] = {
      0x50, 0x2A, 0x4D, 0x18,  // skippable frame magic
      4,    0,    0,    0,     // frame data length
      1,    2,    3,    4,     // frame data
      0x28, 0xB5, 0x2F, 0xFD,  // zstd frame magic
  };
  cases.push_back(
      {"zstd after a skippable frame", Bytes(std::begin(zstd), std::end(zstd)), "zst", "none"});

  const std::string_view html = " \t\r\n<html>";
  cases.push_back({"html after whitespace", Bytes(html.begin(), html.end()), "html", "none"});
  const std::string_view xml = "\n\xEF\xBB\xBF\xFF\xFE<?XmL";
  cases.push_back({"xml after byte-order marks", Bytes(xml.begin(), xml.end()), "xml", "none"});
  cases.push_back({"compound file", Ole(kPowerPoint).b, "ppt", "msi"});
  return cases;
}

TEST(SniffBoundaries, VariableLengthTestsNeedTheirLastByte) {
  for (const auto& c : cut_cases()) {
    EXPECT_EQ(sniffed_ext(c.bytes), c.whole) << c.name;
    const Bytes cut(c.bytes.begin(), c.bytes.end() - 1);
    EXPECT_EQ(sniffed_ext(cut), c.cut) << c.name;
  }
}

TEST(SniffBoundaries, ZipBasedTestsIgnoreHeadersPastTheSearchWindow) {
  // The search for the second header starts at 49 (the first entry's size field says 0) and
  // looks 6000 bytes ahead; `gap` bytes of data put the second header at 49 + gap.
  auto package = [](uint32_t gap) {
    Bytes b;
    local_header(b, "[Content_Types].xml", gap);
    b[18] = b[19] = 0;  // compressed size: 0
    local_header(b, "_rels/.rels", 0);
    local_header(b, "word/document.xml", 9);
    local_header(b, "word/", 0);
    return b;
  };
  EXPECT_EQ(sniffed_ext(package(5996)), "docx");  // signature ends at the window's last byte
  EXPECT_EQ(sniffed_ext(package(5997)), "zip");
}

TEST(SniffBoundaries, HugeLengthFieldsDoNotWrap) {
  Bytes ooxml;
  local_header(ooxml, "[Content_Types].xml", 0);
  local_header(ooxml, "word/", 0);
  for (int i = 18; i < 22; ++i)
    ooxml[i] = 0xFF;  // compressed size near 2^32
  EXPECT_EQ(sniffed_ext(ooxml), "zip");

  const uint8_t zstd[] = {
      0x5F, 0x2A, 0x4D, 0x18,  // skippable frame magic
      0xF8, 0xFF, 0xFF, 0xFF,  // frame data length: 8 + length wraps in 32 bits
      0x28, 0xB5, 0x2F, 0xFD,  // a frame magic that must not be reached
  };
  EXPECT_EQ(sniffed_ext(Bytes(std::begin(zstd), std::end(zstd))), "none");
}

}  // namespace
}  // namespace vorlix_core
