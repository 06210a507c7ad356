#pragma once
// Exports for the binding's own tests and benchmarks, compiled in only with VORLIX_TEST_HOOKS:
// a user's addon has no use for them. lib/index.js does not re-export them.
#include <node_api.h>

#include <optional>

#include "errors.hpp"

namespace vorlix_node {

// Defines `__parseBytesWithStringLimit(buffer, maxBytes)`: parseBytes whose conversion refuses
// every string longer than maxBytes, as the engine refuses strings beyond its maximum length
// (about 2^29 characters, more than a test can afford to build);
// `__timeConversion(buffer, runs)`: [core ms, conversion ms] of parseBytes, each the best of runs;
// and `__listCaps`: the record-list caps, by list.
std::optional<JsError> register_test_hooks(napi_env env, napi_value exports);

}  // namespace vorlix_node
