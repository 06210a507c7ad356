#pragma once
// The options object as lib/index.js hands it over: undefined, or an object whose `extractors`
// (known names) and `hashes` (a boolean) it has checked, so they are read here, not checked
// again (debug builds assert their types). The addon is reachable without lib/index.js, so an
// odd value still ends as an error carrying the failed Node-API call's status (ObjectExpected,
// ArrayExpected, StringExpected, BooleanExpected), never as a crash.
#include <node_api.h>

#include <variant>

#include "errors.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_node {

// undefined gives the defaults; otherwise { extractors?: string[], hashes?: boolean }.
std::variant<vorlix_core::ParseOptions, JsError> read_options(napi_env env, napi_value value);

}  // namespace vorlix_node
