#pragma once
// The data every extractor produces and the binding hands to JavaScript.
#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "vorlix/flat_map.hpp"

namespace vorlix_core {

struct Rational {
  int64_t num = 0;
  int64_t den = 0;
  // Kept as the producer gave it; never recomputed from num/den.
  double value = 0.0;
};

class Value;
// A text several fields hold (an EXIF value that loops or chains name once): one copy in the
// report, and one string in JS. Never null.
using SharedText = std::shared_ptr<const std::string>;
using Bytes = std::vector<uint8_t>;
using List = std::vector<Value>;
// std::string compares through char_traits<char>, which orders bytes as unsigned: exactly
// the byte-wise key order the report needs.
using Map = FlatMap<Value>;

// The compact form of a long List of Map whose records share a few keys (ZIP entries, JPEG
// segments, PNG chunks, MP4 boxes). Every consumer sees it as that List of Map; stored as
// 9-byte cells (a kind and 8 bytes) with the texts in one arena, a record costs less than a
// tenth of a Map, so a hostile file of tiny records cannot make the report hundreds of times
// its own size, nor make it touch that much fresh memory.
class RecordList {
 public:
  // The keys a record may hold, in byte order; they must outlive the list (string literals).
  explicit RecordList(std::vector<std::string_view> keys);
  RecordList(const RecordList& other);
  RecordList& operator=(const RecordList& other);
  RecordList(RecordList&&) noexcept = default;
  RecordList& operator=(RecordList&&) noexcept = default;
  ~RecordList();

  enum class Kind : uint8_t { Absent, Bool, UInt, Text };
  // A cell as read back.
  struct Cell {
    Kind kind = Kind::Absent;
    uint32_t text_len = 0;
    uint64_t data = 0;  // the bool, the number, or the text's offset in the arena
  };

  // A list moved from holds no records and no keys.
  size_t size() const { return d_ && d_->width ? d_->records : 0; }
  // The bytes of every text cell together, with their lengths.
  size_t text_bytes() const { return d_ ? d_->arena.size() : 0; }
  std::span<const std::string_view> keys() const {
    return d_ ? std::span<const std::string_view>(d_->keys) : std::span<const std::string_view>();
  }
  // Appends a record; false (and nothing appended) when a key is not one of keys() or a value
  // is of a kind cells cannot hold.
  bool push(const Map& record);
  // Appends an empty record to fill with set(), by key index in keys() order; for walks that
  // know their keys and would rather not build a Map per record.
  void add();
  void set(size_t key, uint64_t v) { put_last(key, Kind::UInt, v); }
  void set(size_t key, bool v) { put_last(key, Kind::Bool, v ? 1u : 0u); }
  void set(size_t key, std::string_view text);
  void reserve(size_t records) {
    d_->blocks.reserve((records + kBlockRecords - 1) / kBlockRecords);
  }

  // Raw access for converters that want no Value per cell.
  Cell cell(size_t record, size_t key) const {
    const Block& b = d_->blocks[record / kBlockRecords];
    const size_t i = slot(record, key);
    Cell c{b.kinds[i], 0, b.data[i]};
    if (c.kind == Kind::Text) read_text_length(c);
    return c;
  }
  std::string_view text(const Cell& c) const {
    return std::string_view(d_->arena).substr(static_cast<size_t>(c.data), c.text_len);
  }

  // Calls f(key, value) for each key the record holds, in key order; value is a Value.
  template <class F>
  void for_each(size_t record, F&& f) const;
  Map record(size_t i) const;

 private:
  // Records are stored this many to a block, each block's room taken at once: a long list grows
  // without copying its cells again, and touches their memory once.
  static constexpr size_t kBlockRecords = 256;
  // A block's cells: kinds apart from their 8 bytes, so a cell takes 9 bytes, not 16.
  struct Block {
    std::vector<Kind> kinds;
    // The bool, the number, or where the text's length (LEB128) and then its bytes start in
    // the arena.
    std::vector<uint64_t> data;
  };
  // Held through one pointer, so a Value (and every map entry) stays as small as a string.
  struct Data {
    std::vector<std::string_view> keys;
    size_t width = 0;
    size_t records = 0;
    std::vector<Block> blocks;
    std::string arena;
  };

  Value cell_value(const Cell& c) const;
  // Where a record's cell sits in its block.
  size_t slot(size_t record, size_t key) const { return record % kBlockRecords * d_->width + key; }
  // Turns a text cell's data into its length and the offset of its bytes.
  void read_text_length(Cell& c) const;
  void put_last(size_t key, Kind kind, uint64_t data) {
    Block& block = d_->blocks.back();
    const size_t i = slot(d_->records - 1, key);
    block.kinds[i] = kind;
    block.data[i] = data;
  }
  // Drops the last record.
  void drop_last();

  std::unique_ptr<Data> d_;
};

class Value {
 public:
  // Alternatives in tag order: Null, Bool, Int, UInt, Float, Rational, Text, Bytes, List, Map,
  // then Records, the compact List of Map, and a shared Text.
  using Variant = std::variant<std::monostate, bool, int64_t, uint64_t, double, Rational,
                               std::string, Bytes, List, Map, RecordList, SharedText>;
  enum class Kind { Null, Bool, Int, UInt, Float, Rational, Text, Bytes, List, Map, Records };

  Value() = default;
  explicit Value(Variant v) : v_(std::move(v)) {}

  static Value null() { return Value(); }
  static Value boolean(bool b) { return Value(Variant(std::in_place_index<1>, b)); }
  static Value int64(int64_t i) { return Value(Variant(std::in_place_index<2>, i)); }
  static Value uint64(uint64_t u) { return Value(Variant(std::in_place_index<3>, u)); }
  static Value float64(double d) { return Value(Variant(std::in_place_index<4>, d)); }
  static Value rational(int64_t num, int64_t den, double value) {
    return Value(Variant(std::in_place_index<5>, Rational{num, den, value}));
  }
  static Value text(std::string s) { return Value(Variant(std::in_place_index<6>, std::move(s))); }
  static Value text(std::string_view s) { return text(std::string(s)); }
  static Value text(const char* s) { return text(std::string(s)); }
  static Value bytes(Bytes b) { return Value(Variant(std::in_place_index<7>, std::move(b))); }
  static Value list(List l) { return Value(Variant(std::in_place_index<8>, std::move(l))); }
  static Value map(Map m) { return Value(Variant(std::in_place_index<9>, std::move(m))); }
  static Value records(RecordList r) {
    return Value(Variant(std::in_place_index<10>, std::move(r)));
  }
  static Value shared_text(SharedText t) {
    if (!t) return text(std::string());
    return Value(Variant(std::in_place_index<11>, std::move(t)));
  }

  Kind kind() const { return v_.index() == 11 ? Kind::Text : static_cast<Kind>(v_.index()); }
  const Variant& variant() const { return v_; }
  Variant& variant() { return v_; }

  // A text reads the same whether it is shared or not.
  template <class T>
  const T* get_if() const {
    if constexpr (std::is_same_v<T, std::string>) {
      if (const SharedText* shared = std::get_if<SharedText>(&v_)) return shared->get();
    }
    return std::get_if<T>(&v_);
  }

 private:
  Variant v_;
};

// One extractor's named group of fields.
class Namespace {
 public:
  // `name` must be a string literal (or otherwise outlive the namespace).
  explicit Namespace(const char* name) : name_(name) {}

  const char* name() const { return name_; }
  const Map& fields() const { return fields_; }
  Map& fields() { return fields_; }
  bool empty() const { return fields_.empty(); }

  template <std::unsigned_integral T>
  requires(!std::same_as<T, bool>) void set(std::string_view key, T v) {
    put(key, Value::uint64(static_cast<uint64_t>(v)));
  }
  void set(std::string_view key, bool v) { put(key, Value::boolean(v)); }
  void set(std::string_view key, double v) { put(key, Value::float64(v)); }
  // A separate const char* overload keeps literals from converting to bool.
  void set(std::string_view key, const char* v) { put(key, Value::text(v)); }
  void set(std::string_view key, std::string_view v) { put(key, Value::text(v)); }
  void set(std::string_view key, std::string&& v) { put(key, Value::text(std::move(v))); }
  void set(std::string_view key, List&& v) { put(key, Value::list(std::move(v))); }
  void set(std::string_view key, Map&& v) { put(key, Value::map(std::move(v))); }
  void set(std::string_view key, RecordList&& v) { put(key, Value::records(std::move(v))); }
  void set(std::string_view key, Value v) { put(key, std::move(v)); }

  // A failure that qualifies these facts instead of replacing them: the report keeps the
  // namespace and also lists this message in its errors, under the extractor's name.
  void set_error(std::string message) { error_ = std::move(message); }
  const std::optional<std::string>& error() const { return error_; }

 private:
  void put(std::string_view key, Value v);

  const char* name_;
  Map fields_;
  std::optional<std::string> error_;
};

template <class F>
void RecordList::for_each(size_t record, F&& f) const {
  for (size_t k = 0; k < d_->width; ++k) {
    const Cell c = cell(record, k);
    if (c.kind != Kind::Absent) f(d_->keys[k], cell_value(c));
  }
}

// Two lowercase hex digits per byte, no separators.
std::string to_hex(std::span<const uint8_t> bytes);

// The serialised text of a Bytes value: hex of the first 64 bytes, then "... (N bytes)" when
// longer.
std::string bytes_display(std::span<const uint8_t> bytes);

}  // namespace vorlix_core
