#include "convert.hpp"

#include "number_rules.hpp"

#include <cmath>
#include <string>

namespace vorlix_node {

using vorlix_core::Map;
using vorlix_core::Value;

namespace {

JsError fail(napi_status s, std::string message) {
  return JsError{s, std::move(message)};
}

JsResult make_null(napi_env env) {
  napi_value v;
  if (auto s = napi_get_null(env, &v); s != napi_ok)
    return fail(s, "Failed to create napi null value");
  return v;
}

JsResult make_double(napi_env env, double d) {
  if (!std::isfinite(d)) return make_null(env);
  napi_value v;
  if (auto s = napi_create_double(env, d, &v); s != napi_ok) {
    return fail(s, "Failed to convert 64-bit float into napi value");
  }
  return v;
}

JsResult make_integer(napi_env env, JsInteger n) {
  napi_value v;
  if (!n.bigint) {
    const auto i = static_cast<int64_t>(n.magnitude);
    if (auto s = napi_create_int64(env, n.negative ? -i : i, &v); s != napi_ok) {
      return fail(s, "Failed to convert 64-bit integer into napi value");
    }
    return v;
  }
  if (auto s = napi_create_bigint_words(env, n.negative ? 1 : 0, 1, &n.magnitude, &v);
      s != napi_ok) {
    return fail(s, "");
  }
  return v;
}

JsResult make_string(napi_env env, const std::string& text) {
  napi_value v;
  if (auto s = napi_create_string_utf8(env, text.data(), text.size(), &v); s != napi_ok) {
    return fail(s, "Failed to convert string into napi value");
  }
  return v;
}

JsResult make_object(napi_env env) {
  napi_value v;
  if (auto s = napi_create_object(env, &v); s != napi_ok)
    return fail(s, "Failed to create napi Object");
  return v;
}

// Sets obj[key] = value, refusing keys that a C string cannot carry.
std::optional<JsError> set_property(napi_env env, napi_value obj, const std::string& key,
                                    napi_value value) {
  if (auto nul = key.find('\0'); nul != std::string::npos) {
    return fail(napi_generic_failure,
                "nul byte found in provided data at position: " + std::to_string(nul));
  }
  if (auto s = napi_set_named_property(env, obj, key.c_str(), value); s != napi_ok) {
    return fail(s, "Failed to set property with field `" + key + "`");
  }
  return std::nullopt;
}

// Converts `value` and sets it under `key`; the value is created before the property is set.
std::optional<JsError> put(napi_env env, napi_value obj, const std::string& key, JsResult value) {
  if (auto* e = std::get_if<JsError>(&value)) return std::move(*e);
  return set_property(env, obj, key, std::get<napi_value>(value));
}

JsResult map_to_js(napi_env env, const Map& map) {
  auto obj = make_object(env);
  if (std::holds_alternative<JsError>(obj)) return obj;
  const napi_value o = std::get<napi_value>(obj);
  for (const auto& [key, value] : map) {
    if (auto e = put(env, o, key, value_to_js(env, value))) return std::move(*e);
  }
  return o;
}

JsResult list_to_js(napi_env env, const vorlix_core::List& list) {
  napi_value arr;
  if (auto s = napi_create_array_with_length(env, list.size(), &arr); s != napi_ok) {
    return fail(s, "Failed to create napi Array");
  }
  for (size_t i = 0; i < list.size(); ++i) {
    auto v = value_to_js(env, list[i]);
    if (auto* e = std::get_if<JsError>(&v)) return std::move(*e);
    if (auto s = napi_set_element(env, arr, static_cast<uint32_t>(i), std::get<napi_value>(v));
        s != napi_ok) {
      return fail(s, "Failed to set element with index `" + std::to_string(i) + "`");
    }
  }
  return arr;
}

JsResult rational_to_js(napi_env env, const vorlix_core::Rational& r) {
  auto obj = make_object(env);
  if (std::holds_alternative<JsError>(obj)) return obj;
  const napi_value o = std::get<napi_value>(obj);
  if (auto e = put(env, o, "den", make_integer(env, js_integer(r.den)))) return std::move(*e);
  if (auto e = put(env, o, "num", make_integer(env, js_integer(r.num)))) return std::move(*e);
  if (auto e = put(env, o, "value", make_double(env, r.value))) return std::move(*e);
  return o;
}

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

JsResult value_to_js(napi_env env, const Value& value) {
  return std::visit(Overloaded{
                        [&](std::monostate) { return make_null(env); },
                        [&](bool b) -> JsResult {
                          napi_value v;
                          if (auto s = napi_get_boolean(env, b, &v); s != napi_ok) {
                            return fail(s, "Failed to convert boolean into napi value");
                          }
                          return v;
                        },
                        [&](int64_t i) { return make_integer(env, js_integer(i)); },
                        [&](uint64_t u) { return make_integer(env, js_integer(u)); },
                        [&](double d) { return make_double(env, d); },
                        [&](const vorlix_core::Rational& r) { return rational_to_js(env, r); },
                        [&](const std::string& s) { return make_string(env, s); },
                        [&](const vorlix_core::Bytes& b) {
                          return make_string(env, vorlix_core::bytes_display(b));
                        },
                        [&](const vorlix_core::List& l) { return list_to_js(env, l); },
                        [&](const Map& m) { return map_to_js(env, m); },
                    },
                    value.variant());
}

namespace {

JsResult errors_to_js(napi_env env, const std::vector<vorlix_core::ReportError>& errors) {
  napi_value arr;
  if (auto s = napi_create_array_with_length(env, errors.size(), &arr); s != napi_ok) {
    return fail(s, "Failed to create napi Array");
  }
  for (size_t i = 0; i < errors.size(); ++i) {
    auto obj = make_object(env);
    if (std::holds_alternative<JsError>(obj)) return obj;
    const napi_value o = std::get<napi_value>(obj);
    if (auto e = put(env, o, "extractor", make_string(env, errors[i].extractor)))
      return std::move(*e);
    if (auto e = put(env, o, "message", make_string(env, errors[i].message))) return std::move(*e);
    if (auto s = napi_set_element(env, arr, static_cast<uint32_t>(i), o); s != napi_ok) {
      return fail(s, "Failed to set element with index `" + std::to_string(i) + "`");
    }
  }
  return arr;
}

}  // namespace

JsResult report_to_js(napi_env env, const vorlix_core::Report& report) {
  auto obj = make_object(env);
  if (std::holds_alternative<JsError>(obj)) return obj;
  const napi_value o = std::get<napi_value>(obj);
  const std::string kErrors = "errors";
  const bool has_errors = !report.errors.empty();
  bool errors_done = !has_errors;
  // "errors" takes its place in key order among the namespace names, replacing a namespace of
  // that name.
  for (const auto& [name, fields] : report.namespaces) {
    if (!errors_done && name >= kErrors) {
      if (auto e = put(env, o, kErrors, errors_to_js(env, report.errors))) return std::move(*e);
      errors_done = true;
      if (name == kErrors) continue;
    }
    if (auto e = put(env, o, name, map_to_js(env, fields))) return std::move(*e);
  }
  if (!errors_done) {
    if (auto e = put(env, o, kErrors, errors_to_js(env, report.errors))) return std::move(*e);
  }
  return o;
}

}  // namespace vorlix_node
