#include "report_tape.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <variant>

#include "errors.hpp"
#include "number_rules.hpp"
#include "text.hpp"

namespace vorlix_node {

using vorlix_core::List;
using vorlix_core::Map;
using vorlix_core::RecordList;
using vorlix_core::Value;

namespace {

using namespace std::string_view_literals;

constexpr size_t kMaxStringUnits = (size_t{1} << 29) - 24;  // the engine's longest string
// Slices shorter than this the engine copies; longer ones would keep the whole text they were
// cut from alive, so they come from JSON.parse instead.
constexpr size_t kShortUnits = 12;
constexpr std::string_view kStringFailed = "Failed to convert string into napi value";
constexpr std::string_view kErrorsKey = "errors";

}  // namespace

namespace {

// The length in UTF-16 code units of `s` when it is well-formed UTF-8 (the core's texts nearly
// always are), so it can be taken as it is instead of decoded again.
std::optional<size_t> well_formed_units(std::string_view s) {
  size_t units = 0;
  const size_t n = s.size();
  const auto at = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const auto in = [&](size_t i, unsigned lo, unsigned hi) {
    return i < n && at(i) >= lo && at(i) <= hi;
  };
  for (size_t i = 0; i < n;) {
    const unsigned c = at(i);
    if (c < 0x80) {
      ++i;
      ++units;
    } else if (c >= 0xC2 && c <= 0xDF && in(i + 1, 0x80, 0xBF)) {
      i += 2;
      ++units;
    } else if (c >= 0xE0 && c <= 0xEF &&
               in(i + 1, c == 0xE0 ? 0xA0 : 0x80, c == 0xED ? 0x9F : 0xBF) &&
               in(i + 2, 0x80, 0xBF)) {
      i += 3;
      ++units;
    } else if (c >= 0xF0 && c <= 0xF4 &&
               in(i + 1, c == 0xF0 ? 0x90 : 0x80, c == 0xF4 ? 0x8F : 0xBF) &&
               in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF)) {
      i += 4;
      units += 2;  // a surrogate pair
    } else {
      return std::nullopt;
    }
  }
  return units;
}

}  // namespace

size_t append_utf8(std::string& out, std::string_view s) {
  if (const auto units = well_formed_units(s)) {
    out.append(s);
    return *units;
  }
  const size_t start = out.size();
  vorlix_core::append_utf8_lossy(out, vorlix_core::as_bytes(s));
  // One unit per character, two for those past U+FFFF (four-byte sequences).
  size_t units = 0;
  for (size_t i = start; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
  }
  return units;
}

namespace {

// What JSON needs of each byte: nothing, an escape (quote, backslash, control character), or a
// look at the UTF-8 it starts or continues.
enum class ByteClass : uint8_t { Plain, Escape, NonAscii };
constexpr auto kByteClass = [] {
  std::array<ByteClass, 256> t{};
  for (size_t c = 0; c < 256; ++c) {
    t[c] = c >= 0x80                           ? ByteClass::NonAscii
           : c < 0x20 || c == '"' || c == '\\' ? ByteClass::Escape
                                               : ByteClass::Plain;
  }
  return t;
}();

// Keys of a map beyond this many bytes travel beside their values (Flattener::entries).
constexpr size_t kMaxKeySetBytes = size_t{16} << 20;

class Flattener {
 public:
  // Empties `flat` for this report, keeping the room it has.
  Flattener(const FlattenOptions& options, KeySetTable& key_sets, FlatReport& flat)
      : options_(options), flat_(flat), key_sets_(key_sets) {
    flat_.program.clear();
    flat_.numbers.clear();
    flat_.texts.resize(1);
    flat_.direct.clear();
    TextChunk& first = flat_.texts[0];
    first.bytes.assign(1, '[');
    first.shorts.clear();
    first.units = first.count = first.short_units = 0;
    first.shorts_ascii = true;
    flat_.own_key_sets.clear();
    flat_.max_depth = 0;
    flat_.kept_texts = 0;
  }

  // Flattens one namespace; on failure, takes back what it added and returns why.
  std::optional<std::string> add_namespace(Map& fields) {
    const Mark mark = save();
    std::optional<std::string> failure;
    try {
      map_depth_ = 0;  // a failed map may have left it raised
      if (!map(fields)) failure = std::move(failure_);
    } catch (...) {
      failure = current_exception_error().message;
    }
    if (failure) restore(mark);
    return failure;
  }

  bool errors(std::vector<vorlix_core::ReportError>& errors) {
    for (const auto& e : errors) {
      if (!text(e.extractor) || !text(e.message)) return false;
      object("extractor\0message\0"sv, 2);
    }
    array(errors.size());
    return true;
  }

  // The report object over the namespaces on the stack. `errors_value` says the last value
  // pushed is the one for "errors", which goes below the `after_errors` namespaces pushed
  // before it, those whose names sort after "errors".
  void root(const std::vector<std::string_view>& names, bool errors_value) {
    std::string& keys = flat_.scratch.root_keys;
    keys.clear();
    size_t after_errors = 0;
    for (std::string_view name : names) {
      if (errors_value && name > kErrorsKey && after_errors++ == 0) append_key(keys, kErrorsKey);
      append_key(keys, name);
    }
    if (errors_value && after_errors == 0) append_key(keys, kErrorsKey);
    if (errors_value && after_errors > 0) emit(Op::MoveDown, static_cast<int32_t>(after_errors));
    object(keys, names.size() + (errors_value ? 1 : 0));
  }

  // Closes each text chunk's JSON array (its '[' is there from the start; counted here).
  void finish() {
    for (TextChunk& c : flat_.texts) {
      c.bytes.push_back(']');
      c.units += 2;
    }
  }
  const std::string& failure() const { return failure_; }

 private:
  struct Mark {
    size_t program, numbers, texts, direct, depth, shared;
    // The last chunk's sizes and state.
    size_t bytes, units, count, shorts, short_units;
    bool shorts_ascii;
  };

  Mark save() const {
    const TextChunk& c = flat_.texts.back();
    return {flat_.program.size(),
            flat_.numbers.size(),
            flat_.texts.size(),
            flat_.direct.size(),
            depth_,
            shared_slots_.size(),
            c.bytes.size(),
            c.units,
            c.count,
            c.shorts.size(),
            c.short_units,
            c.shorts_ascii};
  }

  void restore(const Mark& m) {
    flat_.program.resize(m.program);
    flat_.numbers.resize(m.numbers);
    flat_.texts.resize(m.texts);
    flat_.direct.resize(m.direct);
    TextChunk& c = flat_.texts.back();
    c.bytes.resize(m.bytes);
    c.units = m.units;
    c.count = m.count;
    c.shorts.resize(m.shorts);
    c.short_units = m.short_units;
    c.shorts_ascii = m.shorts_ascii;
    depth_ = m.depth;
    // Slots handed out since the mark were never filled, as far as the program now says.
    std::erase_if(shared_slots_, [&](const auto& e) {
      return e.second >= kKeptTexts + static_cast<int32_t>(m.shared);
    });
  }

  static void append_key(std::string& keys, std::string_view key) {
    keys.append(key);
    keys.push_back('\0');
  }

  void emit(Op op) { flat_.program.push_back(static_cast<int32_t>(op)); }
  void emit(Op op, int32_t a) {
    emit(op);
    flat_.program.push_back(a);
  }
  void emit(Op op, int32_t a, int32_t b) {
    emit(op, a);
    flat_.program.push_back(b);
  }

  void pushed() { flat_.max_depth = std::max(flat_.max_depth, ++depth_); }
  void popped(size_t n) { depth_ -= n; }

  bool fail(std::string message) {
    failure_ = std::move(message);
    return false;
  }

  void number(double d) {
    if (!std::isfinite(d)) {
      emit(Op::Null);
    } else if (d >= INT32_MIN && d <= INT32_MAX && d == std::trunc(d) &&
               !(d == 0 && std::signbit(d))) {
      // In the program itself: the engine reads it as a small integer, where a number read from
      // the numbers array is a heap object of its own (offsets and lengths, record after record).
      emit(Op::Int, static_cast<int32_t>(d));
    } else {
      emit(Op::Number);
      flat_.numbers.push_back(d);
    }
    pushed();
  }

  void integer(JsInteger n) {
    if (!n.bigint) {
      const auto d = static_cast<double>(n.magnitude);
      number(n.negative ? -d : d);
      return;
    }
    char digits[24];  // a sign and at most 20 digits
    char* at = digits;
    if (n.negative) *at++ = '-';
    const char* end = std::to_chars(at, std::end(digits), n.magnitude).ptr;
    // Past 2^53, so at least 16 digits: always a JSON string, never a short or direct one.
    place(std::string_view(digits, static_cast<size_t>(end - digits)), nullptr);
    emit(Op::BigInt);
    pushed();
  }

  // Where place() put a string: among the short ones at (offset, units), next in the JSON, or
  // among the direct ones.
  enum class Path { Short, Json, Direct };
  struct Placed {
    Path path;
    int32_t offset;
    int32_t units;
  };

  // Starts a new chunk when `units` more would overfill the current one.
  void room(size_t units) {
    const TextChunk& c = flat_.texts.back();
    const size_t used = c.units + c.short_units;
    if (used > 0 && used + units > options_.chunk_units) {
      flat_.texts.emplace_back().bytes.push_back('[');
      emit(Op::NextTexts, static_cast<int32_t>(flat_.texts.size() - 1));
    }
  }

  // Adds a string to the current chunk (or a new one when it is full), or to the direct ones;
  // empty when it is too long for the engine.
  std::optional<Placed> place(std::string_view raw, std::string* owner) {
    // One look at every byte says which of the three paths the string takes.
    unsigned classes = 0;
    for (char ch : raw)
      classes |= 1u << static_cast<unsigned>(kByteClass[static_cast<unsigned char>(ch)]);
    const bool ascii = (classes & (1u << static_cast<unsigned>(ByteClass::NonAscii))) == 0;
    const bool escapes = (classes & (1u << static_cast<unsigned>(ByteClass::Escape))) != 0;
    if (raw.size() > kShortUnits && (!ascii || escapes || raw.size() >= kDirectBytes)) {
      // UTF-8 takes at least one byte per UTF-16 unit, and the engine refuses more bytes than
      // its longest string has units.
      if (raw.size() > kMaxStringUnits) return std::nullopt;
      flat_.direct.push_back({raw, ascii, owner});
      return Placed{Path::Direct, 0, 0};
    }
    std::string sanitized;
    std::string_view s = raw;
    size_t units = raw.size();
    if (!ascii) {
      units = append_utf8(sanitized, raw);
      s = sanitized;
    }
    if (units <= kShortUnits) {
      room(units);
      TextChunk& c = flat_.texts.back();
      const size_t offset = c.short_units;
      c.shorts.append(s);
      c.short_units += units;
      c.shorts_ascii = c.shorts_ascii && ascii;
      return Placed{Path::Short, static_cast<int32_t>(offset), static_cast<int32_t>(units)};
    }
    // ASCII, no escapes, fewer than kDirectBytes.
    const size_t json = units + 2;
    room(json + 1);
    TextChunk& c = flat_.texts.back();
    if (c.count > 0) {
      c.bytes.push_back(',');
      c.units += 1;
    }
    c.bytes.push_back('"');
    c.bytes.append(s);
    c.bytes.push_back('"');
    c.units += json;
    ++c.count;
    return Placed{Path::Json, 0, 0};
  }

  bool text(std::string_view s, int32_t keep_in = -1, std::string* owner = nullptr) {
    if (s.size() > options_.max_string_bytes) return fail(std::string(kStringFailed));
    const auto placed = place(s, owner);
    if (!placed) return fail(std::string(kStringFailed));
    switch (placed->path) {
      case Path::Short:
        emit(keep_in < 0 ? Op::Short : Op::KeepShort, placed->offset, placed->units);
        break;
      case Path::Json:
        emit(keep_in < 0 ? Op::Text : Op::KeepText);
        break;
      case Path::Direct:
        emit(keep_in < 0 ? Op::Direct : Op::KeepDirect);
        break;
    }
    if (keep_in >= 0) flat_.program.push_back(keep_in);
    pushed();
    return true;
  }

  // A records list's texts, column by column: a repeat of one of the column's recent texts
  // reuses its string (methods, dates and box types repeat a lot). Each column keeps its last
  // kPerColumn texts, found through a small hash index, and starts over when full. A column
  // whose texts seldom repeat (names) stops looking after a trial. Slots are numbered in the
  // order they are first handed out, so a short list needs few of them.
  class RecentTexts {
   public:
    static constexpr size_t kPerColumn = 64;
    static constexpr size_t kColumns = kKeptTexts / kPerColumn;
    static constexpr size_t kSlots = 2 * kPerColumn;  // at most half full
    static constexpr size_t kTrial = 256;

    // The slot holding `text` for `column`, or -1 (and `*keep_in` the slot to keep it
    // in, or -1 where the column is not looked at).
    int32_t find(size_t column, std::string_view text, int32_t* keep_in) {
      *keep_in = -1;
      if (column >= kColumns) return -1;
      Column& c = columns_[column];
      if (c.off) return -1;
      ++c.lookups;
      const size_t home = std::hash<std::string_view>{}(text) & (kSlots - 1);
      size_t slot = home;
      for (; c.index[slot] != 0; slot = (slot + 1) & (kSlots - 1)) {
        const size_t j = c.index[slot] - 1u;
        if (c.size[j] == text.size() && std::memcmp(c.data[j], text.data(), text.size()) == 0) {
          ++c.hits;
          return c.reg[j];
        }
      }
      if (c.lookups >= kTrial && c.hits * 8 < c.lookups) {
        c.off = true;
        return -1;
      }
      // Full: start over, handing the column's kept_texts out again from its first.
      if (c.count == kPerColumn) {
        std::fill(std::begin(c.index), std::end(c.index), uint8_t{0});
        c.count = 0;
        slot = home;
      }
      const size_t j = c.count++;
      if (j == c.numbered) c.reg[c.numbered++] = used_++;
      c.index[slot] = static_cast<uint8_t>(j + 1);
      c.data[j] = text.data();
      c.size[j] = text.size();
      *keep_in = c.reg[j];
      return -1;
    }

    int32_t used() const { return used_; }

   private:
    struct Column {
      uint8_t index[kSlots] = {};  // 1 + the text's place, or 0 for an empty slot
      uint32_t count = 0;          // texts kept
      uint32_t numbered = 0;       // places given a slot
      uint32_t lookups = 0;
      uint32_t hits = 0;
      bool off = false;
      // Left uninitialised: read only below count (texts) and numbered (kept_texts).
      int32_t reg[kPerColumn];
      const char* data[kPerColumn];
      size_t size[kPerColumn];
    };
    Column columns_[kColumns];
    int32_t used_ = 0;  // kept_texts 0 .. used_ - 1 may hold a string
  };

  // `buffer`, where given, holds `keys` and may be taken (left empty) for a key set of this
  // report's own, which is then not copied.
  void object(std::string_view keys, size_t count, std::string* buffer = nullptr) {
    emit(Op::Object, key_set_number(keys, buffer));
    popped(count);
    pushed();
  }

  void array(size_t count) {
    emit(Op::Array, static_cast<int32_t>(count));
    popped(count);
    pushed();
  }

  // The number of the key set `keys` (each key followed by a NUL).
  int32_t key_set_number(std::string_view keys, std::string* buffer = nullptr) {
    if (options_.share_key_sets && keys.size() <= KeySetTable::kMaxSharedKeyBytes) {
      if (const int32_t id = key_sets_.find_or_add(keys); id >= 0) return id;
    }
    if (const auto it = own_ids_.find(keys); it != own_ids_.end()) return it->second;
    // The index refers to the flat report's copy, whose place a deque keeps.
    const auto id = -static_cast<int32_t>(flat_.own_key_sets.size() + 1);
    own_ids_.emplace(buffer ? flat_.own_key_sets.emplace_back(std::move(*buffer))
                            : flat_.own_key_sets.emplace_back(keys),
                     id);
    return id;
  }

  bool value(Value& v) {
    return std::visit(
        [&](auto& x) -> bool {
          using T = std::decay_t<decltype(x)>;
          if constexpr (std::is_same_v<T, std::monostate>) {
            emit(Op::Null);
            pushed();
          } else if constexpr (std::is_same_v<T, bool>) {
            emit(x ? Op::True : Op::False);
            pushed();
          } else if constexpr (std::is_same_v<T, int64_t> || std::is_same_v<T, uint64_t>) {
            integer(js_integer(x));
          } else if constexpr (std::is_same_v<T, double>) {
            number(x);
          } else if constexpr (std::is_same_v<T, vorlix_core::Rational>) {
            integer(js_integer(x.den));
            integer(js_integer(x.num));
            number(x.value);
            object("den\0num\0value\0"sv, 3);
          } else if constexpr (std::is_same_v<T, std::string>) {
            return text(x, -1, &x);
          } else if constexpr (std::is_same_v<T, vorlix_core::SharedText>) {
            return shared_text(x);
          } else if constexpr (std::is_same_v<T, vorlix_core::Bytes>) {
            return text(vorlix_core::bytes_display(x));
          } else if constexpr (std::is_same_v<T, List>) {
            return list(x);
          } else if constexpr (std::is_same_v<T, Map>) {
            return map(x);
          } else {
            static_assert(std::is_same_v<T, RecordList>);
            return records(x);
          }
          return true;
        },
        v.variant());
  }

  // A text several values share becomes one string, kept in a slot after the records' ones and
  // pushed again for each later value: a long EXIF value shown by every IFD of a looping chain
  // crosses to the engine once.
  bool shared_text(const vorlix_core::SharedText& t) {
    if (!t) return text(std::string_view());
    const auto [it, first] =
        shared_slots_.try_emplace(t.get(), kKeptTexts + static_cast<int32_t>(shared_slots_.size()));
    if (!first) {
      emit(Op::ReuseText, it->second);
      pushed();
      return true;
    }
    flat_.kept_texts = std::max(flat_.kept_texts, it->second + 1);
    return text(*t, it->second);
  }

  bool map(Map& m) {
    // Each nesting level keeps one buffer for its key sets, reused map after map.
    std::vector<std::string>& key_buffers = flat_.scratch.key_sets;
    if (key_buffers.size() <= map_depth_) key_buffers.emplace_back();
    const size_t level = map_depth_++;
    key_buffers[level].clear();
    size_t key_bytes = 0;
    bool long_key = false;
    for (const auto& entry : m) {
      key_bytes += entry.first.size() + 1;
      long_key = long_key || entry.first.size() >= kDirectBytes;
    }
    if (long_key || key_bytes > kMaxKeySetBytes) {
      --map_depth_;
      return entries(m);
    }
    key_buffers[level].reserve(key_bytes);
    for (auto& [key, v] : m) {
      if (const auto nul = key.find('\0'); nul != std::string::npos) {
        return fail("nul byte found in provided data at position: " + std::to_string(nul));
      }
      if (!value(v)) return false;
      append_key(key_buffers[level], key);
    }
    --map_depth_;
    object(key_buffers[level], m.size(), &key_buffers[level]);
    return true;
  }

  // A map with a key as long as a text made on its own (a hostile PNG keyword), or with more key
  // bytes than one key text should carry: each key travels as a string beside its value, made
  // straight from the report, rather than being copied into a key set, then into the key text,
  // and decoded by the engine in one piece with the others (where a key text past the engine's
  // longest string would fail the whole report).
  bool entries(Map& m) {
    for (auto& [key, v] : m) {
      if (const auto nul = key.find('\0'); nul != std::string::npos) {
        return fail("nul byte found in provided data at position: " + std::to_string(nul));
      }
      if (!text(key) || !value(v)) return false;
    }
    emit(Op::Entries, static_cast<int32_t>(m.size()));
    popped(2 * m.size());
    pushed();
    return true;
  }

  bool list(List& l) {
    for (auto& v : l) {
      if (!value(v)) return false;
    }
    array(l.size());
    return true;
  }

  bool records(const RecordList& records) {
    using Kind = RecordList::Kind;
    const auto& keys = records.keys();
    // At most an op and an operand per cell and two ops per record, a number per cell, every
    // text as JSON (quotes and a comma): growing by doubling would copy a long list's buffers
    // several times and touch twice their memory.
    const size_t cells = records.size() * keys.size();
    flat_.program.reserve(flat_.program.size() + 2 * cells + 2 * records.size());
    flat_.numbers.reserve(flat_.numbers.size() + cells);
    std::string& json = flat_.texts.back().bytes;
    json.reserve(json.size() + records.text_bytes() + 3 * cells);
    // Records mostly share one key set: the last one's number is kept.
    std::string& present = flat_.scratch.present;
    std::string& last_present = flat_.scratch.last_present;
    std::string& record_key_set = flat_.scratch.record_keys;
    present.assign(keys.size(), '\0');
    last_present.clear();
    int32_t last_key_set = 0;
    RecentTexts recent;
    // The list is made first and each record goes straight into it, so the stack holds one
    // record's values at a time, not the whole list.
    emit(Op::Records, static_cast<int32_t>(records.size()));
    pushed();
    for (size_t i = 0; i < records.size(); ++i) {
      size_t count = 0;
      for (size_t k = 0; k < keys.size(); ++k) {
        const auto& c = records.cell(i, k);
        present[k] = c.kind != Kind::Absent ? 1 : 0;
        switch (c.kind) {
          case Kind::Absent:
            continue;
          case Kind::Bool:
            emit(c.data != 0 ? Op::True : Op::False);
            pushed();
            break;
          case Kind::UInt:
            integer(js_integer(c.data));
            break;
          case Kind::Text: {
            const std::string_view t = records.text(c);
            int32_t keep_in;
            if (const int32_t reg = recent.find(k, t, &keep_in); reg >= 0) {
              emit(Op::ReuseText, reg);
              pushed();
            } else if (!text(t, keep_in)) {
              return false;
            }
            break;
          }
        }
        ++count;
      }
      if (present != last_present) {
        record_key_set.clear();
        for (size_t k = 0; k < keys.size(); ++k) {
          if (present[k]) append_key(record_key_set, keys[k]);
        }
        last_key_set = key_set_number(record_key_set, &record_key_set);
        last_present = present;
      }
      emit(Op::RecordInto, last_key_set);
      popped(count);
    }
    flat_.kept_texts = std::max(flat_.kept_texts, recent.used());
    return true;
  }

  const FlattenOptions& options_;
  FlatReport& flat_;
  size_t depth_ = 0;
  std::string failure_;
  KeySetTable& key_sets_;
  std::unordered_map<std::string_view, int32_t> own_ids_;
  // The kept-text slot of each shared text pushed so far.
  std::unordered_map<const std::string*, int32_t> shared_slots_;
  size_t map_depth_ = 0;
};

}  // namespace

int32_t KeySetTable::find_or_add(std::string_view keys) {
  if (const auto it = ids_.find(keys); it != ids_.end()) return it->second;
  if (keys_.size() >= kMaxKeySets || key_bytes_ + keys.size() > kMaxKeyBytes) return -1;
  const auto id = static_cast<int32_t>(keys_.size());
  keys_.emplace_back(keys);
  ids_.emplace(keys_.back(), id);
  key_bytes_ += keys.size();
  return id;
}

bool KeySetTable::start_report() {
  if (keys_.size() < kMaxKeySets && key_bytes_ < kMaxKeyBytes / 2) return false;
  ids_.clear();
  keys_.clear();
  key_bytes_ = 0;
  sent_ = 0;
  return true;
}

std::optional<JsError> flatten_report(vorlix_core::Report& report, const FlattenOptions& options,
                                      KeySetTable& key_sets, FlatReport& flat) {
  Flattener b(options, key_sets, flat);
  // Kept with the flat report: its texts may be made after this returns.
  std::vector<vorlix_core::ReportError>& errors = flat.scratch.errors;
  errors = report.errors;
  std::vector<std::string_view>& names = flat.scratch.names;
  names.clear();
  Map* errors_namespace = nullptr;
  for (auto& [name, fields] : report.namespaces) {
    // A namespace that shares the errors list's name gives way to the list.
    if (name == kErrorsKey) {
      errors_namespace = &fields;
      continue;
    }
    if (auto failure = b.add_namespace(fields)) {
      errors.push_back({name, std::move(*failure)});
      continue;
    }
    names.push_back(name);
  }
  bool errors_value = false;
  if (errors.empty() && errors_namespace) {
    if (auto failure = b.add_namespace(*errors_namespace)) {
      errors.push_back({std::string(kErrorsKey), std::move(*failure)});
    } else {
      errors_value = true;
    }
  }
  if (!errors.empty()) {
    if (!b.errors(errors)) return JsError{napi_generic_failure, b.failure()};
    errors_value = true;
  }
  b.root(names, errors_value);
  b.finish();
  return std::nullopt;
}

}  // namespace vorlix_node
