#include "test_hooks.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <variant>

#include "convert.hpp"
#include "limits.hpp"
#include "vorlix/parse.hpp"
#include "vorlix/source.hpp"

namespace vorlix_node {

namespace {

napi_value fail_with(napi_env env, JsError e) {
  throw_error(env, e);
  return nullptr;
}

// Every hook takes (buffer, number): the bytes, and the number as a non-negative integer (a
// positive one where `positive`).
struct HookArgs {
  std::span<const uint8_t> bytes;
  int64_t number = 0;
};
std::variant<HookArgs, JsError> hook_args(napi_env env, napi_callback_info info,
                                          const char* number_error, bool positive = false) {
  size_t argc = 2;
  napi_value args[2] = {nullptr, nullptr};
  if (auto s = napi_get_cb_info(env, info, &argc, args, nullptr, nullptr); s != napi_ok) {
    return JsError{s, "Failed to initialize napi function call."};
  }
  void* data = nullptr;
  size_t length = 0;
  if (auto s = napi_get_buffer_info(env, args[0], &data, &length); s != napi_ok) {
    return JsError{s, "Failed to get Buffer pointer and length"};
  }
  HookArgs out;
  if (auto s = napi_get_value_int64(env, args[1], &out.number);
      s != napi_ok || out.number < (positive ? 1 : 0)) {
    return JsError{napi_number_expected, number_error};
  }
  out.bytes = std::span<const uint8_t>(static_cast<const uint8_t*>(data), data ? length : 0);
  return out;
}

napi_value converted(napi_env env, vorlix_core::Report report, const ConvertOptions& options) {
  JsResult r = report_to_js(env, report, options);
  if (auto* e = std::get_if<JsError>(&r)) return fail_with(env, *e);
  return std::get<napi_value>(r);
}

// The report { t: { <key>: values } }, converted.
napi_value converted_list(napi_env env, const char* key, vorlix_core::List values,
                          const ConvertOptions& options) {
  vorlix_core::Map fields;
  fields.emplace(key, vorlix_core::Value::list(std::move(values)));
  vorlix_core::Report report;
  report.namespaces.emplace("t", std::move(fields));
  return converted(env, std::move(report), options);
}

// parseBytes whose conversion has the option `field` set to the hook's number.
napi_value parse_with(napi_env env, napi_callback_info info, size_t ConvertOptions::*field,
                      const char* number_error, bool positive) try {
  auto parsed = hook_args(env, info, number_error, positive);
  if (auto* e = std::get_if<JsError>(&parsed)) return fail_with(env, *e);
  const auto [bytes, number] = std::get<HookArgs>(parsed);
  ConvertOptions options;
  options.*field = static_cast<size_t>(number);
  vorlix_core::MemorySource source(bytes);
  return converted(env, vorlix_core::parse(source, bytes.size()), options);
} catch (...) {
  return fail_with(env, current_exception_error());
}

napi_value ParseBytesWithStringLimit(napi_env env, napi_callback_info info) {
  return parse_with(env, info, &ConvertOptions::max_string_bytes,
                    "maxBytes must be a number of bytes", false);
}

// parseBytes with the report's text split into chunks of at most `units` UTF-16 units (a
// longer string gets a chunk of its own), as reports of hundreds of megabytes of text are.
napi_value ParseBytesInTextChunks(napi_env env, napi_callback_info info) {
  return parse_with(env, info, &ConvertOptions::text_chunk_units, "units must be a positive number",
                    true);
}

// The pieces of the buffer between NUL bytes, as raw texts of a report { t: { texts: [...] } },
// converted with text chunks of `units`: how any bytes, ill-formed UTF-8 included, reach JS.
napi_value ConvertTexts(napi_env env, napi_callback_info info) try {
  auto parsed = hook_args(env, info, "units must be a positive number", true);
  if (auto* e = std::get_if<JsError>(&parsed)) return fail_with(env, *e);
  const auto [bytes, units] = std::get<HookArgs>(parsed);
  vorlix_core::List texts;
  const std::string all(bytes.begin(), bytes.end());
  for (size_t at = 0;;) {
    const size_t end = std::min(all.find('\0', at), all.size());
    texts.push_back(vorlix_core::Value::text(all.substr(at, end - at)));
    if (end == all.size()) break;
    at = end + 1;
  }
  ConvertOptions options;
  options.text_chunk_units = static_cast<size_t>(units);
  return converted_list(env, "texts", std::move(texts), options);
} catch (...) {
  return fail_with(env, current_exception_error());
}

// The buffer's doubles (native byte order) as a report { t: { numbers: [...] } }: how numbers
// reach JS, small integers and others.
napi_value ConvertNumbers(napi_env env, napi_callback_info info) try {
  auto parsed = hook_args(env, info, "the number is unused: pass 0");
  if (auto* e = std::get_if<JsError>(&parsed)) return fail_with(env, *e);
  const std::span<const uint8_t> bytes = std::get<HookArgs>(parsed).bytes;
  vorlix_core::List numbers;
  for (size_t at = 0; at + sizeof(double) <= bytes.size(); at += sizeof(double)) {
    double d;
    std::memcpy(&d, bytes.data() + at, sizeof d);
    numbers.push_back(vorlix_core::Value::float64(d));
  }
  return converted_list(env, "numbers", std::move(numbers), ConvertOptions{});
} catch (...) {
  return fail_with(env, current_exception_error());
}

// [core ms, conversion ms], each the best of `runs`: the conversion alone cannot be timed from JS.
napi_value TimeConversion(napi_env env, napi_callback_info info) try {
  auto parsed = hook_args(env, info, "runs must be a positive number", true);
  if (auto* e = std::get_if<JsError>(&parsed)) return fail_with(env, *e);
  const auto [bytes, runs] = std::get<HookArgs>(parsed);
  using Clock = std::chrono::steady_clock;
  auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
  double core = 1e300, convert = 1e300;
  for (int64_t i = 0; i < runs; ++i) {
    napi_handle_scope scope;
    if (auto s = napi_open_handle_scope(env, &scope); s != napi_ok) {
      return fail_with(env, {s, "Failed to open a handle scope"});
    }
    const auto t0 = Clock::now();
    vorlix_core::MemorySource source(bytes);
    vorlix_core::Report report = vorlix_core::parse(source, bytes.size());
    const auto t1 = Clock::now();
    JsResult r = report_to_js(env, report);
    const auto t2 = Clock::now();
    napi_close_handle_scope(env, scope);
    if (auto* e = std::get_if<JsError>(&r)) return fail_with(env, *e);
    core = std::min(core, ms(t1 - t0));
    convert = std::min(convert, ms(t2 - t1));
  }
  napi_value out, a, b;
  if (napi_create_array_with_length(env, 2, &out) != napi_ok ||
      napi_create_double(env, core, &a) != napi_ok ||
      napi_create_double(env, convert, &b) != napi_ok ||
      napi_set_element(env, out, 0, a) != napi_ok || napi_set_element(env, out, 1, b) != napi_ok) {
    return fail_with(env, {napi_generic_failure, "Failed to create the timings"});
  }
  return out;
} catch (...) {
  return fail_with(env, current_exception_error());
}

std::optional<JsError> export_hook(napi_env env, napi_value exports, const char* name,
                                   napi_callback cb) {
  napi_value fn;
  if (auto s = napi_create_function(env, name, NAPI_AUTO_LENGTH, cb, nullptr, &fn); s != napi_ok) {
    return JsError{s, std::string("Failed to register function `") + name + "`"};
  }
  if (auto s = napi_set_named_property(env, exports, name, fn); s != napi_ok) {
    return JsError{s, std::string("Failed to register export `") + name + "`"};
  }
  return std::nullopt;
}

// `__listCaps`: the record-list caps, so the tests that fill each list to its cap read them from
// here rather than typing the numbers again.
std::optional<JsError> export_list_caps(napi_env env, napi_value exports) {
  namespace limits = vorlix_core::limits;
  napi_value caps;
  if (auto s = napi_create_object(env, &caps); s != napi_ok) {
    return JsError{s, "Failed to create the list caps"};
  }
  for (auto [name, cap] : {std::pair{"listedRecords", limits::kMaxListedRecords},
                           std::pair{"mp4TopLevelBoxes", limits::kMaxMp4TopLevelBoxes},
                           std::pair{"jpegSegments", limits::kMaxJpegSegments},
                           std::pair{"pngChunks", limits::kMaxPngChunks}}) {
    napi_value value;
    if (napi_create_double(env, double(cap), &value) != napi_ok ||
        napi_set_named_property(env, caps, name, value) != napi_ok) {
      return JsError{napi_generic_failure, "Failed to set a list cap"};
    }
  }
  if (auto s = napi_set_named_property(env, exports, "__listCaps", caps); s != napi_ok) {
    return JsError{s, "Failed to register export `__listCaps`"};
  }
  return std::nullopt;
}

}  // namespace

std::optional<JsError> register_test_hooks(napi_env env, napi_value exports) {
  if (auto e = export_list_caps(env, exports)) return e;
  if (auto e =
          export_hook(env, exports, "__parseBytesWithStringLimit", ParseBytesWithStringLimit)) {
    return e;
  }
  if (auto e = export_hook(env, exports, "__parseBytesInTextChunks", ParseBytesInTextChunks)) {
    return e;
  }
  if (auto e = export_hook(env, exports, "__convertTexts", ConvertTexts)) return e;
  if (auto e = export_hook(env, exports, "__convertNumbers", ConvertNumbers)) return e;
  return export_hook(env, exports, "__timeConversion", TimeConversion);
}

}  // namespace vorlix_node
