#pragma once
// The core entry point: sniff, run every accepting extractor, gather a report.
#include <cstdint>
#include <string>
#include <vector>

#include "vorlix/extractor.hpp"
#include "vorlix/source.hpp"
#include "vorlix/value.hpp"

namespace vorlix_core {

struct ReportError {
  std::string extractor;
  std::string message;
};

struct Report {
  // Namespace name -> fields; byte-wise name order, one entry per name.
  std::map<std::string, Map, std::less<>> namespaces;
  std::vector<ReportError> errors;  // registry order
};

// Never fails as a whole: extractor failures become report errors.
Report parse(ByteSource& source, uint64_t length);
// Same, with a caller-supplied registry (tests use this to run chosen extractors).
Report parse_with(const Registry& registry, ByteSource& source, uint64_t length);

}  // namespace vorlix_core
