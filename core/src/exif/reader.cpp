// The TIFF header and the IFD walk. Problems inside IFDs are collected, never fatal: the walk
// keeps every field it could read, as cameras and editors leave many blocks slightly broken.
#include "exif/reader.hpp"

#include <algorithm>
#include <bit>
#include <tuple>

#include "limits.hpp"

namespace vorlix_core::exif {
namespace {

constexpr uint32_t kUnitSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

constexpr std::string_view kIfdErrorMessages[] = {
    "Truncated IFD count",      "Truncated IFD",       "Truncated field value",
    "Invalid pointer",          "Unexpected next IFD", "Truncated next IFD offset",
    "Limit the IFD count to 8", "Work limit reached",
};
static_assert(std::size(kIfdErrorMessages) == static_cast<size_t>(IfdError::WorkLimit) + 1);

// Pointer tags are pointers only in the context that defines them.
struct PointerTag {
  Tag tag;
  Context target;
};
constexpr PointerTag kPointerTags[] = {
    {{Context::Tiff, 0x8769}, Context::Exif},
    {{Context::Tiff, 0x8825}, Context::Gps},
    {{Context::Exif, 0xA005}, Context::Interop},
};

const PointerTag* find_pointer(Tag tag) {
  for (const PointerTag& p : kPointerTags) {
    if (p.tag == tag) return &p;
  }
  return nullptr;
}

class Walker {
 public:
  Walker(std::span<const uint8_t> block, Endian endian, std::vector<Field>& fields,
         std::vector<IfdError>& errors)
      : r_(block),
        endian_(endian),
        fields_(fields),
        errors_(errors),
        entries_left_(entry_allowance(block.size())),
        value_bytes_left_(value_byte_allowance(block.size())) {}

  void walk_chain(uint32_t first) {
    uint32_t offset = first;
    for (uint32_t ifd = 0; offset != 0; ++ifd) {
      if (ifd >= limits::kExifMaxIfds) {
        errors_.push_back(IfdError::IfdCountLimit);
        return;
      }
      auto next = walk_ifd(offset, Context::Tiff, static_cast<uint8_t>(ifd), 0);
      if (!next) {
        errors_.push_back(next.error());
        return;
      }
      offset = next.value();
    }
  }

 private:
  // Reads one IFD and the sub-IFDs it points to; returns its next-IFD offset.
  Result<uint32_t, IfdError> walk_ifd(uint64_t offset, Context ctx, uint8_t ifd, uint32_t depth) {
    auto count = r_.u16(offset, endian_);
    if (!count) return Err(IfdError::TruncatedIfdCount);
    uint64_t pos = offset + 2;
    for (uint32_t i = 0; i < *count; ++i, pos += 12) {
      if (!r_.has(pos, 12)) return Err(IfdError::TruncatedIfd);
      if (entries_left_ == 0) return Err(IfdError::WorkLimit);
      --entries_left_;
      if (!read_entry(pos, ctx, ifd, depth)) return Err(IfdError::WorkLimit);
    }
    auto next = r_.u32(pos, endian_);
    if (!next) return Err(IfdError::TruncatedNextIfdOffset);
    return *next;
  }

  // False when the work allowance ran out (the whole walk stops).
  bool read_entry(uint64_t pos, Context ctx, uint8_t ifd, uint32_t depth) {
    Tag tag{ctx, *r_.u16(pos, endian_)};
    uint16_t type_code = *r_.u16(pos + 2, endian_);
    uint32_t count = *r_.u32(pos + 4, endian_);
    uint64_t byte_size = uint64_t{unit_size(type_code)} * count;
    uint64_t value_pos = pos + 8;
    if (byte_size > 4) {
      value_pos = *r_.u32(pos + 8, endian_);
      if (!r_.has(value_pos, byte_size)) {
        errors_.push_back(IfdError::TruncatedFieldValue);
        return true;
      }
    }
    if (byte_size > value_bytes_left_) return false;
    value_bytes_left_ -= byte_size;

    const PointerTag* pointer = find_pointer(tag);
    if (!pointer) {
      fields_.push_back(Field{tag, ifd, type_code, count, value_pos});
      return true;
    }
    ValueView v(type_code, count, *r_.slice(value_pos, byte_size), endian_, value_pos);
    uint32_t target = 0;
    if (!v.first_uint(target) || depth >= limits::kExifMaxSubIfdDepth) {
      errors_.push_back(IfdError::InvalidPointer);
      return true;
    }
    auto next = walk_ifd(target, pointer->target, ifd, depth + 1);
    if (!next) {
      if (next.error() == IfdError::WorkLimit) return false;
      errors_.push_back(next.error());
    } else if (next.value() != 0) {
      errors_.push_back(IfdError::UnexpectedNextIfd);
    }
    return true;
  }

  ByteReader r_;
  Endian endian_;
  std::vector<Field>& fields_;
  std::vector<IfdError>& errors_;
  uint64_t entries_left_;
  uint64_t value_bytes_left_;
};

auto index_key(const Field& f) {
  return std::make_tuple(f.ifd, static_cast<uint8_t>(f.tag.context), f.tag.number);
}

}  // namespace

uint64_t entry_allowance(uint64_t block_size) {
  return limits::kExifMaxIfds * (block_size / 12) + limits::kExifEntryVisitAllowance;
}

uint64_t value_byte_allowance(uint64_t block_size) {
  return limits::kExifValueReadsPerByte * block_size + limits::kExifValueByteAllowance;
}

uint32_t unit_size(uint16_t type_code) {
  return type_code < std::size(kUnitSizes) ? kUnitSizes[type_code] : 0;
}

std::string_view message(IfdError e) {
  return kIfdErrorMessages[static_cast<size_t>(e)];
}

uint32_t ValueView::uint_at(uint32_t i) const {
  switch (type_) {
    case type::kByte:
      return reader().u8(i).value_or(0);
    case type::kShort:
      return reader().u16(uint64_t{i} * 2, endian_).value_or(0);
    default:
      return reader().u32(uint64_t{i} * 4, endian_).value_or(0);
  }
}

int32_t ValueView::sint_at(uint32_t i) const {
  switch (type_) {
    case type::kSByte:
      return static_cast<int8_t>(reader().u8(i).value_or(0));
    case type::kSShort:
      return static_cast<int16_t>(reader().u16(uint64_t{i} * 2, endian_).value_or(0));
    default:
      return static_cast<int32_t>(reader().u32(uint64_t{i} * 4, endian_).value_or(0));
  }
}

std::pair<uint32_t, uint32_t> ValueView::rational_at(uint32_t i) const {
  ByteReader r = reader();
  return {r.u32(uint64_t{i} * 8, endian_).value_or(0),
          r.u32(uint64_t{i} * 8 + 4, endian_).value_or(0)};
}

std::pair<int32_t, int32_t> ValueView::srational_at(uint32_t i) const {
  auto [n, d] = rational_at(i);
  return {static_cast<int32_t>(n), static_cast<int32_t>(d)};
}

float ValueView::float_at(uint32_t i) const {
  return std::bit_cast<float>(reader().u32(uint64_t{i} * 4, endian_).value_or(0));
}

double ValueView::double_at(uint32_t i) const {
  return std::bit_cast<double>(reader().u64(uint64_t{i} * 8, endian_).value_or(0));
}

bool ValueView::first_uint(uint32_t& out) const {
  if (!is_uint() || count_ == 0) return false;
  out = uint_at(0);
  return true;
}

std::vector<std::span<const uint8_t>> ValueView::strings() const {
  std::vector<std::span<const uint8_t>> out;
  size_t start = 0;
  for (size_t i = 0; i <= bytes_.size(); ++i) {
    if (i == bytes_.size() || bytes_[i] == 0) {
      out.push_back(bytes_.subspan(start, i - start));
      start = i + 1;
    }
  }
  if (out.back().empty()) out.pop_back();
  return out;
}

Result<Exif, HeaderError> parse_tiff(std::vector<uint8_t> block) {
  ByteReader r(block);
  if (!r.has(0, 8)) return Err(HeaderError{"Truncated TIFF header"});
  Exif exif;
  if (r.matches(0, "II")) {
    exif.endian_ = Endian::Little;
  } else if (r.matches(0, "MM")) {
    exif.endian_ = Endian::Big;
  } else {
    return Err(HeaderError{"Invalid TIFF byte order"});
  }
  if (*r.u16(2, exif.endian_) != 42) return Err(HeaderError{"Invalid forty two"});
  uint32_t first = *r.u32(4, exif.endian_);

  exif.block_ = std::move(block);
  Walker(exif.block_, exif.endian_, exif.fields_, exif.errors_).walk_chain(first);
  exif.build_index();
  return exif;
}

void Exif::build_index() {
  index_.resize(fields_.size());
  for (size_t i = 0; i < index_.size(); ++i)
    index_[i] = i;
  std::stable_sort(index_.begin(), index_.end(), [this](size_t a, size_t b) {
    return index_key(fields_[a]) < index_key(fields_[b]);
  });
  // Keep the last of each run of equal keys: lookups answer with the last field.
  auto same = [this](size_t a, size_t b) { return index_key(fields_[a]) == index_key(fields_[b]); };
  size_t out = 0;
  for (size_t i = 0; i < index_.size(); ++i) {
    if (i + 1 < index_.size() && same(index_[i], index_[i + 1])) continue;
    index_[out++] = index_[i];
  }
  index_.resize(out);
}

const Field* Exif::get_field(Tag tag, uint8_t ifd) const {
  auto key = std::make_tuple(ifd, static_cast<uint8_t>(tag.context), tag.number);
  auto it = std::lower_bound(index_.begin(), index_.end(), key,
                             [this](size_t i, const auto& k) { return index_key(fields_[i]) < k; });
  if (it == index_.end() || index_key(fields_[*it]) != key) return nullptr;
  return &fields_[*it];
}

ValueView Exif::value(const Field& f) const {
  uint64_t len = uint64_t{unit_size(f.type)} * f.count;
  // Fields only come from the walk, which checked the range.
  auto bytes = ByteReader(block_).clamped(f.offset, len);
  return ValueView(f.type, f.count, bytes, endian_, f.offset);
}

}  // namespace vorlix_core::exif
