// PDF and gzip: quick summaries read straight off the bytes. Nothing is parsed into objects and
// nothing is decompressed.
#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "byte_reader.hpp"
#include "extractors/extractors.hpp"
#include "limits.hpp"
#include "text.hpp"

namespace vorlix_core::extractors {

namespace {

using ByteSpan = std::span<const uint8_t>;

// Forward search for one fixed pattern. The skip table is built once per pattern, and every
// call resumes where the caller says, so a counting loop never revisits the bytes it passed.
class Finder {
 public:
  explicit Finder(std::string_view pattern)
      : pat_(as_bytes(pattern)), searcher_(pat_.begin(), pat_.end()) {}

  uint64_t size() const { return pat_.size(); }

  std::optional<uint64_t> find(ByteSpan b, uint64_t from) const {
    if (from > b.size()) return std::nullopt;
    const ByteSpan hay = b.subspan(static_cast<size_t>(from));
    const auto it = std::search(hay.begin(), hay.end(), searcher_);
    if (it == hay.end()) return std::nullopt;
    return from + static_cast<uint64_t>(it - hay.begin());
  }

 private:
  ByteSpan pat_;
  std::boyer_moore_horspool_searcher<ByteSpan::iterator> searcher_;
};

// ---- PDF ----------------------------------------------------------------------------------

struct InfoRow {
  std::string_view pattern;
  const char* key;
};

constexpr std::array<InfoRow, 8> kInfoRows = {{
    {"/Title", "title"},
    {"/Author", "author"},
    {"/Subject", "subject"},
    {"/Creator", "creator"},
    {"/Producer", "producer"},
    {"/Keywords", "keywords"},
    {"/CreationDate", "creation_date"},
    {"/ModDate", "modification_date"},
}};

// The PDF whitespace bytes other than NUL, which never separates a key from its value here.
bool is_pdf_space(uint8_t c) {
  return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
}

// Non-overlapping matches; a match directly followed by `unless_next` is passed over uncounted.
uint64_t count_matches(const ByteReader& r, std::string_view pattern,
                       std::optional<uint8_t> unless_next = std::nullopt) {
  const Finder f(pattern);
  uint64_t n = 0;
  uint64_t pos = 0;
  while (auto at = f.find(r.data(), pos)) {
    pos = *at + f.size();
    if (unless_next && r.u8(pos) == unless_next) continue;
    ++n;
  }
  return n;
}

bool contains(const ByteReader& r, std::string_view pattern) {
  return Finder(pattern).find(r.data(), 0).has_value();
}

// The kept bytes of a literal string whose opening parenthesis is just before `pos`. Escapes
// keep the escaped byte as is; balanced inner parentheses stay in the text. An unterminated
// string would run to the end of the file, so what is kept is capped.
std::string read_literal(const ByteReader& r, uint64_t pos) {
  std::string kept;
  uint64_t depth = 1;
  const ByteSpan rest = r.tail(pos);
  for (size_t i = 0; i < rest.size() && kept.size() < limits::kMaxPdfInfoBytes; ++i) {
    const uint8_t c = rest[i];
    if (c == '\\') {
      if (++i == rest.size()) break;
      kept.push_back(static_cast<char>(rest[i]));
      continue;
    }
    if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      break;
    }
    kept.push_back(static_cast<char>(c));
  }
  return kept;
}

// Only the first occurrence of the key is considered; its value must be a literal string
// separated from the key by whitespace alone.
std::optional<std::string> info_text(const ByteReader& r, std::string_view pattern) {
  const Finder f(pattern);
  const auto at = f.find(r.data(), 0);
  if (!at) return std::nullopt;
  uint64_t pos = *at + f.size();
  for (;;) {
    const auto c = r.u8(pos);
    if (!c) return std::nullopt;
    if (*c == '(') break;
    if (!is_pdf_space(*c)) return std::nullopt;
    ++pos;
  }
  return utf8_lossy(as_bytes(read_literal(r, pos + 1)));
}

// ---- gzip ---------------------------------------------------------------------------------

constexpr uint64_t kGzipHeaderSize = 10;
constexpr uint8_t kGzipFlagExtra = 0x04;
constexpr uint8_t kGzipFlagName = 0x08;
constexpr uint8_t kGzipDeflate = 8;

constexpr std::array<std::pair<uint8_t, const char*>, 5> kGzipOsNames = {{
    {0, "FAT (Windows/DOS)"},
    {3, "Unix"},
    {7, "macOS"},
    {11, "NTFS"},
    {255, "unknown"},
}};

const char* gzip_os_name(uint8_t os) {
  for (const auto& [code, name] : kGzipOsNames) {
    if (code == os) return name;
  }
  return "other";
}

}  // namespace

const char* PdfExtractor::name() const {
  return "pdf";
}

bool PdfExtractor::supports(const ProbeContext& ctx) const {
  return ByteReader(ctx.header).matches(0, "%PDF-");
}

ExtractResult PdfExtractor::extract(ByteSource& src, const ProbeContext&) const {
  auto content = Content::read_from(src);
  if (!content) return Err{ExtractError(std::move(content).error())};
  const ByteReader r(content->bytes());
  Namespace ns("pdf");

  // The version is what follows "%PDF-" on a first line that ends within 16 bytes.
  const ByteSpan first = r.clamped(0, 16);
  const auto eol =
      std::find_if(first.begin(), first.end(), [](uint8_t c) { return c == '\r' || c == '\n'; });
  if (eol != first.end()) {
    const auto k = static_cast<size_t>(eol - first.begin());
    if (k >= 5) ns.set("version", utf8_lossy(first.subspan(5, k - 5)));
  }

  ns.set("object_count", count_matches(r, " obj"));
  // Page-tree nodes (/Pages) share the prefix and are not pages.
  ns.set("page_count", count_matches(r, "/Type/Page", uint8_t{'s'}) +
                           count_matches(r, "/Type /Page", uint8_t{'s'}));
  ns.set("linearized", contains(r, "/Linearized"));
  ns.set("encrypted", contains(r, "/Encrypt"));

  Map info;
  for (const InfoRow& row : kInfoRows) {
    if (auto text = info_text(r, row.pattern)) info.emplace(row.key, Value::text(std::move(*text)));
  }
  if (!info.empty()) ns.set("info", std::move(info));
  return ns;
}

const char* GzipExtractor::name() const {
  return "gzip";
}

bool GzipExtractor::supports(const ProbeContext& ctx) const {
  static constexpr std::array<uint8_t, 2> kMagic = {0x1F, 0x8B};
  return ByteReader(ctx.header).matches(0, kMagic);
}

ExtractResult GzipExtractor::extract(ByteSource& src, const ProbeContext&) const {
  auto content = Content::read_from(src);
  if (!content) return Err{ExtractError(std::move(content).error())};
  const ByteReader r(content->bytes());
  if (!r.has(0, kGzipHeaderSize)) {
    return Err{ExtractError::malformed("gzip", "header too short")};
  }
  const uint8_t method = *r.u8(2);
  const uint8_t flags = *r.u8(3);
  const uint32_t mtime = *r.u32le(4);
  const uint8_t os = *r.u8(9);

  Namespace ns("gzip");
  ns.set("compression_method", method == kGzipDeflate ? "deflate" : "unknown");
  // A zero MTIME means the writer recorded no time stamp.
  if (mtime != 0) ns.set("modification_time_unix", mtime);
  ns.set("os", gzip_os_name(os));

  if (flags & kGzipFlagName) {
    uint64_t start = kGzipHeaderSize;
    // A file cut inside XLEN has no extra field to skip.
    if (flags & kGzipFlagExtra) {
      if (const auto xlen = r.u16le(kGzipHeaderSize)) start = kGzipHeaderSize + 2 + *xlen;
    }
    const ByteSpan rest = r.tail(start);
    const auto nul = std::find(rest.begin(), rest.end(), uint8_t{0});
    if (nul != rest.end()) {
      ns.set("original_filename", utf8_lossy(rest.first(static_cast<size_t>(nul - rest.begin()))));
    }
  }
  return ns;
}

}  // namespace vorlix_core::extractors
