#pragma once
// The leading bytes of a source, for formats whose fields all sit in a short header.
#include <algorithm>
#include <cstdint>
#include <span>

#include "vorlix/source.hpp"

namespace vorlix_core::extractors {

// Up to buf.size() leading bytes of the source. In-memory sources hand out a view; others are
// read into `buf` until it is full or the data ends. Formats whose fields all sit in a short
// header use this so that a large file is never read whole.
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

}  // namespace vorlix_core::extractors
