#include "js_source.hpp"

#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <variant>

#include "convert.hpp"
#include "errors.hpp"
#include "extractors/entropy.hpp"
#include "options.hpp"
#include "stream_sums.hpp"
#include "thread_pool.hpp"
#include "vorlix/parse.hpp"

namespace vorlix_node {

using vorlix_core::Err;
using vorlix_core::IoError;
using vorlix_core::IoResult;

void ReadChannel::abort() {
  std::lock_guard lock(mutex);
  cancel.store(true);
  settled_cv.notify_all();
}

JsSource::JsSource(ReadChannel& channel, ReadRequest request, void* ctx, uint64_t size,
                   size_t block)
    : channel_(channel), request_(request), ctx_(ctx), size_(size) {
  // Windows are whole blocks of the source's choosing, and at least kMinWindow.
  block = std::max<size_t>(block, 1);
  window_ = block >= kMinWindow ? block : (kMinWindow + block - 1) / block * block;
}

IoResult<size_t> JsSource::read(std::span<uint8_t> buf) {
  auto r = read_at(pos_, buf);
  if (r) pos_ += *r;
  return r;
}

IoResult<uint64_t> JsSource::seek(int64_t offset, vorlix_core::Whence whence) {
  const uint64_t base = whence == vorlix_core::Whence::Start     ? 0
                        : whence == vorlix_core::Whence::Current ? pos_
                                                                 : size_;
  const bool back = offset < 0;
  const uint64_t step = back ? static_cast<uint64_t>(-(offset + 1)) + 1 : offset;
  if (back ? step > base : step > std::numeric_limits<uint64_t>::max() - base) {
    return Err{IoError::fixed("invalid seek to a negative or overflowing position")};
  }
  pos_ = back ? base - step : base + step;
  return pos_;
}

IoResult<size_t> JsSource::fetch(uint64_t offset, std::span<uint8_t> dest) {
  if (channel_.cancel.load()) return Err{IoError::fixed("cancelled")};
  const uint64_t seq = ++next_seq_;
  {
    std::lock_guard lock(channel_.mutex);
    channel_.seq = seq;
    channel_.dest = dest.data();
    channel_.want = dest.size();
    channel_.settled = false;
    channel_.error.reset();
  }
  const bool asked = request_(ctx_, seq, offset, dest.size());
  std::unique_lock lock(channel_.mutex);
  if (asked) {
    channel_.settled_cv.wait(lock, [&] { return channel_.settled || channel_.cancel.load(); });
  }
  // From here a late answer to this read finds no destination and is dropped.
  channel_.seq = 0;
  channel_.dest = nullptr;
  if (!asked) return Err{IoError::fixed("the source can no longer be read")};
  if (!channel_.settled) return Err{IoError::fixed("cancelled")};
  if (channel_.error) return Err{IoError::fixed(*channel_.error)};
  return dest.size();
}

bool JsSource::reached_end() {
  uint8_t none = 0;
  return static_cast<bool>(fetch(size_, std::span<uint8_t>(&none, 0)));
}

void JsSource::will_read(uint64_t offset, uint64_t length) {
  if (length == 0 || length > kMaxAhead || offset >= size_) return;
  for (const Slot& s : slots_) {
    if (offset >= s.start && offset - s.start + length <= s.bytes.size()) return;
  }
  // A failure here is met again, and reported, by the reads that follow.
  (void)window_for(offset, length);
}

IoResult<JsSource::Slot*> JsSource::window_for(uint64_t at, uint64_t need) {
  const uint64_t start = at - at % window_;
  // The whole request in one fetch, in whole windows, up to the next window already held.
  uint64_t end = std::min(size_, (at + need + window_ - 1) / window_ * window_);
  // Every extractor starts at the header and most read a little past the first 64 KiB (the
  // core's own windows reach a page beyond), so the first fetch takes two small windows.
  if (start == 0 && window_ < 2 * kMinWindow) {
    end = std::max(end, std::min<uint64_t>(size_, 2 * uint64_t{window_}));
  }
  run_ = start == run_end_ ? run_ + 1 : 0;
  if (run_ >= 2) {
    // A scan through the content: each further fetch twice as large, up to kMaxRun.
    const uint64_t grown = std::min<uint64_t>(kMaxRun, uint64_t{window_} << std::min(run_ - 1, 5u));
    end = std::max(end, std::min(size_, start + std::max<uint64_t>(grown, window_)));
  }
  for (const Slot& s : slots_) {
    if (!s.bytes.empty() && s.start > at) end = std::min(end, s.start);
  }
  Slot& slot =
      *std::min_element(std::begin(slots_), std::end(slots_),
                        [](const Slot& a, const Slot& b) { return a.last_use < b.last_use; });
  slot.bytes.resize(static_cast<size_t>(end - start));
  slot.start = start;
  slot.last_use = ++clock_;
  auto r = fetch(start, slot.bytes);
  if (!r) {
    slot.bytes.clear();
    run_end_ = UINT64_MAX;
    return Err{std::move(r).error()};
  }
  run_end_ = end;
  return &slot;
}

IoResult<size_t> JsSource::read_at(uint64_t offset, std::span<uint8_t> buf) {
  if (offset >= size_) return size_t{0};
  const auto n = static_cast<size_t>(std::min<uint64_t>(buf.size(), size_ - offset));
  size_t done = 0;
  while (done < n) {
    const uint64_t at = offset + done;
    const size_t need = n - done;
    Slot* slot = nullptr;
    for (Slot& s : slots_) {
      if (at >= s.start && at - s.start < s.bytes.size()) slot = &s;
    }
    if (!slot && need >= kDirect) {
      auto r = fetch(at, buf.subspan(done, need));
      if (!r) return Err{std::move(r).error()};
      run_end_ = at + need;
      return n;
    }
    if (!slot) {
      auto w = window_for(at, need);
      if (!w) return Err{std::move(w).error()};
      slot = *w;
    }
    slot->last_use = ++clock_;
    const auto skip = static_cast<size_t>(at - slot->start);
    const size_t take = std::min(need, slot->bytes.size() - skip);
    std::memcpy(buf.data() + done, slot->bytes.data() + skip, take);
    done += take;
  }
  return n;
}

namespace {

// One message from the parse thread to the JS thread: a read to issue, or the outcome.
struct Message {
  bool done = false;
  uint64_t seq = 0;
  uint64_t offset = 0;
  size_t length = 0;
  std::variant<vorlix_core::Report, JsError> outcome = JsError{napi_generic_failure, "not run"};
};

// Owned by the thread-safe function; freed by its finalizer on the JS thread.
struct ParseState {
  std::shared_ptr<ReadChannel> channel = std::make_shared<ReadChannel>();
  napi_threadsafe_function tsfn = nullptr;
  napi_ref callback = nullptr;
  napi_ref done = nullptr;
  napi_ref sums = nullptr;  // stream sums the parse thread finishes, kept alive till then
};

using ChannelHandle = std::shared_ptr<ReadChannel>;

void finalize_handle(napi_env, void* data, void*) {
  delete static_cast<ChannelHandle*>(data);
}

// A JS function whose data is a handle on the channel, freed with the function.
std::variant<napi_value, JsError> channel_function(napi_env env, const char* name, napi_callback cb,
                                                   const std::shared_ptr<ReadChannel>& channel) {
  auto handle = std::make_unique<ChannelHandle>(channel);
  napi_value fn;
  if (auto s = napi_create_function(env, name, NAPI_AUTO_LENGTH, cb, handle.get(), &fn);
      s != napi_ok) {
    return JsError{s, "Failed to create a source function"};
  }
  if (auto s = napi_add_finalizer(env, fn, handle.get(), finalize_handle, nullptr, nullptr);
      s != napi_ok) {
    return JsError{s, "Failed to create a source function"};
  }
  handle.release();
  return fn;
}

ReadChannel* channel_of(napi_env env, napi_callback_info info, size_t& argc, napi_value* args) {
  void* data = nullptr;
  if (napi_get_cb_info(env, info, &argc, args, nullptr, &data) != napi_ok || !data) return nullptr;
  return static_cast<ChannelHandle*>(data)->get();
}

std::string read_failure(size_t want, size_t got) {
  return "read returned " + std::to_string(got) + " bytes where " + std::to_string(want) +
         " were asked";
}

// done(seq, errorText | null, bytes): settles read `seq`; a late or repeated call is ignored.
void settle_from_js(napi_env env, ReadChannel* ch, napi_value (&args)[3]) {
  double seq_value = 0;
  if (napi_get_value_double(env, args[0], &seq_value) != napi_ok) return;
  std::optional<std::string> error;
  napi_valuetype t;
  if (napi_typeof(env, args[1], &t) == napi_ok && t == napi_string) {
    size_t len = 0;
    napi_get_value_string_utf8(env, args[1], nullptr, 0, &len);
    std::string text(len + 1, '\0');
    napi_get_value_string_utf8(env, args[1], text.data(), text.size(), &len);
    text.resize(len);
    error = std::move(text);
  }
  napi_typedarray_type type = napi_int8_array;
  size_t length = 0;
  void* bytes = nullptr;
  bool is_typed = false;
  if (!error && (napi_is_typedarray(env, args[2], &is_typed) != napi_ok || !is_typed ||
                 napi_get_typedarray_info(env, args[2], &type, &length, &bytes, nullptr, nullptr) !=
                     napi_ok ||
                 type != napi_uint8_array)) {
    error = "read did not give a Uint8Array";
  }
  std::lock_guard lock(ch->mutex);
  if (ch->seq == 0 || static_cast<double>(ch->seq) != seq_value || ch->settled || !ch->dest) {
    return;
  }
  if (!error && length != ch->want) error = read_failure(ch->want, length);
  if (!error && length > 0) std::memcpy(ch->dest, bytes, length);
  ch->error = std::move(error);
  ch->settled = true;
  ch->settled_cv.notify_all();
}

napi_value Done(napi_env env, napi_callback_info info) {
  size_t argc = 3;
  napi_value args[3];
  ReadChannel* ch = channel_of(env, info, argc, args);
  if (!ch || argc < 3) return nullptr;
  try {
    settle_from_js(env, ch, args);
  } catch (...) {
    // Out of memory for the error text: the read in flight fails all the same (a short text
    // needs no allocation).
    std::lock_guard lock(ch->mutex);
    if (ch->seq != 0 && !ch->settled) {
      ch->error = "out of memory";
      ch->settled = true;
      ch->settled_cv.notify_all();
    }
  }
  return nullptr;
}

napi_value Abort(napi_env env, napi_callback_info info) {
  size_t argc = 0;
  if (ReadChannel* ch = channel_of(env, info, argc, nullptr)) ch->abort();
  return nullptr;
}

// An offset as JS gets it: a number while exact, a BigInt beyond.
napi_value offset_value(napi_env env, uint64_t offset) {
  napi_value v = nullptr;
  if (offset <= (uint64_t{1} << 53) - 1) {
    napi_create_double(env, static_cast<double>(offset), &v);
  } else {
    napi_create_bigint_uint64(env, offset, &v);
  }
  return v;
}

void settle_read(ReadChannel& ch, uint64_t seq, std::string error) {
  std::lock_guard lock(ch.mutex);
  if (ch.seq != seq || ch.settled) return;
  ch.error = std::move(error);
  ch.settled = true;
  ch.settled_cv.notify_all();
}

napi_value error_value(napi_env env, const JsError& e) {
  throw_error(env, e);
  napi_value error = nullptr;
  napi_get_and_clear_last_exception(env, &error);
  return error;
}

void deliver(napi_env env, ParseState& state, Message& m) {
  napi_value undefined;
  napi_get_undefined(env, &undefined);
  napi_value args[3] = {undefined, undefined, undefined};
  bool cancelled = state.channel->cancel.load();
  if (!cancelled) {
    if (auto* e = std::get_if<JsError>(&m.outcome)) {
      args[0] = error_value(env, *e);
    } else if (std::get<vorlix_core::Report>(m.outcome).cancelled) {
      cancelled = true;
    } else {
      JsResult r = report_to_js(env, std::get<vorlix_core::Report>(m.outcome));
      if (auto* e = std::get_if<JsError>(&r)) {
        args[0] = error_value(env, *e);
      } else {
        args[1] = std::get<napi_value>(r);
      }
    }
  }
  m.outcome = JsError{napi_ok, ""};
  napi_get_boolean(env, cancelled, &args[2]);
  for (auto& a : args) {
    if (!a) a = undefined;
  }
  napi_value cb = nullptr;
  if (napi_get_reference_value(env, state.callback, &cb) == napi_ok && cb) {
    napi_call_function(env, undefined, cb, 3, args, nullptr);
  }
}

// JS thread: issues a read through the source's read function, or delivers the outcome.
void call_js(napi_env env, napi_value read_fn, void* context, void* data) {
  std::unique_ptr<Message> m(static_cast<Message*>(data));
  if (!env || !m) return;  // the function is closing; the parse thread sees its reads fail
  auto& state = *static_cast<ParseState*>(context);
  try {
    if (m->done) {
      deliver(env, state, *m);
      return;
    }
    if (state.channel->cancel.load()) return;
    napi_value args[4];
    napi_value done = nullptr;
    napi_value undefined;
    napi_get_undefined(env, &undefined);
    args[0] = offset_value(env, m->offset);
    napi_create_double(env, static_cast<double>(m->length), &args[1]);
    napi_create_double(env, static_cast<double>(m->seq), &args[2]);
    napi_get_reference_value(env, state.done, &done);
    args[3] = done;
    if (napi_call_function(env, undefined, read_fn, 4, args, nullptr) != napi_ok) {
      napi_value ignored;
      napi_get_and_clear_last_exception(env, &ignored);
      settle_read(*state.channel, m->seq, "read threw");
    }
  } catch (...) {
    settle_read(*state.channel, m->seq, "read failed: out of memory");
  }
}

// Also runs when the environment ends while the parse waits: the parse thread then wakes, finds
// the function gone and ends without touching it.
void finalize_state(napi_env env, void* data, void*) {
  std::unique_ptr<ParseState> state(static_cast<ParseState*>(data));
  {
    ReadChannel& ch = *state->channel;
    std::lock_guard lock(ch.mutex);
    ch.js_gone = true;
    ch.cancel.store(true);
    ch.settled_cv.notify_all();
  }
  if (state->callback) napi_delete_reference(env, state->callback);
  if (state->done) napi_delete_reference(env, state->done);
  if (state->sums) napi_delete_reference(env, state->sums);
}

// The parse thread's way to the JS thread.
struct JsLink {
  napi_threadsafe_function tsfn;
  ReadChannel& channel;
};

// Hands `m` to the JS thread; false, and `m` freed, when the function is gone. The channel's lock
// is held across the call so that the finalizer cannot free the function meanwhile (the call
// never blocks: the queue is unbounded).
bool post(JsLink& link, Message* m) {
  {
    std::lock_guard lock(link.channel.mutex);
    if (!link.channel.js_gone) {
      if (napi_call_threadsafe_function(link.tsfn, m, napi_tsfn_nonblocking) == napi_ok) {
        return true;
      }
      link.channel.js_gone = true;
    }
  }
  delete m;
  return false;
}

void release(JsLink& link) {
  std::lock_guard lock(link.channel.mutex);
  if (link.channel.js_gone) return;
  link.channel.js_gone = true;
  napi_release_threadsafe_function(link.tsfn, napi_tsfn_release);
}

bool request_read(void* ctx, uint64_t seq, uint64_t offset, size_t length) {
  auto* m = new (std::nothrow) Message;
  if (!m) return false;
  m->seq = seq;
  m->offset = offset;
  m->length = length;
  return post(*static_cast<JsLink*>(ctx), m);
}

// Content sums computed before the parse (a stream's) stand in for the file extractor's pass.
void add_content_facts(vorlix_core::Report& report, const vorlix_core::hash::ContentSums& sums) {
  auto it = report.namespaces.find("file");
  if (it == report.namespaces.end()) return;
  vorlix_core::Namespace ns("file");
  ns.fields() = std::move(it->second);
  vorlix_core::extractors::set_content_facts(ns, sums);
  it->second = std::move(ns.fields());
}

void run_parse(napi_threadsafe_function tsfn, std::shared_ptr<ReadChannel> channel, uint64_t size,
               size_t block, vorlix_core::ParseOptions options,
               std::optional<vorlix_core::hash::ContentSums> sums, void* held_sums) noexcept {
  JsLink link{tsfn, *channel};
  auto* m = new (std::nothrow) Message;
  if (m) {
    m->done = true;
    try {
      JsSource source(*channel, request_read, &link, size, block);
      options.cancel = &channel->cancel;
      if (!options.hashes) {
        sums.reset();
        held_sums = nullptr;
      }
      if (sums || held_sums) options.hashes = false;
      auto report = vorlix_core::parse(source, size, options);
      bool whole = true;
      if (held_sums && !report.cancelled) {
        // The stream has passed its last byte through the sums only once this read is answered.
        whole = source.reached_end();
        if (whole) sums = finish_held_sums(held_sums);
      }
      if (!whole) {
        m->outcome = JsError{napi_generic_failure, "the stream could not be read to its end"};
      } else {
        if (sums && !report.cancelled) add_content_facts(report, *sums);
        m->outcome = std::move(report);
      }
    } catch (...) {
      m->outcome = current_exception_error();
    }
    post(link, m);
  }
  release(link);
}

std::variant<uint64_t, JsError> size_argument(napi_env env, napi_value v) {
  napi_valuetype t;
  if (napi_typeof(env, v, &t) != napi_ok) return JsError{napi_invalid_arg, "Expected a size"};
  if (t == napi_bigint) {
    uint64_t size = 0;
    bool lossless = false;
    if (napi_get_value_bigint_uint64(env, v, &size, &lossless) != napi_ok || !lossless) {
      return JsError{napi_invalid_arg, "size must be a non-negative integer below 2^64"};
    }
    return size;
  }
  double d = 0;
  if (napi_get_value_double(env, v, &d) != napi_ok || !(d >= 0) ||
      d != static_cast<double>(static_cast<uint64_t>(std::min(d, 9007199254740991.0)))) {
    return JsError{napi_invalid_arg, "size must be a non-negative safe integer"};
  }
  return static_cast<uint64_t>(d);
}

napi_value throw_js(napi_env env, const JsError& e) {
  throw_error(env, e);
  return nullptr;
}

napi_value start(napi_env env, napi_value (&args)[8]) {
  auto pool = pool_of(env, args[6]);
  if (!pool) return throw_js(env, {napi_invalid_arg, "Expected a source thread pool"});
  auto size = size_argument(env, args[1]);
  if (auto* e = std::get_if<JsError>(&size)) return throw_js(env, *e);
  double block = 0;
  if (napi_get_value_double(env, args[2], &block) != napi_ok || !(block >= 0) ||
      block > (1 << 24)) {
    return throw_js(env, {napi_invalid_arg, "blockSize must be a number from 0 to 2^24"});
  }
  auto opts = read_options(env, args[3]);
  if (auto* e = std::get_if<JsError>(&opts)) return throw_js(env, *e);
  bool sums_at_end = false;
  napi_get_value_bool(env, args[7], &sums_at_end);
  void* held_sums = nullptr;
  auto sums = sums_at_end ? std::optional<vorlix_core::hash::ContentSums>()
                          : finish_stream_sums(env, args[5]);
  if (auto* e = std::get_if<JsError>(&sums)) return throw_js(env, *e);
  if (sums_at_end) {
    auto held = held_stream_sums(env, args[5]);
    if (auto* e = std::get_if<JsError>(&held)) return throw_js(env, *e);
    held_sums = std::get<void*>(held);
  }
  napi_valuetype t;
  if (napi_typeof(env, args[0], &t) != napi_ok || t != napi_function ||
      napi_typeof(env, args[4], &t) != napi_ok || t != napi_function) {
    return throw_js(env, {napi_function_expected, "Expected a read function and a callback"});
  }

  auto state = std::make_unique<ParseState>();
  auto done = channel_function(env, "done", Done, state->channel);
  if (auto* e = std::get_if<JsError>(&done)) return throw_js(env, *e);
  auto abort = channel_function(env, "abort", Abort, state->channel);
  if (auto* e = std::get_if<JsError>(&abort)) return throw_js(env, *e);
  if (auto s = napi_create_reference(env, std::get<napi_value>(done), 1, &state->done);
      s != napi_ok) {
    finalize_state(env, state.release(), nullptr);
    return throw_js(env, {s, "Failed to hold the read callback"});
  }
  if (auto s = napi_create_reference(env, args[4], 1, &state->callback); s != napi_ok) {
    finalize_state(env, state.release(), nullptr);
    return throw_js(env, {s, "Failed to hold the completion callback"});
  }
  if (held_sums) {
    if (auto s = napi_create_reference(env, args[5], 1, &state->sums); s != napi_ok) {
      finalize_state(env, state.release(), nullptr);
      return throw_js(env, {s, "Failed to hold the stream sums"});
    }
  }
  napi_value name;
  napi_create_string_utf8(env, "vorlix.parseSource", NAPI_AUTO_LENGTH, &name);
  ParseState* raw = state.get();
  if (auto s = napi_create_threadsafe_function(env, args[0], nullptr, name, 0, 1, raw,
                                               finalize_state, raw, call_js, &raw->tsfn);
      s != napi_ok) {
    finalize_state(env, state.release(), nullptr);
    return throw_js(env, {s, "Failed to create the read function"});
  }
  state.release();  // the thread-safe function's finalizer owns it now
  try {
    ThreadPool::submit(pool, [tsfn = raw->tsfn, channel = raw->channel,
                              size = std::get<uint64_t>(size), block = static_cast<size_t>(block),
                              options = std::move(std::get<vorlix_core::ParseOptions>(opts)),
                              sums = std::get<std::optional<vorlix_core::hash::ContentSums>>(sums),
                              held_sums]() mutable {
      run_parse(tsfn, std::move(channel), size, block, std::move(options), std::move(sums),
                held_sums);
    });
  } catch (...) {
    napi_release_threadsafe_function(raw->tsfn, napi_tsfn_abort);
    return throw_js(env, current_exception_error());
  }
  return std::get<napi_value>(abort);
}

}  // namespace

napi_value ParseSourceAsync(napi_env env, napi_callback_info info) {
  size_t argc = 8;
  napi_value args[8];
  if (napi_get_cb_info(env, info, &argc, args, nullptr, nullptr) != napi_ok) return nullptr;
  for (size_t i = argc; i < 8; ++i)
    napi_get_undefined(env, &args[i]);
  try {
    return start(env, args);
  } catch (...) {
    return throw_js(env, current_exception_error());
  }
}

}  // namespace vorlix_node
