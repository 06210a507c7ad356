#pragma once
// A source that stops serving bytes once the caller's cancel flag is set, so every extractor's
// walk ends at its next read without knowing about cancellation. Bytes in memory are withdrawn
// too: readers of memory() ask again before each step.
#include <atomic>

#include "vorlix/source.hpp"

namespace vorlix_core {

class CancellableSource final : public ByteSource {
 public:
  // Both must outlive this object; `flag` may be null (never cancelled).
  CancellableSource(ByteSource& inner, const std::atomic<bool>* flag)
      : inner_(inner), flag_(flag) {}

  IoResult<size_t> read(std::span<uint8_t> buf) override;
  IoResult<uint64_t> seek(int64_t offset, Whence whence) override;
  IoResult<size_t> read_at(uint64_t offset, std::span<uint8_t> buf) override;
  std::optional<std::span<const uint8_t>> memory() const override;
  bool length_may_change() const override { return inner_.length_may_change(); }
  void will_read(uint64_t offset, uint64_t length) override {
    if (!cancelled()) inner_.will_read(offset, length);
  }

  bool cancelled() const { return flag_ != nullptr && flag_->load(std::memory_order_relaxed); }

 private:
  static IoError cancelled_error() { return IoError::fixed("cancelled"); }

  ByteSource& inner_;
  const std::atomic<bool>* flag_;
};

}  // namespace vorlix_core
