#include "options.hpp"

#include <string>
#include <vector>

namespace vorlix_node {

namespace {

JsError invalid(std::string message) {
  return JsError{napi_invalid_arg, std::move(message)};
}

bool is_type(napi_env env, napi_value v, napi_valuetype want) {
  napi_valuetype t;
  return napi_typeof(env, v, &t) == napi_ok && t == want;
}

// An absent property and one set to undefined mean the same: the default.
std::variant<napi_value, JsError> property(napi_env env, napi_value obj, const char* name) {
  napi_value v;
  if (auto s = napi_get_named_property(env, obj, name, &v); s != napi_ok) {
    return JsError{s, std::string("Failed to read option `") + name + "`"};
  }
  return v;
}

std::variant<std::string, JsError> string_value(napi_env env, napi_value v) {
  size_t len = 0;
  if (napi_get_value_string_utf8(env, v, nullptr, 0, &len) != napi_ok) {
    return invalid("options.extractors must hold only strings");
  }
  std::string out(len + 1, '\0');
  if (auto s = napi_get_value_string_utf8(env, v, out.data(), out.size(), &len); s != napi_ok) {
    return JsError{s, "Failed to read an extractor name"};
  }
  out.resize(len);
  return out;
}

std::variant<std::vector<std::string>, JsError> string_list(napi_env env, napi_value v) {
  bool is_array = false;
  if (napi_is_array(env, v, &is_array) != napi_ok || !is_array) {
    return invalid("options.extractors must be an array of extractor names");
  }
  uint32_t n = 0;
  if (auto s = napi_get_array_length(env, v, &n); s != napi_ok) {
    return JsError{s, "Failed to read options.extractors"};
  }
  std::vector<std::string> names;
  for (uint32_t i = 0; i < n; ++i) {
    napi_value item;
    if (auto s = napi_get_element(env, v, i, &item); s != napi_ok) {
      return JsError{s, "Failed to read options.extractors"};
    }
    auto name = string_value(env, item);
    if (auto* e = std::get_if<JsError>(&name)) return std::move(*e);
    names.push_back(std::move(std::get<std::string>(name)));
  }
  return names;
}

}  // namespace

std::variant<vorlix_core::ParseOptions, JsError> read_options(napi_env env, napi_value value) {
  vorlix_core::ParseOptions options;
  if (is_type(env, value, napi_undefined)) return options;
  if (!is_type(env, value, napi_object)) return invalid("options must be an object");

  auto extractors = property(env, value, "extractors");
  if (auto* e = std::get_if<JsError>(&extractors)) return std::move(*e);
  if (napi_value v = std::get<napi_value>(extractors); !is_type(env, v, napi_undefined)) {
    auto names = string_list(env, v);
    if (auto* e = std::get_if<JsError>(&names)) return std::move(*e);
    options.extractors = std::move(std::get<std::vector<std::string>>(names));
  }

  auto hashes = property(env, value, "hashes");
  if (auto* e = std::get_if<JsError>(&hashes)) return std::move(*e);
  if (napi_value v = std::get<napi_value>(hashes); !is_type(env, v, napi_undefined)) {
    if (napi_get_value_bool(env, v, &options.hashes) != napi_ok) {
      return invalid("options.hashes must be a boolean");
    }
  }
  return options;
}

}  // namespace vorlix_node
