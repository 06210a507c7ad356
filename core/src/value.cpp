#include "vorlix/value.hpp"

#include <algorithm>
#include <tuple>
#include <utility>

namespace vorlix_core {

void Namespace::put(std::string_view key, Value v) {
  fields_.insert_or_assign(key, std::move(v));
}

RecordList::RecordList(std::vector<std::string_view> keys) : d_(std::make_unique<Data>()) {
  d_->width = keys.size();
  d_->keys = std::move(keys);
}

RecordList::RecordList(const RecordList& other)
    : d_(other.d_ ? std::make_unique<Data>(*other.d_) : nullptr) {}

RecordList& RecordList::operator=(const RecordList& other) {
  if (this != &other) d_ = other.d_ ? std::make_unique<Data>(*other.d_) : nullptr;
  return *this;
}

RecordList::~RecordList() = default;

void RecordList::add() {
  std::vector<Block>& blocks = d_->blocks;
  const size_t width = d_->width;
  // Each block is sized whole when it starts: its kinds start Absent, and adding a record then
  // only counts it.
  if (d_->records % kBlockRecords == 0) {
    Block& b = blocks.emplace_back();
    b.kinds.resize(kBlockRecords * width, Kind::Absent);
    b.data.resize(kBlockRecords * width);
  }
  ++d_->records;
}

void RecordList::drop_last() {
  --d_->records;
  Block& b = d_->blocks.back();
  const size_t first = slot(d_->records, 0);
  std::fill_n(b.kinds.begin() + static_cast<std::ptrdiff_t>(first), d_->width, Kind::Absent);
  if (first == 0) d_->blocks.pop_back();
}

void RecordList::read_text_length(Cell& c) const {
  const std::string& arena = d_->arena;
  uint64_t at = c.data;
  uint64_t n = 0;
  for (unsigned shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(arena[at++]);
    n |= uint64_t{byte & 0x7Fu} << shift;
    if ((byte & 0x80u) == 0) break;
  }
  c.text_len = static_cast<uint32_t>(n);
  c.data = at;
}

bool RecordList::push(const Map& record) {
  const std::vector<std::string_view>& keys = d_->keys;
  const size_t width = d_->width;
  add();
  size_t k = 0;
  // Both the record and keys are in byte order, so one merge places every value.
  for (const auto& [key, value] : record) {
    while (k < width && keys[k] < key)
      ++k;
    if (k == width || keys[k] != key) {
      drop_last();
      return false;
    }
    if (const auto* b = value.get_if<bool>()) {
      set(k, *b);
    } else if (const auto* u = value.get_if<uint64_t>()) {
      set(k, *u);
    } else if (const auto* t = value.get_if<std::string>(); t && t->size() <= UINT32_MAX) {
      set(k, std::string_view(*t));
    } else {
      drop_last();
      return false;
    }
  }
  return true;
}

void RecordList::set(size_t key, std::string_view text) {
  // Texts come from 16-bit length fields or short tables; the clamp only keeps the cell honest.
  const size_t n = std::min<size_t>(text.size(), UINT32_MAX);
  // Room for the texts of a short list at once, rather than regrowing from a few bytes.
  constexpr size_t kFirstArenaBytes = 256;
  std::string& arena = d_->arena;
  // The previous record's text in this column (a segment's name, a chunk's type) often
  // repeats: its bytes are then kept once.
  if (d_->records >= 2) {
    const size_t previous = d_->records - 2;
    const Cell before = cell(previous, key);
    if (before.kind == Kind::Text && before.text_len == n &&
        arena.compare(static_cast<size_t>(before.data), n, text.data(), n) == 0) {
      // The same length and bytes: the previous cell's data, which points at them.
      put_last(key, Kind::Text, d_->blocks[previous / kBlockRecords].data[slot(previous, key)]);
      return;
    }
  }
  if (arena.capacity() < kFirstArenaBytes) arena.reserve(kFirstArenaBytes);
  put_last(key, Kind::Text, arena.size());
  uint64_t rest = n;
  for (; rest >= 0x80; rest >>= 7)
    arena.push_back(static_cast<char>(0x80u | (rest & 0x7Fu)));
  arena.push_back(static_cast<char>(rest));
  arena.append(text.substr(0, n));
}

Value RecordList::cell_value(const Cell& c) const {
  switch (c.kind) {
    case Kind::Bool:
      return Value::boolean(c.data != 0);
    case Kind::UInt:
      return Value::uint64(c.data);
    case Kind::Text:
      return Value::text(text(c));
    case Kind::Absent:
      break;
  }
  return Value::null();
}

Map RecordList::record(size_t i) const {
  Map m;
  m.reserve(d_->width);
  for_each(i, [&](std::string_view key, Value v) { m.emplace_hint(m.end(), key, std::move(v)); });
  return m;
}

std::string to_hex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.resize(bytes.size() * 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0f];
  }
  return out;
}

std::string bytes_display(std::span<const uint8_t> bytes) {
  constexpr size_t kShown = 64;
  if (bytes.size() <= kShown) return to_hex(bytes);
  return to_hex(bytes.first(kShown)) + "... (" + std::to_string(bytes.size()) + " bytes)";
}

}  // namespace vorlix_core
