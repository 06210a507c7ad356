#include "arguments.hpp"

#include <algorithm>
#include <optional>
#include <utility>

namespace vorlix_node {

namespace {

void clear_exception(napi_env env) {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
    napi_value ignored;
    napi_get_and_clear_last_exception(env, &ignored);
  }
}

// The first kMaxDescribedBytes of a JS string (whole characters), "..." marking a cut; nothing
// when `v` is not a string. Only the kept part is copied.
std::optional<std::string> bounded_text(napi_env env, napi_value v) {
  size_t len = 0;
  if (napi_get_value_string_utf8(env, v, nullptr, 0, &len) != napi_ok) return std::nullopt;
  std::string out(std::min(len, kMaxDescribedBytes) + 1, '\0');
  size_t copied = 0;
  if (napi_get_value_string_utf8(env, v, out.data(), out.size(), &copied) != napi_ok) {
    return std::nullopt;
  }
  out.resize(copied);
  if (copied < len) out += "...";
  return out;
}

std::optional<napi_value> call_method(napi_env env, napi_value target, const char* name,
                                      size_t argc, const napi_value* argv) {
  napi_value fn, result;
  if (napi_get_named_property(env, target, name, &fn) != napi_ok ||
      napi_call_function(env, target, fn, argc, argv, &result) != napi_ok) {
    return std::nullopt;
  }
  return result;
}

// A typed array longer than the kept text serialises to the same first
// characters as its first kMaxDescribedBytes elements (each takes at least two), so only those
// are serialised: JSON.stringify of a 20 MB typed array takes seconds.
napi_value serialisable_part(napi_env env, napi_value v) {
  bool typed = false;
  napi_typedarray_type type;
  size_t length = 0;
  if (napi_is_typedarray(env, v, &typed) != napi_ok || !typed ||
      napi_get_typedarray_info(env, v, &type, &length, nullptr, nullptr, nullptr) != napi_ok ||
      length <= kMaxDescribedBytes) {
    return v;
  }
  napi_value range[2];
  if (napi_create_uint32(env, 0, &range[0]) != napi_ok ||
      napi_create_uint32(env, kMaxDescribedBytes, &range[1]) != napi_ok) {
    return v;
  }
  if (auto part = call_method(env, v, "subarray", 2, range)) return *part;
  clear_exception(env);
  return v;
}

std::optional<std::string> json_text(napi_env env, napi_value v) {
  napi_value global, json;
  if (napi_get_global(env, &global) != napi_ok ||
      napi_get_named_property(env, global, "JSON", &json) != napi_ok) {
    return std::nullopt;
  }
  napi_value part = serialisable_part(env, v);
  auto text = call_method(env, json, "stringify", 1, &part);
  // undefined, for a value whose toJSON returns nothing, is no text either.
  return text ? bounded_text(env, *text) : std::nullopt;
}

std::optional<std::string> coerced_text(napi_env env, napi_value v) {
  napi_value str;
  if (napi_coerce_to_string(env, v, &str) != napi_ok) return std::nullopt;
  return bounded_text(env, str);
}

std::optional<std::string> function_name(napi_env env, napi_value v) {
  napi_value name;
  if (napi_get_named_property(env, v, "name", &name) != napi_ok) return std::nullopt;
  return bounded_text(env, name);
}

std::string describe_value(napi_env env, napi_value v) {
  napi_valuetype t;
  if (napi_typeof(env, v, &t) != napi_ok) return "Unknown";
  auto with_text = [](const char* kind, std::optional<std::string> text) {
    return text ? std::string(kind) + " " + *text + " " : std::string(kind);
  };
  switch (t) {
    case napi_undefined:
      return "Undefined";
    case napi_null:
      return "Null";
    case napi_string:
      return "String";
    case napi_symbol:
      return "Symbol";
    case napi_external:
      return "External";
    case napi_boolean:
      return with_text("Boolean", coerced_text(env, v));
    case napi_number:
      return with_text("Number", coerced_text(env, v));
    case napi_bigint:
      return with_text("BigInt", coerced_text(env, v));
    case napi_object: {
      auto text = json_text(env, v);
      return text ? "Object " + *text : std::string("Object");
    }
    case napi_function: {
      auto name = function_name(env, v);
      if (!name) return "Function";
      return "function " + (name->empty() ? std::string("anonymous") : *name) + "(..) ";
    }
  }
  return "Unknown";
}

}  // namespace

std::string describe(napi_env env, napi_value v) {
  std::string text = describe_value(env, v);
  // A failed step above (a throwing toJSON, a cycle) may have left its exception behind; the
  // caller throws its own StringExpected error instead.
  clear_exception(env);
  return text;
}

namespace {

// The bytes of a Uint8Array (a Buffer too), as Node's fs takes a path's raw name bytes.
std::optional<std::string> byte_path(napi_env env, napi_value v) {
  bool typed = false;
  napi_typedarray_type type;
  size_t length = 0;
  void* data = nullptr;
  if (napi_is_typedarray(env, v, &typed) != napi_ok || !typed ||
      napi_get_typedarray_info(env, v, &type, &length, &data, nullptr, nullptr) != napi_ok ||
      type != napi_uint8_array) {
    return std::nullopt;
  }
  if (length == 0) return std::string();
  return std::string(static_cast<const char*>(data), length);
}

}  // namespace

std::variant<std::string, JsError> path_argument(napi_env env, napi_value v) {
  if (auto bytes = byte_path(env, v)) return std::move(*bytes);
  size_t len = 0;
  const char* prefix = "Failed to convert JavaScript value `";
  napi_status s = napi_get_value_string_utf8(env, v, nullptr, 0, &len);
  std::string path;
  if (s == napi_ok) {
    path.assign(len + 1, '\0');
    s = napi_get_value_string_utf8(env, v, path.data(), path.size(), &len);
    prefix = "Failed to convert napi `";
    if (s == napi_ok) {
      path.resize(len);
      return path;
    }
  }
  return JsError{s, prefix + describe(env, v) + "` into type `String`"};
}

}  // namespace vorlix_node
