#include "options.hpp"

#include <cassert>
#include <string>
#include <vector>

namespace vorlix_node {

namespace {

JsError read_error(napi_status s, const char* name) {
  return JsError{s, std::string("Failed to read options.") + name};
}

bool is_type(napi_env env, napi_value v, napi_valuetype want) {
  napi_valuetype t;
  return napi_typeof(env, v, &t) == napi_ok && t == want;
}

[[maybe_unused]] bool is_array(napi_env env, napi_value v) {
  bool array = false;
  return napi_is_array(env, v, &array) == napi_ok && array;
}

std::variant<std::string, napi_status> string_value(napi_env env, napi_value v) {
  size_t len = 0;
  if (auto s = napi_get_value_string_utf8(env, v, nullptr, 0, &len); s != napi_ok) return s;
  std::string out(len + 1, '\0');
  if (auto s = napi_get_value_string_utf8(env, v, out.data(), out.size(), &len); s != napi_ok) {
    return s;
  }
  out.resize(len);
  return out;
}

std::variant<std::vector<std::string>, napi_status> string_list(napi_env env, napi_value v) {
  assert(is_array(env, v));
  uint32_t n = 0;
  if (auto s = napi_get_array_length(env, v, &n); s != napi_ok) return s;
  std::vector<std::string> names;
  for (uint32_t i = 0; i < n; ++i) {
    napi_value item;
    if (auto s = napi_get_element(env, v, i, &item); s != napi_ok) return s;
    assert(is_type(env, item, napi_string));
    auto name = string_value(env, item);
    if (auto* s = std::get_if<napi_status>(&name)) return *s;
    names.push_back(std::move(std::get<std::string>(name)));
  }
  return names;
}

}  // namespace

std::variant<vorlix_core::ParseOptions, JsError> read_options(napi_env env, napi_value value) {
  vorlix_core::ParseOptions options;
  if (is_type(env, value, napi_undefined)) return options;
  assert(is_type(env, value, napi_object));

  // An absent property and one set to undefined mean the same: the default.
  napi_value extractors;
  if (auto s = napi_get_named_property(env, value, "extractors", &extractors); s != napi_ok) {
    return read_error(s, "extractors");
  }
  if (!is_type(env, extractors, napi_undefined)) {
    auto names = string_list(env, extractors);
    if (auto* s = std::get_if<napi_status>(&names)) return read_error(*s, "extractors");
    options.extractors = std::move(std::get<std::vector<std::string>>(names));
  }

  napi_value hashes;
  if (auto s = napi_get_named_property(env, value, "hashes", &hashes); s != napi_ok) {
    return read_error(s, "hashes");
  }
  if (!is_type(env, hashes, napi_undefined)) {
    assert(is_type(env, hashes, napi_boolean));
    if (auto s = napi_get_value_bool(env, hashes, &options.hashes); s != napi_ok) {
      return read_error(s, "hashes");
    }
  }
  return options;
}

}  // namespace vorlix_node
