#include "exif/heif.hpp"

#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "cursor.hpp"
#include "limits.hpp"
#include "source_reader.hpp"
#include "vorlix/result.hpp"

namespace vorlix_core::exif {
namespace {

constexpr uint32_t fourcc(const char (&s)[5]) {
  return (uint32_t{static_cast<uint8_t>(s[0])} << 24) |
         (uint32_t{static_cast<uint8_t>(s[1])} << 16) |
         (uint32_t{static_cast<uint8_t>(s[2])} << 8) | uint32_t{static_cast<uint8_t>(s[3])};
}

constexpr uint32_t kFtyp = fourcc("ftyp");
constexpr uint32_t kMeta = fourcc("meta");
constexpr uint32_t kIinf = fourcc("iinf");
constexpr uint32_t kInfe = fourcc("infe");
constexpr uint32_t kIloc = fourcc("iloc");
constexpr uint32_t kIdat = fourcc("idat");
constexpr uint32_t kExifItem = fourcc("Exif");
constexpr uint32_t kHeifBrands[] = {fourcc("mif1"), fourcc("msf1")};

constexpr const char* kBroken = "Broken HEIF file";
constexpr const char* kBoxTooSmall = "Box too small";
constexpr const char* kInvalidBoxSize = "Invalid box size";

template <class T>
using Walk = Result<T, ContainerError>;

ContainerError fail(const char* message) {
  return ContainerError{message};
}
Err<ContainerError> too_small() {
  return Err{fail(kBoxTooSmall)};
}

struct BoxHeader {
  uint32_t type;
  uint64_t body_pos;
  std::optional<uint64_t> body_len;  // absent: the box runs to the end of its parent
};
enum class HeaderFault { Short, BadSize };

// Over the probe or the file.
Result<BoxHeader, HeaderFault> read_header(const Cursor& r, uint64_t pos) {
  Cursor h = r.sub(pos, 16);
  const uint32_t size = h.u32be();
  const uint32_t type = h.u32be();
  if (!h.ok()) return Err{HeaderFault::Short};
  if (size == 1) {
    const uint64_t large = h.u64be();
    if (!h.ok()) return Err{HeaderFault::Short};
    if (large < 16) return Err{HeaderFault::BadSize};
    return BoxHeader{type, pos + 16, large - 16};
  }
  if (size == 0) return BoxHeader{type, pos + 8, std::nullopt};
  if (size < 8) return Err{HeaderFault::BadSize};
  return BoxHeader{type, pos + 8, size - 8};
}

// The compatible brands follow the major brand and minor version (8 bytes, checked by the
// caller); a trailing partial brand is ignored.
bool lists_heif_brand(Cursor ftyp_body) {
  ftyp_body.seek(8);
  while (ftyp_body.remaining() >= 4) {
    const uint32_t brand = ftyp_body.u32be();
    if (!ftyp_body.ok()) return false;
    for (uint32_t heif : kHeifBrands) {
      if (brand == heif) return true;
    }
  }
  return false;
}

// All of [pos, pos + len) lies within the cursor and can be read (its last byte is there).
bool readable(Cursor& r, uint64_t pos, uint64_t len) {
  return r.has(pos, len) && (len == 0 || r.part(pos + len - 1, 1).ok());
}

struct Child {
  uint32_t type;
  Cursor body;
  uint64_t end;
};

// A box inside a parent body that was found readable: running out of the parent is
// "Box too small", whether in the header or the body.
Walk<Child> read_child(const Cursor& parent, uint64_t pos) {
  auto h = read_header(parent, pos);
  if (!h) return Err{fail(h.error() == HeaderFault::Short ? kBoxTooSmall : kInvalidBoxSize)};
  const uint64_t len = h->body_len ? *h->body_len : parent.size() - h->body_pos;
  if (!parent.has(h->body_pos, len)) return too_small();
  return Child{h->type, parent.sub(h->body_pos, len), h->body_pos + len};
}

// A field of 0, 4 or 8 bytes (the caller has checked the width); 0 bytes read as 0.
uint64_t sized(Cursor& c, unsigned width) {
  if (width == 4) return c.u32be();
  if (width == 8) return c.u64be();
  return 0;
}

bool valid_width(unsigned width) {
  return width == 0 || width == 4 || width == 8;
}

uint32_t full_box_version(uint32_t word) {
  return word >> 24;
}

Walk<Unit> read_infe(Cursor c, std::optional<uint32_t>& exif_id) {
  const uint32_t full = c.u32be();
  if (!c.ok()) return too_small();
  uint32_t id;
  switch (full_box_version(full)) {
    case 2:
      id = c.u16be();
      break;
    case 3:
      id = c.u32be();
      break;
    default:
      return Err{fail("Unsupported ItemInfoEntry")};
  }
  c.skip(2);  // item protection index
  const uint32_t type = c.u32be();
  if (!c.ok()) return too_small();
  if (type == kExifItem) exif_id = id;
  return Unit{};
}

// Only the entry count drives the walk: bytes after the counted entries are never looked at.
Walk<Unit> read_iinf(Cursor c, std::optional<uint32_t>& exif_id) {
  const uint32_t full = c.u32be();
  const uint32_t count = full_box_version(full) == 0 ? c.u16be() : c.u32be();
  if (!c.ok()) return too_small();
  uint64_t pos = c.pos();
  // Every entry uses at least 8 bytes, so a huge count ends at the end of the body.
  for (uint32_t i = 0; i < count; ++i) {
    auto child = read_child(c, pos);
    if (!child) return Err{child.error()};
    if (child->type == kInfe) {
      auto s = read_infe(child->body, exif_id);
      if (!s) return s;
    }
    pos = child->end;
  }
  return Unit{};
}

struct IlocWidths {
  unsigned index = 0;
  unsigned offset = 0;
  unsigned length = 0;
  uint64_t extent_bytes() const { return uint64_t{index} + offset + length; }
};

// Where the Exif item's extents sit inside the iloc body. They are read when gathered, so an
// iloc that lists the item many times with 65535 extents each costs no more than its size.
struct ExifLocation {
  IlocWidths widths;
  uint8_t method = 0;
  uint64_t base = 0;
  uint64_t extents_pos = 0;
  uint16_t extent_count = 0;
};

// The first extent is read field by field, so that a bad width is reported only after the
// fields before it were read; once all widths are good, the rest need only be present.
Walk<Unit> check_extents(Cursor& c, const IlocWidths& w, uint16_t count) {
  if (count == 0) return Unit{};
  const std::pair<unsigned, const char*> fields[] = {{w.index, "Invalid index_size"},
                                                     {w.offset, "Invalid offset_size"},
                                                     {w.length, "Invalid length_size"}};
  for (const auto& [width, message] : fields) {
    if (!valid_width(width)) return Err{fail(message)};
    c.skip(width);
    if (!c.ok()) return too_small();
  }
  c.skip(w.extent_bytes() * (count - 1u));
  if (!c.ok()) return too_small();
  return Unit{};
}

Walk<std::optional<ExifLocation>> read_iloc(Cursor c, uint32_t exif_id) {
  const uint32_t full = c.u32be();
  const uint16_t sizes = c.u16be();
  if (!c.ok()) return too_small();
  const uint32_t version = full_box_version(full);
  IlocWidths w;
  w.offset = sizes >> 12;
  w.length = (sizes >> 8) & 0x0F;
  const unsigned base_width = (sizes >> 4) & 0x0F;
  if (version == 1 || version == 2) w.index = sizes & 0x0F;
  if (version > 2) return Err{fail("Unsupported ItemLocationBox")};

  // Item ids and the item count are 32-bit in version 2 only.
  auto wide = [&]() -> uint32_t { return version == 2 ? c.u32be() : c.u16be(); };
  const uint32_t count = wide();
  if (!c.ok()) return too_small();
  std::optional<ExifLocation> found;
  // Every item uses at least 6 bytes, so a huge count ends at the end of the body.
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t id = wide();
    const uint8_t method = version != 0 ? static_cast<uint8_t>(c.u16be() & 0x0F) : 0;
    const uint16_t data_ref = c.u16be();
    if (!c.ok()) return too_small();
    if (method == 0 && data_ref != 0) {
      return Err{fail("External data reference is not supported")};
    }
    if (!valid_width(base_width)) return Err{fail("Invalid base_offset_size")};
    const uint64_t base = sized(c, base_width);
    const uint16_t extents = c.u16be();
    if (!c.ok()) return too_small();
    if (id == exif_id) {
      ExifLocation loc{w, method, base, c.pos(), extents};
      auto s = check_extents(c, w, extents);
      if (!s) return Err{s.error()};
      found = loc;
    } else {
      c.skip(w.extent_bytes() * extents);
      if (!c.ok()) return too_small();
    }
  }
  return found;
}

// Where one extent's bytes lie: in the file (method 0) or in the idat (method 1). Only the
// range is worked out here; it is read once it is known to fit the item.
struct Piece {
  Cursor* in;
  uint64_t start;
  uint64_t len;
};

Walk<Piece> extent_range(const ExifLocation& loc, uint64_t offset, uint64_t length,
                         std::optional<Cursor>& idat, Cursor& file) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  if (offset > kMax - loc.base) return Err{fail("Invalid offset")};
  const uint64_t start = loc.base + offset;
  if (loc.method == 0) {
    // Length 0 reads to the end of the file; starting at or past it reads nothing.
    if (length == 0) return Piece{&file, start, file.size() - std::min(start, file.size())};
    if (!file.has(start, length)) return Err{fail(kBroken)};
    return Piece{&file, start, length};
  }
  if (length == 0) {
    if (start > idat->size()) return Err{fail("Out of ItemDataBox")};
    return Piece{&*idat, start, idat->size() - start};
  }
  if (length > kMax - start) return Err{fail("Invalid length")};
  if (!idat->has(start, length)) return Err{fail("Out of ItemDataBox")};
  return Piece{&*idat, start, length};
}

Walk<TiffBlock> gather_item(const ExifLocation& loc, Cursor extents, std::optional<Cursor> idat,
                            Cursor file) {
  // Decided once for the whole item, so an item without extents fails the same way.
  switch (loc.method) {
    case 0:
      break;
    case 1:
      if (!idat) return Err{fail("No ItemDataBox")};
      break;
    case 2:
      return Err{fail("Construction by item offset is not supported")};
    default:
      return Err{fail("Invalid construction_method")};
  }
  const IlocWidths& w = loc.widths;
  std::vector<uint8_t> item;
  extents.seek(loc.extents_pos);
  for (uint64_t i = 0; i < loc.extent_count; ++i) {
    extents.skip(w.index);
    const uint64_t offset = sized(extents, w.offset);
    const uint64_t length = sized(extents, w.length);
    if (!extents.ok()) return too_small();  // checked by read_iloc; kept for safety
    auto piece = extent_range(loc, offset, length, idat, file);
    if (!piece) return Err{piece.error()};
    // The whole item, offset word included, is capped; checking before the copy gives the same
    // verdict as checking after it and never reads an oversized extent.
    if (piece->len > limits::kHeifExifItemMax - item.size()) {
      return Err{fail("Exif data too large")};
    }
    if (piece->len == 0) continue;
    const auto bytes = piece->in->bytes(piece->start, piece->len);
    if (!piece->in->ok()) return Err{fail(kBroken)};  // the file ended early after all
    item.insert(item.end(), bytes.begin(), bytes.end());
  }
  Cursor r(item);
  const uint32_t header_offset = r.u32be();
  if (!r.ok()) return Err{fail("ExifDataBlock too small")};
  if (header_offset > item.size() - 4) return Err{fail("Invalid Exif header offset")};
  const auto tiff = r.clamped(4 + uint64_t{header_offset}, item.size());
  return TiffBlock(tiff.begin(), tiff.end());
}

LocateResult read_meta(Cursor c, Cursor file) {
  const uint32_t full = c.u32be();
  if (!c.ok()) return fail(kBoxTooSmall);
  if (full_box_version(full) != 0) return fail("Unsupported MetaBox");

  std::optional<uint32_t> exif_id;
  std::optional<Cursor> iloc;
  std::optional<Cursor> idat;
  for (uint64_t pos = c.pos(); pos < c.size();) {
    auto child = read_child(c, pos);
    if (!child) return child.error();
    if (child->type == kIinf) {
      auto s = read_iinf(child->body, exif_id);
      if (!s) return s.error();
    } else if (child->type == kIloc) {
      iloc = child->body;
    } else if (child->type == kIdat) {
      idat = child->body;
    }
    pos = child->end;
  }

  if (!exif_id) return NotFound{};
  if (!iloc) return fail("No ItemLocationBox");
  auto loc = read_iloc(*iloc, *exif_id);
  if (!loc) return loc.error();
  if (!*loc) return fail("No matching item in ItemLocationBox");
  auto block = gather_item(**loc, *iloc, idat, file);
  if (!block) return block.error();
  return std::move(block).value();
}

}  // namespace

bool is_heif(std::span<const uint8_t> probe) {
  const Cursor r(probe);
  for (uint64_t pos = 0; pos < r.size();) {
    auto h = read_header(r, pos);
    if (!h) return false;
    const uint64_t len = h->body_len ? *h->body_len : r.size() - h->body_pos;
    if (!r.has(h->body_pos, len)) return false;
    if (h->type == kFtyp) return len >= 8 && lists_heif_brand(r.sub(h->body_pos, len));
    pos = h->body_pos + len;
  }
  return false;
}

LocateResult locate_in_heif(const SourceReader& range) {
  Cursor file(range);
  bool ftyp_seen = false;
  uint64_t pos = 0;
  // Every box uses at least 8 bytes, so the walk is linear in the file; bodies of other boxes
  // are passed over without reading them.
  for (;;) {
    if (pos >= file.size()) return NotFound{};
    auto h = read_header(file, pos);
    if (!h) return fail(h.error() == HeaderFault::Short ? kBroken : kInvalidBoxSize);
    const uint64_t rest = file.size() - h->body_pos;

    if (h->type == kFtyp || h->type == kMeta) {
      if (h->type == kMeta && !ftyp_seen) return fail("MetaBox found before FileTypeBox");
      const uint64_t len = h->body_len ? *h->body_len : rest;
      if (!readable(file, h->body_pos, len)) return fail(kBroken);
      Cursor body = file.sub(h->body_pos, len);
      // The first meta box decides, whatever follows it.
      if (h->type == kMeta) return read_meta(body, file);
      if (len < 8) return fail(kBoxTooSmall);
      if (!lists_heif_brand(body)) {
        return fail("No compatible brand recognized in ISO base media file");
      }
      ftyp_seen = true;
      pos = h->body_pos + len;
      continue;
    }
    // Other boxes are skipped; one that runs to (or past) the end ends the walk.
    if (!h->body_len) return NotFound{};
    if (*h->body_len > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      return fail("Large seek not supported");
    }
    pos = h->body_pos + *h->body_len;
  }
}

}  // namespace vorlix_core::exif
