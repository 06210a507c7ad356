#pragma once
// The report as one plain JS object, every object's properties in byte order of their keys.
#include <node_api.h>

#include <cstddef>
#include <limits>
#include <optional>
#include <variant>

#include "errors.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_node {

using JsResult = std::variant<napi_value, JsError>;

struct ConvertOptions {
  // Strings longer than this fail to convert as if the engine had refused them. The engine's own
  // limit (about 2^29 characters) is far beyond what a test can build; tests lower this one.
  size_t max_string_bytes = std::numeric_limits<size_t>::max();
  // The report's text reaches JS in strings of at most this many UTF-16 units (a longer string
  // gets one of its own); 0 means the default. Tests lower it.
  size_t text_chunk_units = 0;
};

// A namespace whose values cannot all become JS values is left out and reported in `errors`
// under its own name, so one bad value never costs the rest of the report. Fails only when the
// report object or its `errors` list cannot be built. Never throws. Consumes the report: its
// texts are released as the engine takes them, the rest before the objects are made, so no
// long text is held twice for long.
JsResult report_to_js(napi_env env, vorlix_core::Report& report,
                      const ConvertOptions& options = {}) noexcept;

// Compiles the JS half of the conversion for this environment; once, when the addon loads.
std::optional<JsError> install_report_decoder(napi_env env);

}  // namespace vorlix_node
