// The exact median of the n(n-1)/2 distances between different samples, as
// numpy's median gives it (the middle value, or (a + b) / 2 of the two
// middle values; NaN when any distance is NaN), in a few passes over the
// pairs and O(n d + buckets) memory, never a buffer of all distances.
//
// Non-negative doubles order like their bit patterns. Each pass computes
// every distance again and tallies it against a window of patterns
// (median_tally.h): the count under the window, and the count, smallest
// and largest value of each bucket inside it. The bucket that holds a
// middle rank is the next window, until the middle values are known: a
// rank that is a bucket's first or last, or one in a bucket of equal
// values, is known at once; a window whose values all fit in memory is
// collected and the ranks picked from it. Counts, minima and
// maxima do not depend on the order of the work: every thread count gives
// the same bits. The passes over the pairs are in median_pairs.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "median_tally.h"

namespace kernel_width::detail {

// How the selection goes; the result never depends on them.
struct select_limits {
  int bucket_bits = 12;                      // at most 2^bucket_bits buckets
  std::uint64_t collect = std::uint64_t{1} << 21;  // values a pass may keep
  // Window one comes from the distances of random tiles of 8 x 8 pairs: one
  // tile per sample_share pairs, at most sample_tiles.
  std::uint64_t sample_share = 4096;
  std::uint64_t sample_tiles = 16384;
};

// What one pass over all values found out about a window: the tally (its
// buckets and values pointers unused), the buckets (when counting) and the
// values inside (when collecting; t.kept of them).
struct pass_result {
  window_tally t;
  std::vector<bucket> buckets;
  std::vector<double> values;
};

// Runs one pass over every value for window w into out, whose buckets come
// sized and empty and whose values have room for every value inside.
// False when the run was cancelled.
using pass_function = std::function<bool(const window& w, pass_result& out)>;

struct median_result {
  double median = 0.0;
  unsigned passes = 0;
  bool cancelled = false;
};

// The median of the `count` values that pass() runs over: the middle one
// for an odd count, (a + b) / 2 of the middle two for an even one, the
// largest NaN pattern when any is NaN, -NaN (as 0.0 / 0.0 gives it) for
// none. first, when given, is the window of the first pass.
median_result select_median(std::uint64_t count, const pass_function& pass,
                            std::optional<window> first,
                            const select_limits& limits = {});

// The window from `low` to `high` (bit patterns) with at most
// 2^bucket_bits buckets, collecting when `room` values fit in a pass.
window window_over(std::uint64_t low, std::uint64_t high, std::uint64_t room,
                   const select_limits& limits);

}  // namespace kernel_width::detail
