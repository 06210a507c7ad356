#pragma once
// Opening a path for parse(path) and the facts only a path gives: name, claimed extension and
// timestamps. No Node-API here, so it runs on any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "vorlix/parse.hpp"

namespace vorlix_node {

struct FileFacts {
  uint64_t size = 0;
  std::optional<uint64_t> modified;
  std::optional<uint64_t> created;
};

// The open descriptor, or the system's reason it could not be used.
std::variant<int, std::string> open_input(const std::string& path, FileFacts& facts);

// Merges the path facts into the report's "file" namespace (creating it when absent).
void add_path_facts(vorlix_core::Report& report, const std::string& path, const FileFacts& facts);

}  // namespace vorlix_node
