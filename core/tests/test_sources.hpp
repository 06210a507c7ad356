#pragma once
// Byte sources for driver tests: one that fails on demand.
#include <cerrno>

#include "vorlix/source.hpp"

namespace vorlix_core::testing {

// Serves `data`, but every read after the first `good_reads` fails with EIO.
class FailingSource final : public ByteSource {
 public:
  FailingSource(std::span<const uint8_t> data, int good_reads) : inner_(data), left_(good_reads) {}
  IoResult<size_t> read(std::span<uint8_t> buf) override {
    if (left_ <= 0) return Err{IoError::os(EIO)};
    --left_;
    return inner_.read(buf);
  }
  IoResult<uint64_t> seek(int64_t offset, Whence whence) override {
    return inner_.seek(offset, whence);
  }

 private:
  MemorySource inner_;
  int left_;
};

}  // namespace vorlix_core::testing
