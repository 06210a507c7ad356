#pragma once
// The options object as lib/index.js hands it over, already checked there; direct callers of the
// addon still get an InvalidArg error rather than undefined behaviour.
#include <node_api.h>

#include <variant>

#include "errors.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_node {

// undefined gives the defaults; otherwise { extractors?: string[], hashes?: boolean }.
std::variant<vorlix_core::ParseOptions, JsError> read_options(napi_env env, napi_value value);

}  // namespace vorlix_node
