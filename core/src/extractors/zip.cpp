// ZIP containers: the end-of-central-directory record, one record per central-directory entry,
// and what kind of ZIP-based document the entry names suggest. No entry is decompressed.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "extractors/extractors.hpp"
#include "extractors/walk.hpp"
#include "formats/signatures.hpp"
#include "limits.hpp"
#include "text.hpp"

namespace vorlix_core::extractors::zip {

namespace {

using ByteSpan = std::span<const uint8_t>;

using formats::kZipCentralHeader;
using formats::kZipEndOfCentralDirectory;
constexpr uint64_t kEndRecordSize = 22;
constexpr uint64_t kCentralHeaderSize = 46;

constexpr std::array<std::pair<uint16_t, const char*>, 6> kMethodNames = {{
    {0, "stored"},
    {8, "deflate"},
    {9, "deflate64"},
    {14, "lzma"},
    {93, "zstd"},
    {99, "AES encrypted"},
}};

const char* method_name(uint16_t method) {
  for (const auto& [code, name] : kMethodNames) {
    if (code == method) return name;
  }
  return "other";
}

enum class NameTest { Equals, StartsWith };

struct KindRule {
  NameTest test;
  std::string_view pattern;
  const char* kind;
};

// In priority order: the first rule that any entry name satisfies decides.
constexpr std::array<KindRule, 6> kKindRules = {{
    {NameTest::Equals, "word/document.xml", "Word document (docx)"},
    {NameTest::StartsWith, "xl/", "Excel workbook (xlsx)"},
    {NameTest::StartsWith, "ppt/", "PowerPoint (pptx)"},
    {NameTest::Equals, "META-INF/MANIFEST.MF", "Java archive (jar)"},
    {NameTest::Equals, "AndroidManifest.xml", "Android package (apk)"},
    {NameTest::Equals, "mimetype", "EPUB/OpenDocument"},
}};
constexpr const char* kPlainZip = "plain zip";

// Index of the first rule the name satisfies, or `limit` when none before it does.
size_t rule_rank(std::string_view name, size_t limit) {
  for (size_t i = 0; i < limit; ++i) {
    const KindRule& rule = kKindRules[i];
    if (rule.test == NameTest::Equals ? name == rule.pattern : name.starts_with(rule.pattern)) {
      return i;
    }
  }
  return limit;
}

// MS-DOS date and time words rendered without range checks, so odd fields stay visible. Every
// field fits its width (years 1980-2107, the others below 100), so the text is always
// "YYYY-MM-DDTHH:MM:SS".
std::array<char, 19> dos_datetime(uint16_t date, uint16_t time) {
  std::array<char, 19> out{};
  auto put = [&](size_t at, unsigned v, size_t digits) {
    for (size_t i = digits; i-- > 0; v /= 10)
      out[at + i] = static_cast<char>('0' + v % 10);
  };
  put(0, (date >> 9) + 1980u, 4);
  out[4] = '-';
  put(5, (date >> 5) & 15u, 2);
  out[7] = '-';
  put(8, date & 31u, 2);
  out[10] = 'T';
  put(11, time >> 11, 2);
  out[13] = ':';
  put(14, (time >> 5) & 63u, 2);
  out[16] = ':';
  put(17, (time & 31u) * 2, 2);
  return out;
}

// Keys of an entry record, in byte order, and their indexes.
enum EntryKey : size_t { kCompressed, kMethod, kModified, kName, kUncompressed };

// The end record is 22 bytes plus a comment of at most 65535, so in a well-formed archive it
// starts within this many bytes of the end: the first window searched.
constexpr uint64_t kEndSearchBytes = kEndRecordSize + 0xFFFF;

// The highest position holding the end-record signature; the last one wins even when it lies
// inside a comment or stored data. The search goes backwards window by window, so an archive
// costs one read of its tail, and only a file without the signature there is read further.
// Windows overlap by three bytes, so a signature across their boundary is still seen.
std::optional<uint64_t> find_end_record(Cursor& c) {
  constexpr uint64_t kOverlap = kZipEndOfCentralDirectory.size() - 1;
  uint64_t hi = c.size();
  while (hi > 0) {
    const uint64_t lo = hi - std::min(hi, kEndSearchBytes);
    const auto view = c.clamped(lo, std::min(c.size(), hi + kOverlap) - lo);
    if (c.source_failed()) return std::nullopt;
    const auto it = std::find_end(view.begin(), view.end(), kZipEndOfCentralDirectory.begin(),
                                  kZipEndOfCentralDirectory.end(),
                                  [](uint8_t a, char b) { return a == uint8_t(b); });
    if (it != view.end()) return lo + static_cast<uint64_t>(it - view.begin());
    hi = lo;
  }
  return std::nullopt;
}

// One central-directory record's fixed fields.
struct CentralHeader {
  uint16_t method, time, date;
  uint32_t compressed, uncompressed;
  uint16_t name_len, extra_len, comment_len;
};

// The fixed part of the record at `pos`; nothing when there is none (no signature, or the data
// ends first).
std::optional<CentralHeader> central_header(Cursor& c, uint64_t pos) {
  Cursor h = c.part(pos, kCentralHeaderSize);
  if (!h.matches(0, kZipCentralHeader)) return std::nullopt;
  h.skip(10);  // signature and the two versions and flags
  CentralHeader out;
  out.method = h.u16le();
  out.time = h.u16le();
  out.date = h.u16le();
  h.skip(4);  // CRC-32
  out.compressed = h.u32le();
  out.uncompressed = h.u32le();
  out.name_len = h.u16le();
  out.extra_len = h.u16le();
  out.comment_len = h.u16le();
  return out;
}

// The end record, then the central directory it points to.
ExtractResult read_archive(Cursor& r) {
  const auto end = find_end_record(r);
  if (!end) return Err{ExtractError::malformed("zip", "no end-of-central-directory record")};
  Cursor record = r.part(*end, kEndRecordSize);
  record.skip(10);  // signature, disk numbers and this disk's entry count
  const uint16_t declared = record.u16le();
  const uint32_t dir_size = record.u32le();
  const uint32_t dir_offset = record.u32le();
  if (!record.ok()) {
    return Err{ExtractError::malformed("zip", "truncated end-of-central-directory record")};
  }
  // The walk reads it record by record; a remote source fetches it whole, in one request.
  r.will_read(dir_offset, dir_size);

  RecordList entries({"compressed", "method", "modified", "name", "uncompressed"});
  // Records are at least 46 bytes and usually end at the end record: room for that many, which
  // saves the list's regrowth (its peak would be half as large again) on large archives.
  const uint64_t dir_end = dir_offset < *end ? *end : r.size();
  entries.reserve(static_cast<size_t>(
      std::min<uint64_t>((dir_end - std::min<uint64_t>(dir_offset, dir_end)) / kCentralHeaderSize,
                         limits::kMaxListedRecords)));
  uint64_t sum_compressed = 0;
  uint64_t sum_uncompressed = 0;
  size_t best_rank = kKindRules.size();
  // Bounded by the data, not by the declared count: every record consumes at least 46 bytes.
  uint64_t pos = dir_offset;
  bool cut = false;
  while (auto h = central_header(r, pos)) {
    if (entries.size() >= limits::kMaxListedRecords) {
      cut = true;
      break;
    }
    const std::string name = utf8_lossy(r.clamped(pos + kCentralHeaderSize, h->name_len));

    best_rank = rule_rank(name, best_rank);
    sum_compressed += h->compressed;
    sum_uncompressed += h->uncompressed;

    const auto modified = dos_datetime(h->date, h->time);
    entries.add();
    entries.set(kName, std::string_view(name));
    entries.set(kMethod, std::string_view(method_name(h->method)));
    entries.set(kCompressed, uint64_t{h->compressed});
    entries.set(kUncompressed, uint64_t{h->uncompressed});
    entries.set(kModified, std::string_view(modified.data(), modified.size()));

    pos += kCentralHeaderSize + h->name_len + h->extra_len + h->comment_len;
  }

  Namespace ns("zip");
  ns.set("entry_count", declared);
  if (sum_uncompressed != 0) {
    ns.set("compression_ratio",
           round3(static_cast<double>(sum_compressed) / static_cast<double>(sum_uncompressed)));
  }
  ns.set("container_kind", best_rank < kKindRules.size() ? kKindRules[best_rank].kind : kPlainZip);
  ns.set("entries", std::move(entries));
  if (cut) ns.set("entries_truncated", true);
  return ns;
}

}  // namespace

}  // namespace vorlix_core::extractors::zip

namespace vorlix_core::extractors {

const char* ZipExtractor::name() const {
  return "zip";
}

bool ZipExtractor::supports(const ProbeContext& ctx) const {
  const ByteReader h(ctx.header);
  return h.matches(0, formats::kZipLocalHeader) || h.matches(0, formats::kZipEndOfCentralDirectory);
}

ExtractResult ZipExtractor::extract(ByteSource& src, const ProbeContext& ctx) const {
  return walk_source(src, ctx, [](Cursor& c) { return zip::read_archive(c); });
}

}  // namespace vorlix_core::extractors
