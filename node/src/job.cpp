#include "job.hpp"

#include <unistd.h>

#include <algorithm>

#include "path_facts.hpp"
#include "text.hpp"

namespace vorlix_node {

namespace {

using vorlix_core::Report;

// Closes the descriptor on every path out of the parse.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// The path facts belong to the "file" extractor: a selection without it gets none.
bool wants_path_facts(const vorlix_core::ParseOptions& options) {
  if (!options.extractors) return true;
  const auto& names = *options.extractors;
  return std::find(names.begin(), names.end(), "file") != names.end();
}

std::variant<Report, JsError> run_unguarded(const Job& job) {
  if (!job.from_path) {
    vorlix_core::MemorySource source(job.bytes);
    return vorlix_core::parse(source, job.bytes.size(), job.options);
  }
  FileFacts facts;
  auto opened = open_input(job.path, facts);
  if (auto* why = std::get_if<std::string>(&opened)) {
    // A path is bytes; the message shows them by the lossy-text rule of the report's texts.
    return JsError{napi_generic_failure,
                   vorlix_core::utf8_lossy(vorlix_core::as_bytes(job.path)) + ": " + *why};
  }
  Report report;
  {
    Fd fd(std::get<int>(opened));
    vorlix_core::FileSource source(fd.get());
    report = vorlix_core::parse(source, facts.size, job.options);
  }
  if (!report.cancelled && wants_path_facts(job.options)) add_path_facts(report, job.path, facts);
  return report;
}

}  // namespace

std::variant<Report, JsError> run_job(const Job& job) {
  try {
    return run_unguarded(job);
  } catch (...) {
    return current_exception_error();
  }
}

}  // namespace vorlix_node
