#include "pair_set.h"

#include <algorithm>

namespace kernel_width::detail {

std::uint64_t pair_set::count() const {
  const std::uint64_t n = rows->n;
  if (cols) return n * cols->n;
  return n < 2 ? 0 : n * (n - 1) / 2;
}

std::uint64_t pair_set::band_pairs(std::size_t b) const {
  const std::size_t first = b * panel_width;
  const std::size_t last = std::min(rows->n, first + panel_width);
  if (first >= last) return 0;
  if (cols) return std::uint64_t{last - first} * cols->n;
  std::uint64_t pairs = 0;
  for (std::size_t i = first; i < last; ++i) pairs += rows->n - 1 - i;
  return pairs;
}

}  // namespace kernel_width::detail
