// Display text of EXIF values: the default rendering of each field type, the per-tag display
// rules of the tag table, and units. Every text produced here is printable ASCII.
//
// Texts are bounded (limits::kExifMaxFieldText): every loop over components or bytes stops once
// the text is past the bound, so a value of any size costs the bound in time, memory and bytes
// read. The bound is applied at the end by cutting the text there and adding "...": the result
// is the same prefix as the whole text would have.
#include "exif/render.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <unordered_map>

#include "exif/number_text.hpp"
#include "exif/tag_table.hpp"
#include "limits.hpp"
#include "text.hpp"

namespace vorlix_core::exif {
namespace {

using Bytes = std::span<const uint8_t>;

// Layout of name_order(): a name's rank, then for generic names the context's rank and the
// number's digits read in base 11 (a tag number has at most five digits).
constexpr size_t kMaxNumberDigits = 5;
constexpr int kContextShift = 18;
constexpr int kRankShift = 20;
constexpr uint64_t power_of_11(size_t n) {
  return n == 0 ? 1 : 11 * power_of_11(n - 1);
}
static_assert(power_of_11(kMaxNumberDigits) <= (uint64_t{1} << kContextShift));
static_assert(4 <= (1 << (kRankShift - kContextShift)));  // four contexts

void append_uint(std::string& out, uint64_t v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

void append_int(std::string& out, int64_t v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

// Past the bound: whatever follows is cut anyway.
bool full(const std::string& out) {
  return out.size() > limits::kExifMaxFieldText;
}

void finish(std::string& out) {
  bound_text(out, limits::kExifMaxFieldText);
}

void append_ratio(std::string& out, double num, double den) {
  append_number(out, num / den);
}

constexpr char kHexDigits[] = "0123456789abcdef";

void append_hex_byte(std::string& out, uint8_t b) {
  out.push_back(kHexDigits[b >> 4]);
  out.push_back(kHexDigits[b & 15]);
}

// Backslash escapes for '\' and '"' and \xhh for every non-printable byte.
void append_escaped(std::string& out, uint8_t b) {
  if (b == '\\' || b == '"') {
    out.push_back('\\');
    out.push_back(static_cast<char>(b));
  } else if (b >= 0x20 && b <= 0x7e) {
    out.push_back(static_cast<char>(b));
  } else {
    out += "\\x";
    append_hex_byte(out, b);
  }
}

// Calls f with the value's bytes chunk by chunk until the text is past the bound.
template <class F>
void for_each_chunk(const std::string& out, const ValueView& v, F f) {
  for (uint64_t off = 0; off < v.byte_size() && !full(out);) {
    Bytes c = v.chunk(off);
    if (c.empty()) return;  // unreadable: the text ends where the data did
    f(c);
    off += c.size();
  }
}

// All of the value's bytes as one quoted string.
void append_quoted_bytes(std::string& out, const ValueView& v) {
  out.push_back('"');
  for_each_chunk(out, v, [&](Bytes c) {
    for (uint8_t b : c)
      append_escaped(out, b);
  });
  out.push_back('"');
}

// The strings of an ASCII value, each quoted: split at each NUL, one trailing empty piece
// dropped. Streamed, so that a value of NULs costs no more than its text.
void append_ascii(std::string& out, const ValueView& v) {
  bool open = false;
  bool first = true;
  for_each_chunk(out, v, [&](Bytes c) {
    for (uint8_t b : c) {
      if (!open) {
        if (!first) out += ", ";
        first = false;
        out.push_back('"');
        open = true;
      }
      if (b == 0) {
        out.push_back('"');
        open = false;
      } else {
        append_escaped(out, b);
      }
    }
  });
  if (open) out.push_back('"');
}

bool is_digit(uint8_t b) {
  return b >= '0' && b <= '9';
}

bool all_digits(Bytes s) {
  for (uint8_t b : s) {
    if (!is_digit(b)) return false;
  }
  return true;
}

void append_bytes(std::string& out, Bytes s) {
  out.append(s.begin(), s.end());
}

bool is_rational(const ValueView& v, uint32_t min_count) {
  return v.type() == type::kRational && v.count() >= min_count;
}

// Components joined by ", "; UNDEFINED as one hex string.
void append_default(std::string& out, const ValueView& v) {
  if (!v.known()) {
    out += "unknown value (type=";
    append_uint(out, v.type());
    out += ", count=";
    append_uint(out, v.count());
    out += ", offset=0x";
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v.position(), 16);
    out.append(buf, res.ptr);
    out.push_back(')');
    return;
  }
  if (v.type() == type::kUndefined) {
    out += "0x";
    for_each_chunk(out, v, [&](Bytes c) {
      for (uint8_t b : c)
        append_hex_byte(out, b);
    });
    return;
  }
  if (v.type() == type::kAscii) return append_ascii(out, v);
  for (uint32_t i = 0; i < v.size() && !full(out); ++i) {
    if (i > 0) out += ", ";
    switch (v.type()) {
      case type::kByte:
      case type::kShort:
      case type::kLong:
        append_uint(out, v.uint_at(i));
        break;
      case type::kSByte:
      case type::kSShort:
      case type::kSLong:
        append_int(out, v.sint_at(i));
        break;
      case type::kRational: {
        auto [n, d] = v.rational_at(i);
        append_uint(out, n);
        out.push_back('/');
        append_uint(out, d);
        break;
      }
      case type::kSRational: {
        auto [n, d] = v.srational_at(i);
        if (n < 0) out.push_back('-');
        append_uint(out, static_cast<uint64_t>(std::abs(int64_t{n})));
        out.push_back('/');
        append_int(out, d);
        break;
      }
      case type::kFloat:
        append_number(out, v.float_at(i));
        break;
      default:
        append_number(out, v.double_at(i));
        break;
    }
  }
}

// Rationals as numbers, every component; anything else by the default rendering.
void append_decimal(std::string& out, const ValueView& v) {
  if (v.type() != type::kRational && v.type() != type::kSRational) {
    append_default(out, v);
    return;
  }
  for (uint32_t i = 0; i < v.size() && !full(out); ++i) {
    if (i > 0) out += ", ";
    if (v.type() == type::kRational) {
      auto [n, d] = v.rational_at(i);
      append_ratio(out, n, d);
    } else {
      auto [n, d] = v.srational_at(i);
      append_ratio(out, n, d);
    }
  }
}

void append_opt_decimal(std::string& out, const ValueView& v) {
  if (is_rational(v, 1)) {
    auto [n, d] = v.rational_at(0);
    if (d == 0xFFFFFFFF) {
      out += "unknown";
    } else {
      append_ratio(out, n, d);
    }
  } else if (v.type() == type::kSRational && v.count() >= 1) {
    auto [n, d] = v.srational_at(0);
    if (d == -1) {
      out += "unknown";
    } else {
      append_ratio(out, n, d);
    }
  } else {
    append_decimal(out, v);
  }
}

const std::string_view* lookup(const TagInfo& info, std::string_view key) {
  for (const EnumPair& p : info.pairs) {
    if (p.key == key) return &p.text;
  }
  return nullptr;
}

// The enumeration text of `key`, else "[reserved <label> <default rendering>]".
void append_enum(std::string& out, const TagInfo& info, const ValueView& v, bool has_key,
                 std::string_view key) {
  if (has_key) {
    if (const std::string_view* text = lookup(info, key)) {
      out += *text;
      return;
    }
  }
  out += "[reserved ";
  out += info.reserved_label;
  out.push_back(' ');
  append_default(out, v);
  out.push_back(']');
}

void append_numeric_enum(std::string& out, const TagInfo& info, const ValueView& v, bool has_code,
                         uint32_t code) {
  std::string key;
  if (has_code) append_uint(key, code);
  append_enum(out, info, v, has_code, key);
}

// One flag word, part by part.
void append_flash(std::string& out, uint32_t v) {
  static constexpr std::string_view kReturn[] = {
      ", no return light detection function", ", return light status 1 (reserved)",
      ", return light not detected", ", return light detected"};
  static constexpr std::string_view kMode[] = {", auto mode 0 (unknown)", ", forced",
                                               ", suppressed", ", auto"};
  out += (v & 1) ? "fired" : "not fired";
  out += kReturn[(v >> 1) & 3];
  out += kMode[(v >> 3) & 3];
  if ((v >> 5) & 1) out += ", no function present";
  if ((v >> 6) & 1) out += ", red-eye reduction";
  if ((v >> 7) != 0) out += ", unknown MSB bits";
}

// "YYYY:MM:DD HH:MM:SS" as "YYYY-MM-DD HH:MM:SS"; false when s is not in that form.
bool append_datetime(std::string& out, Bytes s) {
  if (s.size() < 19) return false;
  for (size_t i : {4, 7, 13, 16}) {
    if (s[i] != ':') return false;
  }
  if (s[10] != ' ') return false;
  for (size_t i = 0; i < 19; ++i) {
    if (i != 4 && i != 7 && i != 10 && i != 13 && i != 16 && !is_digit(s[i])) return false;
  }
  append_bytes(out, s.first(4));
  out.push_back('-');
  append_bytes(out, s.subspan(5, 2));
  out.push_back('-');
  append_bytes(out, s.subspan(8, 2));
  out.push_back(' ');
  append_bytes(out, s.subspan(11, 8));
  return true;
}

bool append_gps_date(std::string& out, Bytes s) {
  if (s.size() < 10 || s[4] != ':' || s[7] != ':') return false;
  if (!all_digits(s.first(4)) || !all_digits(s.subspan(5, 2)) || !all_digits(s.subspan(8, 2))) {
    return false;
  }
  append_bytes(out, s.first(4));
  out.push_back('-');
  append_bytes(out, s.subspan(5, 2));
  out.push_back('-');
  append_bytes(out, s.subspan(8, 2));
  return true;
}

// Four digits "MMmm" of a version: false when v is not exactly that.
bool version_digits(const ValueView& v, uint32_t& major, uint32_t& minor) {
  if (v.type() != type::kUndefined || v.count() != 4) return false;
  Bytes b = v.chunk(0);
  if (b.size() != 4 || !all_digits(b)) return false;
  major = (b[0] - '0') * 10u + (b[1] - '0');
  minor = (b[2] - '0') * 10u + (b[3] - '0');
  return true;
}

void append_two_digits(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>('0' + v / 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

void append_rule(std::string& out, const TagInfo& info, const ValueView& v) {
  // Read only by the rules that look at them: the string head costs a copy.
  uint32_t first = 0;
  const auto first_uint = [&] { return v.first_uint(first); };
  std::optional<ValueView::StringHead> first_string;
  const auto read_first_string = [&] { first_string = v.first_string(); };

  switch (info.display) {
    case Display::Plain:
    case Display::Pointer:
      break;
    case Display::Decimal:
      return append_decimal(out, v);
    case Display::OptDecimal:
      return append_opt_decimal(out, v);
    case Display::Enum: {
      const bool has_first = first_uint();
      return append_numeric_enum(out, info, v, has_first, first);
    }
    case Display::EnumUndef: {
      Bytes head = v.type() == type::kUndefined ? v.chunk(0) : Bytes();
      return append_numeric_enum(out, info, v, !head.empty(), head.empty() ? 0 : head[0]);
    }
    case Display::EnumAscii: {
      read_first_string();
      // Keys are short: a string longer than the kept head matches none.
      const bool whole = first_string && !first_string->longer;
      return append_enum(out, info, v, whole, whole ? first_string->bytes() : std::string_view());
    }
    case Display::Flash:
      if (!first_uint()) break;
      return append_flash(out, first);
    case Display::YCbCrSubSamp: {
      const bool has_first = first_uint();
      std::string key;
      append_uint(key, has_first ? first : 0);
      key.push_back(',');
      append_uint(key, v.is_uint() && v.count() >= 2 ? v.uint_at(1) : 0);
      if (const std::string_view* text = lookup(info, key)) {
        out += *text;
        return;
      }
      break;
    }
    case Display::DateTime:
      read_first_string();
      if (!first_string) break;
      if (first_string->is("    :  :     :  :  ") || first_string->is("                   ")) {
        out += "unknown";
        return;
      }
      if (append_datetime(out, as_bytes(first_string->bytes()))) return;
      break;
    case Display::ExpTime: {
      if (!is_rational(v, 1)) break;
      auto [n, d] = v.rational_at(0);
      if (n >= d) return append_ratio(out, n, d);
      if (n == 0) break;
      out += "1/";
      return append_ratio(out, d, n);
    }
    case Display::SubjDist:
      if (is_rational(v, 1)) {
        uint32_t n = v.rational_at(0).first;
        if (n == 0) {
          out += "unknown";
          return;
        }
        if (n == 0xFFFFFFFF) {
          out += "infinity";
          return;
        }
      }
      return append_decimal(out, v);
    case Display::DZoomRatio:
      if (is_rational(v, 1) && v.rational_at(0).first == 0) {
        out += "unused";
        return;
      }
      return append_decimal(out, v);
    case Display::FocalLen35:
      if (first_uint() && first == 0) {
        out += "unknown";
        return;
      }
      break;
    case Display::ExifVer:
    case Display::InteropVer: {
      uint32_t major = 0;
      uint32_t minor = 0;
      if (!version_digits(v, major, minor)) break;
      append_uint(out, major);
      out.push_back('.');
      if (info.display == Display::ExifVer && minor % 10 == 0) {
        append_uint(out, minor / 10);
      } else {
        append_two_digits(out, minor);
      }
      return;
    }
    case Display::CpntCfg: {
      if (v.type() != type::kUndefined) break;
      static constexpr std::string_view kComponents[] = {"_", "Y", "Cb", "Cr", "R", "G", "B"};
      for_each_chunk(out, v, [&](Bytes c) {
        for (uint8_t b : c)
          out += b < std::size(kComponents) ? kComponents[b] : "?";
      });
      return;
    }
    case Display::SubjArea: {
      if (!v.is_uint() || v.count() < 2) break;
      if (v.count() >= 4) {
        out += "rectangle (x=";
      } else if (v.count() == 3) {
        out += "circle (x=";
      } else {
        out += "point (x=";
      }
      append_uint(out, v.uint_at(0));
      out += ", y=";
      append_uint(out, v.uint_at(1));
      if (v.count() >= 4) {
        out += ", w=";
        append_uint(out, v.uint_at(2));
        out += ", h=";
        append_uint(out, v.uint_at(3));
      } else if (v.count() == 3) {
        out += ", d=";
        append_uint(out, v.uint_at(2));
      }
      out.push_back(')');
      return;
    }
    case Display::LensSpec: {
      if (!is_rational(v, 4)) break;
      static constexpr std::string_view kSeparators[] = {"-", " mm, f/", "-", ""};
      for (uint32_t i = 0; i < 4; ++i) {
        auto [n, d] = v.rational_at(i);
        append_ratio(out, n, d);
        out += kSeparators[i];
      }
      return;
    }
    case Display::NumCpstImg:
      if (!v.is_uint() || v.count() < 2) break;
      out += "total ";
      append_uint(out, v.uint_at(0));
      out += ", used ";
      append_uint(out, v.uint_at(1));
      return;
    case Display::GpsVer:
      if (v.type() != type::kByte || v.count() < 4) break;
      for (uint32_t i = 0; i < 4; ++i) {
        if (i > 0) out.push_back('.');
        append_uint(out, v.uint_at(i));
      }
      return;
    case Display::GpsLatLongRef:
      read_first_string();
      if (first_string && !first_string->longer && first_string->bytes().size() == 1 &&
          first_string->bytes()[0] >= 'A' && first_string->bytes()[0] <= 'Z') {
        out.push_back(first_string->bytes()[0]);
        return;
      }
      break;
    case Display::GpsDms: {
      if (!is_rational(v, 3)) break;
      static constexpr std::string_view kSuffixes[] = {" deg ", " min ", " sec"};
      for (uint32_t i = 0; i < 3; ++i) {
        auto [n, d] = v.rational_at(i);
        append_ratio(out, n, d);
        out += kSuffixes[i];
      }
      return;
    }
    case Display::GpsTimeStamp:
      if (!is_rational(v, 3)) break;
      for (uint32_t i = 0; i < 3; ++i) {
        if (i > 0) out.push_back(':');
        auto [n, d] = v.rational_at(i);
        double x = static_cast<double>(n) / static_cast<double>(d);
        if (x < 10) out.push_back('0');
        append_number(out, x);
      }
      return;
    case Display::GpsDateStamp:
      read_first_string();
      if (first_string && append_gps_date(out, as_bytes(first_string->bytes()))) return;
      break;
    case Display::AsciiInUndef:
      if (v.type() != type::kUndefined) break;
      return append_quoted_bytes(out, v);
  }
  append_default(out, v);
}

void append_display(std::string& out, Tag tag, const ValueView& v) {
  if (const TagInfo* info = find_tag(tag)) {
    append_rule(out, *info, v);
  } else {
    append_default(out, v);
  }
}

// The referenced tag's field in the same IFD, else its default, else "[<Name> missing]".
void append_ref(std::string& out, const Exif& exif, uint8_t ifd, Tag ref) {
  if (const Field* f = exif.get_field(ref, ifd)) return append_display(out, ref, exif.value(*f));
  const TagInfo* info = find_tag(ref);
  if (info && info->default_value.type != 0) {
    const DefaultValue& d = info->default_value;
    ValueView v(d.type, d.count, as_bytes(d.bytes), Endian::Big, 0);
    return append_rule(out, *info, v);
  }
  out.push_back('[');
  out += tag_name(ref);
  out += " missing]";
}

}  // namespace

std::string tag_name(Tag tag) {
  if (const TagInfo* info = find_tag(tag)) return std::string(info->name);
  std::string out = "Tag(";
  out += context_name(tag.context);
  out += ", ";
  append_uint(out, tag.number);
  out.push_back(')');
  return out;
}

namespace {

// Generic names "Tag(<Context>, <number>)" in byte order: by context word, then by the number's
// digits with ")" after them, which sorts below every digit. The digits read as base 11 with
// each digit d as d + 1 and ")" or nothing after it as 0 compare as the texts do.
uint64_t generic_name_order(Tag tag) {
  char digits[kMaxNumberDigits];
  const auto res = std::to_chars(digits, digits + sizeof digits, tag.number);
  const auto n = static_cast<size_t>(res.ptr - digits);
  uint64_t key = 0;
  for (size_t i = 0; i < kMaxNumberDigits; ++i)
    key = key * 11 + (i < n ? static_cast<uint64_t>(digits[i] - '0') + 1 : 0);
  return uint64_t{context_rank(tag.context)} << kContextShift | key;
}

uint64_t name_order(const TagInfo* info, Tag tag) {
  if (info) return uint64_t{name_rank(*info)} << kRankShift;
  return uint64_t{generic_name_rank()} << kRankShift | generic_name_order(tag);
}

}  // namespace

uint64_t name_order(Tag tag) {
  return name_order(find_tag(tag), tag);
}

std::string display(Tag tag, const ValueView& v) {
  std::string out;
  append_display(out, tag, v);
  finish(out);
  return out;
}

namespace {

std::string display_with_unit(const Exif& exif, const Field& field, const TagInfo* info) {
  ValueView v = exif.value(field);
  std::string out;
  if (!info) {
    append_default(out, v);
    finish(out);
    return out;
  }
  if (info->unit[0].kind == UnitPiece::Kind::None) {
    append_rule(out, *info, v);
    finish(out);
    return out;
  }
  for (const UnitPiece& piece : info->unit) {
    switch (piece.kind) {
      case UnitPiece::Kind::None:
        break;
      case UnitPiece::Kind::Value:
        append_rule(out, *info, v);
        break;
      case UnitPiece::Kind::Text:
        out += piece.text;
        break;
      case UnitPiece::Kind::Ref:
        append_ref(out, exif, field.ifd, piece.ref);
        break;
    }
  }
  finish(out);
  return out;
}

}  // namespace

std::string display_with_unit(const Exif& exif, const Field& field) {
  return display_with_unit(exif, field, find_tag(field.tag));
}

namespace {

// What a field's text depends on: its value, the tag's display rule (none for the default
// rendering) and, when its unit names another tag, the IFD that tag's field is taken from.
struct TextKey {
  uint64_t offset;
  uint32_t count;
  uint16_t type;
  uint32_t rule;
  uint8_t ifd;
  friend bool operator==(const TextKey&, const TextKey&) = default;
};

struct TextKeyHash {
  size_t operator()(const TextKey& k) const {
    uint64_t h = k.offset * 0x9E3779B97F4A7C15u;
    h ^= (uint64_t{k.count} << 32 | uint64_t{k.type} << 16 | k.ifd) + (h << 6) + (h >> 2);
    h ^= k.rule + (h << 6) + (h >> 2);
    return static_cast<size_t>(h);
  }
};

TextKey text_key(const TagInfo* info, const Field& f) {
  TextKey k{f.offset, f.count, f.type, 0, 0xFF};
  if (!info || (info->display == Display::Plain && info->unit[0].kind == UnitPiece::Kind::None)) {
    return k;
  }
  k.rule = (uint32_t{static_cast<uint8_t>(f.tag.context)} << 16 | f.tag.number) + 1;
  for (const UnitPiece& piece : info->unit) {
    if (piece.kind == UnitPiece::Kind::Ref) k.ifd = f.ifd;
  }
  return k;
}

// Texts shorter than this are rendered again rather than remembered.
constexpr size_t kReusedTextMin = 256;

}  // namespace

FieldTexts field_texts(const Exif& exif) {
  FieldTexts out;
  out.truncated = exif.truncated();
  out.fields.reserve(std::min(exif.fields().size(), limits::kExifMaxFields));
  // The report holds each text once per field, so the cap grows with the block: fields that
  // share one value across the IFD numbers and contexts of a looping chain fit whole.
  const uint64_t text_cap = limits::kExifMaxTotalText + exif.size();
  uint64_t text_bytes = 0;
  // Fields that share a value (loops, self pointers) share its rendering, one string: the first
  // field with a long text of each key, by index.
  std::unordered_map<TextKey, size_t, TextKeyHash> rendered;
  for (const Field& f : exif.fields()) {
    if (out.fields.size() >= limits::kExifMaxFields || text_bytes >= text_cap) {
      out.truncated = true;
      break;
    }
    const TagInfo* info = find_tag(f.tag);
    const TextKey key = text_key(info, f);
    Value text;
    if (auto same = rendered.find(key); same != rendered.end()) {
      text = out.fields[same->second].text;
    } else if (std::string s = display_with_unit(exif, f, info); s.size() >= kReusedTextMin) {
      rendered.emplace(key, out.fields.size());
      text = Value::shared_text(std::make_shared<const std::string>(std::move(s)));
    } else {
      text = Value::text(std::move(s));
    }
    const FieldText& t =
        out.fields.emplace_back(FieldText{info ? std::string(info->name) : tag_name(f.tag),
                                          std::move(text), name_order(info, f.tag), f.ifd});
    text_bytes += t.name.size() + t.text.get_if<std::string>()->size();
  }
  return out;
}

}  // namespace vorlix_core::exif
