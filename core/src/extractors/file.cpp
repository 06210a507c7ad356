// Format-independent facts: stated size, sniffed type, byte entropy, SHA-256 and CRC-32, all
// from one streamed pass.
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string>

#include "extractors/entropy.hpp"
#include "extractors/extractors.hpp"
#include "hash/sha256_pass.hpp"
#include "limits.hpp"
#include "read_ahead.hpp"
#include "text.hpp"

namespace vorlix_core::extractors {

// Starts at negative zero so single-valued input gives -0.0.
//
// A small input has few distinct counts (a 600-byte photo: 113 used byte values, 13 counts), and
// log2 is most of the cost. A term depends on its count alone, so each small count's term is
// computed once, by the same operations, and the terms are still summed in byte-value order:
// the result is bit for bit the plain loop's.
double entropy_sum(const std::array<uint64_t, 256>& counts, uint64_t total) {
  const double n = static_cast<double>(total);
  const auto term = [n](uint64_t c) {
    const double p = static_cast<double>(c) / n;
    return p * std::log2(p);
  };
  constexpr size_t kMemoCounts = 256;
  std::array<double, kMemoCounts> memo;
  std::array<bool, kMemoCounts> known{};
  double acc = -0.0;
  for (uint64_t c : counts) {
    if (c == 0) continue;
    if (c >= kMemoCounts) {
      acc -= term(c);
      continue;
    }
    if (!known[c]) {
      memo[c] = term(c);
      known[c] = true;
    }
    acc -= memo[c];
  }
  return acc;
}

double entropy_bits_per_byte(const std::array<uint64_t, 256>& counts, uint64_t total) {
  return round3(entropy_sum(counts, total));
}

const char* FileExtractor::name() const {
  return "file";
}

bool FileExtractor::supports(const ProbeContext&) const {
  return true;
}

namespace {

std::string changed_during_read(uint64_t expected, const std::string& found) {
  return "content changed during the read: expected " + std::to_string(expected) + " bytes, " +
         found;
}

// Without the content pass, one read of two bytes at the stated end still tells whether the
// content is as long as stated: from offset N - 1 there must be exactly one byte (none from 0
// when N is 0). Gives the error text when it is not.
IoResult<std::optional<std::string>> check_length(ByteSource& src, uint64_t expected) {
  std::array<uint8_t, 2> probe{};
  auto r = src.read_at(expected == 0 ? 0 : expected - 1, probe);
  if (!r) return Err{std::move(r).error()};
  const size_t want = expected == 0 ? 0 : 1;
  if (*r == want) return std::optional<std::string>();
  return std::optional(changed_during_read(expected, *r < want ? "found fewer" : "found more"));
}

}  // namespace

ExtractResult FileExtractor::extract(ByteSource& src, const ProbeContext& ctx) const {
  Namespace ns("file");
  ns.set("size_bytes", ctx.length);
  if (ctx.mime && ctx.extension) {
    ns.set("mime_detected", *ctx.mime);
    ns.set("extension_canonical", *ctx.extension);
  }
  // Without hashes the content is not read, so the cost does not grow with the size.
  if (!ctx.hashes) {
    if (!src.length_may_change()) return ns;
    auto changed = check_length(src, ctx.length);
    if (!changed) return Err{ExtractError(std::move(changed).error())};
    if (*changed) ns.set_error(std::move(**changed));
    return ns;
  }

  auto pass = hash::Sha256Pass::create();
  if (!pass) return Err{ExtractError::other("sha256 unavailable")};
  // Bytes already in memory are hashed where they are. A large file is read on a second
  // thread, a few pieces ahead, so the kernel's copies overlap the hashing; other sources are
  // read into one buffer.
  const auto memory = src.memory();
  const auto ahead =
      !memory && ctx.length >= limits::kReadAheadBytes ? ReadAhead::start(src) : nullptr;
  std::vector<uint8_t> buf(memory || ahead ? 0 : limits::kStreamChunk);
  uint64_t total = 0;
  // Up to `limit` bytes (at least 1) from where the pass stands; a piece read ahead may be
  // longer. Empty at the end of the content.
  const auto next = [&](uint64_t limit) -> IoResult<std::span<const uint8_t>> {
    if (memory) {
      // Asked again each step: a cancelled parse withdraws the bytes, and the read below fails.
      if (const auto bytes = src.memory()) {
        return bytes->subspan(total, std::min(limit, bytes->size() - total));
      }
      buf.resize(limits::kStreamChunk);
    }
    if (ahead) return ahead->next();
    auto r = src.read(std::span<uint8_t>(buf).first(limit));
    if (!r) return Err{std::move(r).error()};
    return std::span<const uint8_t>(buf.data(), *r);
  };
  // The digests cover the stated size and no more, so that they describe the bytes
  // `size_bytes` counts and the pass ends whatever a writer appends. A content that ends
  // earlier, or goes on (seen by reading one byte past the stated end), changed during the
  // read: the facts stay and an error says so.
  bool longer = false;
  for (;;) {
    const uint64_t left = ctx.length - total;
    auto r = next(left == 0 ? 1 : std::min(limits::kStreamChunk, left));
    if (!r) return Err{ExtractError(std::move(r).error())};
    if (r->empty()) break;
    const auto chunk = r->first(std::min<uint64_t>(r->size(), left));
    longer = chunk.size() < r->size();
    pass->update(chunk);
    total += chunk.size();
    if (longer) break;
  }
  set_content_facts(ns, pass->finish());
  if (total < ctx.length) {
    ns.set_error(changed_during_read(ctx.length, "read " + std::to_string(total)));
  } else if (longer) {
    ns.set_error(changed_during_read(ctx.length, "found more"));
  }
  return ns;
}

void set_content_facts(Namespace& ns, const hash::ContentSums& sums) {
  if (sums.total > 0) {
    ns.set("entropy_bits_per_byte", entropy_bits_per_byte(sums.counts, sums.total));
  }
  ns.set("sha256", to_hex(sums.sha256));
  const uint32_t crc = sums.crc32;
  const std::array<uint8_t, 4> crc_be = {static_cast<uint8_t>(crc >> 24),
                                         static_cast<uint8_t>(crc >> 16),
                                         static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
  ns.set("crc32", to_hex(crc_be));
}

}  // namespace vorlix_core::extractors
