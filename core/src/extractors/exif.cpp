// PLACEHOLDER: replaced by the real extractor.
#include "extractors/extractors.hpp"
namespace vorlix_core::extractors {
const char* ExifExtractor::name() const { return "exif"; }
bool ExifExtractor::supports(const ProbeContext&) const { return false; }
ExtractResult ExifExtractor::extract(ByteSource&, const ProbeContext&) const { return Namespace("exif"); }
}
