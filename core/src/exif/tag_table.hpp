#pragma once
// What the reader knows about each tag: its name, display rule, unit and default value.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "exif/reader.hpp"

namespace vorlix_core::exif {

// How a tag's value is turned into text (the rule names of the tag reference, in its order).
enum class Display : uint8_t {
  Plain,
  Decimal,
  OptDecimal,
  Enum,
  EnumUndef,
  EnumAscii,
  Flash,
  YCbCrSubSamp,
  DateTime,
  ExpTime,
  SubjDist,
  DZoomRatio,
  FocalLen35,
  ExifVer,
  InteropVer,
  CpntCfg,
  SubjArea,
  LensSpec,
  NumCpstImg,
  GpsVer,
  GpsLatLongRef,
  GpsDms,
  GpsTimeStamp,
  GpsDateStamp,
  AsciiInUndef,
  Pointer,
};
// The rule's name as the tag reference writes it ("plain", "enum_undef", ...).
std::string_view display_name(Display d);

// Enumeration entry. Keys are written as in the reference: a decimal code ("2"), the exact
// ASCII string ("K"), or "h,v" for YCbCrSubSampling.
struct EnumPair {
  std::string_view key;
  std::string_view text;
};

struct UnitPiece {
  enum class Kind : uint8_t { None, Value, Text, Ref };
  Kind kind = Kind::None;
  std::string_view text;  // Text pieces
  Tag ref{};              // Ref pieces: the tag rendered in its place
};

// A default value, stored big-endian; type 0 means "no default".
struct DefaultValue {
  uint16_t type = 0;
  uint32_t count = 0;
  std::string_view bytes;
};

struct TagInfo {
  Tag tag;
  std::string_view name;
  Display display;
  std::array<UnitPiece, 3> unit;  // empty when the first piece is None
  std::span<const EnumPair> pairs;
  std::string_view reserved_label;
  DefaultValue default_value;
};

// Every known tag, pointer tags included.
std::span<const TagInfo> tag_table();
// The row of a tag (context and number both match), or null.
const TagInfo* find_tag(Tag tag);

// The place of a name in the byte order of all tag names, so that callers can order names by
// number: a known tag's name has its own rank, and every generic "Tag(...)" name (which no
// known name starts with) shares the one rank between the known names below and above "Tag(".
uint16_t name_rank(const TagInfo& info);
uint16_t generic_name_rank();

// The word used in "Tag(<Context>, <number>)".
std::string_view context_name(Context c);
// The place of that word in the byte order of the four words.
uint8_t context_rank(Context c);

}  // namespace vorlix_core::exif
