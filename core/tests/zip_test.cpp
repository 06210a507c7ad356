// ZIP container extractor over hand-built archives.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "extractors/extractors.hpp"
#include "formats/signatures.hpp"
#include "test_support.hpp"
#include "text.hpp"

namespace vorlix_core {
namespace {

using extractors::ZipExtractor;
using namespace std::string_literals;
using testing::context_for;
using testing::FailingSource;
using testing::HoleSource;

void put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void put32(std::string& out, uint32_t v) {
  put16(out, static_cast<uint16_t>(v));
  put16(out, static_cast<uint16_t>(v >> 16));
}

struct Entry {
  std::string name;
  uint16_t method = 8;
  uint32_t compressed = 0;
  uint32_t uncompressed = 0;
  uint16_t time = 0;
  uint16_t date = 0;
  std::string extra = "";
  std::string comment = "";
};

// One central-directory file header followed by its name, extra field and comment.
std::string central_record(const Entry& e) {
  std::string r(formats::kZipCentralHeader);          // signature
  put16(r, 20);                                       // version made by
  put16(r, 20);                                       // version needed
  put16(r, 0);                                        // flags
  put16(r, e.method);                                 // compression method
  put16(r, e.time);                                   // modification time
  put16(r, e.date);                                   // modification date
  put32(r, 0);                                        // CRC-32
  put32(r, e.compressed);                             // compressed size
  put32(r, e.uncompressed);                           // uncompressed size
  put16(r, static_cast<uint16_t>(e.name.size()));     // file-name length
  put16(r, static_cast<uint16_t>(e.extra.size()));    // extra-field length
  put16(r, static_cast<uint16_t>(e.comment.size()));  // file-comment length
  put16(r, 0);                                        // disk number
  put16(r, 0);                                        // internal attributes
  put32(r, 0);                                        // external attributes
  put32(r, 0);                                        // local-header offset
  return r + e.name + e.extra + e.comment;
}

std::string end_record(uint16_t entries, uint32_t dir_offset, std::string comment = "") {
  std::string r(formats::kZipEndOfCentralDirectory);  // signature
  put16(r, 0);                                        // this disk
  put16(r, 0);                                        // disk with the directory
  put16(r, entries);                                  // entries on this disk
  put16(r, entries);                                  // total entries
  put32(r, 0);                                        // directory size
  put32(r, dir_offset);                               // directory offset
  put16(r, static_cast<uint16_t>(comment.size()));    // comment length
  return r + comment;
}

// A dummy local header (never read), the central directory, and the end record.
std::string archive(const std::vector<Entry>& entries, std::string comment = "") {
  std::string out = std::string(formats::kZipLocalHeader) + std::string(26, '\0');
  const auto dir = static_cast<uint32_t>(out.size());
  for (const Entry& e : entries)
    out += central_record(e);
  return out + end_record(static_cast<uint16_t>(entries.size()), dir, std::move(comment));
}

ExtractResult run(std::string_view bytes) {
  MemorySource src(as_bytes(bytes));
  return ZipExtractor().extract(src, context_for(as_bytes(bytes)));
}

Namespace zip(std::string_view bytes) {
  auto r = run(bytes);
  EXPECT_TRUE(r.ok()) << (r ? "" : r.error().display());
  return r ? std::move(r).value() : Namespace("zip");
}

std::string error_of(std::string_view bytes) {
  auto r = run(bytes);
  return r ? "(no error)" : r.error().display();
}

constexpr auto field = testing::find;
template <class T>
constexpr auto get = testing::field<T>;
List entries_of(const Namespace& ns) {
  return testing::as_list(field(ns.fields(), "entries"));
}
Map entry(const Namespace& ns, size_t i) {
  return *entries_of(ns).at(i).get_if<Map>();
}
std::string kind_of(const Namespace& ns) {
  return get<std::string>(ns.fields(), "container_kind").value_or("(absent)");
}

const char* const kNoEnd = "malformed zip: no end-of-central-directory record";
const char* const kTruncatedEnd = "malformed zip: truncated end-of-central-directory record";

TEST(ZipExtractor, ClaimsLocalHeaderOrEmptyArchive) {
  const struct {
    std::string header;
    bool claimed;
  } cases[] = {
      {"PK\x03\x04rest", true},
      {"PK\x05\x06"s + std::string(18, '\0'), true},
      {"PK\x07\x08", false},      // spanning marker
      {"PK\x03", false},          // too short
      {"MZ..PK\x03\x04", false},  // self-extracting stub before the archive
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ZipExtractor().supports(context_for(as_bytes(c.header))), c.claimed) << c.header;
  }
}

TEST(ZipExtractor, EmptyArchive) {
  const std::string bytes = end_record(0, 0);
  ASSERT_EQ(bytes.size(), 22u);
  ASSERT_TRUE(ZipExtractor().supports(context_for(as_bytes(bytes))));
  const Namespace ns = zip(bytes);
  EXPECT_EQ(get<uint64_t>(ns.fields(), "entry_count"), 0u);
  EXPECT_EQ(kind_of(ns), "plain zip");
  ASSERT_NE(field(ns.fields(), "entries"), nullptr);
  EXPECT_TRUE(entries_of(ns).empty());
  EXPECT_EQ(field(ns.fields(), "compression_ratio"), nullptr);
  EXPECT_EQ(ns.fields().size(), 3u);
}

TEST(ZipExtractor, EntryRecords) {
  const Namespace ns = zip(archive({
      {.name = "a.txt",
       .method = 0,
       .compressed = 5,
       .uncompressed = 5,
       .time = (13 << 11) | (26 << 5) | 31,
       .date = (45 << 9) | (1 << 5) | 1},
      {.name = "dir/b.bin",
       .method = 8,
       .compressed = 0xFFFFFFFF,
       .uncompressed = 0xFFFFFFFF,
       .time = (7 << 11) | (5 << 5) | 1,
       .date = (44 << 9) | (3 << 5) | 9,
       .extra = "EXTRA",
       .comment = "cmt"},
      {.name = "c\xFF"
               "d",
       .method = 12},  // bzip2 has no name of ours
      {.name = "max", .time = 0xFFFF, .date = 0xFFFF},
  }));
  ASSERT_EQ(entries_of(ns).size(), 4u);
  // Every field at its largest still fits its width.
  EXPECT_EQ(get<std::string>(entry(ns, 3), "modified"), "2107-15-31T31:63:62");
  const Map& a = entry(ns, 0);
  EXPECT_EQ(a.size(), 5u);
  EXPECT_EQ(get<std::string>(a, "name"), "a.txt");
  EXPECT_EQ(get<std::string>(a, "method"), "stored");
  EXPECT_EQ(get<uint64_t>(a, "compressed"), 5u);
  EXPECT_EQ(get<uint64_t>(a, "uncompressed"), 5u);
  EXPECT_EQ(get<std::string>(a, "modified"), "2025-01-01T13:26:62");  // seconds doubled as is
  const Map& b = entry(ns, 1);  // reached by stepping over the extra field and comment
  EXPECT_EQ(get<std::string>(b, "name"), "dir/b.bin");
  EXPECT_EQ(get<uint64_t>(b, "compressed"), 4294967295u);
  EXPECT_EQ(get<std::string>(b, "modified"), "2024-03-09T07:05:02");
  const Map& c = entry(ns, 2);
  EXPECT_EQ(get<std::string>(c, "name"),
            "c\xEF\xBF\xBD"
            "d");
  EXPECT_EQ(get<std::string>(c, "method"), "other");
  EXPECT_EQ(get<std::string>(c, "modified"), "1980-00-00T00:00:00");
  // 64-bit sums: (5 + 0xFFFFFFFF) / (5 + 0xFFFFFFFF) with no wrap.
  EXPECT_EQ(get<double>(ns.fields(), "compression_ratio"), 1.0);
}

TEST(ZipExtractor, MethodNames) {
  const std::pair<uint16_t, const char*> cases[] = {
      {0, "stored"},         {8, "deflate"}, {9, "deflate64"}, {14, "lzma"},      {93, "zstd"},
      {99, "AES encrypted"}, {12, "other"},  {1, "other"},     {0xFFFF, "other"},
  };
  for (const auto& [method, name] : cases) {
    const Namespace ns = zip(archive({{.name = "x", .method = method}}));
    EXPECT_EQ(get<std::string>(entry(ns, 0), "method"), name) << method;
  }
}

TEST(ZipExtractor, CompressionRatio) {
  const Namespace ns = zip(archive({{.name = "a", .compressed = 3, .uncompressed = 7},
                                    {.name = "b", .compressed = 4, .uncompressed = 9}}));
  EXPECT_EQ(get<double>(ns.fields(), "compression_ratio"), 0.438);  // 7 / 16 rounded
  const Namespace empty_files = zip(archive({{.name = "a", .compressed = 2}, {.name = "b"}}));
  EXPECT_EQ(field(empty_files.fields(), "compression_ratio"), nullptr);
}

TEST(ZipExtractor, ContainerKindByOrderedNameTests) {
  const struct {
    std::vector<std::string> names;
    std::string kind;
  } cases[] = {
      {{"mimetype", "META-INF/MANIFEST.MF", "word/document.xml"}, "Word document (docx)"},
      {{"xl/workbook.xml"}, "Excel workbook (xlsx)"},
      {{"ppt/presentation.xml", "xl/x"}, "Excel workbook (xlsx)"},
      {{"ppt/slides/slide1.xml"}, "PowerPoint (pptx)"},
      {{"AndroidManifest.xml", "META-INF/MANIFEST.MF"}, "Java archive (jar)"},
      {{"classes.dex", "AndroidManifest.xml"}, "Android package (apk)"},
      {{"mimetype", "content.xml"}, "EPUB/OpenDocument"},
      {{"xl"}, "plain zip"},                   // the prefix is the three bytes xl/
      {{"XL/workbook.xml"}, "plain zip"},      // case matters
      {{"a/word/document.xml"}, "plain zip"},  // whole-name equality
      {{"mimetype/"}, "plain zip"},
      {{"readme.txt"}, "plain zip"},
  };
  for (const auto& c : cases) {
    std::vector<Entry> entries;
    for (const auto& n : c.names)
      entries.push_back({.name = n});
    EXPECT_EQ(kind_of(zip(archive(entries))), c.kind) << c.names.front();
  }
}

TEST(ZipExtractor, DeclaredCountIsReportedNotTrusted) {
  // Three records, then garbage where a fourth signature should stand.
  std::string bytes = "PK\x03\x04" + std::string(26, '\0');
  for (const char* n : {"a", "b", "c"})
    bytes += central_record({.name = n});
  bytes += "garbage!";
  bytes += end_record(5, 30);
  const Namespace ns = zip(bytes);
  EXPECT_EQ(get<uint64_t>(ns.fields(), "entry_count"), 5u);
  EXPECT_EQ(entries_of(ns).size(), 3u);

  // A huge declared count over a tiny file allocates and walks nothing.
  const Namespace huge = zip(end_record(65535, 0));
  EXPECT_EQ(get<uint64_t>(huge.fields(), "entry_count"), 65535u);
  EXPECT_TRUE(entries_of(huge).empty());
}

TEST(ZipExtractor, EndRecordSearch) {
  const std::string valid = archive({{.name = "a"}});
  const struct {
    std::string bytes;
    std::string error;
  } failures[] = {
      {"", kNoEnd},
      {"PK\x05", kNoEnd},  // fewer than 4 bytes
      {"PK\x03\x04 no end record here", kNoEnd},
      {end_record(0, 0).substr(0, 21), kTruncatedEnd},
      // A signature 10 bytes before the end wins over the valid record before it.
      {valid + "PK\x05\x06" + std::string(6, '\0'), kTruncatedEnd},
  };
  for (const auto& f : failures)
    EXPECT_EQ(error_of(f.bytes), f.error) << f.bytes.size();

  // A whole end record inside the archive comment is the one used.
  const std::string shadow = end_record(7, 0xFFFFFFF0);
  const Namespace ns = zip(archive({{.name = "a"}}, shadow));
  EXPECT_EQ(get<uint64_t>(ns.fields(), "entry_count"), 7u);
  EXPECT_TRUE(entries_of(ns).empty());
}

TEST(ZipExtractor, DirectoryOffsetOutsideTheData) {
  for (uint32_t offset : {0xFFFFFFFFu, 30u + 46u, 1000u}) {
    std::string bytes = "PK\x03\x04" + std::string(26, '\0') + end_record(1, offset);
    const Namespace ns = zip(bytes);
    EXPECT_TRUE(entries_of(ns).empty()) << offset;
    EXPECT_EQ(kind_of(ns), "plain zip");
  }
  // Pointing at the local header: no central signature there.
  EXPECT_TRUE(entries_of(zip("PK\x03\x04" + std::string(60, '\0') + end_record(1, 0))).empty());
}

TEST(ZipExtractor, NameClippedAtTheEnd) {
  // The last record claims a 200-byte name; the data ends (with the end record) first.
  std::string bytes = "PK\x03\x04" + std::string(26, '\0');
  std::string rec = central_record({.name = "n"});
  rec[28] = static_cast<char>(200);  // file-name length, low byte
  bytes += rec + end_record(1, 30);
  const Namespace ns = zip(bytes);
  ASSERT_EQ(entries_of(ns).size(), 1u);
  EXPECT_EQ(get<std::string>(entry(ns, 0), "name")->size(), 1u + 22u);
}

TEST(ZipExtractor, OneFieldCorruptions) {
  const std::string good = archive({{.name = "first.txt", .compressed = 3, .uncompressed = 9},
                                    {.name = "second.txt", .compressed = 1, .uncompressed = 1}});
  const size_t first = 30;               // first central record
  const size_t second = first + 46 + 9;  // second central record
  const struct {
    const char* what;
    size_t pos;
    std::string bytes;
    size_t entries;
  } cases[] = {
      {"first signature", first + 2, "\x09", 0},
      {"second signature", second + 3, "\x09", 1},
      {"first name length zero", first + 28, "\x00\x00"s, 1},  // next record misaligned
      {"first name length huge", first + 28, "\xFF\xFF", 1},   // next header past the end
      {"first extra length huge", first + 30, "\xFF\xFF", 1},
      {"first comment length huge", first + 32, "\xFF\xFF", 1},
      {"second name length huge", second + 28, "\xFF\xFF", 2},  // clipped name
  };
  for (const auto& c : cases) {
    std::string bytes = good;
    bytes.replace(c.pos, c.bytes.size(), c.bytes);
    const Namespace ns = zip(bytes);
    EXPECT_EQ(entries_of(ns).size(), c.entries) << c.what;
    EXPECT_EQ(get<uint64_t>(ns.fields(), "entry_count"), 2u) << c.what;
  }
}

TEST(ZipExtractor, EveryTruncation) {
  const std::string full = archive(
      {{.name = "a.txt", .compressed = 1, .uncompressed = 2}, {.name = "mimetype", .method = 0}});
  const size_t end_at = full.size() - 22;
  for (size_t n = 0; n < full.size(); ++n) {
    // The end record is the last thing in the file, so every cut loses it or part of it.
    EXPECT_EQ(error_of(full.substr(0, n)), n < end_at + 4 ? kNoEnd : kTruncatedEnd) << n;
  }
  EXPECT_EQ(kind_of(zip(full)), "EPUB/OpenDocument");
}

TEST(ZipExtractor, AdversarialInputsStayLinear) {
  constexpr size_t kMiB = 1 << 20;
  std::string sigs;
  while (sigs.size() < kMiB)
    sigs += "PK\x05\x06";
  EXPECT_EQ(error_of(sigs), kTruncatedEnd);
  // The last signature, whole: its fields are the zero padding, pointing at offset 0.
  const Namespace padded = zip(sigs + std::string(18, '\0'));
  EXPECT_TRUE(entries_of(padded).empty());

  // One signature at the very start, found by a single backward pass over everything after it.
  const Namespace early = zip("PK\x05\x06" + std::string(kMiB, 'P'));
  EXPECT_EQ(get<uint64_t>(early.fields(), "entry_count"), 0x5050u);
  EXPECT_EQ(error_of(std::string(kMiB, 'P') + "K\x05"), kNoEnd);

  // A central directory of tens of thousands of minimal records.
  std::string bytes = "PK\x03\x04" + std::string(26, '\0');
  const std::string rec = central_record({.name = "", .compressed = 1, .uncompressed = 2});
  size_t count = 0;
  while (bytes.size() < kMiB) {
    bytes += rec;
    ++count;
  }
  bytes += end_record(static_cast<uint16_t>(count), 30);
  const Namespace ns = zip(bytes);
  EXPECT_EQ(entries_of(ns).size(), count);
  EXPECT_EQ(get<double>(ns.fields(), "compression_ratio"), 0.5);
}

TEST(ZipExtractor, ReadsFromAFile) {
  const std::string bytes = archive({{.name = "META-INF/MANIFEST.MF"}});
  auto r = testing::extract_from_file(ZipExtractor(), as_bytes(bytes));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(get<std::string>(r->fields(), "container_kind"), "Java archive (jar)");
}

// A directory of `count` minimal records (no name, nothing variable), as a hostile or a very
// large archive has.
std::string many_records(size_t count) {
  const std::string rec = central_record({.name = ""});
  std::string out = "PK\x03\x04" + std::string(26, '\0');
  out.reserve(out.size() + count * rec.size() + 22);
  for (size_t i = 0; i < count; ++i)
    out += rec;
  return out + end_record(0xFFFF, 30);
}

TEST(ZipExtractor, CutEntryListSaysSo) {
  const size_t cap = limits::kMaxListedRecords;
  const struct {
    size_t records;
    bool cut;
  } cases[] = {
      {cap, false}, {cap + 1, true}, {300000, true},  // real archives this large exist
  };
  for (const auto& c : cases) {
    const Namespace ns = zip(many_records(c.records));
    EXPECT_EQ(entries_of(ns).size(), std::min(c.records, cap)) << c.records;
    EXPECT_EQ(get<bool>(ns.fields(), "entries_truncated"),
              c.cut ? std::optional<bool>(true) : std::nullopt)
        << c.records;
  }
  EXPECT_EQ(field(zip(archive({{.name = "a"}})).fields(), "entries_truncated"), nullptr);
}

TEST(ZipExtractor, DirectoryAfterAGigabyteReadsOnlyTheTail) {
  constexpr uint64_t kData = uint64_t{1} << 30;
  const std::string head = "PK\x03\x04" + std::string(26, '\0');
  const auto dir = static_cast<uint32_t>(head.size() + kData);
  const std::string tail =
      central_record({.name = "word/document.xml", .compressed = 1, .uncompressed = 4}) +
      end_record(1, dir);
  HoleSource src(std::vector<uint8_t>(head.begin(), head.end()), kData,
                 std::vector<uint8_t>(tail.begin(), tail.end()));
  ProbeContext ctx;
  ctx.length = src.size();
  auto r = ZipExtractor().extract(src, ctx);
  ASSERT_TRUE(r.ok()) << r.error().display();
  EXPECT_EQ(kind_of(*r), "Word document (docx)");
  EXPECT_EQ(get<double>(r->fields(), "compression_ratio"), 0.25);
  EXPECT_LE(src.bytes_read(), 4 * RandomAccess::kWindowBytes);
}

TEST(ZipExtractor, EndRecordFarBeforeTheEndIsStillFound) {
  // More than the largest comment of data after the record: the search goes on backwards.
  const std::string bytes = archive({{.name = "a"}}) + std::string(300000, 'x');
  HoleSource src(std::vector<uint8_t>(bytes.begin(), bytes.end()), 0, {});
  ProbeContext ctx;
  ctx.length = src.size();
  auto r = ZipExtractor().extract(src, ctx);
  ASSERT_TRUE(r.ok()) << r.error().display();
  ASSERT_EQ(entries_of(*r).size(), 1u);
  EXPECT_EQ(get<std::string>(entry(*r, 0), "name"), "a");
}

// A file shorter than the length it was stated to have (cut while it was read).
TEST(ZipExtractor, DeclaredLengthBeyondTheFile) {
  const std::string whole = archive({{.name = "a"}, {.name = "b"}});
  for (size_t n : {whole.size(), whole.size() - 10, size_t{40}, size_t{0}}) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(whole.data(), 1, n, f), n);
    std::fflush(f);
    FileSource src(fileno(f));
    ProbeContext ctx;
    ctx.length = whole.size() + 70000;
    auto r = ZipExtractor().extract(src, ctx);
    std::fclose(f);
    // The end record is missing or cut: the archive is reported unreadable.
    if (n < whole.size()) {
      ASSERT_FALSE(r.ok()) << n;
      EXPECT_TRUE(r.error().display() == kNoEnd || r.error().display() == kTruncatedEnd) << n;
    } else {
      ASSERT_TRUE(r.ok()) << r.error().display();
      EXPECT_EQ(entries_of(*r).size(), 2u);
    }
  }
}

TEST(ZipExtractor, ReadFailureIsAnIoError) {
  FailingSource src;
  ProbeContext ctx;
  ctx.length = 64;
  auto r = ZipExtractor().extract(src, ctx);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().display().rfind("I/O error: ", 0), 0u) << r.error().display();
}

}  // namespace
}  // namespace vorlix_core
