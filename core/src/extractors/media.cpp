// PLACEHOLDER: replaced by the real extractor.
#include "extractors/extractors.hpp"
namespace vorlix_core::extractors {
const char* Mp4Extractor::name() const { return "mp4"; }
bool Mp4Extractor::supports(const ProbeContext&) const { return false; }
ExtractResult Mp4Extractor::extract(ByteSource&, const ProbeContext&) const { return Namespace("mp4"); }
const char* ElfExtractor::name() const { return "elf"; }
bool ElfExtractor::supports(const ProbeContext&) const { return false; }
ExtractResult ElfExtractor::extract(ByteSource&, const ProbeContext&) const { return Namespace("elf"); }
}
