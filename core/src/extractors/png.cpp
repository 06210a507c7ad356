// PLACEHOLDER: replaced by the real extractor.
#include "extractors/extractors.hpp"
namespace vorlix_core::extractors {
const char* PngExtractor::name() const { return "png"; }
bool PngExtractor::supports(const ProbeContext&) const { return false; }
ExtractResult PngExtractor::extract(ByteSource&, const ProbeContext&) const { return Namespace("png"); }
}
