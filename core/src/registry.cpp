#include "extractors/extractors.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_core {

Registry Registry::with_defaults() {
  using namespace extractors;
  Registry r;
  r.add(std::make_unique<FileExtractor>());
  r.add(std::make_unique<JpegExtractor>());
  r.add(std::make_unique<PngExtractor>());
  r.add(std::make_unique<GifExtractor>());
  r.add(std::make_unique<BmpExtractor>());
  r.add(std::make_unique<RiffExtractor>());
  r.add(std::make_unique<ExifExtractor>());
  r.add(std::make_unique<Id3Extractor>());
  r.add(std::make_unique<Mp4Extractor>());
  r.add(std::make_unique<ElfExtractor>());
  r.add(std::make_unique<PdfExtractor>());
  r.add(std::make_unique<GzipExtractor>());
  r.add(std::make_unique<ZipExtractor>());
  return r;
}

Report parse(ByteSource& source, uint64_t length, const ParseOptions& options) {
  // Built once: the extractors are stateless, and a small parse would otherwise spend a good
  // part of its time allocating them.
  static const Registry kDefaults = Registry::with_defaults();
  return parse_with(kDefaults, source, length, options);
}

}  // namespace vorlix_core
