// ZIP containers: the end-of-central-directory record, one record per central-directory entry,
// and what kind of ZIP-based document the entry names suggest. No entry is decompressed.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "byte_reader.hpp"
#include "extractors/extractors.hpp"
#include "formats/signatures.hpp"
#include "limits.hpp"
#include "source_reader.hpp"
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

bool cancelled(const ProbeContext& ctx) {
  return ctx.cancel != nullptr && ctx.cancel->load(std::memory_order_relaxed);
}

// The highest position holding the end-record signature; the last one wins even when it lies
// inside a comment or stored data. The search goes backwards window by window, so an archive
// costs one read of its tail, and only a file without the signature there is read further.
// Windows overlap by three bytes, so a signature across their boundary is still seen.
std::optional<uint64_t> find_end_record(RandomAccess& ra, const ProbeContext& ctx) {
  constexpr uint64_t kOverlap = kZipEndOfCentralDirectory.size() - 1;
  uint64_t hi = ra.size();
  while (hi > 0 && !cancelled(ctx)) {
    const uint64_t lo = hi - std::min(hi, kEndSearchBytes);
    const auto view = ra.read_at(lo, std::min(ra.size(), hi + kOverlap) - lo);
    if (!view) return std::nullopt;
    const auto it = std::find_end(view->begin(), view->end(), kZipEndOfCentralDirectory.begin(),
                                  kZipEndOfCentralDirectory.end(),
                                  [](uint8_t a, char b) { return a == uint8_t(b); });
    if (it != view->end()) return lo + static_cast<uint64_t>(it - view->begin());
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
std::optional<CentralHeader> central_header(SourceReader& r, uint64_t pos) {
  const auto bytes = r.slice(pos, kCentralHeaderSize);
  if (!bytes) return std::nullopt;
  const ByteReader h(*bytes);
  if (!h.matches(0, kZipCentralHeader)) return std::nullopt;
  return CentralHeader{h.u16le(10).value_or(0), h.u16le(12).value_or(0), h.u16le(14).value_or(0),
                       h.u32le(20).value_or(0), h.u32le(24).value_or(0), h.u16le(28).value_or(0),
                       h.u16le(30).value_or(0), h.u16le(32).value_or(0)};
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
  using namespace zip;
  RandomAccess ra(src, ctx.length);
  SourceReader r(ra);

  const auto end = find_end_record(ra, ctx);
  if (!end) {
    if (r.error()) return Err{ExtractError(*r.error())};
    return Err{ExtractError::malformed("zip", "no end-of-central-directory record")};
  }
  const auto record = r.slice(*end, kEndRecordSize);
  if (!record) {
    if (r.error()) return Err{ExtractError(*r.error())};
    return Err{ExtractError::malformed("zip", "truncated end-of-central-directory record")};
  }
  const uint16_t declared = ByteReader(*record).u16le(10).value_or(0);
  const uint32_t dir_offset = ByteReader(*record).u32le(16).value_or(0);

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
    if (entries.size() % 4096 == 0 && cancelled(ctx)) break;
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
  if (r.error()) return Err{ExtractError(*r.error())};

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

}  // namespace vorlix_core::extractors
