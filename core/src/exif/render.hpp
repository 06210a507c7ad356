#pragma once
// Tag names and the display text of field values.
#include <cstdint>
#include <string>
#include <vector>

#include "exif/reader.hpp"
#include "vorlix/value.hpp"

namespace vorlix_core::exif {

// The table name of a known tag, else "Tag(<Context>, <number>)", e.g. "Tag(Exif, 59932)".
std::string tag_name(Tag tag);

// The value alone, by the tag's display rule ("N", "inch", "\"Canon\"", "0x0100").
std::string display(Tag tag, const ValueView& v);
// The value combined with the tag's unit ("72 pixels per inch", "f/2.8", "1/125 s"); units that
// name another tag render that tag's field from the same IFD, else its default value.
std::string display_with_unit(const Exif& exif, const Field& field);

// A number that orders tags as the byte order of their tag_name() does: distinct names, distinct
// numbers.
uint64_t name_order(Tag tag);

// tag_name(), display_with_unit() and name_order() of one field.
struct FieldText {
  std::string name;
  Value text;  // shared by the fields that share a long rendering
  uint64_t name_order = 0;
  uint8_t ifd = 0;
};

// The texts of the fields the namespace reports, in field order: at most limits::kExifMaxFields
// of them, and none after the names and texts so far reach limits::kExifMaxTotalText plus the
// block's size. Fields that share a value share its rendering, so the rendering work and the
// texts stay within those bounds however many fields share large values.
struct FieldTexts {
  std::vector<FieldText> fields;
  // A field was left out, by these bounds or by the walk's.
  bool truncated = false;
};
FieldTexts field_texts(const Exif& exif);

}  // namespace vorlix_core::exif
