#include "hash/sha256_pass.hpp"

#include <libdeflate.h>
#include <openssl/evp.h>

#include <algorithm>

namespace vorlix_core::hash {
namespace {

struct EvpCtxDeleter {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

constexpr Sha256State kInitialState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// The CRC runs over sub-chunks of this size right after the SHA loop has pulled them into L1.
constexpr size_t kCrcSubChunk = 8192;

void count_bytes(std::span<const uint8_t> bytes, CountTables& t) {
  size_t i = 0;
  const size_t n = bytes.size();
  for (; i + 4 <= n; i += 4) {
    ++t[0][bytes[i]];
    ++t[1][bytes[i + 1]];
    ++t[2][bytes[i + 2]];
    ++t[3][bytes[i + 3]];
  }
  for (; i < n; ++i)
    ++t[0][bytes[i]];
}

}  // namespace

struct Sha256Pass::State {
  std::unique_ptr<EVP_MD_CTX, EvpCtxDeleter> evp;  // null on the SHA-NI path
  Sha256State sha = kInitialState;
  std::array<uint8_t, kSha256Block> pending{};  // a started block, SHA-NI path only
  size_t pending_len = 0;
  uint32_t crc = 0;  // OpenSSL path: libdeflate's CRC of the bytes so far
  CrcFold crc_fold;  // SHA-NI path: the CRC of the whole blocks so far
  uint64_t total = 0;
  CountTables counts{};

  // SHA-NI path: completes a started block first, then compresses whole blocks in place.
  void ni_update(std::span<const uint8_t> bytes) {
    if (pending_len > 0) {
      const size_t take = std::min(bytes.size(), kSha256Block - pending_len);
      std::copy_n(bytes.begin(), take, pending.begin() + static_cast<ptrdiff_t>(pending_len));
      pending_len += take;
      bytes = bytes.subspan(take);
      if (pending_len < kSha256Block) return;
      sha256_ni_blocks_summing(sha, pending, counts, crc_fold);
      pending_len = 0;
    }
    const size_t whole = bytes.size() - bytes.size() % kSha256Block;
    sha256_ni_blocks_summing(sha, bytes.first(whole), counts, crc_fold);
    const auto rest = bytes.subspan(whole);
    std::copy(rest.begin(), rest.end(), pending.begin());
    pending_len = rest.size();
  }

  // Standard padding: 0x80, zeros, and the bit length as a big-endian 64-bit number.
  std::array<uint8_t, 32> ni_finish() {
    count_bytes(std::span<const uint8_t>(pending.data(), pending_len), counts);
    // The blocks' CRC register, then the last partial block's bytes.
    crc = libdeflate_crc32(~crc_fold_register(crc_fold), pending.data(), pending_len);
    std::array<uint8_t, 2 * kSha256Block> tail{};
    std::copy_n(pending.begin(), pending_len, tail.begin());
    tail[pending_len] = 0x80;
    const size_t tail_len = pending_len + 9 <= kSha256Block ? kSha256Block : 2 * kSha256Block;
    const uint64_t bits = total * 8;
    for (size_t i = 0; i < 8; ++i)
      tail[tail_len - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
    sha256_ni_blocks(sha, std::span<const uint8_t>(tail.data(), tail_len));
    std::array<uint8_t, 32> out{};
    for (size_t i = 0; i < 8; ++i) {
      for (size_t k = 0; k < 4; ++k)
        out[4 * i + k] = static_cast<uint8_t>(sha[i] >> (24 - 8 * k));
    }
    return out;
  }
};

Sha256Pass::Sha256Pass(std::unique_ptr<State> state) : s_(std::move(state)) {}
Sha256Pass::Sha256Pass(Sha256Pass&&) noexcept = default;
Sha256Pass& Sha256Pass::operator=(Sha256Pass&&) noexcept = default;
Sha256Pass::~Sha256Pass() = default;

std::optional<Sha256Pass> Sha256Pass::create(Sha256Kernel kernel) {
  const bool ni = sha_ni_available();
  if (kernel == Sha256Kernel::ShaNi && !ni) return std::nullopt;
  auto state = std::make_unique<State>();
  if (kernel == Sha256Kernel::OpenSsl || (kernel == Sha256Kernel::Auto && !ni)) {
    state->evp.reset(EVP_MD_CTX_new());
    if (!state->evp || EVP_DigestInit_ex(state->evp.get(), EVP_sha256(), nullptr) != 1) {
      return std::nullopt;
    }
  }
  return Sha256Pass(std::move(state));
}

void Sha256Pass::update(std::span<const uint8_t> bytes) {
  State& s = *s_;
  s.total += bytes.size();
  while (!bytes.empty()) {
    const auto part = bytes.first(std::min(bytes.size(), kCrcSubChunk));
    if (s.evp) {
      EVP_DigestUpdate(s.evp.get(), part.data(), part.size());
      count_bytes(part, s.counts);
      s.crc = libdeflate_crc32(s.crc, part.data(), part.size());
    } else {
      s.ni_update(part);
    }
    bytes = bytes.subspan(part.size());
  }
}

ContentSums Sha256Pass::finish() {
  State& s = *s_;
  ContentSums out;
  if (s.evp) {
    unsigned int len = 0;
    EVP_DigestFinal_ex(s.evp.get(), out.sha256.data(), &len);
  } else {
    out.sha256 = s.ni_finish();
  }
  out.crc32 = s.crc;
  out.total = s.total;
  for (size_t v = 0; v < 256; ++v)
    out.counts[v] = s.counts[0][v] + s.counts[1][v] + s.counts[2][v] + s.counts[3][v];
  return out;
}

}  // namespace vorlix_core::hash
