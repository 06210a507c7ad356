#pragma once
// The file facts of a stream (SHA-256, CRC-32, entropy), computed on the JS thread as its chunks
// go by, so parseStream reads the stream once and the parse afterwards skips the content pass.
#include <node_api.h>

#include <optional>
#include <variant>

#include "errors.hpp"
#include "hash/sha256_pass.hpp"

namespace vorlix_node {

// streamSums() -> handle; streamSumsUpdate(handle, bytes).
napi_value StreamSums(napi_env env, napi_callback_info info);
napi_value StreamSumsUpdate(napi_env env, napi_callback_info info);

// The sums behind `value`, ending its pass; nothing when `value` is undefined.
std::variant<std::optional<vorlix_core::hash::ContentSums>, JsError> finish_stream_sums(
    napi_env env, napi_value value);

// Sums still being fed on the JS thread: `value`'s pass, to be finished later, on any thread,
// by finish_held_sums once nothing feeds it any more. The caller keeps `value` alive till then.
std::variant<void*, JsError> held_stream_sums(napi_env env, napi_value value);
vorlix_core::hash::ContentSums finish_held_sums(void* held);

}  // namespace vorlix_node
