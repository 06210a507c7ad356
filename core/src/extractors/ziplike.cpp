// ZIP containers: the end-of-central-directory record, one record per central-directory entry,
// and what kind of ZIP-based document the entry names suggest. No entry is decompressed.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "byte_reader.hpp"
#include "extractors/extractors.hpp"
#include "limits.hpp"
#include "text.hpp"

namespace vorlix_core::extractors::ziplike {

namespace {

using ByteSpan = std::span<const uint8_t>;

constexpr std::array<uint8_t, 4> kLocalHeaderSig = {0x50, 0x4B, 0x03, 0x04};
constexpr std::array<uint8_t, 4> kEndRecordSig = {0x50, 0x4B, 0x05, 0x06};
constexpr std::array<uint8_t, 4> kCentralHeaderSig = {0x50, 0x4B, 0x01, 0x02};
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

// Index of the first rule the name satisfies, or kKindRules.size().
size_t rule_rank(std::string_view name) {
  for (size_t i = 0; i < kKindRules.size(); ++i) {
    const KindRule& rule = kKindRules[i];
    if (rule.test == NameTest::Equals ? name == rule.pattern : name.starts_with(rule.pattern)) {
      return i;
    }
  }
  return kKindRules.size();
}

// MS-DOS date and time words rendered without range checks, so odd fields stay visible.
std::string dos_datetime(uint16_t date, uint16_t time) {
  std::array<char, 32> buf{};
  const int n =
      std::snprintf(buf.data(), buf.size(), "%04u-%02u-%02uT%02u:%02u:%02u", (date >> 9) + 1980u,
                    (date >> 5) & 15u, date & 31u, time >> 11, (time >> 5) & 63u, (time & 31u) * 2);
  return std::string(buf.data(), static_cast<size_t>(n));
}

// The highest position holding the end-record signature; the last one wins even when it lies
// inside a comment or stored data.
std::optional<uint64_t> find_end_record(ByteSpan b) {
  const auto it = std::find_end(b.begin(), b.end(), kEndRecordSig.begin(), kEndRecordSig.end());
  if (it == b.end()) return std::nullopt;
  return static_cast<uint64_t>(it - b.begin());
}

}  // namespace

}  // namespace vorlix_core::extractors::ziplike

namespace vorlix_core::extractors {

const char* ZipExtractor::name() const {
  return "zip";
}

bool ZipExtractor::supports(const ProbeContext& ctx) const {
  const ByteReader h(ctx.header);
  return h.matches(0, ziplike::kLocalHeaderSig) || h.matches(0, ziplike::kEndRecordSig);
}

ExtractResult ZipExtractor::extract(ByteSource& src, const ProbeContext&) const {
  using namespace ziplike;
  auto content = Content::read_from(src);
  if (!content) return Err{ExtractError(std::move(content).error())};
  const ByteReader r(content->bytes());

  const auto end = find_end_record(r.data());
  if (!end) return Err{ExtractError::malformed("zip", "no end-of-central-directory record")};
  if (!r.has(*end, kEndRecordSize)) {
    return Err{ExtractError::malformed("zip", "truncated end-of-central-directory record")};
  }
  const uint16_t declared = *r.u16le(*end + 10);
  const uint32_t dir_offset = *r.u32le(*end + 16);

  List entries;
  uint64_t sum_compressed = 0;
  uint64_t sum_uncompressed = 0;
  size_t best_rank = kKindRules.size();
  // Bounded by the data, not by the declared count: every record consumes at least 46 bytes.
  uint64_t pos = dir_offset;
  while (r.has(pos, kCentralHeaderSize) && r.matches(pos, kCentralHeaderSig) &&
         entries.size() < limits::kMaxListedRecords) {
    const uint16_t method = *r.u16le(pos + 10);
    const uint16_t time = *r.u16le(pos + 12);
    const uint16_t date = *r.u16le(pos + 14);
    const uint32_t compressed = *r.u32le(pos + 20);
    const uint32_t uncompressed = *r.u32le(pos + 24);
    const uint16_t name_len = *r.u16le(pos + 28);
    const uint16_t extra_len = *r.u16le(pos + 30);
    const uint16_t comment_len = *r.u16le(pos + 32);
    std::string name = utf8_lossy(r.clamped(pos + kCentralHeaderSize, name_len));

    best_rank = std::min(best_rank, rule_rank(name));
    sum_compressed += compressed;
    sum_uncompressed += uncompressed;

    Map entry;
    entry.emplace("name", Value::text(std::move(name)));
    entry.emplace("method", Value::text(method_name(method)));
    entry.emplace("compressed", Value::uint64(compressed));
    entry.emplace("uncompressed", Value::uint64(uncompressed));
    entry.emplace("modified", Value::text(dos_datetime(date, time)));
    entries.push_back(Value::map(std::move(entry)));

    pos += kCentralHeaderSize + name_len + extra_len + comment_len;
  }

  Namespace ns("zip");
  ns.set("entry_count", declared);
  if (sum_uncompressed != 0) {
    ns.set("compression_ratio",
           round3(static_cast<double>(sum_compressed) / static_cast<double>(sum_uncompressed)));
  }
  ns.set("container_kind", best_rank < kKindRules.size() ? kKindRules[best_rank].kind : kPlainZip);
  ns.set("entries", std::move(entries));
  return ns;
}

}  // namespace vorlix_core::extractors
