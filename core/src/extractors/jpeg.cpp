// PLACEHOLDER: replaced by the real extractor.
#include "extractors/extractors.hpp"
namespace vorlix_core::extractors {
const char* JpegExtractor::name() const { return "jpeg"; }
bool JpegExtractor::supports(const ProbeContext&) const { return false; }
ExtractResult JpegExtractor::extract(ByteSource&, const ProbeContext&) const { return Namespace("jpeg"); }
}
