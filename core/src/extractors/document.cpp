// PLACEHOLDER: replaced by the real extractor.
#include "extractors/extractors.hpp"
namespace vorlix_core::extractors {
const char* PdfExtractor::name() const { return "pdf"; }
bool PdfExtractor::supports(const ProbeContext&) const { return false; }
ExtractResult PdfExtractor::extract(ByteSource&, const ProbeContext&) const { return Namespace("pdf"); }
const char* GzipExtractor::name() const { return "gzip"; }
bool GzipExtractor::supports(const ProbeContext&) const { return false; }
ExtractResult GzipExtractor::extract(ByteSource&, const ProbeContext&) const { return Namespace("gzip"); }
}
