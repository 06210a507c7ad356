// ISO base media (MP4) box walk: the top-level boxes are listed; "ftyp" gives the brands,
// "moov" is descended into and its "mvhd" gives the movie duration. Nothing else is
// interpreted.
#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "extractors/extractors.hpp"
#include "extractors/walk.hpp"
#include "formats/signatures.hpp"
#include "limits.hpp"
#include "text.hpp"

namespace vorlix_core::extractors {

namespace mp4 {

namespace {

using BoxType = std::array<uint8_t, 4>;

std::string box_type(std::span<const uint8_t> type) {
  return utf8_lossy(type);
}

// A list's key and the key that says it was cut: set together, so that a later box replacing the
// list also replaces what was said about the earlier one.
template <class L>
void set_list(Namespace& ns, std::string_view key, L&& list, bool cut) {
  const std::string flag = std::string(key) + "_truncated";
  ns.set(key, std::move(list));
  if (cut) {
    ns.set(flag, true);
  } else {
    ns.fields().erase(flag);
  }
}

// A later box overwrites only the keys it sets; the others keep what an earlier box said.
void read_ftyp(Cursor payload, Namespace& ns) {
  const uint64_t n = payload.size();
  if (n < 4) return;
  const auto major = payload.bytes(4);
  if (!payload.ok()) return;
  ns.set("major_brand", box_type(major));
  if (n < 8) return;
  const uint32_t minor = payload.u32be();
  if (!payload.ok()) return;
  ns.set("minor_version", minor);
  if (n < 12) return;
  List brands;
  brands.reserve(static_cast<size_t>(std::min<uint64_t>((n - 8) / 4, limits::kMaxListedRecords)));
  uint64_t q = 8;
  for (; n - q >= 4 && brands.size() < limits::kMaxListedRecords; q += 4) {
    const auto brand = payload.bytes(4);
    if (!payload.ok()) break;
    brands.push_back(Value::text(box_type(brand)));
  }
  const bool cut = brands.size() >= limits::kMaxListedRecords && n - q >= 4;
  set_list(ns, "compatible_brands", std::move(brands), cut);
}

void read_mvhd(Cursor payload, Namespace& ns) {
  if (payload.size() < 20) return;
  // Version 1 needs 32 bytes; either layout fits in them.
  Cursor r(payload.bytes(std::min<uint64_t>(payload.size(), 32)));
  if (!payload.ok()) return;
  // Version 1 widens the times and the duration to 64 bits.
  const bool wide = r.u8() == 1 && r.size() >= 32;
  r.skip(3);              // flags
  r.skip(wide ? 16 : 8);  // creation and modification times
  const uint32_t timescale = r.u32be();
  const uint64_t duration = wide ? r.u64be() : r.u32be();
  ns.set("timescale", timescale);
  ns.set("duration_units", duration);
  if (timescale == 0) return;
  ns.set("duration_seconds",
         round3(static_cast<double>(duration) / static_cast<double>(timescale)));
}

bool is_type(const BoxType& type, std::string_view want) {
  return ByteReader(type).matches(0, want);
}

}  // namespace

// The top-level boxes, and whether the list stopped at its cap.
struct BoxList {
  RecordList list{{"size", "type"}};
  Map record;
  bool cut = false;
};

// Walks the boxes of [start, end), reading only their headers (and the few payloads it
// interprets), so a multi-gigabyte "mdat" costs one header read. Each box is visited once, at
// its own level, so the walk is linear in the number of boxes; the depth bound keeps the
// recursion shallow. Data that ends early (a file cut short) ends the walk like the end of the
// range.
void walk_boxes(Cursor& r, uint64_t start, uint64_t end, uint32_t depth, BoxList& top,
                Namespace& ns) {
  uint64_t p = start;
  while (end - p >= 8) {
    r.seek(p);
    const uint32_t size32 = r.u32be();
    const auto type_bytes = r.bytes(4);
    if (!r.ok()) return;
    BoxType type{};
    std::copy(type_bytes.begin(), type_bytes.end(), type.begin());
    uint64_t size = size32;
    uint64_t header = 8;
    if (size32 == 0) {
      size = end - p;
    } else if (size32 == 1 && end - p >= 16) {
      size = r.u64be();
      if (!r.ok()) return;
      header = 16;
    }
    // The rest of this range is unreadable; the enclosing range goes on after its box.
    if (size < header || size > end - p) return;

    if (depth == 0) {
      if (top.list.size() >= limits::kMaxMp4TopLevelBoxes) {
        top.cut = true;
        return;
      }
      top.record.clear();
      top.record.emplace("size", Value::uint64(size));
      top.record.emplace("type", Value::text(box_type(type)));
      top.list.push(top.record);
    }
    const uint64_t payload = p + header;
    const uint64_t n = size - header;
    if (is_type(type, formats::kIsoFileType)) {
      read_ftyp(r.sub(payload, n), ns);
    } else if (is_type(type, "mvhd")) {
      read_mvhd(r.sub(payload, n), ns);
    } else if (is_type(type, "moov") && depth < limits::kMaxBoxDepth) {
      walk_boxes(r, payload, payload + n, depth + 1, top, ns);
    }
    // size >= 8, so the walk always advances.
    p += size;
  }
}

}  // namespace mp4

const char* Mp4Extractor::name() const {
  return "mp4";
}

bool Mp4Extractor::supports(const ProbeContext& ctx) const {
  return ByteReader(ctx.header).matches(formats::kIsoFileTypeOffset, formats::kIsoFileType);
}

ExtractResult Mp4Extractor::extract(ByteSource& src, const ProbeContext& ctx) const {
  return walk_source(src, ctx, [](Cursor& c) -> ExtractResult {
    Namespace ns("mp4");
    mp4::BoxList top;
    mp4::walk_boxes(c, 0, c.size(), 0, top, ns);
    mp4::set_list(ns, "top_level_boxes", std::move(top.list), top.cut);
    return ns;
  });
}

}  // namespace vorlix_core::extractors
