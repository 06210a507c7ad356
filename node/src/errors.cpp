#include "errors.hpp"

#include <array>
#include <exception>
#include <new>

namespace vorlix_node {

const char* status_name(napi_status status) {
  static constexpr std::array<const char*, 23> kNames = {
      "Unknown",  // napi_ok: never thrown
      "InvalidArg",
      "ObjectExpected",
      "StringExpected",
      "NameExpected",
      "FunctionExpected",
      "NumberExpected",
      "BooleanExpected",
      "ArrayExpected",
      "GenericFailure",
      "PendingException",
      "Cancelled",
      "EscapeCalledTwice",
      "HandleScopeMismatch",
      "CallbackScopeMismatch",
      "QueueFull",
      "Closing",
      "BigintExpected",
      "DateExpected",
      "ArrayBufferExpected",
      "DetachableArraybufferExpected",
      "WouldDeadlock",
      "NoExternalBuffersAllowed",
  };
  const auto i = static_cast<size_t>(status);
  return i < kNames.size() ? kNames[i] : "Unknown";
}

void throw_error(napi_env env, const JsError& err) {
  if (err.status == napi_pending_exception) return;
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) return;
  const char* code_text = status_name(err.status);
  napi_value code = nullptr;
  napi_value message = nullptr;
  napi_value error = nullptr;
  // Explicit lengths: a message built from a path may hold NUL characters.
  if (napi_create_string_utf8(env, code_text, NAPI_AUTO_LENGTH, &code) != napi_ok ||
      napi_create_string_utf8(env, err.message.data(), err.message.size(), &message) != napi_ok ||
      napi_create_error(env, code, message, &error) != napi_ok) {
    return;
  }
  napi_throw(env, error);
}

JsError current_exception_error() noexcept {
  // Short texts fit the string's inline buffer, so building them cannot itself run out of
  // memory; copying a long what() can, and then the short text stands in for it.
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return {napi_generic_failure, "out of memory"};
  } catch (const std::exception& e) {
    try {
      return {napi_generic_failure, e.what()};
    } catch (...) {
      return {napi_generic_failure, "out of memory"};
    }
  } catch (...) {
    return {napi_generic_failure, "unknown error"};
  }
}

}  // namespace vorlix_node
