// PDF: a quick summary read straight off the bytes (version, counts, flags, the document
// information). Nothing is parsed into objects and nothing is decompressed.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "extractors/extractors.hpp"
#include "extractors/pdf_scan.hpp"
#include "extractors/walk.hpp"
#include "formats/signatures.hpp"
#include "limits.hpp"
#include "text.hpp"

namespace vorlix_core::extractors {

namespace pdf {

namespace {

using ByteSpan = std::span<const uint8_t>;

enum class Role : uint8_t { Page, Linearized, Encrypted, Info };

struct SlashPattern {
  std::string_view text;
  Role role;
  uint8_t info = 0;  // index into kInfoRows for Role::Info
};

constexpr size_t kSlashPatternCount = 4 + kInfoRows.size();

// Every pattern but " obj" starts with "/": these are checked where a "/" stands.
constexpr std::array<SlashPattern, kSlashPatternCount> kSlashPatterns = [] {
  std::array<SlashPattern, kSlashPatternCount> out{{
      {"/Type/Page", Role::Page},
      {"/Type /Page", Role::Page},
      {"/Linearized", Role::Linearized},
      {"/Encrypt", Role::Encrypted},
  }};
  for (size_t i = 0; i < kInfoRows.size(); ++i) {
    out[4 + i] = {kInfoRows[i].pattern, Role::Info, static_cast<uint8_t>(i)};
  }
  return out;
}();
static_assert(kSlashPatternCount <= 16);

constexpr std::string_view kObject = " obj";

// For each byte after a "/", the patterns that can match there (bit i: kSlashPatterns[i]), so a
// "/" costs one lookup and compares only the few patterns sharing its next byte.
constexpr std::array<uint16_t, 256> kBySecondByte = [] {
  std::array<uint16_t, 256> t{};
  for (size_t i = 0; i < kSlashPatterns.size(); ++i) {
    t[static_cast<uint8_t>(kSlashPatterns[i].text[1])] |= static_cast<uint16_t>(1u << i);
  }
  return t;
}();

// The longest pattern and the byte after it (looked at for "/Pages").
constexpr uint64_t kLookahead = [] {
  size_t n = kObject.size();
  for (const auto& p : kSlashPatterns)
    n = std::max(n, p.text.size());
  return n + 1;
}();

// Index of the first `c` in b[from, end), or `end`. memchr compares many bytes per step; only
// its result is turned back into an index.
size_t find_byte(ByteSpan b, size_t from, size_t end, uint8_t c) {
  const ByteSpan range = b.subspan(from, end - from);
  const void* hit = std::memchr(range.data(), c, range.size());
  if (hit == nullptr) return end;
  return from + static_cast<size_t>(static_cast<const uint8_t*>(hit) - range.data());
}

// The patterns starting with "/" at positions [0, starts) of `b`, which lies at `base`.
void scan_slashes(ByteSpan b, size_t starts, uint64_t base, ScanResult& out) {
  const ByteReader r(b);
  for (size_t i = find_byte(b, 0, starts, '/'); i < starts; i = find_byte(b, i + 1, starts, '/')) {
    if (i + 1 >= b.size()) break;
    for (uint32_t mask = kBySecondByte[b[i + 1]]; mask != 0; mask &= mask - 1) {
      const SlashPattern& p = kSlashPatterns[static_cast<size_t>(std::countr_zero(mask))];
      if (!r.matches(i, p.text)) continue;
      switch (p.role) {
        case Role::Page:
          // Page-tree nodes (/Pages) share the prefix and are not pages.
          if (r.u8(i + p.text.size()) != uint8_t{'s'}) ++out.pages;
          break;
        case Role::Linearized:
          out.linearized = true;
          break;
        case Role::Encrypted:
          out.encrypted = true;
          break;
        case Role::Info:
          if (!out.info_at[p.info]) out.info_at[p.info] = base + i;
          break;
      }
    }
  }
}

// " obj" is found by its last byte: in PDF syntax "j" is rare, while spaces are everywhere.
void scan_objects(ByteSpan b, size_t starts, ScanResult& out) {
  constexpr size_t kLast = kObject.size() - 1;
  const size_t end = std::min(b.size(), starts + kLast);
  if (end <= kLast) return;
  const ByteReader r(b);
  for (size_t j = find_byte(b, kLast, end, 'j'); j < end; j = find_byte(b, j + 1, end, 'j')) {
    if (r.matches(j - kLast, kObject)) ++out.objects;
  }
}

}  // namespace

ScanResult scan(Cursor& c, uint64_t window) {
  ScanResult out;
  window = std::clamp<uint64_t>(window, 1, limits::kPdfScanWindow);
  for (uint64_t base = 0; base < c.size(); base += window) {
    const uint64_t want = std::min(c.size() - base, window + kLookahead);
    const ByteSpan b = c.clamped(base, want);
    if (c.source_failed()) break;
    const size_t starts = static_cast<size_t>(std::min<uint64_t>(window, b.size()));
    scan_slashes(b, starts, base, out);
    scan_objects(b, starts, out);
    // Shorter than asked: the data ended before its stated length.
    if (b.size() < want) break;
  }
  return out;
}

namespace {

// Calls `visit` on each byte from `pos` on, a window at a time, until it returns false or the
// data ends.
template <class Visit>
void for_each_byte(Cursor& c, uint64_t pos, Visit&& visit) {
  while (pos < c.size()) {
    const auto view = c.clamped(pos, RandomAccess::kWindowBytes);
    if (view.empty()) return;
    for (const uint8_t byte : view) {
      if (!visit(byte)) return;
    }
    pos += view.size();
  }
}

// The PDF whitespace bytes other than NUL, which never separates a key from its value here.
bool is_pdf_space(uint8_t c) {
  return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
}

// The kept bytes of a literal string whose opening parenthesis is just before `pos`. Escapes
// keep the escaped byte as is; balanced inner parentheses stay in the text. An unterminated
// string would run to the end of the file, so what is kept is capped.
std::string read_literal(Cursor& c, uint64_t pos) {
  std::string kept;
  uint64_t depth = 1;
  bool escaped = false;
  for_each_byte(c, pos, [&](uint8_t c) {
    if (kept.size() >= limits::kMaxPdfInfoBytes) return false;
    if (escaped) {
      escaped = false;
    } else if (c == '\\') {
      escaped = true;
      return true;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      return false;
    }
    kept.push_back(static_cast<char>(c));
    return true;
  });
  return kept;
}

// The value of a key found at `at`: a literal string separated from the key by whitespace alone.
std::optional<std::string> info_text(Cursor& c, uint64_t at, std::string_view pattern) {
  uint64_t pos = at + pattern.size();
  bool opened = false;
  for_each_byte(c, pos, [&](uint8_t c) {
    if (c == '(') {
      opened = true;
      return false;
    }
    if (!is_pdf_space(c)) return false;
    ++pos;
    return true;
  });
  if (!opened) return std::nullopt;
  return utf8_lossy(as_bytes(read_literal(c, pos + 1)));
}

}  // namespace

}  // namespace pdf

const char* PdfExtractor::name() const {
  return "pdf";
}

bool PdfExtractor::supports(const ProbeContext& ctx) const {
  return ByteReader(ctx.header).matches(0, formats::kPdfHeader);
}

ExtractResult PdfExtractor::extract(ByteSource& src, const ProbeContext& ctx) const {
  return walk_source(src, ctx, [](Cursor& c) -> ExtractResult {
    Namespace ns("pdf");
    // The version is what follows "%PDF-" on a first line that ends within 16 bytes.
    const auto first = c.clamped(0, 16);
    const auto eol =
        std::find_if(first.begin(), first.end(), [](uint8_t b) { return b == '\r' || b == '\n'; });
    if (eol != first.end()) {
      const auto k = static_cast<size_t>(eol - first.begin());
      if (k >= 5) ns.set("version", utf8_lossy(first.subspan(5, k - 5)));
    }

    const pdf::ScanResult found = pdf::scan(c, limits::kPdfScanWindow);
    ns.set("object_count", found.objects);
    ns.set("page_count", found.pages);
    ns.set("linearized", found.linearized);
    ns.set("encrypted", found.encrypted);

    Map info;
    for (size_t i = 0; i < pdf::kInfoRows.size(); ++i) {
      if (!found.info_at[i]) continue;
      const pdf::InfoRow& row = pdf::kInfoRows[i];
      if (auto text = pdf::info_text(c, *found.info_at[i], row.pattern)) {
        info.emplace(row.key, Value::text(std::move(*text)));
      }
    }
    if (!info.empty()) ns.set("info", std::move(info));
    return ns;
  });
}

}  // namespace vorlix_core::extractors
