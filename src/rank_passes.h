// The distances at chosen ranks of a pair set (pair_set.h), found in a few
// passes over the pairs on all threads, without storing the distances.
#pragma once

#include <cstdint>
#include <vector>

#include "cpu.h"
#include "pair_set.h"
#include "threads.h"

namespace kernel_width::detail {

// What a selection found: the distance at each rank asked for, in the
// order asked; how many distances are NaN (the values are then NaN); and
// whether it was cancelled or stopped narrowing (a fault of ours).
struct ranks_found {
  std::vector<double> values;
  std::uint64_t nan = 0;
  unsigned passes = 0;
  bool cancelled = false;
  bool stalled = false;
};

// ranks: increasing, each below pairs.count(). The control counts the
// pairs of the first pass (most data need no other).
ranks_found pair_ranks(const pair_set& pairs,
                       const std::vector<std::uint64_t>& ranks,
                       unsigned threads, isa set,
                       const run_control& control = {});

// How many of the distances are 0, in one pass; nothing when cancelled.
std::uint64_t zero_pairs(const pair_set& pairs, unsigned threads, isa set,
                         const run_control& control, bool& cancelled);

}  // namespace kernel_width::detail
