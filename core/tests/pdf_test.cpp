// The PDF extractor and its scan over hand-built byte strings and sample files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "extractors/extractors.hpp"
#include "extractors/pdf_scan.hpp"
#include "test_support.hpp"
#include "text.hpp"

namespace vorlix_core {
namespace {

using namespace std::string_literals;

using extractors::PdfExtractor;

using testing::context_for;
using testing::HoleSource;
namespace pdf_scan = extractors::pdf;

constexpr auto field = testing::find;
constexpr auto text_of = testing::field<std::string>;
constexpr auto uint_of = testing::field<uint64_t>;
constexpr auto bool_of = testing::field<bool>;
const Map* info_of(const Namespace& ns) {
  const Value* v = field(ns.fields(), "info");
  return v ? v->get_if<Map>() : nullptr;
}
std::optional<std::string> info(const Namespace& ns, std::string_view key) {
  const Map* m = info_of(ns);
  return m ? text_of(*m, key) : std::nullopt;
}

Namespace pdf(std::string_view bytes) {
  auto r = testing::extract_bytes(PdfExtractor(), as_bytes(bytes));
  EXPECT_TRUE(r.ok());
  return r ? std::move(r).value() : Namespace("pdf");
}

const std::string kU = "\xEF\xBF\xBD";  // U+FFFD

// ---- PDF ----------------------------------------------------------------------------------

TEST(PdfExtractor, ClaimsOnlyThePdfHeader) {
  const struct {
    std::string header;
    bool claimed;
  } cases[] = {
      {"%PDF-1.4\n", true}, {"%PDF-", true}, {"%PDF", false},  // four bytes only
      {"%pdf-1.4", false},                                     // case matters
      {" %PDF-1.4", false}, {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PdfExtractor().supports(context_for(as_bytes(c.header))), c.claimed) << c.header;
  }
}

TEST(PdfExtractor, VersionFromTheFirstLine) {
  const struct {
    std::string bytes;
    std::optional<std::string> version;
  } cases[] = {
      {"%PDF-1.7\n1 0 obj", "1.7"},
      {"%PDF-1.7\r\n", "1.7"},
      {"%PDF-\n", ""},
      {"%PDF-2.0\r", "2.0"},
      {"%PDF-0123456789\r", "0123456789"},   // line break at offset 15: last one looked at
      {"%PDF-0123456789A\n", std::nullopt},  // line break at offset 16: too far
      {"%PDF-1.7 garbage on the line\n", std::nullopt},
      {"%PDF-1.7", std::nullopt},  // no line break at all
      {"%PDF-\xFF\n", kU},         // invalid UTF-8 is replaced
      {"%PD\n", std::nullopt},     // line break before offset 5
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text_of(pdf(c.bytes).fields(), "version"), c.version) << c.bytes;
  }
}

TEST(PdfExtractor, CountsObjectsAndPages) {
  const struct {
    std::string body;
    uint64_t objects;
    uint64_t pages;
  } cases[] = {
      {"12 0 obj\n<<>>\nendobj", 1, 0},  // endobj has no space before obj
      {"endobj endobj", 0, 0},
      {"1 0 obj 2 0 obj 3 0 obj", 3, 0},
      {" obj obj", 2, 0},
      {"/Type /Pages /Type /Page /Type /Page /Type /Page", 0, 3},
      {"/Type/Page /Type /Page", 0, 2},
      {"/Type/Pages/Type/Pages", 0, 0},
      {"/Type/PageX", 0, 1},   // only a following s disqualifies
      {"/Type  /Page", 0, 0},  // two spaces are not recognised
      {"/Type\n/Page", 0, 0},  // nor a line break
      {"x/Type/Page", 0, 1},   // a match ending at the very end counts
      {"/Type/Page/Type/Pages/Type/Page", 0, 2},
  };
  for (const auto& c : cases) {
    const Namespace ns = pdf("%PDF-1.4\n" + c.body);
    EXPECT_EQ(uint_of(ns.fields(), "object_count"), c.objects) << c.body;
    EXPECT_EQ(uint_of(ns.fields(), "page_count"), c.pages) << c.body;
  }
}

TEST(PdfExtractor, LinearizedAndEncryptedFlags) {
  const struct {
    std::string body;
    bool linearized;
    bool encrypted;
  } cases[] = {
      {"", false, false},
      {"<</Linearized 1>>", true, false},
      {"/Encrypt 5 0 R", false, true},
      {"/EncryptMetadata false", false, true},  // containment, not a name match
      {"/encrypt /linearized", false, false},
  };
  for (const auto& c : cases) {
    const Namespace ns = pdf("%PDF-1.5\n" + c.body);
    EXPECT_EQ(bool_of(ns.fields(), "linearized"), c.linearized) << c.body;
    EXPECT_EQ(bool_of(ns.fields(), "encrypted"), c.encrypted) << c.body;
  }
}

TEST(PdfExtractor, LiteralStringReading) {
  const struct {
    std::string body;
    std::optional<std::string> title;
  } cases[] = {
      {"/Title (Annual \\(final\\) report)", "Annual (final) report"},
      {"/Title (a(b)c)", "a(b)c"},
      {"/Title (a(b(c)d)e) tail)", "a(b(c)d)e"},
      {"/Title (line\\nbreak)", "linenbreak"},  // escapes are not translated
      {"/Title (\\101BC)", "101BC"},            // nor octal escapes
      {"/Title (a\\\\b)", "a\\b"},
      {"/Title ()", ""},
      {"/Title(tight)", "tight"},
      {"/Title \t\r\n\f (spaced)", "spaced"},
      {"/Title (unterminated", "unterminated"},
      {"/Title (open (inner)", "open (inner)"},
      {"/Title (ends in backslash\\", "ends in backslash"},
      {"/Title (\xFE\xFF\x00T\x00i)"s, kU + kU + "\0T\0i"s},  // UTF-16 kept raw
      {"/Title <FEFF0041>", std::nullopt},                    // hexadecimal string
      {"/Title 7 0 R", std::nullopt},                         // indirect reference
      {"/Title", std::nullopt},                               // key at the very end
      {"/Title   ", std::nullopt},                            // only whitespace after it
      {"/Title /X (late)", std::nullopt},                     // something between key and string
      {"/Title\0(nul)"s, std::nullopt},
      {"/Title <ABCD> /Title (second)", std::nullopt},  // only the first key is tried
      {"/TitleX (no)", std::nullopt},
  };
  for (const auto& c : cases) {
    const Namespace ns = pdf("%PDF-1.4\n" + c.body);
    EXPECT_EQ(info(ns, "title"), c.title) << c.body;
  }
}

TEST(PdfExtractor, AllInformationEntries) {
  const Namespace ns =
      pdf("%PDF-1.4\n1 0 obj\n<< /Title (T) /Author (A) /Subject (S) /Creator (C) /Producer (P)"
          " /Keywords (K) /CreationDate (D:20240309070502+01'00') /ModDate (D:2024) >>\nendobj\n");
  const Map* m = info_of(ns);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->size(), 8u);
  EXPECT_EQ(text_of(*m, "title"), "T");
  EXPECT_EQ(text_of(*m, "author"), "A");
  EXPECT_EQ(text_of(*m, "subject"), "S");
  EXPECT_EQ(text_of(*m, "creator"), "C");
  EXPECT_EQ(text_of(*m, "producer"), "P");
  EXPECT_EQ(text_of(*m, "keywords"), "K");
  EXPECT_EQ(text_of(*m, "creation_date"), "D:20240309070502+01'00'");
  EXPECT_EQ(text_of(*m, "modification_date"), "D:2024");
}

TEST(PdfExtractor, LongerNameSharingAKeyPrefix) {
  // The first "/Creator" is the start of "/CreatorTool": that row yields nothing.
  EXPECT_EQ(info(pdf("%PDF-1.4\n/CreatorTool (x) /Creator (y)"), "creator"), std::nullopt);
  EXPECT_EQ(info(pdf("%PDF-1.4\n/Creator (y) /CreatorTool (x)"), "creator"), "y");
}

TEST(PdfExtractor, NoInformationStillReportsCountsAndFlags) {
  const Namespace ns = pdf("%PDF-1.4\n");
  EXPECT_EQ(field(ns.fields(), "info"), nullptr);
  EXPECT_EQ(uint_of(ns.fields(), "object_count"), 0u);
  EXPECT_EQ(uint_of(ns.fields(), "page_count"), 0u);
  EXPECT_EQ(bool_of(ns.fields(), "linearized"), false);
  EXPECT_EQ(bool_of(ns.fields(), "encrypted"), false);
  EXPECT_EQ(ns.fields().size(), 5u);
}

TEST(PdfExtractor, EveryTruncationIsTolerated) {
  const std::string full =
      "%PDF-1.4\n1 0 obj\n<< /Type /Page /Title (Plain \\(x\\) title) >>\nendobj\n"
      "2 0 obj\n<< /Type/Pages >>\nendobj\ntrailer\n";
  const Namespace whole = pdf(full);
  ASSERT_EQ(info(whole, "title"), "Plain (x) title");
  for (size_t n = 0; n <= full.size(); ++n) {
    const Namespace ns = pdf(full.substr(0, n));
    ASSERT_LE(*uint_of(ns.fields(), "object_count"), *uint_of(whole.fields(), "object_count"));
    // A /Pages cut right after its "e" reads as one more page.
    ASSERT_LE(*uint_of(ns.fields(), "page_count"), *uint_of(whole.fields(), "page_count") + 1);
    // A cut string ends at the end of the data: what was read is a prefix of the full title.
    if (auto t = info(ns, "title")) {
      ASSERT_EQ(std::string("Plain (x) title").rfind(*t, 0), 0u) << n;
    }
  }
}

TEST(PdfExtractor, AdversarialInputsStayLinear) {
  constexpr size_t kMiB = 1 << 20;
  // One unterminated string opening a million nested levels.
  const Namespace nested = pdf("%PDF-1.4\n/Title (" + std::string(kMiB, '('));
  EXPECT_EQ(info(nested, "title")->size(), kMiB);
  // An unterminated string keeps at most 1 MiB, however much of the file follows.
  const Namespace runaway = pdf("%PDF-1.4\n/Title (" + std::string(3 * kMiB, 'x'));
  EXPECT_EQ(info(runaway, "title")->size(), kMiB);

  // Every key opens a string that nests into the next and runs to the end: each row reads
  // nearly the whole input.
  std::string chained = "%PDF-1.4\n";
  for (const char* k : {"/Title", "/Author", "/Subject", "/Creator", "/Producer", "/Keywords",
                        "/CreationDate", "/ModDate"}) {
    chained += std::string(k) + " (";
  }
  chained += std::string(kMiB, '\\');
  const Namespace chained_ns = pdf(chained);
  const Map* rows = info_of(chained_ns);
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(rows->size(), 8u);
  EXPECT_GT(text_of(*rows, "title")->size(), kMiB / 2);

  // Near-misses of every searched pattern, back to back.
  std::string near = "%PDF-1.4\n";
  while (near.size() < kMiB)
    near += " ob/Type/Pag/Type /Pag/Linearize/Encryp/Titl";
  const Namespace ns = pdf(near);
  EXPECT_EQ(uint_of(ns.fields(), "object_count"), 0u);
  EXPECT_EQ(uint_of(ns.fields(), "page_count"), 0u);
  EXPECT_EQ(bool_of(ns.fields(), "linearized"), false);

  // A million objects and keys: counting resumes after each match.
  std::string objs = "%PDF-1.4\n";
  for (int i = 0; i < 200000; ++i)
    objs += " obj/Type /Page";
  EXPECT_EQ(uint_of(pdf(objs).fields(), "object_count"), 200000u);
  EXPECT_EQ(uint_of(pdf(objs).fields(), "page_count"), 200000u);

  // Keys repeated without values: only the first occurrence is ever examined.
  std::string titles = "%PDF-1.4\n";
  while (titles.size() < kMiB)
    titles += "/Title/Title ";
  EXPECT_EQ(info_of(pdf(titles)), nullptr);
}

// The counts, flags and first key positions as whole-buffer searches give them, one search per
// pattern: what the windowed single pass must reproduce.
pdf_scan::ScanResult reference_scan(std::string_view b) {
  const auto count = [&](std::string_view pattern, bool unless_s) {
    uint64_t n = 0;
    for (size_t at = b.find(pattern); at != std::string_view::npos;
         at = b.find(pattern, at + pattern.size())) {
      const size_t next = at + pattern.size();
      if (!(unless_s && next < b.size() && b[next] == 's')) ++n;
    }
    return n;
  };
  pdf_scan::ScanResult out;
  out.objects = count(" obj", false);
  out.pages = count("/Type/Page", true) + count("/Type /Page", true);
  out.linearized = b.find("/Linearized") != std::string_view::npos;
  out.encrypted = b.find("/Encrypt") != std::string_view::npos;
  for (size_t i = 0; i < pdf_scan::kInfoRows.size(); ++i) {
    const size_t at = b.find(pdf_scan::kInfoRows[i].pattern);
    if (at != std::string_view::npos) out.info_at[i] = at;
  }
  return out;
}

void expect_same_scan(const pdf_scan::ScanResult& got, const pdf_scan::ScanResult& want,
                      const std::string& what) {
  EXPECT_EQ(got.objects, want.objects) << what;
  EXPECT_EQ(got.pages, want.pages) << what;
  EXPECT_EQ(got.linearized, want.linearized) << what;
  EXPECT_EQ(got.encrypted, want.encrypted) << what;
  EXPECT_EQ(got.info_at, want.info_at) << what;
}

// Not an in-memory source, so the scan goes through read windows as it does for files.
pdf_scan::ScanResult scan_in_windows(std::string_view bytes, uint64_t window) {
  HoleSource src(std::vector<uint8_t>(bytes.begin(), bytes.end()), 0, {});
  RandomAccess ra(src, bytes.size());
  Cursor c{SourceReader(ra)};
  return pdf_scan::scan(c, window);
}

TEST(PdfScan, PatternsAcrossWindowEdgesAreSeenOnce) {
  const std::vector<std::string> patterns = {
      " obj",        "/Type/Page", "/Type /Page", "/Type/Pages", "/Type /Pages",
      "/Linearized", "/Encrypt",   "/Title",      "/Author",     "/Subject",
      "/Creator",    "/Producer",  "/Keywords",   "/ModDate",    "/CreationDate"};
  // Each pattern, alone and twice in a row, at every offset around small windows.
  for (const auto& p : patterns) {
    for (size_t offset = 0; offset < 24; ++offset) {
      for (const std::string& body : {p, p + p, p + " " + p}) {
        const std::string bytes = std::string(offset, 'x') + body + "x";
        const std::string cut = std::string(offset, 'x') + body;  // ending at the very end
        for (uint64_t window : {1, 2, 7, 13, 16}) {
          expect_same_scan(scan_in_windows(bytes, window), reference_scan(bytes),
                           p + " @" + std::to_string(offset) + " w" + std::to_string(window));
          expect_same_scan(scan_in_windows(cut, window), reference_scan(cut),
                           p + " @" + std::to_string(offset) + " end w" + std::to_string(window));
        }
      }
    }
  }
  // Random mixtures of patterns and near misses.
  std::mt19937 rng(12345);
  const std::vector<std::string> pieces = {
      " obj",          "/Type/Page", "/Type /Page", "s", "/",        " ",  "/Title", "/Creat",
      "/CreationDate", "/Creator",   "/Linearize",  "d", "/Encrypt", "ob", "j",      "/Type"};
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    const size_t n = rng() % 40;
    for (size_t i = 0; i < n; ++i)
      bytes += pieces[rng() % pieces.size()];
    for (uint64_t window : {1, 3, 7, 64}) {
      expect_same_scan(scan_in_windows(bytes, window), reference_scan(bytes), bytes);
    }
  }
}

std::vector<uint8_t> read_fixture(const std::string& name) {
  std::ifstream in(VORLIX_TEST_FIXTURES "/documents/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(PdfScan, SampleFilesGiveTheirKnownSummaries) {
  const std::string date = "D:20261208012824Z00'00'";
  const struct {
    const char* file;
    uint64_t objects, pages;
    bool linearized, encrypted;
    const char* version;
    std::optional<std::string> title, producer, creation_date;
  } cases[] = {
      {"gs-encrypted.pdf", 9, 2, false, true, "1.7", std::nullopt, std::nullopt, std::nullopt},
      {"gs-linear.pdf", 10, 2, true, false, "1.4", "Quarterly (draft) notes",
       "GPL Ghostscript 10.00.0", date},
      {"gs-tiny.pdf", 10, 2, false, false, "1.4", "Quarterly (draft) notes",
       "GPL Ghostscript 10.00.0", date},
      {"sample.pdf", 22, 1, false, false, "1.3", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> bytes = read_fixture(c.file);
    ASSERT_FALSE(bytes.empty()) << c.file;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const Namespace ns = pdf(text);
    EXPECT_EQ(uint_of(ns.fields(), "object_count"), c.objects) << c.file;
    EXPECT_EQ(uint_of(ns.fields(), "page_count"), c.pages) << c.file;
    EXPECT_EQ(bool_of(ns.fields(), "linearized"), c.linearized) << c.file;
    EXPECT_EQ(bool_of(ns.fields(), "encrypted"), c.encrypted) << c.file;
    EXPECT_EQ(text_of(ns.fields(), "version"), c.version) << c.file;
    EXPECT_EQ(info(ns, "title"), c.title) << c.file;
    EXPECT_EQ(info(ns, "producer"), c.producer) << c.file;
    EXPECT_EQ(info(ns, "creation_date"), c.creation_date) << c.file;
    for (uint64_t window : {7, 100, 4096}) {
      expect_same_scan(scan_in_windows(text, window), reference_scan(text), c.file);
    }
  }
}

TEST(PdfExtractor, LargeFileIsReadOnceInWindows) {
  // Information at both ends of 64 MiB: the scan must read everything, but only once.
  const std::string head = "%PDF-1.4\n1 0 obj\n<< /Title (Front) /Type /Page >>\nendobj\n";
  const std::string tail = "\n2 0 obj\n<< /Author (Back) /Type /Pages >>\nendobj\n%%EOF\n";
  constexpr uint64_t kHole = uint64_t{64} << 20;
  HoleSource src(std::vector<uint8_t>(head.begin(), head.end()), kHole,
                 std::vector<uint8_t>(tail.begin(), tail.end()));
  ProbeContext ctx;
  ctx.length = src.size();
  auto r = PdfExtractor().extract(src, ctx);
  ASSERT_TRUE(r.ok()) << r.error().display();
  EXPECT_EQ(info(*r, "title"), "Front");
  EXPECT_EQ(info(*r, "author"), "Back");
  EXPECT_EQ(uint_of(r->fields(), "object_count"), 2u);
  EXPECT_EQ(uint_of(r->fields(), "page_count"), 1u);
  // Every window's few bytes of overlap, and a read window for each information string.
  const uint64_t windows = src.size() / limits::kPdfScanWindow + 1;
  EXPECT_GE(src.bytes_read(), src.size());
  EXPECT_LE(src.bytes_read(), src.size() + windows * 16 + 4 * RandomAccess::kWindowBytes);
}

TEST(PdfExtractor, InformationStringAcrossReadWindows) {
  // A title longer than a read window, with escapes and parentheses on both sides of the edges.
  std::string title;
  while (title.size() < 3 * RandomAccess::kWindowBytes)
    title += "ab\\(c\\)(d)";
  const std::string bytes = "%PDF-1.4\n/Title \n\t(" + title + ")";
  HoleSource src(std::vector<uint8_t>(bytes.begin(), bytes.end()), 0, {});
  ProbeContext ctx;
  ctx.length = src.size();
  auto r = PdfExtractor().extract(src, ctx);
  ASSERT_TRUE(r.ok());
  std::string want;
  while (want.size() < title.size() - title.size() / 5)  // each "\\(" and "\\)" keeps one byte
    want += "ab(c)(d)";
  EXPECT_EQ(info(*r, "title"), want);
}

// ---- gzip ---------------------------------------------------------------------------------

// A file shorter than the length it was stated to have: what is there, never a made-up field.
TEST(PdfExtractor, DeclaredLengthBeyondTheFile) {
  const std::string bytes = "%PDF-1.4\n1 0 obj /Type /Page /Title (Cut";
  auto r = testing::extract_from_file(PdfExtractor(), as_bytes(bytes), 100000);
  ASSERT_TRUE(r.ok()) << r.error().display();
  EXPECT_EQ(info(*r, "title"), "Cut");
  EXPECT_EQ(uint_of(r->fields(), "page_count"), 1u);
}

}  // namespace
}  // namespace vorlix_core
