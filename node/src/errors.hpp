#pragma once
// JS errors thrown by the binding: a message plus the Node-API status name as `code`.
#include <node_api.h>

#include <string>

namespace vorlix_node {

struct JsError {
  napi_status status;
  std::string message;
};

// "InvalidArg", "StringExpected", ... for statuses 1 to 22, "Unknown" otherwise.
const char* status_name(napi_status status);

// Throws `err` as a JS Error with `code`; when a JS exception is already pending it stands
// and nothing new is thrown.
void throw_error(napi_env env, const JsError& err);

// The exception being handled, as an Error with code "GenericFailure": "out of memory" for
// std::bad_alloc, the text of what() for other standard exceptions. Call only from a catch
// block. The binding's entry points end in one of these: an exception that unwinds into Node
// aborts the process.
JsError current_exception_error() noexcept;

}  // namespace vorlix_node
