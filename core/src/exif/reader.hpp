#pragma once
// The TIFF structure of an EXIF block: the IFD walk, the fields it yields and lookup by tag.
// The block is read in place through a Cursor over a range of the source (or of bytes copied out
// of a container), so neither the walk nor rendering ever holds more of it than it looks at.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "byte_reader.hpp"
#include "cursor.hpp"
#include "source_reader.hpp"
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

// A typed value (in the block's byte order), read on demand: components and chunks of bytes are
// fetched when asked for, so a value of any size costs only what is looked at. A component that
// cannot be read (the file shrank meanwhile) reads as 0.
class ValueView {
 public:
  // Over bytes in memory; for known types they hold exactly count components.
  ValueView(uint16_t type_code, uint32_t count, std::span<const uint8_t> bytes, Endian endian,
            uint64_t position)
      : ValueView(type_code, count, Cursor(bytes), endian, position) {}
  // Over a range of a block that holds exactly the value; the bytes it reads are added to
  // `bytes_read` when given.
  ValueView(uint16_t type_code, uint32_t count, Cursor bytes, Endian endian, uint64_t position,
            uint64_t* bytes_read = nullptr)
      : type_(type_code),
        count_(count),
        c_(bytes),
        endian_(endian),
        position_(position),
        bytes_read_(bytes_read) {}

  uint16_t type() const { return type_; }
  // The count as stored in the entry.
  uint32_t count() const { return count_; }
  // Where the value starts in the block (the entry's value field for inline and unknown values).
  uint64_t position() const { return position_; }
  bool known() const { return unit_size(type_) != 0; }
  // Number of readable components (0 for unknown types).
  uint32_t size() const { return known() ? count_ : 0; }
  uint64_t byte_size() const { return uint64_t{unit_size(type_)} * count_; }

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

  // Up to kChunkBytes of the value's bytes from `offset`: fewer at the end, empty past it or when
  // they cannot be read. Valid until the next read of the same block.
  static constexpr uint64_t kChunkBytes = 4096;
  std::span<const uint8_t> chunk(uint64_t offset) const;

  // The first string of an ASCII value (the bytes before its first NUL), of which at most
  // kHeadBytes are kept: every rule that looks at it compares far fewer bytes.
  static constexpr size_t kHeadBytes = 64;
  struct StringHead {
    // Held in place: a head is short, and rendering reads one for many fields.
    std::array<char, kHeadBytes> kept;
    uint8_t len = 0;
    bool longer = false;  // the string goes on after bytes()
    std::string_view bytes() const { return {kept.data(), len}; }
    // Exactly `s`, not merely starting with it.
    bool is(std::string_view s) const { return !longer && bytes() == s; }
  };
  // None for other types and for an empty ASCII value (which has no strings).
  std::optional<StringHead> first_string() const;

 private:
  // The component at `offset`, read whole: a failed cursor, reading as 0, when it is not there.
  Cursor read(uint64_t offset, uint64_t len) const;

  uint16_t type_;
  uint32_t count_;
  // Reading moves the source's windows, not the value: accessors stay const.
  mutable Cursor c_;
  Endian endian_;
  uint64_t position_;
  uint64_t* bytes_read_ = nullptr;
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
  // The walk stopped at one of its caps (see limits.hpp): pointers to more distinct sub-IFDs
  // than kExifMaxSubIfds, more entry visits than the block's size and the fields kept allow,
  // or a field beyond the kExifMaxFields that can be reported.
  WorkLimit,
};
std::string_view message(IfdError e);

// A fatal problem in the 8-byte TIFF header.
struct HeaderError {
  const char* message;
};

class Exif;
// A block in a range of a source; the RandomAccess behind `block` must outlive the result.
Result<Exif, HeaderError> parse_tiff(SourceReader block);
// A block copied out of its container; the result owns it.
Result<Exif, HeaderError> parse_tiff(std::vector<uint8_t> block);

// The parsed block. Only what can be reported is kept: for each IFD number, context and tag, the
// field met last. Each IFD is read once per IFD number and context, however many pointers lead
// to it, so a block that points at one IFD many times costs no more than one that points once;
// the result is the same as reading it again at each pointer. Likewise an IFD number whose chain
// IFD is one read under an earlier number (a looping chain) takes that number's fields as they
// are, without reading them again.
class Exif {
 public:
  Exif(Exif&&) noexcept;
  Exif& operator=(Exif&&) noexcept;
  ~Exif();

  Endian endian() const { return endian_; }
  uint64_t size() const { return block_ ? block_->size() : 0; }
  // One field per IFD number, context and tag, in the depth-first file order of the walk (a
  // sub-IFD's fields stand where its pointer entry stood), each where its last occurrence stood.
  const std::vector<Field>& fields() const { return fields_; }
  // Problems met, each IFD's once, in walk order; at most limits::kExifMaxKeptErrors of them.
  const std::vector<IfdError>& errors() const { return errors_; }
  // The walk stopped at a cap: fields beyond it are missing.
  bool truncated() const { return !errors_.empty() && errors_.back() == IfdError::WorkLimit; }

  // The work done so far: IFD entries the walk read, and bytes of values read through value()
  // (by rendering).
  uint64_t entries_read() const { return entries_read_; }
  uint64_t value_bytes_read() const { return value_bytes_read_; }

  // The field with this tag in this IFD, or null.
  const Field* get_field(Tag tag, uint8_t ifd) const;
  // Reads through the block: views it hands out last until the block's next read.
  ValueView value(const Field& f) const;

 private:
  struct Owned;
  friend class Walker;
  friend Result<Exif, HeaderError> parse_tiff(SourceReader block);
  friend Result<Exif, HeaderError> parse_tiff(std::vector<uint8_t> block);
  Exif() = default;

  // A copied block's bytes and the reader over them, at a stable address.
  std::unique_ptr<Owned> owned_;
  std::optional<SourceReader> block_;
  Endian endian_ = Endian::Big;
  std::vector<Field> fields_;
  std::vector<IfdError> errors_;
  uint64_t entries_read_ = 0;
  // Counted by the views value() hands out, which the const accessors create.
  mutable uint64_t value_bytes_read_ = 0;
  // Field indices ordered by (ifd, context, tag).
  std::vector<uint32_t> index_;
};

}  // namespace vorlix_core::exif
