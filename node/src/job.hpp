#pragma once
// One parse as the binding runs it, on the JS thread (parse, parseBytes) or on a pool thread
// (the async twins). Touches no Node-API, so either thread may call it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <variant>

#include "errors.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_node {

struct Job {
  bool from_path = false;
  std::string path;                   // when from_path: its bytes, UTF-8 or not
  std::span<const uint8_t> bytes;     // otherwise: the caller's Buffer, or `copy`
  std::unique_ptr<uint8_t[]> copy;    // the bytes, when the caller's memory could not be held
  vorlix_core::ParseOptions options;  // its cancel flag is set by run_job's caller
};

// The report, or the error the call fails with. Never throws: exceptions become GenericFailure.
std::variant<vorlix_core::Report, JsError> run_job(const Job& job);

}  // namespace vorlix_node
