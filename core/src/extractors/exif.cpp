// EXIF fields grouped by IFD, as display text, plus the GPS position in decimal degrees.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "exif/container.hpp"
#include "exif/reader.hpp"
#include "exif/render.hpp"
#include "extractors/extractors.hpp"
#include "extractors/walk.hpp"
#include "limits.hpp"
#include "source_reader.hpp"

namespace vorlix_core::extractors {
namespace {

constexpr std::string_view kExifMimes[] = {"image/jpeg", "image/tiff", "image/heif",
                                           "image/heic", "image/webp", "image/png"};

// Above every name order (see exif::name_order).
constexpr int kIfdShift = 48;

constexpr exif::Tag kGpsLatitudeRef{exif::Context::Gps, 1};
constexpr exif::Tag kGpsLatitude{exif::Context::Gps, 2};
constexpr exif::Tag kGpsLongitudeRef{exif::Context::Gps, 3};
constexpr exif::Tag kGpsLongitude{exif::Context::Gps, 4};

std::string group_name(uint8_t ifd) {
  if (ifd == 0) return "primary";
  if (ifd == 1) return "thumbnail";
  return "ifd" + std::to_string(ifd);
}

// Signed decimal degrees of the primary image's degrees/minutes/seconds triple.
std::optional<double> gps(const exif::Exif& data, exif::Tag value_tag, exif::Tag ref_tag) {
  const exif::Field* f = data.get_field(value_tag, 0);
  if (!f || f->type != exif::type::kRational || f->count < 3) return std::nullopt;
  exif::ValueView v = data.value(*f);
  double dms[3];
  for (uint32_t i = 0; i < 3; ++i) {
    auto [n, d] = v.rational_at(i);
    dms[i] = static_cast<double>(n) / static_cast<double>(d);
  }
  double magnitude = (dms[0] + dms[1] / 60.0) + dms[2] / 3600.0;
  double sign = 1.0;
  if (const exif::Field* ref = data.get_field(ref_tag, 0)) {
    std::string text = exif::display(ref_tag, data.value(*ref));
    if (!text.empty() && (text[0] == 'S' || text[0] == 'W')) sign = -1.0;
  }
  return magnitude * sign;
}

// The EXIF block located in the container and parsed in place; a failed read is reported by
// walk_source, whatever the walk made of it.
ExtractResult read_exif(const SourceReader& file) {
  Namespace ns("exif");
  exif::LocateResult located = exif::locate_tiff(file);
  if (std::holds_alternative<exif::NotFound>(located)) return ns;
  if (auto* err = std::get_if<exif::ContainerError>(&located)) {
    return Err(ExtractError::other(std::move(err->message)));
  }
  auto parsed = [&] {
    if (auto* range = std::get_if<exif::SourceRange>(&located)) {
      return exif::parse_tiff(file.sub(range->offset, range->length));
    }
    return exif::parse_tiff(std::move(std::get<exif::TiffBlock>(located)));
  }();
  if (!parsed) return Err(ExtractError::other(parsed.error().message));
  const exif::Exif& data = parsed.value();

  // Fields are unique per IFD number, context and tag, and names are unique per context and tag,
  // so no group holds a name twice: each group is built in one pass over its sorted entries.
  exif::FieldTexts texts = exif::field_texts(data);
  std::vector<exif::FieldText>& entries = texts.fields;
  // Sorted by IFD and name through one number per entry (names are unique within an IFD), so
  // entries stay in place and move once, into their group.
  std::vector<std::pair<uint64_t, uint32_t>> order(entries.size());
  for (uint32_t i = 0; i < order.size(); ++i)
    order[i] = {uint64_t{entries[i].ifd} << kIfdShift | entries[i].name_order, i};
  std::sort(order.begin(), order.end());
  // The namespace is still empty, so groups go straight into it, each built inside the map entry
  // that holds it.
  Map& groups = ns.fields();
  for (size_t i = 0; i < order.size();) {
    const uint8_t ifd = entries[order[i].second].ifd;
    Map& group = groups.emplace(group_name(ifd), Value()).first->second.variant().emplace<Map>();
    size_t group_end = i;
    while (group_end < order.size() && entries[order[group_end].second].ifd == ifd)
      ++group_end;
    group.reserve(group_end - i);
    for (; i < group_end; ++i) {
      exif::FieldText& e = entries[order[i].second];
      group.emplace_hint(group.end(), std::move(e.name), std::move(e.text));
    }
  }
  if (texts.truncated) ns.set("fields_truncated", true);

  std::optional<double> latitude = gps(data, kGpsLatitude, kGpsLatitudeRef);
  std::optional<double> longitude = gps(data, kGpsLongitude, kGpsLongitudeRef);
  if (latitude && longitude) {
    Map position;
    position.emplace("latitude", Value::float64(*latitude));
    position.emplace("longitude", Value::float64(*longitude));
    ns.set("gps_decimal", std::move(position));
  }
  return ns;
}

}  // namespace

const char* ExifExtractor::name() const {
  return "exif";
}

bool ExifExtractor::supports(const ProbeContext& ctx) const {
  if (!ctx.mime) return false;
  for (std::string_view m : kExifMimes) {
    if (*ctx.mime == m) return true;
  }
  return false;
}

ExtractResult ExifExtractor::extract(ByteSource& src, const ProbeContext& ctx) const {
  // Every failure here, a failed read included, is reported by its text alone.
  return walk_source(
      src, ctx, [](Cursor& c) { return read_exif(*c.source()); }, IoWording::Plain);
}

}  // namespace vorlix_core::extractors
