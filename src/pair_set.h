// The pairs of samples whose distances a selection runs over: every pair
// i < l within one packed set, or each sample of one set with each sample
// of another. The work is cut into bands of 8 rows of the first set, as for
// the other computations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "packed.h"

namespace kernel_width::detail {

struct pair_set {
  const packed* rows = nullptr;  // the bands' samples
  const packed* cols = nullptr;  // across: the other set; null: within rows

  bool across() const { return cols != nullptr; }
  // The samples the bands' rows are paired with.
  const packed& others() const { return cols ? *cols : *rows; }
  std::size_t bands() const { return rows->count(); }
  // The first panel of others() that band b meets: its own within a set.
  std::size_t first_panel(std::size_t b) const { return cols ? 0 : b; }
  // Every pair: n(n-1)/2 within, n * n_y across.
  std::uint64_t count() const;
  // The pairs whose first sample lies in band b.
  std::uint64_t band_pairs(std::size_t b) const;
};

}  // namespace kernel_width::detail
