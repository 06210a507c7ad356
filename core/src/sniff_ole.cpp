#include "sniff_ole.hpp"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "cursor.hpp"
#include "formats/signatures.hpp"
#include "unicode_upper.hpp"

// A compound file opens only when its header, FAT, directory and MiniFAT are all present and
// mutually consistent; any doubt rejects, so that a damaged or truncated file is reported by its
// magic alone rather than as a document type.
namespace vorlix_core {
namespace {

constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kEnd = 0xFFFFFFFE;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kInvalid = 0xFFFFFFFB;
constexpr uint32_t kMaxRegular = 0xFFFFFFFA;

constexpr uint64_t kHeaderSize = 512;
constexpr uint64_t kHeaderDifatSlots = 109;
constexpr uint64_t kEntrySize = 128;
constexpr uint64_t kMaxNameBytes = 64;

bool regular(uint32_t v) {
  return v <= kMaxRegular;
}

// Membership over indices below a size fixed at construction: constant time per test, so that
// every loop and uniqueness check stays linear.
class IndexSet {
 public:
  explicit IndexSet(uint64_t size) : seen_(static_cast<size_t>(size), false) {}
  // False when the index was already present.
  bool insert(uint64_t i) {
    if (seen_[static_cast<size_t>(i)]) return false;
    seen_[static_cast<size_t>(i)] = true;
    return true;
  }

 private:
  std::vector<bool> seen_;
};

// Every read through `r` lies within a bound checked before it (the header's size, a complete
// sector); ole_root_clsid still tests the cursor once at the end, so that any failure rejects.
struct Layout {
  Cursor r;
  uint16_t version;
  uint64_t sector_size;
  // Sectors after the header, a trailing partial one included.
  uint64_t sectors;

  uint64_t per_sector() const { return sector_size / 4; }
  uint64_t offset(uint64_t id) const { return (id + 1) * sector_size; }
  bool complete(uint64_t id) const { return id < sectors && r.has(offset(id), sector_size); }
  // Only called on complete sectors.
  uint32_t value(uint64_t id, uint64_t i) { return r.u32le(offset(id) + 4 * i); }
};

std::optional<Layout> read_header(Cursor r) {
  if (r.size() < kHeaderSize || !r.matches(0, formats::kOleMagic)) return std::nullopt;
  if (r.u16le(28) != 0xFFFE) return std::nullopt;
  const uint16_t version = r.u16le(26);
  uint16_t shift = 0;
  if (version == 3) {
    shift = 9;
  } else if (version == 4) {
    shift = 12;
  } else {
    return std::nullopt;
  }
  if (r.u16le(30) != shift || r.u16le(32) != 6 || r.u32le(56) != 4096) return std::nullopt;
  const uint64_t size = uint64_t{1} << shift;
  if (r.size() < size) return std::nullopt;
  return Layout{r, version, size, (r.size() + size - 1) / size - 1};
}

// The FAT sector ids: the header slots (FREE-padded), then the values of the DIFAT chain, with
// trailing FREE values dropped. `chain` receives the DIFAT chain's own sector ids.
std::optional<std::vector<uint32_t>> read_difat(Layout& l, std::vector<uint32_t>& chain) {
  std::vector<uint32_t> difat;
  for (uint64_t i = 0; i < kHeaderDifatSlots; ++i) {
    const uint32_t v = l.r.u32le(76 + 4 * i);
    if (v == kFree) break;
    if (!regular(v)) return std::nullopt;
    difat.push_back(v);
  }
  difat.resize(kHeaderDifatSlots, kFree);

  uint32_t id = l.r.u32le(68);
  if (id == kFree) id = kEnd;
  IndexSet seen(l.sectors);
  while (id != kEnd) {
    if (!l.complete(id) || !seen.insert(id)) return std::nullopt;
    chain.push_back(id);
    for (uint64_t i = 0; i + 1 < l.per_sector(); ++i) {
      const uint32_t v = l.value(id, i);
      if (v != kFree && !regular(v)) return std::nullopt;
      difat.push_back(v);
    }
    id = l.value(id, l.per_sector() - 1);
  }
  if (l.r.u32le(72) != chain.size()) return std::nullopt;

  while (!difat.empty() && difat.back() == kFree)
    difat.pop_back();
  if (l.r.u32le(44) != difat.size()) return std::nullopt;
  return difat;
}

// The FAT as the concatenation of the DIFAT's sectors, trimmed of trailing zeros (never below the
// sector count) and then of trailing FREE values. A DIFAT may name one sector many times, so
// whole sectors of the trimmed value are skipped at once to keep the trim linear.
std::optional<std::vector<uint32_t>> read_fat(Layout& l, std::span<const uint32_t> difat) {
  for (uint32_t f : difat) {
    if (!l.complete(f)) return std::nullopt;
  }
  const uint64_t per = l.per_sector();
  auto fat_value = [&](uint64_t i) { return l.value(difat[i / per], i % per); };

  enum : uint8_t { kKnown = 1, kAllZero = 2, kAllFree = 4 };
  std::vector<uint8_t> uniform(static_cast<size_t>(l.sectors), 0);
  auto sector_all = [&](uint32_t id, uint32_t v) {
    uint8_t& u = uniform[id];
    if (!(u & kKnown)) {
      bool zero = true, free = true;
      for (uint64_t i = 0; i < per; ++i) {
        const uint32_t x = l.value(id, i);
        zero = zero && x == 0;
        free = free && x == kFree;
      }
      u = kKnown | (zero ? kAllZero : 0) | (free ? kAllFree : 0);
    }
    return (u & (v == 0 ? kAllZero : kAllFree)) != 0;
  };
  auto trim = [&](uint64_t len, uint64_t floor, uint32_t v) {
    while (len > floor) {
      if (len % per == 0 && len - floor >= per && sector_all(difat[len / per - 1], v)) {
        len -= per;
        continue;
      }
      if (fat_value(len - 1) != v) break;
      --len;
    }
    return len;
  };

  uint64_t len = trim(difat.size() * per, l.sectors, 0);
  len = trim(len, 0, kFree);
  if (len > l.sectors) return std::nullopt;
  std::vector<uint32_t> fat(static_cast<size_t>(len));
  for (uint64_t i = 0; i < len; ++i)
    fat[i] = fat_value(i);
  return fat;
}

bool fat_consistent(std::span<const uint32_t> fat, std::span<const uint32_t> difat,
                    std::span<const uint32_t> difat_chain) {
  for (uint32_t id : difat_chain) {
    if (id >= fat.size() || fat[id] != kDifSect) return false;
  }
  for (uint32_t id : difat) {
    if (id >= fat.size() || fat[id] != kFatSect) return false;
  }
  // Two links into one sector would let chains merge or loop.
  IndexSet targets(fat.size());
  for (uint32_t v : fat) {
    if (v == kInvalid) return false;
    if (regular(v) && (v >= fat.size() || !targets.insert(v))) return false;
  }
  return true;
}

// The sector after `id` in its chain (kEnd at the end); nothing when the link is broken.
std::optional<uint32_t> next_sector(std::span<const uint32_t> fat, uint32_t id) {
  if (id >= fat.size()) return std::nullopt;
  const uint32_t v = fat[id];
  if (v == kEnd || (regular(v) && v < fat.size())) return v;
  return std::nullopt;
}

struct DirEntry {
  static constexpr size_t kMaxPoints = kMaxNameBytes / 2;
  uint8_t type = 0;
  uint32_t left = kFree, right = kFree, child = kFree;
  uint64_t size = 0;
  uint8_t name_units = 0;
  uint8_t name_points = 0;
  std::array<uint32_t, kMaxPoints> name{};
};

enum : uint8_t { kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5 };

void set_name(DirEntry& e, std::string_view ascii) {
  e.name_units = e.name_points = static_cast<uint8_t>(ascii.size());
  std::copy(ascii.begin(), ascii.end(), e.name.begin());
}

// The name: the UTF-16 units before the terminator, decoded to code points; nothing when a
// surrogate is unpaired.
bool read_name(Cursor& r, uint64_t at, uint16_t bytes, DirEntry& e) {
  const uint64_t units = bytes == 0 ? 0 : bytes / 2 - 1;
  e.name_units = static_cast<uint8_t>(units);
  for (uint64_t i = 0; i < units; ++i) {
    const uint32_t u = r.u16le(at + 2 * i);
    uint32_t cp = u;
    if (u >= 0xDC00 && u <= 0xDFFF) return false;
    if (u >= 0xD800 && u <= 0xDBFF) {
      const uint32_t low = i + 1 < units ? r.u16le(at + 2 * (i + 1)) : 0;
      if (low < 0xDC00 || low > 0xDFFF) return false;
      cp = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    e.name[e.name_points++] = cp;
  }
  return true;
}

std::optional<DirEntry> read_entry(Layout& l, uint64_t at) {
  Cursor& r = l.r;
  DirEntry e;
  const uint16_t name_bytes = r.u16le(at + 64);
  if (name_bytes > kMaxNameBytes || name_bytes % 2 != 0) return std::nullopt;
  if (!read_name(r, at, name_bytes, e)) return std::nullopt;

  e.type = r.u8(at + 66);
  if (e.type != kUnused && e.type != kStorage && e.type != kStream && e.type != kRoot) {
    return std::nullopt;
  }
  if (e.type == kRoot) {
    set_name(e, "Root Entry");
  } else {
    constexpr uint32_t kForbidden[] = {'/', '\\', ':', '!'};
    for (uint8_t i = 0; i < e.name_points; ++i) {
      if (std::ranges::find(kForbidden, e.name[i]) != std::end(kForbidden)) return std::nullopt;
    }
  }
  if (r.u8(at + 67) > 1) return std::nullopt;  // colour: red or black

  e.left = r.u32le(at + 68);
  e.right = r.u32le(at + 72);
  e.child = r.u32le(at + 76);
  if (e.left != kFree && !regular(e.left)) return std::nullopt;
  if (e.right != kFree && !regular(e.right)) return std::nullopt;
  if (e.child != kFree && (!regular(e.child) || e.type == kStream)) return std::nullopt;

  e.size = r.u64le(at + 120);
  if (l.version == 3) e.size &= 0xFFFFFFFF;
  if (e.type == kStorage) e.size = 0;
  return e;
}

// Every entry of every sector of the directory chain, used or not.
std::optional<std::vector<DirEntry>> read_directory(Layout& l, std::span<const uint32_t> fat) {
  std::vector<DirEntry> entries;
  IndexSet seen(l.sectors);
  uint32_t id = l.r.u32le(48);
  if (id == kEnd) return std::nullopt;
  while (id != kEnd) {
    if (!l.complete(id) || !seen.insert(id)) return std::nullopt;
    for (uint64_t i = 0; i < l.sector_size / kEntrySize; ++i) {
      auto e = read_entry(l, l.offset(id) + i * kEntrySize);
      if (!e) return std::nullopt;
      entries.push_back(*e);
    }
    auto next = next_sector(fat, id);
    if (!next) return std::nullopt;
    id = *next;
  }
  return entries;
}

// A name's full Unicode upper-case form: each code point may expand to up to three.
struct UpperName {
  std::array<uint32_t, DirEntry::kMaxPoints * unicode::kMaxUpperPoints> points{};
  size_t size = 0;

  explicit UpperName(const DirEntry& e) {
    for (uint32_t cp : std::span(e.name).first(e.name_points)) {
      const unicode::Upper u = unicode::full_upper(cp);
      for (uint8_t i = 0; i < u.size; ++i)
        points[size++] = u.points[i];
    }
  }
  std::span<const uint32_t> view() const { return std::span(points).first(size); }
};

// Sibling order: fewer UTF-16 units first (as stored, before any upper-casing), then the full
// upper-case forms code point by code point, so "é" equals "É" and "ßA" ("SSA") sorts before
// "SZ" although both are two units long.
bool name_less(const DirEntry& a, const DirEntry& b) {
  if (a.name_units != b.name_units) return a.name_units < b.name_units;
  const UpperName a_upper(a), b_upper(b);
  return std::ranges::lexicographical_compare(a_upper.view(), b_upper.view());
}

// The tree under the root: reachable once each, storages and streams only, siblings ordered.
bool tree_consistent(std::span<const DirEntry> entries) {
  const DirEntry& root = entries[0];
  if (root.type != kRoot || root.size % 64 != 0) return false;
  IndexSet reached(entries.size());
  reached.insert(0);
  std::vector<uint32_t> pending{0};
  while (!pending.empty()) {
    const DirEntry& e = entries[pending.back()];
    pending.pop_back();
    enum Link { kLeft, kRight, kChild };
    const std::pair<uint32_t, Link> links[] = {
        {e.left, kLeft}, {e.right, kRight}, {e.child, kChild}};
    for (const auto& [to, link] : links) {
      if (to == kFree) continue;
      if (to >= entries.size() || !reached.insert(to)) return false;
      const DirEntry& t = entries[to];
      if (t.type != kStorage && t.type != kStream) return false;
      if (link == kLeft && !name_less(t, e)) return false;
      if (link == kRight && !name_less(e, t)) return false;
      pending.push_back(to);
    }
  }
  return true;
}

bool minifat_consistent(Layout& l, std::span<const uint32_t> fat, uint64_t root_size) {
  std::vector<uint32_t> chain;
  IndexSet seen(fat.size());
  uint32_t id = l.r.u32le(60);
  while (id != kEnd) {
    if (id >= fat.size() || !seen.insert(id) || !l.complete(id)) return false;
    chain.push_back(id);
    auto next = next_sector(fat, id);
    if (!next) return false;
    id = *next;
  }
  if (l.r.u32le(64) != chain.size()) return false;

  const uint64_t per = l.per_sector();
  auto value = [&](uint64_t i) { return l.value(chain[i / per], i % per); };
  uint64_t len = chain.size() * per;
  while (len > 0 && value(len - 1) == kFree)
    --len;
  // The mini stream (the root's data) must hold a 64-byte mini sector for every MiniFAT slot.
  if (root_size / 64 < len) return false;
  IndexSet targets(len);
  for (uint64_t i = 0; i < len; ++i) {
    const uint32_t v = value(i);
    if (regular(v) && (v >= len || !targets.insert(v))) return false;
  }
  return true;
}

}  // namespace

std::optional<Clsid> ole_root_clsid(std::span<const uint8_t> data) {
  auto layout = read_header(Cursor(data));
  if (!layout) return std::nullopt;
  std::vector<uint32_t> difat_chain;
  auto difat = read_difat(*layout, difat_chain);
  if (!difat) return std::nullopt;
  auto fat = read_fat(*layout, *difat);
  if (!fat || !fat_consistent(*fat, *difat, difat_chain)) return std::nullopt;
  auto entries = read_directory(*layout, *fat);
  if (!entries || !tree_consistent(*entries)) return std::nullopt;
  if (!minifat_consistent(*layout, *fat, (*entries)[0].size)) return std::nullopt;

  // The root is the first entry of the first directory sector.
  const uint64_t root = layout->offset(layout->r.u32le(48));
  const auto raw = layout->r.bytes(root + 80, 16);
  if (!layout->r.ok()) return std::nullopt;
  Clsid clsid;
  std::ranges::copy(raw, clsid.begin());
  return clsid;
}

}  // namespace vorlix_core
