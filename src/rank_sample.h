// Where the chosen ranks of the pairwise (squared) distances lie, from a
// sample of them: the first windows of the selection's passes
// (rank_select.h) and the parts of them whose values are kept. A sample of
// random tiles of 8 x 8 pairs, each between a random band and a random
// panel, costs two panels from memory per 64 distances; the same tiles on
// every run and thread count.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "cpu.h"
#include "pair_set.h"
#include "rank_select.h"

namespace kernel_width::detail {

// The plan for `ranks` (increasing, below pairs.count()), on threads (at
// least 1); nothing for limits.at_once pairs or fewer: the first pass keeps
// them all.
std::optional<pass_plan> sampled_plan(const pair_set& pairs, isa set,
                                      unsigned threads,
                                      const std::vector<std::uint64_t>& ranks,
                                      const select_limits& limits);

}  // namespace kernel_width::detail
