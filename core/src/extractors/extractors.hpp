#pragma once
// The thirteen default extractors. Each is stateless; one source file per format family
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
VORLIX_DECLARE_EXTRACTOR(RiffExtractor);  // bmp.cpp
VORLIX_DECLARE_EXTRACTOR(ExifExtractor);  // exif.cpp
VORLIX_DECLARE_EXTRACTOR(Id3Extractor);   // id3.cpp
VORLIX_DECLARE_EXTRACTOR(Mp4Extractor);   // media.cpp
VORLIX_DECLARE_EXTRACTOR(ElfExtractor);   // media.cpp
VORLIX_DECLARE_EXTRACTOR(PdfExtractor);   // document.cpp
VORLIX_DECLARE_EXTRACTOR(GzipExtractor);  // document.cpp
VORLIX_DECLARE_EXTRACTOR(ZipExtractor);   // ziplike.cpp

#undef VORLIX_DECLARE_EXTRACTOR

}  // namespace vorlix_core::extractors
