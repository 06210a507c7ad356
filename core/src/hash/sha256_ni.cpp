// Built with -msha -msse4.1 -mssse3 -mpclmul on x86; nothing here runs unless
// sha_ni_available().
#include "hash/sha256_ni.hpp"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define VORLIX_SHA_NI 1
#endif

namespace vorlix_core::hash {

#if VORLIX_SHA_NI
namespace {

alignas(16) constexpr std::array<uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

struct Lanes {
  __m128i abef;
  __m128i cdgh;
};

// The last sixteen message words, four per register (a plain array: std::array would drop the
// vector type's alignment attribute).
struct Schedule {
  __m128i w[4];
};

// What the block loop does besides SHA-256: nothing (padding blocks), or count and fold the
// CRC, the first block starting the CRC lanes.
enum class Extra { None, SumFirst, Sum };

// Folding constants of the bit-reflected CRC-32 polynomial: x^(512+64) and x^512 mod P for the
// four-lane fold, x^(128+64) and x^128 for folding lanes together, x^64 for 64 to 32 bits, and
// P with its Barrett constant.
alignas(16) constexpr uint64_t kFold4[2] = {0x0154442bd4, 0x01c6e41596};
alignas(16) constexpr uint64_t kFold1[2] = {0x01751997d0, 0x00ccaa009e};
alignas(16) constexpr uint64_t kFold64[2] = {0x0163cd6124, 0};
alignas(16) constexpr uint64_t kBarrett[2] = {0x01db710641, 0x01f7011641};

struct CrcLanes {
  __m128i x[4];
};

inline void count_word(const uint8_t* p, CountTables& counts) {
  uint32_t w;
  std::memcpy(&w, p, sizeof w);
  ++counts[0][w & 0xff];
  ++counts[1][(w >> 8) & 0xff];
  ++counts[2][(w >> 16) & 0xff];
  ++counts[3][w >> 24];
}

// Rounds 4g..4g+3 and the message-schedule work that overlaps them (the usual SHA-NI pattern:
// msg1 three groups ahead, msg2 one group ahead). The histogram takes the block's bytes 4g..4g+3
// and, in the first four groups, the CRC folds the block's 16-byte lane g, so their work
// interleaves with the round latency.
template <int G, Extra kExtra>
inline void round_group(Lanes& s, Schedule& sched, const uint8_t* block, CountTables* counts,
                        CrcLanes* crc) {
  __m128i* m = sched.w;
  if constexpr (G < 4) {
    const __m128i kByteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * G));
    m[G] = _mm_shuffle_epi8(raw, kByteSwap);
    if constexpr (kExtra == Extra::SumFirst) {
      crc->x[G] = raw;
    } else if constexpr (kExtra == Extra::Sum) {
      const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold4));
      crc->x[G] = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(crc->x[G], k, 0x00),
                                              _mm_clmulepi64_si128(crc->x[G], k, 0x11)),
                                raw);
    }
  }
  __m128i msg = _mm_add_epi32(
      m[G % 4], _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants.data() + 4 * G)));
  s.cdgh = _mm_sha256rnds2_epu32(s.cdgh, s.abef, msg);
  if constexpr (G >= 3 && G <= 14) {
    const __m128i tmp = _mm_alignr_epi8(m[G % 4], m[(G + 3) % 4], 4);
    m[(G + 1) % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(m[(G + 1) % 4], tmp), m[G % 4]);
  }
  msg = _mm_shuffle_epi32(msg, 0x0e);
  s.abef = _mm_sha256rnds2_epu32(s.abef, s.cdgh, msg);
  if constexpr (G >= 1 && G <= 12) {
    m[(G + 3) % 4] = _mm_sha256msg1_epu32(m[(G + 3) % 4], m[G % 4]);
  }
  if constexpr (kExtra != Extra::None) count_word(block + 4 * G, *counts);
}

template <Extra kExtra, int... G>
inline void compress_block(Lanes& s, const uint8_t* block, CountTables* counts, CrcLanes* crc,
                           std::integer_sequence<int, G...>) {
  const Lanes saved = s;
  Schedule sched;
  (round_group<G, kExtra>(s, sched, block, counts, crc), ...);
  s.abef = _mm_add_epi32(s.abef, saved.abef);
  s.cdgh = _mm_add_epi32(s.cdgh, saved.cdgh);
}

CrcLanes load_lanes(const CrcFold& f) {
  CrcLanes l;
  for (int i = 0; i < 4; ++i)
    l.x[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f.lanes.data() + 2 * i));
  return l;
}

void store_lanes(const CrcLanes& l, CrcFold& f) {
  for (int i = 0; i < 4; ++i)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(f.lanes.data() + 2 * i), l.x[i]);
}

void compress(Sha256State& state, std::span<const uint8_t> blocks, CountTables* counts,
              CrcFold* fold) {
  // The instructions keep the state as ABEF / CDGH lane pairs.
  __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0])),
                                  0xb1);  // CDAB
  __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4])),
                                   0x1b);  // HGFE
  Lanes s{_mm_alignr_epi8(tmp, efgh, 8), _mm_blend_epi16(efgh, tmp, 0xf0)};

  constexpr auto kGroups = std::make_integer_sequence<int, 16>{};
  size_t off = 0;
  if (!fold) {
    for (; off + kSha256Block <= blocks.size(); off += kSha256Block) {
      compress_block<Extra::None>(s, blocks.data() + off, nullptr, nullptr, kGroups);
    }
  } else if (blocks.size() >= kSha256Block) {
    CrcLanes crc = load_lanes(*fold);
    if (!fold->started) {
      compress_block<Extra::SumFirst>(s, blocks.data(), counts, &crc, kGroups);
      crc.x[0] = _mm_xor_si128(crc.x[0], _mm_cvtsi32_si128(static_cast<int>(fold->start)));
      fold->started = true;
      off = kSha256Block;
    }
    for (; off + kSha256Block <= blocks.size(); off += kSha256Block) {
      compress_block<Extra::Sum>(s, blocks.data() + off, counts, &crc, kGroups);
    }
    store_lanes(crc, *fold);
  }

  tmp = _mm_shuffle_epi32(s.abef, 0x1b);                     // FEBA
  s.cdgh = _mm_shuffle_epi32(s.cdgh, 0xb1);                  // DCHG
  const __m128i abcd = _mm_blend_epi16(tmp, s.cdgh, 0xf0);   // DCBA
  const __m128i efgh_out = _mm_alignr_epi8(s.cdgh, tmp, 8);  // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), abcd);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), efgh_out);
}

// Folds the four lanes into one, then 128 bits to 64 and 64 to 32 (Barrett reduction).
uint32_t reduce(const CrcLanes& l) {
  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold1));
  __m128i x = l.x[0];
  for (int i = 1; i < 4; ++i) {
    x = _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), l.x[i]);
  }
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, k, 0x10));
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFold64));
  x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), k, 0x00), _mm_srli_si128(x, 4));
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), k, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), k, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

bool detect_sha_ni() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool sse = (c & bit_SSSE3) && (c & bit_SSE4_1) && (c & bit_PCLMUL);
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return sse && (b & bit_SHA);
}

}  // namespace

// CPUID traps to the hypervisor in a virtual machine (tens of microseconds, more than a whole
// small parse), so the answer is asked once per process; it cannot change while we run.
bool sha_ni_available() {
  static const bool available = detect_sha_ni();
  return available;
}

void sha256_ni_blocks(Sha256State& state, std::span<const uint8_t> blocks) {
  compress(state, blocks, nullptr, nullptr);
}

void sha256_ni_blocks_summing(Sha256State& state, std::span<const uint8_t> blocks,
                              CountTables& counts, CrcFold& crc) {
  compress(state, blocks, &counts, &crc);
}

uint32_t crc_fold_register(const CrcFold& crc) {
  return crc.started ? reduce(load_lanes(crc)) : crc.start;
}

#else

bool sha_ni_available() {
  return false;
}
void sha256_ni_blocks(Sha256State&, std::span<const uint8_t>) {}
void sha256_ni_blocks_summing(Sha256State&, std::span<const uint8_t>, CountTables&, CrcFold&) {}
uint32_t crc_fold_register(const CrcFold& crc) {
  return crc.start;
}

#endif

}  // namespace vorlix_core::hash
