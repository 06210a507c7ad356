#pragma once
// The thirteen default extractors. Each is stateless; one source file per format, named after it,
// defines its members.
#include "vorlix/extractor.hpp"

namespace vorlix_core::extractors {

#define VORLIX_DECLARE_EXTRACTOR(Class)                                             \
  class Class final : public Extractor {                                            \
   public:                                                                          \
    const char* name() const override;                                              \
    bool supports(const ProbeContext& ctx) const override;                          \
    ExtractResult extract(ByteSource& src, const ProbeContext& ctx) const override; \
  }

VORLIX_DECLARE_EXTRACTOR(FileExtractor);  // file.cpp
VORLIX_DECLARE_EXTRACTOR(JpegExtractor);  // jpeg.cpp
VORLIX_DECLARE_EXTRACTOR(PngExtractor);   // png.cpp
VORLIX_DECLARE_EXTRACTOR(GifExtractor);   // gif.cpp
VORLIX_DECLARE_EXTRACTOR(BmpExtractor);   // bmp.cpp
VORLIX_DECLARE_EXTRACTOR(RiffExtractor);  // riff.cpp
VORLIX_DECLARE_EXTRACTOR(ExifExtractor);  // exif.cpp
VORLIX_DECLARE_EXTRACTOR(Id3Extractor);   // id3.cpp
VORLIX_DECLARE_EXTRACTOR(Mp4Extractor);   // mp4.cpp
VORLIX_DECLARE_EXTRACTOR(ElfExtractor);   // elf.cpp
VORLIX_DECLARE_EXTRACTOR(PdfExtractor);   // pdf.cpp
VORLIX_DECLARE_EXTRACTOR(GzipExtractor);  // gzip.cpp
VORLIX_DECLARE_EXTRACTOR(ZipExtractor);   // zip.cpp

#undef VORLIX_DECLARE_EXTRACTOR

}  // namespace vorlix_core::extractors
