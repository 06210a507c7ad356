#include "unicode_upper.hpp"

#include <algorithm>

#include "unicode_upper_table.hpp"

namespace vorlix_core::unicode {

Upper full_upper(uint32_t cp) {
  Upper out;
  const auto expansions = upper_expansions();
  const auto e = std::ranges::lower_bound(expansions, cp, {}, &UpperExpansion::code_point);
  if (e != expansions.end() && e->code_point == cp) {
    out.size = e->size;
    std::copy_n(e->upper, e->size, out.points.begin());
    return out;
  }
  out.size = 1;
  out.points[0] = cp;
  // The last range starting at or before cp is the only one that can hold it.
  const auto ranges = upper_ranges();
  const auto next = std::ranges::upper_bound(ranges, cp, {}, &UpperRange::first);
  if (next == ranges.begin()) return out;
  const UpperRange& r = *std::prev(next);
  const uint32_t steps = (cp - r.first) / r.stride;
  if (steps < r.length && (cp - r.first) % r.stride == 0) {
    out.points[0] = static_cast<uint32_t>(static_cast<int64_t>(cp) + r.delta);
  }
  return out;
}

}  // namespace vorlix_core::unicode
