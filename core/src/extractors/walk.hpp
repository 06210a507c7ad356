#pragma once
// How an extractor opens its input: a cursor over the whole source, or over its leading bytes for
// formats whose fields all sit in a short header. Each leaves the extractor only its walk.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <utility>

#include "cursor.hpp"
#include "source_reader.hpp"
#include "vorlix/extractor.hpp"
#include "vorlix/source.hpp"

namespace vorlix_core::extractors {

// How a failed read is worded in the report: as an I/O error ("I/O error: ..."), or as its text
// alone for a format whose every failure is a plain message.
enum class IoWording { Io, Plain };

// Runs `walk(Cursor&)` over the whole source, read through RandomAccess so that a walk fetches
// only the bytes it looks at. A failed read looks like the end of the data to the walk; the
// failure is what the extractor reports, whatever the walk made of it.
template <class Walk>
ExtractResult walk_source(ByteSource& src, const ProbeContext& ctx, Walk&& walk,
                          IoWording wording = IoWording::Io) {
  RandomAccess ra(src, ctx.length);
  Cursor c{SourceReader(ra)};
  ExtractResult result = std::forward<Walk>(walk)(c);
  if (const auto& e = ra.error()) {
    return Err{wording == IoWording::Io ? ExtractError(*e) : ExtractError::other(e->display())};
  }
  return result;
}

// Up to buf.size() leading bytes of the source. In-memory sources hand out a view; others are
// read into `buf` until it is full or the data ends, so a large file is never read whole.
inline IoResult<std::span<const uint8_t>> read_prefix(ByteSource& src, std::span<uint8_t> buf) {
  if (auto view = src.memory()) return view->first(std::min(view->size(), buf.size()));
  size_t done = 0;
  while (done < buf.size()) {
    auto r = src.read(buf.subspan(done));
    if (!r) return Err{std::move(r).error()};
    if (*r == 0) break;
    done += *r;
  }
  return std::span<const uint8_t>(buf.first(done));
}

// Runs `walk(Cursor&)` over up to N leading bytes of the source; a failed read is reported as an
// I/O error.
template <size_t N, class Walk>
ExtractResult walk_prefix(ByteSource& src, Walk&& walk) {
  std::array<uint8_t, N> buf{};
  auto prefix = read_prefix(src, buf);
  if (!prefix) return Err{ExtractError(std::move(prefix).error())};
  Cursor c(*prefix);
  return std::forward<Walk>(walk)(c);
}

// Runs `walk(Cursor&)` over exactly N leading bytes, read from the source even when they sit in
// memory, so that the source stands just after them; fewer is an I/O error ("failed to fill
// whole buffer"), not a short header.
template <size_t N, class Walk>
ExtractResult walk_exact(ByteSource& src, Walk&& walk) {
  std::array<uint8_t, N> buf{};
  auto read = src.read_exact(buf);
  if (!read) return Err{ExtractError(std::move(read).error())};
  Cursor c(buf);
  return std::forward<Walk>(walk)(c);
}

}  // namespace vorlix_core::extractors
