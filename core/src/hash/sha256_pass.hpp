#pragma once
// SHA-256, CRC-32 and the byte histogram of a stream, computed in one pass over each chunk
// while it is in cache. With the SHA extensions the histogram runs inside the SHA block loop;
// elsewhere OpenSSL's SHA-256 does the digest.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "hash/sha256_ni.hpp"

namespace vorlix_core::hash {

enum class Sha256Kernel {
  Auto,  // the SHA extensions when the CPU has them, OpenSSL otherwise
  OpenSsl,
  ShaNi,  // only valid where sha_ni_available()
};

struct ContentSums {
  std::array<uint8_t, 32> sha256{};
  uint32_t crc32 = 0;
  std::array<uint64_t, 256> counts{};
  uint64_t total = 0;
};

class Sha256Pass {
 public:
  // Empty when the requested kernel cannot run here or OpenSSL cannot set up a digest.
  static std::optional<Sha256Pass> create(Sha256Kernel kernel = Sha256Kernel::Auto);

  Sha256Pass(Sha256Pass&&) noexcept;
  Sha256Pass& operator=(Sha256Pass&&) noexcept;
  ~Sha256Pass();

  void update(std::span<const uint8_t> bytes);
  // Ends the pass; the object must not be updated afterwards.
  ContentSums finish();

 private:
  struct State;
  explicit Sha256Pass(std::unique_ptr<State> state);
  std::unique_ptr<State> s_;
};

}  // namespace vorlix_core::hash
