// PLACEHOLDER: replaced by the real extractor.
#include "extractors/extractors.hpp"
namespace vorlix_core::extractors {
const char* ZipExtractor::name() const { return "zip"; }
bool ZipExtractor::supports(const ProbeContext&) const { return false; }
ExtractResult ZipExtractor::extract(ByteSource&, const ProbeContext&) const { return Namespace("zip"); }
}
