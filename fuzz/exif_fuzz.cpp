// The EXIF reader alone: the bytes are a TIFF block; the fields it yields are rendered as the
// extractor does (with their units, under the report's caps), so the value renderers see every
// type and count.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "exif/reader.hpp"
#include "exif/render.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlix_core;
  const std::span<const uint8_t> input(data, size);
  auto parsed = exif::parse_tiff(std::vector<uint8_t>(input.begin(), input.end()));
  if (!parsed) return 0;
  const exif::Exif& tiff = parsed.value();
  (void)exif::field_texts(tiff);
  for (exif::IfdError e : tiff.errors())
    (void)exif::message(e);
  return 0;
}
