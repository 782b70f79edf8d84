// Where the middle of the pairwise distances lies, from a sample of them:
// the first window of the median's passes (median_select.h) and the part
// of it whose values are kept. A sample of random tiles of 8 x 8 pairs,
// each between two random bands, costs two panels from memory per 64
// distances; the same tiles on every run and thread count.
#pragma once

#include <cstdint>
#include <optional>

#include "cpu.h"
#include "median_select.h"
#include "packed.h"

namespace kernel_width::detail {

// The window for `pairs` distances of s, on threads (at least 1); nothing
// for limits.at_once pairs or fewer: the first pass keeps them all.
std::optional<first_window> sampled_window(const packed& s, isa set,
                                           unsigned threads,
                                           std::uint64_t pairs,
                                           const select_limits& limits);

}  // namespace kernel_width::detail
