#include "cancellable_source.hpp"

namespace vorlix_core {

IoResult<size_t> CancellableSource::read(std::span<uint8_t> buf) {
  if (cancelled()) return Err{cancelled_error()};
  return inner_.read(buf);
}

IoResult<uint64_t> CancellableSource::seek(int64_t offset, Whence whence) {
  return inner_.seek(offset, whence);
}

IoResult<size_t> CancellableSource::read_to_end(std::vector<uint8_t>& out) {
  if (cancelled()) return Err{cancelled_error()};
  // In memory the inner source copies in one step; otherwise the generic loop reads through
  // read() above, so a long read stops within one step of the flag being set.
  std::span<const uint8_t> rest;
  if (inner_.remaining_in_memory(rest)) return inner_.read_to_end(out);
  return ByteSource::read_to_end(out);
}

IoResult<size_t> CancellableSource::read_at(uint64_t offset, std::span<uint8_t> buf) {
  if (cancelled()) return Err{cancelled_error()};
  return inner_.read_at(offset, buf);
}

std::optional<std::span<const uint8_t>> CancellableSource::memory() const {
  return inner_.memory();
}

bool CancellableSource::remaining_in_memory(std::span<const uint8_t>& out) {
  return inner_.remaining_in_memory(out);
}

}  // namespace vorlix_core
