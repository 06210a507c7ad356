#include "cancellable_source.hpp"

namespace vorlix_core {

IoResult<size_t> CancellableSource::read(std::span<uint8_t> buf) {
  if (cancelled()) return Err{cancelled_error()};
  return inner_.read(buf);
}

IoResult<uint64_t> CancellableSource::seek(int64_t offset, Whence whence) {
  return inner_.seek(offset, whence);
}

IoResult<size_t> CancellableSource::read_at(uint64_t offset, std::span<uint8_t> buf) {
  if (cancelled()) return Err{cancelled_error()};
  return inner_.read_at(offset, buf);
}

// Bytes in memory are read without a call that could fail, so once cancelled they are withdrawn:
// readers that ask again go through read_at, which fails.
std::optional<std::span<const uint8_t>> CancellableSource::memory() const {
  if (cancelled()) return std::nullopt;
  return inner_.memory();
}

}  // namespace vorlix_core
