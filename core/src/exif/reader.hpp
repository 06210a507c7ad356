#pragma once
// The TIFF structure of an EXIF block: the IFD walk, the fields it yields and lookup by tag.
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "byte_reader.hpp"
#include "vorlix/result.hpp"

namespace vorlix_core::exif {

// The kind of IFD a tag was found in: IFD 0..7 themselves, or one of their sub-IFDs.
enum class Context : uint8_t { Tiff, Exif, Gps, Interop };

struct Tag {
  Context context;
  uint16_t number;
  friend bool operator==(Tag, Tag) = default;
};

// TIFF field type codes; any other code is kept as an unknown type of unit size 0.
namespace type {
inline constexpr uint16_t kByte = 1;
inline constexpr uint16_t kAscii = 2;
inline constexpr uint16_t kShort = 3;
inline constexpr uint16_t kLong = 4;
inline constexpr uint16_t kRational = 5;
inline constexpr uint16_t kSByte = 6;
inline constexpr uint16_t kUndefined = 7;
inline constexpr uint16_t kSShort = 8;
inline constexpr uint16_t kSLong = 9;
inline constexpr uint16_t kSRational = 10;
inline constexpr uint16_t kFloat = 11;
inline constexpr uint16_t kDouble = 12;
}  // namespace type

// Bytes per component; 0 for unknown types.
uint32_t unit_size(uint16_t type_code);

// A typed value over its raw bytes (in the block's byte order). For known types the bytes hold
// exactly count components; for unknown types they are empty.
class ValueView {
 public:
  ValueView(uint16_t type_code, uint32_t count, std::span<const uint8_t> bytes, Endian endian,
            uint64_t position)
      : type_(type_code), count_(count), bytes_(bytes), endian_(endian), position_(position) {}

  uint16_t type() const { return type_; }
  // The count as stored in the entry.
  uint32_t count() const { return count_; }
  std::span<const uint8_t> bytes() const { return bytes_; }
  // Where the value starts in the block (the entry's value field for inline and unknown values).
  uint64_t position() const { return position_; }
  bool known() const { return unit_size(type_) != 0; }
  // Number of readable components (0 for unknown types).
  uint32_t size() const { return known() ? count_ : 0; }

  bool is_uint() const {
    return type_ == type::kByte || type_ == type::kShort || type_ == type::kLong;
  }
  // Components of BYTE/SHORT/LONG values; i < size().
  uint32_t uint_at(uint32_t i) const;
  // Components of SBYTE/SSHORT/SLONG values.
  int32_t sint_at(uint32_t i) const;
  // Numerator and denominator of RATIONAL / SRATIONAL components.
  std::pair<uint32_t, uint32_t> rational_at(uint32_t i) const;
  std::pair<int32_t, int32_t> srational_at(uint32_t i) const;
  float float_at(uint32_t i) const;
  double double_at(uint32_t i) const;
  // The first component of a BYTE/SHORT/LONG value, if there is one.
  bool first_uint(uint32_t& out) const;
  // The strings of an ASCII value: split at each NUL, one trailing empty piece dropped.
  std::vector<std::span<const uint8_t>> strings() const;

 private:
  ByteReader reader() const { return ByteReader(bytes_); }

  uint16_t type_;
  uint32_t count_;
  std::span<const uint8_t> bytes_;
  Endian endian_;
  uint64_t position_;
};

struct Field {
  Tag tag;
  // 0 primary image, 1 thumbnail, 2..7 further IFDs; sub-IFDs share their parent's number.
  uint8_t ifd;
  uint16_t type;
  uint32_t count;
  // Start of the value in the block (see ValueView::position).
  uint64_t offset;
};

// Problems inside the IFD structure. They never stop the walk as a whole; the fields read
// before and after them are kept.
enum class IfdError : uint8_t {
  TruncatedIfdCount,
  TruncatedIfd,
  TruncatedFieldValue,
  InvalidPointer,
  UnexpectedNextIfd,
  TruncatedNextIfdOffset,
  IfdCountLimit,
  // A crafted block made the walk exceed its work allowance (see limits.hpp).
  WorkLimit,
};
std::string_view message(IfdError e);

// A fatal problem in the 8-byte TIFF header.
struct HeaderError {
  const char* message;
};

class Exif;
Result<Exif, HeaderError> parse_tiff(std::vector<uint8_t> block);

// How many IFD entries, and how many bytes of values, the walk of a block of this size visits at
// most before it stops with IfdError::WorkLimit.
uint64_t entry_allowance(uint64_t block_size);
uint64_t value_byte_allowance(uint64_t block_size);

// The parsed block: owns its bytes; fields refer into them.
class Exif {
 public:
  Endian endian() const { return endian_; }
  std::span<const uint8_t> block() const { return block_; }
  // Depth first in file order: a sub-IFD's fields stand where its pointer entry stood.
  const std::vector<Field>& fields() const { return fields_; }
  const std::vector<IfdError>& errors() const { return errors_; }

  // The last field with this tag in this IFD, or null.
  const Field* get_field(Tag tag, uint8_t ifd) const;
  ValueView value(const Field& f) const;

 private:
  friend Result<Exif, HeaderError> parse_tiff(std::vector<uint8_t> block);
  Exif() = default;
  void build_index();

  std::vector<uint8_t> block_;
  Endian endian_ = Endian::Big;
  std::vector<Field> fields_;
  std::vector<IfdError> errors_;
  // Field indices ordered by (ifd, tag), the last of equal keys kept.
  std::vector<size_t> index_;
};

}  // namespace vorlix_core::exif
