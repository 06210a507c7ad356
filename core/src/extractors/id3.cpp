// PLACEHOLDER: replaced by the real extractor.
#include "extractors/extractors.hpp"
namespace vorlix_core::extractors {
const char* Id3Extractor::name() const { return "id3"; }
bool Id3Extractor::supports(const ProbeContext&) const { return false; }
ExtractResult Id3Extractor::extract(ByteSource&, const ProbeContext&) const { return Namespace("id3"); }
}
