#pragma once
// The core entry point: sniff, run every accepting extractor, gather a report.
#include <atomic>
#include <cstdint>
#include <optional>
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
  FlatMap<Map> namespaces;
  std::vector<ReportError> errors;  // registry order
  // The cancel flag was set during the parse: the report is incomplete and should be dropped.
  bool cancelled = false;
};

// What a caller may ask of one parse; the defaults do all the work.
struct ParseOptions {
  // Names of the extractors allowed to run; absent means all of them. Sniffing is unaffected.
  std::optional<std::vector<std::string>> extractors;
  // False skips the file extractor's content pass (digests and entropy).
  bool hashes = true;
  // Set by another thread to stop the parse at its next read; owned by the caller.
  const std::atomic<bool>* cancel = nullptr;
};

// Never fails as a whole: extractor failures become report errors.
Report parse(ByteSource& source, uint64_t length, const ParseOptions& options = {});
// Same, with a caller-supplied registry (tests use this to run chosen extractors).
Report parse_with(const Registry& registry, ByteSource& source, uint64_t length,
                  const ParseOptions& options = {});

}  // namespace vorlix_core
