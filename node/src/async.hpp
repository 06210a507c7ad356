#pragma once
// The asynchronous twins: the core runs on the libuv thread pool, the report is converted back on
// the JS thread, and a cancel token lets the caller stop the core at its next read.
#include <node_api.h>

#include <variant>

#include "errors.hpp"
#include "job.hpp"

namespace vorlix_node {

// Queues `job`. `keep` (may be null) is a reference to the Buffer that job.bytes points into; it
// is released on completion, and on failure here. `callback(error, report, cancelled)` runs once
// on the JS thread. Gives the cancel token for cancel_async.
std::variant<napi_value, JsError> start_async(napi_env env, Job job, napi_ref keep,
                                              napi_value callback);

// cancel(token): asks the job behind the token to stop; a finished job ignores it.
napi_value CancelAsync(napi_env env, napi_callback_info info);

}  // namespace vorlix_node
