#include "convert.hpp"

#include <algorithm>

#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "number_rules.hpp"

namespace vorlix_node {

using vorlix_core::List;
using vorlix_core::Map;
using vorlix_core::Value;

namespace {

// Keys are defined, never assigned: an assignment would run setters a host put on
// Object.prototype, turn "__proto__" into a prototype change and drop keys that a frozen
// prototype holds as read-only ("constructor", "toString").
constexpr auto kDataProperty = napi_default_jsproperty;

JsError fail(napi_status s, std::string message) {
  return JsError{s, std::move(message)};
}

// Closes the scope on every path out of a block, exceptions included.
class HandleScope {
 public:
  explicit HandleScope(napi_env env) : env_(env), status_(napi_open_handle_scope(env, &scope_)) {}
  HandleScope(const HandleScope&) = delete;
  HandleScope& operator=(const HandleScope&) = delete;
  ~HandleScope() {
    if (status_ == napi_ok) napi_close_handle_scope(env_, scope_);
  }
  napi_status status() const { return status_; }

 private:
  napi_env env_;
  napi_handle_scope scope_ = nullptr;
  napi_status status_;
};

class EscapableScope {
 public:
  explicit EscapableScope(napi_env env)
      : env_(env), status_(napi_open_escapable_handle_scope(env, &scope_)) {}
  EscapableScope(const EscapableScope&) = delete;
  EscapableScope& operator=(const EscapableScope&) = delete;
  ~EscapableScope() {
    if (status_ == napi_ok) napi_close_escapable_handle_scope(env_, scope_);
  }
  napi_status status() const { return status_; }
  napi_status escape(napi_value v, napi_value* out) {
    return napi_escape_handle(env_, scope_, v, out);
  }

 private:
  napi_env env_;
  napi_escapable_handle_scope scope_ = nullptr;
  napi_status status_;
};

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// One conversion. Key strings are created once per distinct key and reused: creating (and
// internalising) a key on every property costs more than the rest of the conversion. They are
// created in the caller's scope, before any inner scope opens, so they outlive the per-element
// scopes; the views point into the report, which outlives the conversion.
// ASCII text (most report strings: names, dates, hex digests) takes V8's Latin-1 path, a plain
// copy; anything else goes through the UTF-8 decoder.
napi_status create_string(napi_env env, std::string_view text, napi_value* out) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? napi_create_string_latin1(env, text.data(), text.size(), out)
               : napi_create_string_utf8(env, text.data(), text.size(), out);
}

class Converter {
 public:
  Converter(napi_env env, const ConvertOptions& options) : env_(env), options_(options) {}

  // Creates the keys of `map` and of everything below it that are not known yet.
  std::optional<JsError> add_keys(const Map& map) {
    for (const auto& [key, value] : map) {
      if (auto e = add_key(key)) return e;
      if (auto e = add_keys(value)) return e;
    }
    return std::nullopt;
  }

  std::optional<JsError> add_key(std::string_view key) {
    auto [it, inserted] = keys_.try_emplace(key, nullptr);
    if (!inserted) return std::nullopt;
    if (auto s = create_string(env_, key, &it->second); s != napi_ok) {
      keys_.erase(it);
      return fail(s, "Failed to set property with field `" + std::string(key) + "`");
    }
    return std::nullopt;
  }

  // A namespace's fields as one object, its working handles released before it returns.
  JsResult namespace_to_js(const Map& fields) {
    if (auto e = add_keys(fields)) return *e;
    EscapableScope scope(env_);
    if (auto s = scope.status(); s != napi_ok) return fail(s, "Failed to open a handle scope");
    auto obj = map_to_js(fields);
    if (std::holds_alternative<JsError>(obj)) return obj;
    napi_value escaped;
    if (auto s = scope.escape(std::get<napi_value>(obj), &escaped); s != napi_ok) {
      return fail(s, "Failed to escape a handle scope");
    }
    return escaped;
  }

  JsResult errors_to_js(const std::vector<vorlix_core::ReportError>& errors) {
    napi_value arr;
    if (auto s = napi_create_array_with_length(env_, errors.size(), &arr); s != napi_ok) {
      return fail(s, "Failed to create napi Array");
    }
    for (size_t i = 0; i < errors.size(); ++i) {
      HandleScope scope(env_);
      if (auto s = scope.status(); s != napi_ok) return fail(s, "Failed to open a handle scope");
      auto obj = make_object();
      if (std::holds_alternative<JsError>(obj)) return obj;
      const napi_value o = std::get<napi_value>(obj);
      const size_t base = props_.size();
      if (auto e = push("extractor", make_string(errors[i].extractor))) return *e;
      if (auto e = push("message", make_string(errors[i].message))) return *e;
      if (auto e = define(o, base)) return *e;
      if (auto e = set_element(arr, i, o)) return *e;
    }
    return arr;
  }

  // Queues `key: value` for the next define(); the value exists before its property does.
  std::optional<JsError> push(std::string_view key, JsResult value) {
    if (auto* e = std::get_if<JsError>(&value)) return std::move(*e);
    if (auto nul = key.find('\0'); nul != std::string_view::npos) {
      return fail(napi_generic_failure,
                  "nul byte found in provided data at position: " + std::to_string(nul));
    }
    napi_value name;
    if (const auto it = keys_.find(key); it != keys_.end()) {
      name = it->second;
    } else if (auto s = create_string(env_, key, &name); s != napi_ok) {
      // Not cached: this may run inside an inner scope, which the key would not outlive.
      return fail(s, "Failed to set property with field `" + std::string(key) + "`");
    }
    props_.push_back({nullptr, name, nullptr, nullptr, nullptr, std::get<napi_value>(value),
                      kDataProperty, nullptr});
    prop_keys_.push_back(key);
    return std::nullopt;
  }

  // Defines the properties queued since `base` on `obj`, in one call, and drops them from the
  // queue (which nested objects share, one above the other).
  std::optional<JsError> define(napi_value obj, size_t base) {
    const size_t count = props_.size() - base;
    napi_status s = napi_define_properties(env_, obj, count, props_.data() + base);
    std::optional<JsError> result;
    if (s != napi_ok) result = name_failed_property(obj, base, s);
    unwind(base);
    return result;
  }

  // Drops what a failed object left queued.
  void unwind(size_t base) {
    if (props_.size() > base) {
      props_.resize(base);
      prop_keys_.resize(base);
    }
  }

  size_t queued() const { return props_.size(); }

  JsResult make_object() {
    napi_value v;
    if (auto s = napi_create_object(env_, &v); s != napi_ok) {
      return fail(s, "Failed to create napi Object");
    }
    return v;
  }

  JsResult make_string(std::string_view text) {
    napi_value v;
    napi_status s = text.size() > options_.max_string_bytes ? napi_generic_failure
                                                            : create_string(env_, text, &v);
    if (s != napi_ok) return fail(s, "Failed to convert string into napi value");
    return v;
  }

 private:
  // A batch reports one status for all its properties; defining them one by one again finds
  // the key to name in the message (redefining a configurable data property is harmless).
  JsError name_failed_property(napi_value obj, size_t base, napi_status batch_status) {
    napi_value exception;
    napi_get_and_clear_last_exception(env_, &exception);
    for (size_t i = base; i < props_.size(); ++i) {
      if (auto s = napi_define_properties(env_, obj, 1, &props_[i]); s != napi_ok) {
        napi_get_and_clear_last_exception(env_, &exception);
        return fail(s, "Failed to set property with field `" + std::string(prop_keys_[i]) + "`");
      }
    }
    const std::string_view last = prop_keys_.size() > base ? prop_keys_.back() : "";
    return fail(batch_status, "Failed to set property with field `" + std::string(last) + "`");
  }

  std::optional<JsError> add_keys(const Value& value) {
    if (const auto* map = std::get_if<Map>(&value.variant())) return add_keys(*map);
    if (const auto* list = std::get_if<List>(&value.variant())) {
      for (const auto& v : *list) {
        if (auto e = add_keys(v)) return e;
      }
    }
    if (const auto* records = std::get_if<vorlix_core::RecordList>(&value.variant())) {
      for (std::string_view key : records->keys()) {
        if (auto e = add_key(key)) return e;
      }
    }
    if (std::holds_alternative<vorlix_core::Rational>(value.variant())) {
      for (const char* key : {"den", "num", "value"}) {
        if (auto e = add_key(key)) return e;
      }
    }
    return std::nullopt;
  }

  std::optional<JsError> set_element(napi_value arr, size_t i, napi_value v) {
    if (auto s = napi_set_element(env_, arr, static_cast<uint32_t>(i), v); s != napi_ok) {
      return fail(s, "Failed to set element with index `" + std::to_string(i) + "`");
    }
    return std::nullopt;
  }

  JsResult make_null() {
    napi_value v;
    if (auto s = napi_get_null(env_, &v); s != napi_ok) {
      return fail(s, "Failed to create napi null value");
    }
    return v;
  }

  JsResult make_double(double d) {
    if (!std::isfinite(d)) return make_null();
    napi_value v;
    if (auto s = napi_create_double(env_, d, &v); s != napi_ok) {
      return fail(s, "Failed to convert 64-bit float into napi value");
    }
    return v;
  }

  JsResult make_integer(JsInteger n) {
    napi_value v;
    if (!n.bigint) {
      const auto i = static_cast<int64_t>(n.magnitude);
      if (auto s = napi_create_int64(env_, n.negative ? -i : i, &v); s != napi_ok) {
        return fail(s, "Failed to convert 64-bit integer into napi value");
      }
      return v;
    }
    if (auto s = napi_create_bigint_words(env_, n.negative ? 1 : 0, 1, &n.magnitude, &v);
        s != napi_ok) {
      return fail(s, "");
    }
    return v;
  }

  JsResult map_to_js(const Map& map) {
    auto obj = make_object();
    if (std::holds_alternative<JsError>(obj)) return obj;
    const napi_value o = std::get<napi_value>(obj);
    const size_t base = props_.size();
    for (const auto& [key, value] : map) {
      if (auto e = push(key, value_to_js(value))) {
        unwind(base);
        return *e;
      }
    }
    if (auto e = define(o, base)) return *e;
    return o;
  }

  // Each element gets its own scope: a list may hold a quarter of a million records, whose
  // working handles would otherwise pile up until the call returns.
  JsResult list_to_js(const List& list) {
    napi_value arr;
    if (auto s = napi_create_array_with_length(env_, list.size(), &arr); s != napi_ok) {
      return fail(s, "Failed to create napi Array");
    }
    for (size_t i = 0; i < list.size(); ++i) {
      HandleScope scope(env_);
      if (auto s = scope.status(); s != napi_ok) return fail(s, "Failed to open a handle scope");
      auto v = value_to_js(list[i]);
      if (auto* e = std::get_if<JsError>(&v)) return std::move(*e);
      if (auto e = set_element(arr, i, std::get<napi_value>(v))) return *e;
    }
    return arr;
  }

  // The compact record list becomes the same array of objects a List of Map would. Records are
  // converted in chunks, each under one handle scope; within a chunk a column's recent texts
  // (methods, dates, chunk and box types repeat a lot) reuse their JS strings.
  JsResult records_to_js(const vorlix_core::RecordList& records) {
    using Kind = vorlix_core::RecordList::Kind;
    constexpr size_t kChunk = 256;
    constexpr size_t kRecent = 4;
    napi_value arr;
    if (auto s = napi_create_array_with_length(env_, records.size(), &arr); s != napi_ok) {
      return fail(s, "Failed to create napi Array");
    }
    const auto& keys = records.keys();
    struct Recent {
      std::string_view text;
      napi_value value = nullptr;
    };
    std::vector<Recent> recent(keys.size() * kRecent);
    for (size_t start = 0; start < records.size(); start += kChunk) {
      HandleScope scope(env_);
      if (auto s = scope.status(); s != napi_ok) return fail(s, "Failed to open a handle scope");
      std::fill(recent.begin(), recent.end(), Recent{});
      const size_t end = std::min(records.size(), start + kChunk);
      for (size_t i = start; i < end; ++i) {
        auto obj = make_object();
        if (auto* e = std::get_if<JsError>(&obj)) return std::move(*e);
        const napi_value o = std::get<napi_value>(obj);
        const size_t base = props_.size();
        for (size_t k = 0; k < keys.size(); ++k) {
          const auto& c = records.cell(i, k);
          JsResult v = nullptr;
          switch (c.kind) {
            case Kind::Absent:
              continue;
            case Kind::Bool:
              v = value_to_js(Value::boolean(c.data != 0));
              break;
            case Kind::UInt:
              v = make_integer(js_integer(c.data));
              break;
            case Kind::Text:
              v = recent_text(records.text(c), &recent[k * kRecent], kRecent);
              break;
          }
          if (auto e = push(keys[k], std::move(v))) {
            unwind(base);
            return *e;
          }
        }
        if (auto e = define(o, base)) return *e;
        if (auto e = set_element(arr, i, o)) return *e;
      }
    }
    return arr;
  }

  // A string from the last few made for the same column, or a new one that joins them.
  template <class R>
  JsResult recent_text(std::string_view text, R* recent, size_t n) {
    for (size_t j = 0; j < n; ++j) {
      if (recent[j].value && recent[j].text == text) return recent[j].value;
    }
    auto v = make_string(text);
    if (auto* made = std::get_if<napi_value>(&v)) {
      std::move_backward(recent, recent + n - 1, recent + n);
      recent[0] = {text, *made};
    }
    return v;
  }

  JsResult rational_to_js(const vorlix_core::Rational& r) {
    auto obj = make_object();
    if (std::holds_alternative<JsError>(obj)) return obj;
    const napi_value o = std::get<napi_value>(obj);
    const size_t base = props_.size();
    std::optional<JsError> e;
    if (!(e = push("den", make_integer(js_integer(r.den)))) &&
        !(e = push("num", make_integer(js_integer(r.num))))) {
      e = push("value", make_double(r.value));
    }
    if (e) {
      unwind(base);
      return *e;
    }
    if (auto d = define(o, base)) return *d;
    return o;
  }

  JsResult value_to_js(const Value& value) {
    return std::visit(
        Overloaded{
            [&](std::monostate) { return make_null(); },
            [&](bool b) -> JsResult {
              napi_value v;
              if (auto s = napi_get_boolean(env_, b, &v); s != napi_ok) {
                return fail(s, "Failed to convert boolean into napi value");
              }
              return v;
            },
            [&](int64_t i) { return make_integer(js_integer(i)); },
            [&](uint64_t u) { return make_integer(js_integer(u)); },
            [&](double d) { return make_double(d); },
            [&](const vorlix_core::Rational& r) { return rational_to_js(r); },
            [&](const std::string& s) { return make_string(s); },
            [&](const vorlix_core::Bytes& b) { return make_string(vorlix_core::bytes_display(b)); },
            [&](const List& l) { return list_to_js(l); },
            [&](const Map& m) { return map_to_js(m); },
            [&](const vorlix_core::RecordList& r) { return records_to_js(r); },
        },
        value.variant());
  }

  napi_env env_;
  const ConvertOptions& options_;
  std::unordered_map<std::string_view, napi_value> keys_;
  std::vector<napi_property_descriptor> props_;
  std::vector<std::string_view> prop_keys_;  // the key text of each queued property
};

constexpr std::string_view kErrors = "errors";

// Converts one namespace; any failure, a C++ exception included, is returned as its message.
std::variant<napi_value, std::string> convert_namespace(napi_env env, Converter& c,
                                                        const Map& fields) {
  const size_t base = c.queued();
  std::string message;
  try {
    auto v = c.namespace_to_js(fields);
    if (auto* ok = std::get_if<napi_value>(&v)) return *ok;
    message = std::move(std::get<JsError>(v).message);
  } catch (...) {
    message = current_exception_error().message;
  }
  c.unwind(base);
  // Nothing that failed here may leave an exception pending over the rest of the report.
  napi_value exception;
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
    napi_get_and_clear_last_exception(env, &exception);
  }
  return message;
}

JsResult build_report(napi_env env, const vorlix_core::Report& report,
                      const ConvertOptions& options) {
  Converter c(env, options);
  for (std::string_view key :
       {kErrors, std::string_view("extractor"), std::string_view("message")}) {
    if (auto e = c.add_key(key)) return *e;
  }
  std::vector<std::pair<std::string_view, napi_value>> members;
  members.reserve(report.namespaces.size() + 1);
  std::vector<vorlix_core::ReportError> errors = report.errors;
  for (const auto& [name, fields] : report.namespaces) {
    if (auto e = c.add_key(name)) return *e;
    auto v = convert_namespace(env, c, fields);
    if (auto* message = std::get_if<std::string>(&v)) {
      errors.push_back({name, std::move(*message)});
      continue;
    }
    members.emplace_back(name, std::get<napi_value>(v));
  }

  auto obj = c.make_object();
  if (std::holds_alternative<JsError>(obj)) return obj;
  const napi_value o = std::get<napi_value>(obj);
  const size_t base = c.queued();
  std::optional<napi_value> error_list;
  if (!errors.empty()) {
    auto list = c.errors_to_js(errors);
    if (std::holds_alternative<JsError>(list)) return list;
    error_list = std::get<napi_value>(list);
  }
  // "errors" takes its place in key order among the namespace names, replacing a namespace of
  // that name.
  bool errors_done = !error_list;
  for (const auto& [name, value] : members) {
    if (!errors_done && name >= kErrors) {
      if (auto e = c.push(kErrors, *error_list)) return *e;
      errors_done = true;
      if (name == kErrors) continue;
    }
    if (auto e = c.push(name, value)) return *e;
  }
  if (!errors_done) {
    if (auto e = c.push(kErrors, *error_list)) return *e;
  }
  if (auto e = c.define(o, base)) return *e;
  return o;
}

}  // namespace

JsResult report_to_js(napi_env env, const vorlix_core::Report& report,
                      const ConvertOptions& options) noexcept {
  try {
    return build_report(env, report, options);
  } catch (...) {
    return current_exception_error();
  }
}

}  // namespace vorlix_node
