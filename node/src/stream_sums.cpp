#include "stream_sums.hpp"

#include <memory>
#include <span>

namespace vorlix_node {

namespace {

using vorlix_core::hash::ContentSums;
using vorlix_core::hash::Sha256Pass;

// Marks our handles, so that a foreign external is refused.
constexpr napi_type_tag kSumsTag = {0x766f726c69787374ULL, 0x7265616d73756d73ULL};

struct Sums {
  std::optional<Sha256Pass> pass;
  std::optional<ContentSums> finished;
};

void finalize_sums(napi_env, void* data, void*) {
  delete static_cast<Sums*>(data);
}

Sums* sums_of(napi_env env, napi_value value) {
  bool tagged = false;
  void* data = nullptr;
  if (napi_check_object_type_tag(env, value, &kSumsTag, &tagged) != napi_ok || !tagged ||
      napi_get_value_external(env, value, &data) != napi_ok) {
    return nullptr;
  }
  return static_cast<Sums*>(data);
}

napi_value thrown(napi_env env, const JsError& e) {
  throw_error(env, e);
  return nullptr;
}

}  // namespace

napi_value StreamSums(napi_env env, napi_callback_info) {
  try {
    auto sums = std::make_unique<Sums>();
    sums->pass = Sha256Pass::create();
    if (!sums->pass) return thrown(env, {napi_generic_failure, "sha256 unavailable"});
    napi_value handle;
    if (auto s = napi_create_external(env, sums.get(), finalize_sums, nullptr, &handle);
        s != napi_ok) {
      return thrown(env, {s, "Failed to create the stream sums"});
    }
    sums.release();
    if (auto s = napi_type_tag_object(env, handle, &kSumsTag); s != napi_ok) {
      return thrown(env, {s, "Failed to create the stream sums"});
    }
    return handle;
  } catch (...) {
    return thrown(env, current_exception_error());
  }
}

napi_value StreamSumsUpdate(napi_env env, napi_callback_info info) {
  size_t argc = 2;
  napi_value args[2];
  if (napi_get_cb_info(env, info, &argc, args, nullptr, nullptr) != napi_ok || argc < 2) {
    return thrown(env, {napi_invalid_arg, "Expected stream sums and bytes"});
  }
  Sums* sums = sums_of(env, args[0]);
  napi_typedarray_type type = napi_int8_array;
  size_t length = 0;
  void* data = nullptr;
  bool typed = false;
  if (!sums || !sums->pass || napi_is_typedarray(env, args[1], &typed) != napi_ok || !typed ||
      napi_get_typedarray_info(env, args[1], &type, &length, &data, nullptr, nullptr) != napi_ok ||
      type != napi_uint8_array) {
    return thrown(env, {napi_invalid_arg, "Expected open stream sums and a Uint8Array"});
  }
  // The pass reads the bytes here, on this thread, before the caller regains control.
  if (length > 0) sums->pass->update(std::span(static_cast<const uint8_t*>(data), length));
  return nullptr;
}

std::variant<std::optional<ContentSums>, JsError> finish_stream_sums(napi_env env,
                                                                     napi_value value) {
  napi_valuetype t;
  if (napi_typeof(env, value, &t) == napi_ok && t == napi_undefined) {
    return std::optional<ContentSums>();
  }
  Sums* sums = sums_of(env, value);
  if (!sums) return JsError{napi_invalid_arg, "Expected stream sums"};
  if (!sums->finished) {
    sums->finished = sums->pass->finish();
    sums->pass.reset();
  }
  return sums->finished;
}

std::variant<void*, JsError> held_stream_sums(napi_env env, napi_value value) {
  Sums* sums = sums_of(env, value);
  if (!sums || !sums->pass) return JsError{napi_invalid_arg, "Expected open stream sums"};
  return static_cast<void*>(sums);
}

ContentSums finish_held_sums(void* held) {
  auto* sums = static_cast<Sums*>(held);
  if (!sums->finished) {
    sums->finished = sums->pass->finish();
    sums->pass.reset();
  }
  return *sums->finished;
}

}  // namespace vorlix_node
