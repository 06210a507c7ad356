// PLACEHOLDER: replaced by the real extractor.
#include "extractors/extractors.hpp"
namespace vorlix_core::extractors {
const char* GifExtractor::name() const { return "gif"; }
bool GifExtractor::supports(const ProbeContext&) const { return false; }
ExtractResult GifExtractor::extract(ByteSource&, const ProbeContext&) const { return Namespace("gif"); }
}
