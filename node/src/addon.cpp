// Registration and the entry points: parse(path) and parseBytes(buffer), their asynchronous
// twins, and cancel(token) for the latter.
#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "arguments.hpp"
#include "async.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "job.hpp"
#include "js_source.hpp"
#include "options.hpp"
#include "stream_sums.hpp"
#include "test_hooks.hpp"
#include "thread_pool.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_node {

namespace {

using vorlix_core::Report;

std::optional<JsError> status_error(napi_status s, std::string message) {
  if (s == napi_ok) return std::nullopt;
  return JsError{s, std::move(message)};
}

napi_value finish(napi_env env, JsResult r) {
  if (auto* e = std::get_if<JsError>(&r)) {
    throw_error(env, *e);
    return nullptr;
  }
  return std::get<napi_value>(r);
}

// The first `n` arguments; missing ones are undefined.
template <size_t N>
bool arguments(napi_env env, napi_callback_info info, napi_value (&args)[N]) {
  size_t argc = N;
  if (auto s = napi_get_cb_info(env, info, &argc, args, nullptr, nullptr); s != napi_ok) {
    throw_error(env, {s, "Failed to initialize napi function call."});
    return false;
  }
  for (size_t i = argc; i < N; ++i)
    napi_get_undefined(env, &args[i]);
  return true;
}

// The path and options of parse(path, options) and parseAsync(path, options, callback).
std::variant<Job, JsError> path_job(napi_env env, napi_value path_value, napi_value options) {
  auto path = path_argument(env, path_value);
  if (auto* e = std::get_if<JsError>(&path)) return std::move(*e);
  auto opts = read_options(env, options);
  if (auto* e = std::get_if<JsError>(&opts)) return std::move(*e);
  Job job;
  job.from_path = true;
  job.path = std::move(std::get<std::string>(path));
  job.options = std::move(std::get<vorlix_core::ParseOptions>(opts));
  return job;
}

// The Buffer behind parseBytes: held by `ref` until the caller releases it, and read in place;
// or, with `copy`, copied here and released at once (lib/index.js decides which an asynchronous
// parse needs).
std::variant<Job, JsError> bytes_job(napi_env env, napi_value buffer, napi_value options,
                                     napi_ref& ref, bool copy = false) {
  ref = nullptr;
  if (auto s = napi_create_reference(env, buffer, 1, &ref); s != napi_ok) {
    return JsError{s, "Failed to create reference from Buffer"};
  }
  // Reading the options may run host code (a getter), which could detach or shrink the Buffer's
  // memory: its pointer is taken last, with no JS able to run before the parse starts.
  auto opts = read_options(env, options);
  void* data = nullptr;
  size_t length = 0;
  if (auto s = napi_get_buffer_info(env, buffer, &data, &length); s != napi_ok) {
    return JsError{s, "Failed to get Buffer pointer and length"};
  }
  if (auto* e = std::get_if<JsError>(&opts)) return std::move(*e);
  Job job;
  if (!data) length = 0;
  job.bytes = std::span<const uint8_t>(static_cast<const uint8_t*>(data), length);
  if (copy && length > 0) {
    job.copy = std::make_unique_for_overwrite<uint8_t[]>(length);
    std::copy(job.bytes.begin(), job.bytes.end(), job.copy.get());
    job.bytes = std::span<const uint8_t>(job.copy.get(), length);
  }
  job.options = std::move(std::get<vorlix_core::ParseOptions>(opts));
  return job;
}

void drop(napi_env env, napi_ref& ref) {
  if (ref) napi_delete_reference(env, ref);
  ref = nullptr;
}

// Runs `body`, turning any C++ exception it lets out into a thrown JS Error: none may reach
// Node, where it would abort the process.
template <class Body>
napi_value guarded(napi_env env, Body&& body) {
  try {
    return body();
  } catch (...) {
    throw_error(env, current_exception_error());
    return nullptr;
  }
}

napi_value thrown(napi_env env, const JsError& e) {
  throw_error(env, e);
  return nullptr;
}

// Runs a job on this thread and converts its report.
napi_value run_sync(napi_env env, const Job& job) {
  auto outcome = run_job(job);
  if (auto* e = std::get_if<JsError>(&outcome)) return thrown(env, *e);
  return finish(env, report_to_js(env, std::get<vorlix_core::Report>(outcome)));
}

napi_value Parse(napi_env env, napi_callback_info info) {
  napi_value args[2];
  if (!arguments(env, info, args)) return nullptr;
  // Reading the path allocates as much as the string is long.
  return guarded(env, [&] {
    auto job = path_job(env, args[0], args[1]);
    if (auto* e = std::get_if<JsError>(&job)) return thrown(env, *e);
    return run_sync(env, std::get<Job>(job));
  });
}

napi_value ParseBytes(napi_env env, napi_callback_info info) {
  napi_value args[2];
  if (!arguments(env, info, args)) return nullptr;
  napi_ref ref = nullptr;
  napi_value result = guarded(env, [&] {
    auto job = bytes_job(env, args[0], args[1], ref);
    if (auto* e = std::get_if<JsError>(&job)) return thrown(env, *e);
    return run_sync(env, std::get<Job>(job));
  });
  drop(env, ref);
  return result;
}

// Errors found before the work is queued are thrown; lib/index.js turns them into rejections.
napi_value ParseAsync(napi_env env, napi_callback_info info) {
  napi_value args[3];
  if (!arguments(env, info, args)) return nullptr;
  return guarded(env, [&] {
    auto job = path_job(env, args[0], args[1]);
    if (auto* e = std::get_if<JsError>(&job)) return thrown(env, *e);
    return finish(env, start_async(env, std::move(std::get<Job>(job)), nullptr, args[2]));
  });
}

// (buffer, options, callback, copy): `copy` true makes the parse read a private copy.
napi_value ParseBytesAsync(napi_env env, napi_callback_info info) {
  napi_value args[4];
  if (!arguments(env, info, args)) return nullptr;
  bool copy = false;
  if (napi_get_value_bool(env, args[3], &copy) != napi_ok) copy = false;
  napi_ref ref = nullptr;
  napi_value result = guarded(env, [&] {
    auto job = bytes_job(env, args[0], args[1], ref, copy);
    if (auto* e = std::get_if<JsError>(&job)) return thrown(env, *e);
    // The reference now belongs to the async work, which releases it on every path; a copy
    // needs none.
    if (std::get<Job>(job).copy) drop(env, ref);
    napi_ref held = std::exchange(ref, nullptr);
    return finish(env, start_async(env, std::move(std::get<Job>(job)), held, args[2]));
  });
  drop(env, ref);
  return result;
}

std::optional<JsError> export_function(napi_env env, napi_value exports, const char* js_name,
                                       const char* internal_name, napi_callback cb) {
  napi_value fn;
  if (auto e = status_error(napi_create_function(env, js_name, NAPI_AUTO_LENGTH, cb, nullptr, &fn),
                            std::string("Failed to register function `") + internal_name + "`")) {
    return e;
  }
  return status_error(napi_set_named_property(env, exports, js_name, fn),
                      std::string("Failed to register export `") + js_name + "`");
}

// `extractors`: the names of the core registry's extractors in the order they run, as a frozen
// array. lib/index.js checks options against it, so the list is written once, in the registry.
std::optional<JsError> export_extractor_names(napi_env env, napi_value exports) {
  const auto registry = vorlix_core::Registry::with_defaults();
  const auto& items = registry.extractors();
  napi_value list;
  if (auto e = status_error(napi_create_array_with_length(env, items.size(), &list),
                            "Failed to create the extractor list")) {
    return e;
  }
  for (uint32_t i = 0; i < items.size(); ++i) {
    napi_value name;
    if (auto e =
            status_error(napi_create_string_utf8(env, items[i]->name(), NAPI_AUTO_LENGTH, &name),
                         "Failed to create an extractor name")) {
      return e;
    }
    if (auto e =
            status_error(napi_set_element(env, list, i, name), "Failed to list an extractor")) {
      return e;
    }
  }
  if (auto e = status_error(napi_object_freeze(env, list), "Failed to freeze the extractor list")) {
    return e;
  }
  return status_error(napi_set_named_property(env, exports, "extractors", list),
                      "Failed to register export `extractors`");
}

}  // namespace

}  // namespace vorlix_node

NAPI_MODULE_INIT() {
  using namespace vorlix_node;
  for (auto [js, internal, cb] :
       {std::tuple{"parse", "parse", &Parse}, std::tuple{"parseBytes", "parse_bytes", &ParseBytes},
        std::tuple{"parseAsync", "parse_async", &ParseAsync},
        std::tuple{"parseBytesAsync", "parse_bytes_async", &ParseBytesAsync},
        std::tuple{"parseSourceAsync", "parse_source_async", &ParseSourceAsync},
        std::tuple{"streamSums", "stream_sums", &StreamSums},
        std::tuple{"sourcePool", "source_pool", &SourcePool},
        std::tuple{"streamSumsUpdate", "stream_sums_update", &StreamSumsUpdate},
        std::tuple{"cancel", "cancel", &CancelAsync}}) {
    if (auto e = export_function(env, exports, js, internal, cb)) {
      throw_error(env, *e);
      return nullptr;
    }
  }
  if (auto e = export_extractor_names(env, exports)) {
    throw_error(env, *e);
    return nullptr;
  }
  if (auto e = install_report_decoder(env)) {
    throw_error(env, *e);
    return nullptr;
  }
#ifdef VORLIX_TEST_HOOKS
  if (auto e = register_test_hooks(env, exports)) {
    throw_error(env, *e);
    return nullptr;
  }
#endif
  return exports;
}
