// Format-independent facts: stated size, sniffed type, byte entropy, SHA-256 and CRC-32, all
// from one streamed pass.
#include <libdeflate.h>
#include <openssl/evp.h>

#include <array>
#include <cmath>
#include <memory>

#include "extractors/extractors.hpp"
#include "limits.hpp"
#include "text.hpp"

namespace vorlix_core::extractors {

namespace {

struct EvpCtxDeleter {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

// Four interleaved counter tables: consecutive equal bytes then hit different counters, which
// removes the store-to-load dependency that makes a single table slow on runs of one value.
class ByteHistogram {
 public:
  void add(std::span<const uint8_t> bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    for (; i + 4 <= n; i += 4) {
      ++t_[0][bytes[i]];
      ++t_[1][bytes[i + 1]];
      ++t_[2][bytes[i + 2]];
      ++t_[3][bytes[i + 3]];
    }
    for (; i < n; ++i)
      ++t_[0][bytes[i]];
  }
  uint64_t count(size_t value) const {
    return t_[0][value] + t_[1][value] + t_[2][value] + t_[3][value];
  }

 private:
  std::array<std::array<uint64_t, 256>, 4> t_{};
};

}  // namespace

// Shannon entropy in bits per byte. Starts at negative zero so single-valued input gives -0.0.
double entropy_bits_per_byte(const std::array<uint64_t, 256>& counts, uint64_t total) {
  double acc = -0.0;
  const double n = static_cast<double>(total);
  for (uint64_t c : counts) {
    if (c == 0) continue;
    const double p = static_cast<double>(c) / n;
    acc -= p * std::log2(p);
  }
  return round3(acc);
}

const char* FileExtractor::name() const {
  return "file";
}

bool FileExtractor::supports(const ProbeContext&) const {
  return true;
}

ExtractResult FileExtractor::extract(ByteSource& src, const ProbeContext& ctx) const {
  Namespace ns("file");
  ns.set("size_bytes", ctx.length);
  if (ctx.mime && ctx.extension) {
    ns.set("mime_detected", *ctx.mime);
    ns.set("extension_canonical", *ctx.extension);
  }
  // Without hashes the content is never read: the cost no longer grows with the size.
  if (!ctx.hashes) return ns;

  std::unique_ptr<EVP_MD_CTX, EvpCtxDeleter> sha(EVP_MD_CTX_new());
  if (!sha || EVP_DigestInit_ex(sha.get(), EVP_sha256(), nullptr) != 1) {
    return Err{ExtractError::other("sha256 unavailable")};
  }
  uint32_t crc = 0;
  auto hist = std::make_unique<ByteHistogram>();
  std::vector<uint8_t> buf(limits::kStreamChunk);
  uint64_t total = 0;
  for (;;) {
    if (ctx.cancel && ctx.cancel->load(std::memory_order_relaxed)) {
      return Err{ExtractError(IoError::fixed("cancelled"))};
    }
    auto r = src.read(buf);
    if (!r) return Err{ExtractError(std::move(r).error())};
    const size_t n = *r;
    if (n == 0) break;
    const std::span<const uint8_t> chunk(buf.data(), n);
    EVP_DigestUpdate(sha.get(), chunk.data(), n);
    crc = libdeflate_crc32(crc, chunk.data(), n);
    hist->add(chunk);
    total += n;
  }

  if (total > 0) {
    std::array<uint64_t, 256> counts{};
    for (size_t v = 0; v < 256; ++v)
      counts[v] = hist->count(v);
    ns.set("entropy_bits_per_byte", entropy_bits_per_byte(counts, total));
  }
  std::array<uint8_t, EVP_MAX_MD_SIZE> digest{};
  unsigned int len = 0;
  EVP_DigestFinal_ex(sha.get(), digest.data(), &len);
  ns.set("sha256", to_hex(std::span<const uint8_t>(digest.data(), len)));
  const std::array<uint8_t, 4> crc_be = {static_cast<uint8_t>(crc >> 24),
                                         static_cast<uint8_t>(crc >> 16),
                                         static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
  ns.set("crc32", to_hex(crc_be));
  return ns;
}

}  // namespace vorlix_core::extractors
