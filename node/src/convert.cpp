#include "convert.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "decode_report_js.hpp"
#include "report_tape.hpp"

namespace vorlix_node {

namespace {

// Per environment (the main thread and each worker have their own): the compiled decoder and
// the key sets it knows.
// Reports that fit reuse two typed arrays instead of allocating a buffer each: a small
// report's conversion would otherwise spend a good part of its time there. The decoder only
// reads them during the call and hands them to nobody.
struct SmallArrays {
  static constexpr size_t kNumbers = 4096;
  static constexpr size_t kInts = 16384;
  napi_ref numbers = nullptr;
  napi_ref program = nullptr;
  double* numbers_data = nullptr;
  int32_t* program_data = nullptr;
};

struct AddonData {
  napi_ref decoder = nullptr;
  napi_ref fresh_array = nullptr;  // fresh(n): an array of n own elements
  SmallArrays small;
  KeySetTable key_sets;
  FlatReport flat;  // reused, so a small report allocates no program or text buffers
  // Conversions under way: host code (a finalizer, an accessor) may call parseBytes while one
  // runs; the inner one then shares nothing with it.
  int active = 0;
};

constexpr size_t kKeptBytes = size_t{1} << 20;

// Empties the reused flat report, so nothing of one report (its views into the report's
// strings included) outlives its conversion, and gives back the room a large report left.
void trim(FlatReport& flat) {
  flat.scratch.errors.clear();
  flat.scratch.names.clear();
  flat.program.clear();
  flat.numbers.clear();
  flat.direct.clear();
  flat.own_key_sets.clear();
  for (TextChunk& c : flat.texts) {
    c.bytes.clear();
    c.shorts.clear();
  }
  if (flat.texts.empty() || flat.program.capacity() * sizeof(int32_t) > kKeptBytes ||
      flat.numbers.capacity() * sizeof(double) > kKeptBytes || flat.texts.size() > 1 ||
      flat.texts[0].bytes.capacity() + flat.texts[0].shorts.capacity() > kKeptBytes ||
      flat.scratch.bytes() > kKeptBytes) {
    flat = FlatReport{};
  }
}

void finalize_data(napi_env env, void* data, void* /*hint*/) {
  auto* d = static_cast<AddonData*>(data);
  for (napi_ref r : {d->decoder, d->fresh_array, d->small.numbers, d->small.program}) {
    if (r) napi_delete_reference(env, r);
  }
  delete d;
}

// A fresh typed array of `count` elements; `*data` is where they go.
template <class T>
std::optional<JsError> typed_array(napi_env env, napi_typedarray_type type, size_t count,
                                   napi_value* array, T** data) {
  void* bytes = nullptr;
  napi_value buffer;
  if (auto s = napi_create_arraybuffer(env, count * sizeof(T), &bytes, &buffer); s != napi_ok) {
    return JsError{s, "Failed to create an ArrayBuffer"};
  }
  if (auto s = napi_create_typedarray(env, type, count, buffer, 0, array); s != napi_ok) {
    return JsError{s, "Failed to create a typed array"};
  }
  *data = static_cast<T*>(bytes);
  return std::nullopt;
}

std::optional<JsError> create_small_arrays(napi_env env, SmallArrays& small) {
  napi_value numbers, program;
  if (auto e = typed_array(env, napi_float64_array, SmallArrays::kNumbers, &numbers,
                           &small.numbers_data)) {
    return e;
  }
  if (auto e =
          typed_array(env, napi_int32_array, SmallArrays::kInts, &program, &small.program_data)) {
    return e;
  }
  if (auto s = napi_create_reference(env, numbers, 1, &small.numbers); s != napi_ok) {
    return JsError{s, "Failed to keep a typed array"};
  }
  if (auto s = napi_create_reference(env, program, 1, &small.program); s != napi_ok) {
    return JsError{s, "Failed to keep a typed array"};
  }
  return std::nullopt;
}

JsError fail(napi_status s, std::string message) {
  return JsError{s, std::move(message)};
}

// A failed call may leave a JS exception pending; the error we report replaces it.
JsError failed_call(napi_env env, napi_status s, std::string message) {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
    napi_value exception;
    napi_get_and_clear_last_exception(env, &exception);
  }
  return fail(s == napi_pending_exception ? napi_generic_failure : s, std::move(message));
}

// `bytes` is taken as UTF-8 with every maximal ill-formed subpart replaced by U+FFFD, as the
// engine decodes it.
JsResult text_value(napi_env env, std::string_view bytes, bool ascii) {
  napi_value v;
  // ASCII takes the engine's Latin-1 path, a plain copy.
  const napi_status s = ascii ? napi_create_string_latin1(env, bytes.data(), bytes.size(), &v)
                              : napi_create_string_utf8(env, bytes.data(), bytes.size(), &v);
  if (s != napi_ok) return fail(s, "Failed to convert string into napi value");
  return v;
}

// The header the decoder reads before the ops (HeaderField).
struct Header {
  std::vector<int32_t> ints;
  std::string key_text;  // valid UTF-8; offsets count UTF-16 units
  size_t key_units = 0;
};

Header header(FlatReport& flat, const KeySetTable* key_sets, bool reset) {
  Header h;
  auto field = [&](HeaderField f) -> int32_t& { return h.ints[static_cast<size_t>(f)]; };
  h.ints.assign(static_cast<size_t>(HeaderField::KeySets), 0);
  field(HeaderField::StartsOver) = reset ? 1 : 0;
  field(HeaderField::StackDepth) = static_cast<int32_t>(flat.max_depth);
  field(HeaderField::KeptTexts) = flat.kept_texts;
  auto describe = [&](int32_t id, const std::string& keys) {
    const size_t units = append_utf8(h.key_text, keys);
    const std::array<int32_t, kKeySetFields> fields = {id, static_cast<int32_t>(h.key_units),
                                                       static_cast<int32_t>(units)};
    h.ints.insert(h.ints.end(), fields.begin(), fields.end());
    h.key_units += units;
    ++field(HeaderField::KeySetCount);
  };
  size_t bytes = 0;
  for (size_t id = key_sets ? key_sets->sent() : 0; key_sets && id < key_sets->size(); ++id) {
    bytes += key_sets->keys(id).size();
  }
  for (const std::string& keys : flat.own_key_sets)
    bytes += keys.size();
  h.key_text.reserve(bytes);
  for (size_t id = key_sets ? key_sets->sent() : 0; key_sets && id < key_sets->size(); ++id) {
    describe(static_cast<int32_t>(id), key_sets->keys(id));
  }
  for (size_t i = 0; i < flat.own_key_sets.size(); ++i) {
    describe(-static_cast<int32_t>(i + 1), flat.own_key_sets[i]);
  }
  // The header holds them now.
  flat.own_key_sets.clear();
  return h;
}

// The numbers (Float64Array) and the program (Int32Array: header, then ops), in the kept
// arrays when they fit.
std::optional<JsError> arrays(napi_env env, const SmallArrays* small, const FlatReport& flat,
                              const Header& h, napi_value* numbers, napi_value* program) {
  const size_t ints = h.ints.size() + flat.program.size();
  double* number_data = nullptr;
  int32_t* program_data = nullptr;
  if (small && flat.numbers.size() <= SmallArrays::kNumbers && ints <= SmallArrays::kInts) {
    if (napi_get_reference_value(env, small->numbers, numbers) != napi_ok ||
        napi_get_reference_value(env, small->program, program) != napi_ok) {
      return JsError{napi_generic_failure, "Failed to get a kept typed array"};
    }
    number_data = small->numbers_data;
    program_data = small->program_data;
  } else {
    if (auto e = typed_array(env, napi_float64_array, flat.numbers.size(), numbers, &number_data)) {
      return e;
    }
    if (auto e = typed_array(env, napi_int32_array, ints, program, &program_data)) return e;
  }
  std::copy(flat.numbers.begin(), flat.numbers.end(), number_data);
  std::copy(h.ints.begin(), h.ints.end(), program_data);
  std::copy(flat.program.begin(), flat.program.end(), program_data + h.ints.size());
  return std::nullopt;
}

// An array of `count` own elements, made by the decoder's side: setting elements of an array
// made here would call index setters a host put on the prototypes.
JsResult fresh_array(napi_env env, const AddonData& data, size_t count) {
  napi_value fresh, n, undefined, array;
  napi_get_undefined(env, &undefined);
  if (napi_get_reference_value(env, data.fresh_array, &fresh) != napi_ok ||
      napi_create_uint32(env, static_cast<uint32_t>(count), &n) != napi_ok) {
    return fail(napi_generic_failure, "Failed to create napi Array");
  }
  if (auto s = napi_call_function(env, undefined, fresh, 1, &n, &array); s != napi_ok) {
    return failed_call(env, s, "Failed to create napi Array");
  }
  return array;
}

// A JS array of `values`, in order.
JsResult js_array(napi_env env, const AddonData& data, const std::vector<napi_value>& values) {
  auto made = fresh_array(env, data, values.size());
  if (auto* e = std::get_if<JsError>(&made)) return std::move(*e);
  const napi_value array = std::get<napi_value>(made);
  for (size_t i = 0; i < values.size(); ++i) {
    if (auto s = napi_set_element(env, array, static_cast<uint32_t>(i), values[i]); s != napi_ok) {
      return failed_call(env, s, "Failed to set element with index `" + std::to_string(i) + "`");
    }
  }
  return array;
}

// The strings made one by one, each released from the report as soon as the engine holds it.
JsResult direct_texts(napi_env env, const AddonData& data, FlatReport& flat) {
  std::vector<napi_value> made;
  made.reserve(flat.direct.size());
  for (DirectText& t : flat.direct) {
    auto v = text_value(env, t.text, t.ascii);
    if (auto* e = std::get_if<JsError>(&v)) return std::move(*e);
    made.push_back(std::get<napi_value>(v));
    if (t.owner) std::string().swap(*t.owner);
    t = DirectText{};
  }
  return js_array(env, data, made);
}

JsResult build_report(napi_env env, AddonData& data, vorlix_core::Report& report,
                      const ConvertOptions& options) {
  napi_value decoder;
  if (napi_get_reference_value(env, data.decoder, &decoder) != napi_ok || !decoder) {
    return fail(napi_generic_failure, "The report decoder is not installed");
  }
  // A conversion inside another uses its own flat, typed arrays and key sets.
  const bool nested = data.active > 1;
  FlatReport own_flat;
  FlatReport& flat = nested ? own_flat : data.flat;
  const bool reset = !nested && data.key_sets.start_report();
  FlattenOptions flatten_options;
  flatten_options.max_string_bytes = options.max_string_bytes;
  flatten_options.share_key_sets = !nested;
  if (options.text_chunk_units > 0) flatten_options.chunk_units = options.text_chunk_units;
  // The kept flat is trimmed on every way out, the failed ones included.
  struct Trim {
    FlatReport* flat;
    ~Trim() {
      if (flat) trim(*flat);
    }
  } trimmed{nested ? nullptr : &flat};
  if (auto e = flatten_report(report, flatten_options, data.key_sets, flat)) return *e;
  const Header h = header(flat, nested ? nullptr : &data.key_sets, reset);

  // decode(program, program length, numbers, JSON text, short strings, all chunks' texts,
  // key text, direct strings)
  napi_value args[8];
  if (auto e = arrays(env, nested ? nullptr : &data.small, flat, h, &args[2], &args[0])) {
    return std::move(*e);
  }
  if (auto s = napi_create_uint32(env, static_cast<uint32_t>(h.ints.size() + flat.program.size()),
                                  &args[1]);
      s != napi_ok) {
    return fail(s, "Failed to convert a number into napi value");
  }
  napi_get_undefined(env, &args[7]);
  if (!flat.direct.empty()) {
    auto direct = direct_texts(env, data, flat);
    if (auto* e = std::get_if<JsError>(&direct)) return std::move(*e);
    args[7] = std::get<napi_value>(direct);
  }
  // The rest of the report is in the flat report now: it goes before the engine takes its copies of
  // the texts and keys, and the objects theirs.
  report = vorlix_core::Report{};
  if (flat.scratch.bytes() > kKeptBytes) flat.scratch = FlatReport::Scratch{};
  // Each chunk's two texts; the first chunk's are arguments of their own. Each chunk's room is
  // given back once the engine has its copy.
  std::vector<napi_value> texts;
  texts.reserve(2 * flat.texts.size());
  for (TextChunk& c : flat.texts) {
    for (auto made : {text_value(env, c.bytes, true), text_value(env, c.shorts, c.shorts_ascii)}) {
      if (auto* e = std::get_if<JsError>(&made)) return std::move(*e);
      texts.push_back(std::get<napi_value>(made));
    }
    if (flat.texts.size() > 1) c = TextChunk{};
  }
  args[3] = texts[0];
  args[4] = texts[1];
  napi_get_undefined(env, &args[5]);
  if (texts.size() > 2) {
    auto all = js_array(env, data, texts);
    if (auto* e = std::get_if<JsError>(&all)) return std::move(*e);
    args[5] = std::get<napi_value>(all);
  }
  napi_get_undefined(env, &args[6]);
  if (h.ints[static_cast<size_t>(HeaderField::KeySetCount)] > 0) {
    auto key_text = text_value(env, h.key_text, h.key_units == h.key_text.size());
    if (auto* e = std::get_if<JsError>(&key_text)) return std::move(*e);
    args[6] = std::get<napi_value>(key_text);
  }
  // So does a large flat report's room.
  if (!nested) trim(flat);

  napi_value undefined, result;
  napi_get_undefined(env, &undefined);
  if (auto s = napi_call_function(env, undefined, decoder, 8, args, &result); s != napi_ok) {
    return failed_call(env, s, "Failed to build the report object");
  }
  if (!nested) data.key_sets.mark_sent();
  return result;
}

JsResult build_report(napi_env env, vorlix_core::Report& report, const ConvertOptions& options) {
  AddonData* data = nullptr;
  if (napi_get_instance_data(env, reinterpret_cast<void**>(&data)) != napi_ok || !data) {
    return fail(napi_generic_failure, "The report decoder is not installed");
  }
  ++data->active;
  struct Leave {
    int& active;
    ~Leave() { --active; }
  } leave{data->active};
  return build_report(env, *data, report, options);
}

}  // namespace

std::optional<JsError> install_report_decoder(napi_env env) {
  napi_value source, functions, decoder, fresh;
  if (auto s = napi_create_string_utf8(env, kDecodeReportJs, NAPI_AUTO_LENGTH, &source);
      s != napi_ok) {
    return fail(s, "Failed to create the report decoder's source");
  }
  if (auto s = napi_run_script(env, source, &functions); s != napi_ok) {
    return failed_call(env, s, "Failed to compile the report decoder");
  }
  // [decode, fresh]: an array literal's own elements.
  if (auto s = napi_get_element(env, functions, 0, &decoder); s != napi_ok) {
    return failed_call(env, s, "Failed to compile the report decoder");
  }
  if (auto s = napi_get_element(env, functions, 1, &fresh); s != napi_ok) {
    return failed_call(env, s, "Failed to compile the report decoder");
  }
  auto* data = new AddonData;
  if (napi_create_reference(env, decoder, 1, &data->decoder) != napi_ok ||
      napi_create_reference(env, fresh, 1, &data->fresh_array) != napi_ok) {
    finalize_data(env, data, nullptr);
    return fail(napi_generic_failure, "Failed to keep the report decoder");
  }
  if (auto e = create_small_arrays(env, data->small)) {
    finalize_data(env, data, nullptr);
    return e;
  }
  if (auto s = napi_set_instance_data(env, data, finalize_data, nullptr); s != napi_ok) {
    finalize_data(env, data, nullptr);
    return fail(s, "Failed to keep the report decoder");
  }
  return std::nullopt;
}

JsResult report_to_js(napi_env env, vorlix_core::Report& report,
                      const ConvertOptions& options) noexcept {
  try {
    return build_report(env, report, options);
  } catch (...) {
    return current_exception_error();
  }
}

}  // namespace vorlix_node
