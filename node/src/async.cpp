#include "async.hpp"

#include <atomic>
#include <memory>
#include <string>

#include "convert.hpp"

namespace vorlix_node {

namespace {

using vorlix_core::Report;

// Marks our cancel tokens, so that cancel() refuses any other external value.
constexpr napi_type_tag kCancelTokenTag = {0x766f726c69786361ULL, 0x6e63656c746f6b6eULL};

using Flag = std::shared_ptr<std::atomic<bool>>;

// Owned by the async work from queueing to completion. The flag is shared with the token, which
// may outlive the work.
struct Work {
  Job job;
  Flag cancel = std::make_shared<std::atomic<bool>>(false);
  napi_ref keep = nullptr;
  napi_ref callback = nullptr;
  napi_async_work work = nullptr;
  std::variant<Report, JsError> outcome = JsError{napi_generic_failure, "not run"};

  void free_handles(napi_env env) {
    if (keep) napi_delete_reference(env, keep);
    if (callback) napi_delete_reference(env, callback);
    if (work) napi_delete_async_work(env, work);
    keep = callback = nullptr;
    work = nullptr;
  }
};

// Pool thread: no Node-API here.
void execute(napi_env, void* data) {
  auto* w = static_cast<Work*>(data);
  w->outcome = run_job(w->job);
}

// A JS Error with `code`, as the synchronous calls throw it; a pending exception is taken as is.
napi_value make_error(napi_env env, const JsError& err) {
  napi_value error = nullptr;
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
    napi_get_and_clear_last_exception(env, &error);
    return error;
  }
  napi_value code = nullptr;
  napi_value message = nullptr;
  if (napi_create_string_utf8(env, status_name(err.status), NAPI_AUTO_LENGTH, &code) != napi_ok ||
      napi_create_string_utf8(env, err.message.data(), err.message.size(), &message) != napi_ok ||
      napi_create_error(env, code, message, &error) != napi_ok) {
    return nullptr;
  }
  return error;
}

// The callback's three arguments: (error, report, cancelled).
void settle_args(napi_env env, napi_status status, Work& w, napi_value (&args)[3]) {
  napi_value undefined;
  napi_get_undefined(env, &undefined);
  args[0] = args[1] = undefined;
  bool cancelled = status == napi_cancelled;
  if (!cancelled) {
    if (auto* e = std::get_if<JsError>(&w.outcome)) {
      args[0] = make_error(env, *e);
    } else if (std::get<Report>(w.outcome).cancelled) {
      cancelled = true;
    } else {
      JsResult r = report_to_js(env, std::get<Report>(w.outcome));
      if (auto* e = std::get_if<JsError>(&r)) {
        args[0] = make_error(env, *e);
      } else {
        args[1] = std::get<napi_value>(r);
      }
    }
  }
  napi_get_boolean(env, cancelled, &args[2]);
}

// JS thread, after execute (or when the work was cancelled before it ran).
void complete(napi_env env, napi_status status, void* data) {
  std::unique_ptr<Work> w(static_cast<Work*>(data));
  napi_value args[3] = {nullptr, nullptr, nullptr};
  try {
    settle_args(env, status, *w, args);
  } catch (...) {
    args[0] = make_error(env, current_exception_error());
  }
  // The report is in JS now: drop the C++ copy and the Buffer before the caller resumes.
  w->outcome = JsError{napi_ok, ""};
  if (w->keep) {
    napi_delete_reference(env, w->keep);
    w->keep = nullptr;
  }
  napi_value cb = nullptr;
  napi_value recv = nullptr;
  if (napi_get_reference_value(env, w->callback, &cb) == napi_ok && cb &&
      napi_get_undefined(env, &recv) == napi_ok) {
    for (auto& a : args) {
      if (!a) napi_get_undefined(env, &a);
    }
    napi_call_function(env, recv, cb, 3, args, nullptr);
  }
  w->free_handles(env);
}

void finalize_token(napi_env, void* data, void*) {
  delete static_cast<Flag*>(data);
}

std::variant<napi_value, JsError> make_token(napi_env env, const Flag& flag) {
  auto held = std::make_unique<Flag>(flag);
  napi_value token;
  if (auto s = napi_create_external(env, held.get(), finalize_token, nullptr, &token);
      s != napi_ok) {
    return JsError{s, "Failed to create the cancel token"};
  }
  held.release();  // the finalizer owns it now
  if (auto s = napi_type_tag_object(env, token, &kCancelTokenTag); s != napi_ok) {
    return JsError{s, "Failed to create the cancel token"};
  }
  return token;
}

std::variant<napi_value, JsError> queue(napi_env env, Work& w, napi_value callback) {
  napi_valuetype t;
  if (napi_typeof(env, callback, &t) != napi_ok || t != napi_function) {
    return JsError{napi_function_expected, "Expected a completion callback"};
  }
  if (auto s = napi_create_reference(env, callback, 1, &w.callback); s != napi_ok) {
    return JsError{s, "Failed to hold the completion callback"};
  }
  napi_value name;
  if (auto s = napi_create_string_utf8(env, "vorlix.parse", NAPI_AUTO_LENGTH, &name);
      s != napi_ok) {
    return JsError{s, "Failed to create the async work"};
  }
  if (auto s = napi_create_async_work(env, nullptr, name, execute, complete, &w, &w.work);
      s != napi_ok) {
    return JsError{s, "Failed to create the async work"};
  }
  auto token = make_token(env, w.cancel);
  if (std::holds_alternative<JsError>(token)) return token;
  if (auto s = napi_queue_async_work(env, w.work); s != napi_ok) {
    return JsError{s, "Failed to queue the async work"};
  }
  return token;
}

}  // namespace

std::variant<napi_value, JsError> start_async(napi_env env, Job job, napi_ref keep,
                                              napi_value callback) {
  std::unique_ptr<Work> w;
  try {
    w = std::make_unique<Work>();
  } catch (...) {
    if (keep) napi_delete_reference(env, keep);
    return current_exception_error();
  }
  w->keep = keep;  // from here released together with the work
  try {
    w->job = std::move(job);
    w->job.options.cancel = w->cancel.get();
    auto token = queue(env, *w, callback);
    if (std::holds_alternative<JsError>(token)) {
      w->free_handles(env);
      return token;
    }
    w.release();  // complete() owns it now
    return token;
  } catch (...) {
    w->free_handles(env);
    return current_exception_error();
  }
}

napi_value CancelAsync(napi_env env, napi_callback_info info) {
  size_t argc = 1;
  napi_value token = nullptr;
  bool tagged = false;
  void* data = nullptr;
  if (napi_get_cb_info(env, info, &argc, &token, nullptr, nullptr) != napi_ok || argc < 1 ||
      napi_check_object_type_tag(env, token, &kCancelTokenTag, &tagged) != napi_ok || !tagged ||
      napi_get_value_external(env, token, &data) != napi_ok) {
    throw_error(env, {napi_invalid_arg, "Expected a cancel token"});
    return nullptr;
  }
  static_cast<Flag*>(data)->get()->store(true);
  return nullptr;
}

}  // namespace vorlix_node
