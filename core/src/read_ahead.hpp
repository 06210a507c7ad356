#pragma once
// Sequential reading of a source on a second thread, a buffer ahead of the consumer: the
// kernel's copy of the next piece overlaps the hashing of this one. The reader thread is the
// only user of the source until the ReadAhead is destroyed. Pieces are large because every
// hand-over may wake a sleeping thread, which costs tens of microseconds of CPU in a virtual
// machine: with 256 KiB pieces that made the parse of a cached file 20% dearer in CPU time.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "vorlix/source.hpp"

namespace vorlix_core {

class ReadAhead {
 public:
  static constexpr size_t kBuffers = 2;
  static constexpr size_t kBufferBytes = 4096 * 1024;

  // Starts reading `src` from its current position; null when no thread can be started (the
  // caller then reads on its own thread).
  static std::unique_ptr<ReadAhead> start(ByteSource& src);

  explicit ReadAhead(ByteSource& src);
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  // Stops the reader (between two reads) and waits for it.
  ~ReadAhead();

  // The next piece: empty at the end of the source, an error where a read failed. The view is
  // valid until the next call.
  IoResult<std::span<const uint8_t>> next();

 private:
  struct Slot {
    std::vector<uint8_t> bytes;
    size_t length = 0;
    std::optional<IoError> error;
  };

  void run() noexcept;

  ByteSource& src_;
  Slot slots_[kBuffers];
  // Pieces the reader has finished and the consumer has released; each only grows. The reader
  // fills slot i % kBuffers once released > i - kBuffers.
  std::atomic<uint64_t> filled_{0};
  std::atomic<uint64_t> released_{0};
  std::atomic<bool> stop_{false};
  uint64_t taken_ = 0;  // the consumer's next piece
  std::thread thread_;
};

}  // namespace vorlix_core
