#include "text.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "limits.hpp"

namespace vorlix_core {

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

static constexpr uint32_t kReplacement = 0xFFFD;

// The decoders stop once their text is longer than `stop` bytes (decode_bounded cuts it there);
// this one once `out` is.
static constexpr size_t kWhole = SIZE_MAX;

static void append_utf8_lossy(std::string& out, std::span<const uint8_t> b, size_t stop) {
  out.reserve(out.size() + std::min(b.size(), stop - out.size()));
  size_t i = 0;
  const size_t n = b.size();
  while (i < n && out.size() <= stop) {
    const uint8_t c = b[i];
    if (c < 0x80) {
      // A run of ASCII is copied as it is.
      size_t end = i + 1;
      while (end < n && b[end] < 0x80)
        ++end;
      size_t take = end - i;
      if (stop - out.size() < take) take = stop - out.size() + 1;
      out.append(reinterpret_cast<const char*>(b.subspan(i, take).data()), take);
      i += take;
      continue;
    }
    // Length of the sequence and the allowed range of its second byte (Unicode table 3-7).
    size_t len = 0;
    uint8_t lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      append_utf8(out, kReplacement);
      ++i;
      continue;
    }
    // Consume the longest valid prefix; a broken sequence is one maximal subpart -> one U+FFFD.
    size_t k = 1;
    bool ok = true;
    for (; k < len; ++k) {
      if (i + k >= n) {
        ok = false;
        break;
      }
      const uint8_t d = b[i + k];
      const uint8_t l = k == 1 ? lo : 0x80;
      const uint8_t h = k == 1 ? hi : 0xBF;
      if (d < l || d > h) {
        ok = false;
        break;
      }
    }
    if (!ok) {
      append_utf8(out, kReplacement);
      i += k;
      continue;
    }
    out.append(reinterpret_cast<const char*>(b.subspan(i, len).data()), len);
    i += len;
  }
}

void append_utf8_lossy(std::string& out, std::span<const uint8_t> b) {
  append_utf8_lossy(out, b, kWhole);
}

std::string utf8_lossy(std::span<const uint8_t> b) {
  std::string out;
  append_utf8_lossy(out, b, kWhole);
  return out;
}

static std::string latin1_to_utf8(std::span<const uint8_t> b, size_t stop) {
  std::string out;
  out.reserve(std::min(b.size(), stop));
  for (size_t i = 0; i < b.size() && out.size() <= stop; ++i)
    append_utf8(out, b[i]);
  return out;
}

std::string latin1_to_utf8(std::span<const uint8_t> b) {
  return latin1_to_utf8(b, kWhole);
}

static std::string utf16_lossy(std::span<const uint8_t> b, bool big, size_t stop = kWhole) {
  std::string out;
  const size_t units = b.size() / 2;
  auto unit = [&](size_t i) -> uint32_t {
    return big ? (uint32_t{b[2 * i]} << 8) | b[2 * i + 1]
               : (uint32_t{b[2 * i + 1]} << 8) | b[2 * i];
  };
  for (size_t i = 0; i < units && out.size() <= stop; ++i) {
    const uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const uint32_t v = unit(i + 1);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
        ++i;
        continue;
      }
    }
    append_utf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
  }
  return out;
}

std::string utf16le_lossy(std::span<const uint8_t> b) {
  return utf16_lossy(b, false);
}
std::string utf16be_lossy(std::span<const uint8_t> b) {
  return utf16_lossy(b, true);
}

void bound_text(std::string& text, size_t max) {
  if (text.size() <= max) return;
  size_t end = max;
  // Back to the start of the character that the cut would split.
  while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80)
    --end;
  text.resize(end);
  text += "...";
}

// Every decoder makes at least one byte of text of every two bytes it reads, so the text of
// this many leading bytes, but for a character cut at their end, is longer than the bound.
size_t bounded_input_bytes() {
  return 2 * limits::kMaxTextBytes + 8;
}

std::string decode_bounded(std::span<const uint8_t> bytes, TextEncoding encoding) {
  const auto head = bytes.first(std::min(bytes.size(), bounded_input_bytes()));
  const size_t stop = limits::kMaxTextBytes;
  std::string text;
  switch (encoding) {
    case TextEncoding::Utf8:
      append_utf8_lossy(text, head, stop);
      break;
    case TextEncoding::Latin1:
      text = latin1_to_utf8(head, stop);
      break;
    case TextEncoding::Utf16le:
      text = utf16_lossy(head, false, stop);
      break;
    case TextEncoding::Utf16be:
      text = utf16_lossy(head, true, stop);
      break;
  }
  bound_text(text, limits::kMaxTextBytes);
  return text;
}

double round3(double x) {
  return std::round(x * 1000.0) / 1000.0;
}

}  // namespace vorlix_core
