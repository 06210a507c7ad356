#pragma once
// Reading the path argument, and describing a value that is not a string for the thrown error.
#include <node_api.h>

#include <cstddef>
#include <string>
#include <variant>

#include "errors.hpp"

namespace vorlix_node {

// At most this many bytes of a value's text go into its description; longer text is cut at a
// character boundary and ends in "...". A 20 MB typed array would otherwise describe itself in 80
// million characters.
inline constexpr size_t kMaxDescribedBytes = 256;

// "Number 42 ", "Object {\"a\":1}", "function f(..) ", or the kind word alone ("Object",
// "Function") when the value's text cannot be had: JSON.stringify throws on cycles, BigInts
// and throwing toJSON methods. Never fails, and leaves no JS exception pending.
std::string describe(napi_env env, napi_value v);

// The path argument's bytes: a string as UTF-8, a Uint8Array (a Buffer too) as it is; or the
// error to throw (code "StringExpected" for anything else).
std::variant<std::string, JsError> path_argument(napi_env env, napi_value v);

}  // namespace vorlix_node
