// PLACEHOLDER: replaced by the real extractor.
#include "extractors/extractors.hpp"
namespace vorlix_core::extractors {
const char* BmpExtractor::name() const { return "bmp"; }
bool BmpExtractor::supports(const ProbeContext&) const { return false; }
ExtractResult BmpExtractor::extract(ByteSource&, const ProbeContext&) const { return Namespace("bmp"); }
const char* RiffExtractor::name() const { return "riff"; }
bool RiffExtractor::supports(const ProbeContext&) const { return false; }
ExtractResult RiffExtractor::extract(ByteSource&, const ProbeContext&) const { return Namespace("riff"); }
}
