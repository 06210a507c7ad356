#include "read_ahead.hpp"

#include <new>
#include <system_error>
#include <utility>

namespace vorlix_core {

ReadAhead::ReadAhead(ByteSource& src) : src_(src) {
  for (Slot& s : slots_)
    s.bytes.resize(kBufferBytes);
}

std::unique_ptr<ReadAhead> ReadAhead::start(ByteSource& src) {
  try {
    auto r = std::make_unique<ReadAhead>(src);
    r->thread_ = std::thread([p = r.get()] { p->run(); });
    return r;
  } catch (const std::system_error&) {
    return nullptr;  // no thread to be had: the caller reads itself
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ReadAhead::~ReadAhead() {
  stop_.store(true, std::memory_order_release);
  released_.fetch_add(kBuffers, std::memory_order_release);  // wakes a reader waiting for room
  released_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void ReadAhead::run() noexcept {
  for (uint64_t i = 0;; ++i) {
    // Wait for the slot's previous piece to be released.
    for (uint64_t r = released_.load(std::memory_order_acquire); i >= r + kBuffers;
         r = released_.load(std::memory_order_acquire)) {
      released_.wait(r, std::memory_order_acquire);
    }
    if (stop_.load(std::memory_order_acquire)) return;
    Slot& slot = slots_[i % kBuffers];
    slot.error.reset();
    try {
      auto n = src_.read(slot.bytes);
      if (n) {
        slot.length = *n;
      } else {
        slot.length = 0;
        slot.error = std::move(n).error();
      }
    } catch (...) {
      slot.length = 0;
      slot.error = IoError::fixed("out of memory");
    }
    const bool last = slot.length == 0;
    filled_.store(i + 1, std::memory_order_release);
    filled_.notify_one();
    if (last) return;
  }
}

IoResult<std::span<const uint8_t>> ReadAhead::next() {
  if (taken_ > 0) {
    released_.store(taken_, std::memory_order_release);  // the previous view is done with
    released_.notify_one();
  }
  for (uint64_t f = filled_.load(std::memory_order_acquire); f <= taken_;
       f = filled_.load(std::memory_order_acquire)) {
    filled_.wait(f, std::memory_order_acquire);
  }
  Slot& slot = slots_[taken_ % kBuffers];
  if (slot.error) return Err{*slot.error};
  if (slot.length == 0) return std::span<const uint8_t>();
  ++taken_;
  return std::span<const uint8_t>(slot.bytes.data(), slot.length);
}

}  // namespace vorlix_core
