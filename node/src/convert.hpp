#pragma once
// The report as one plain JS object, every object's properties in byte order of their keys.
#include <node_api.h>

#include <variant>

#include "errors.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_node {

using JsResult = std::variant<napi_value, JsError>;

JsResult report_to_js(napi_env env, const vorlix_core::Report& report);
JsResult value_to_js(napi_env env, const vorlix_core::Value& value);

}  // namespace vorlix_node
