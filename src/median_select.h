// The exact median of the n(n-1)/2 distances between different samples, as
// numpy's median gives it (the middle value, or (a + b) / 2 of the two
// middle values; NaN when any distance is NaN), in a few passes over the
// pairs and O(n d + buckets) memory, never a buffer of all distances.
//
// Non-negative doubles order like their bit patterns. Each pass computes
// every distance again and tallies it against a window of patterns
// (median_tally.h): the count under the window, the count, smallest and
// largest value of each of its buckets, and the values of the buckets
// where the middle is expected, as many as fit. A middle rank among kept
// values is picked from them; one that is its bucket's first or last, or
// in a bucket of equal values, is known at once; otherwise its bucket is
// the next window. Counts, minima and maxima do not depend on the order of
// the work: every thread count gives the same bits. The passes over the
// pairs are in median_pairs.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "median_tally.h"

namespace kernel_width::detail {

// How the selection goes; the result never depends on them.
struct select_limits {
  int bucket_bits = 12;                         // at most 2^bucket_bits
  std::uint64_t keep = std::uint64_t{1} << 22;  // values a pass may keep
  // Up to at_once values the first pass keeps them all. Beyond, the first
  // window comes from a sample of random tiles of 8 x 8 pairs: rough_tiles
  // of them, then one per sample_share pairs, from rough_tiles to
  // sample_tiles.
  std::uint64_t at_once = std::uint64_t{1} << 16;
  std::uint64_t rough_tiles = 2048;
  std::uint64_t sample_share = 4096;
  std::uint64_t sample_tiles = std::uint64_t{1} << 16;
};

// What one pass over all values found out about a window: the tally (its
// pointers unused), the buckets, and room for the values it keeps.
// complete: every value the window keeps fitted, t.kept of them, over
// `offset` smaller values.
struct pass_result {
  window_tally t;
  std::vector<bucket> buckets;
  std::unique_ptr<double[]> values;
  std::uint64_t room = 0;
  bool complete = false;
  std::uint64_t offset = 0;
};

// Runs one pass over every value for window w into out (its buckets sized
// and empty, its values with `room` places); keeps at most room values
// and sets t.kept. False when the run was cancelled.
using pass_function = std::function<bool(const window& w, pass_result& out)>;

struct median_result {
  double median = 0.0;
  unsigned passes = 0;
  bool cancelled = false;
};

// The first pass's window and how many values it may keep.
struct first_window {
  window w;
  std::uint64_t room = 0;
};

// The median of the `count` values that pass() runs over: the middle one
// for an odd count, (a + b) / 2 of the middle two for an even one, the
// largest NaN pattern when any is NaN, -NaN (as 0.0 / 0.0 gives it) for
// none. Without a first window the first pass counts all values (and
// keeps them when they fit).
median_result select_median(std::uint64_t count, const pass_function& pass,
                            std::optional<first_window> first,
                            const select_limits& limits = {});

// The window from `low` to `high` (bit patterns) with at most
// 2^bucket_bits buckets; it keeps every value when the `room` values in it
// fit (unknown: the largest count).
window window_over(std::uint64_t low, std::uint64_t high, std::uint64_t room,
                   const select_limits& limits);

// The bucket of w that holds the pattern `bits` (clamped to the window).
std::uint64_t bucket_of(const window& w, std::uint64_t bits);

constexpr std::uint64_t unknown_count = ~std::uint64_t{0};

}  // namespace kernel_width::detail
