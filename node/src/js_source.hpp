#pragma once
// parseSource: the core runs on a thread of the binding's own pool and reads a JS { size, read }
// source through a thread-safe function, waiting for each read to settle.
#include <node_api.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vorlix/source.hpp"

namespace vorlix_node {

// The hand-over of one read between the parse thread and the JS thread.
struct ReadChannel {
  std::mutex mutex;
  std::condition_variable settled_cv;
  std::atomic<bool> cancel{false};
  // The read in flight: its number (0 when none), where its bytes go, and its outcome.
  uint64_t seq = 0;
  uint8_t* dest = nullptr;
  size_t want = 0;
  bool settled = false;
  std::optional<std::string> error;
  // The thread-safe function was released, refused a call or was finalized (its environment
  // ending): it must never be called again.
  bool js_gone = false;

  // Stops the parse: a waiting read fails at once, later ones are not issued.
  void abort();
};

// Asks the JS thread for `length` bytes at `offset` under read number `seq`; false when the JS
// side cannot be reached (its environment is shutting down).
using ReadRequest = bool (*)(void* ctx, uint64_t seq, uint64_t offset, size_t length);

// A ByteSource over JS reads. Every fetch is a round trip, so reads go through a few windows of
// at least `block` bytes (a request spanning several missing windows costs one fetch), and a
// run of fetches that continue each other grows, so a full read of the content (hashing) takes
// few large fetches. Large reads bypass the windows.
class JsSource final : public vorlix_core::ByteSource {
 public:
  static constexpr size_t kMinWindow = 65536;
  static constexpr size_t kMaxRun = 1 << 20;
  static constexpr size_t kDirect = 1 << 20;
  static constexpr size_t kSlots = 4;
  static constexpr size_t kMaxAhead = 4 << 20;

  JsSource(ReadChannel& channel, ReadRequest request, void* ctx, uint64_t size, size_t block);

  vorlix_core::IoResult<size_t> read(std::span<uint8_t> buf) override;
  vorlix_core::IoResult<uint64_t> seek(int64_t offset, vorlix_core::Whence whence) override;
  vorlix_core::IoResult<size_t> read_at(uint64_t offset, std::span<uint8_t> buf) override;
  // Each read's length is checked against what was asked.
  bool length_may_change() const override { return false; }
  // Asks for the zero bytes at the end: a stream's source answers once it has passed all its
  // bytes through the sums, so the parse thread may then finish them.
  bool reached_end();
  // Fetches a range the walk reads piece by piece in one read, up to kMaxAhead bytes.
  void will_read(uint64_t offset, uint64_t length) override;

 private:
  struct Slot {
    uint64_t start = 0;
    std::vector<uint8_t> bytes;
    uint64_t last_use = 0;
  };
  // One JS read of exactly dest.size() bytes.
  vorlix_core::IoResult<size_t> fetch(uint64_t offset, std::span<uint8_t> dest);
  // The slot holding `at`, filled for a request of `need` bytes from there.
  vorlix_core::IoResult<Slot*> window_for(uint64_t at, uint64_t need);

  ReadChannel& channel_;
  ReadRequest request_;
  void* ctx_;
  uint64_t size_;
  size_t window_;
  uint64_t pos_ = 0;
  uint64_t next_seq_ = 0;
  uint64_t clock_ = 0;
  uint64_t run_end_ = UINT64_MAX;  // where the last window fetch ended
  unsigned run_ = 0;               // fetches in a row that continued the previous one
  Slot slots_[kSlots];
};

// parseSourceAsync(read, size, blockSize, options, callback, sums, pool, sumsAtEnd) -> abort(): the
// parse runs
// on a thread of `pool` (from sourcePool); `read(offset, length, seq, done)` must end in one call
// of done(seq, errorText | null, bytes); `callback(error, report, cancelled)` runs once. Stream
// sums, when not undefined, are the content's file facts: the parse then skips its own content
// pass. With sumsAtEnd the stream is still arriving: the sums are finished after the parse, once
// the read of the source's end (see JsSource::reached_end) has been answered.
napi_value ParseSourceAsync(napi_env env, napi_callback_info info);

}  // namespace vorlix_node
