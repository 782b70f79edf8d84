// The values at chosen ranks among `count` values, found in a few passes
// over them and O(buckets + kept values) memory, never a buffer of them all.
//
// Each pass runs over every value again and tallies it against a few
// windows of bit patterns (rank_tally.h), one around each group of ranks
// still open: the count under each window, the count, smallest and largest
// value of each of its buckets, and the values of the buckets where the
// ranks are expected, as many as fit. A rank among kept values is picked
// from them; one that is its bucket's first or last, or in a bucket of
// equal values, is known at once; otherwise its bucket (or the gap between
// windows that holds it) is its next window. Every pass narrows each open
// rank's patterns to fewer values, or the selection stops: the loop is
// bounded by construction. Counts, minima and maxima do not depend on the
// order of the work: every thread count gives the same bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "rank_tally.h"

namespace kernel_width::detail {

// How the selection goes; the result never depends on them.
struct select_limits {
  int bucket_bits = 12;                         // per window, at most
  std::size_t buckets = std::size_t{1} << 14;   // per pass, about
  std::uint64_t keep = std::uint64_t{3} << 20;  // values a pass may keep
  // Up to at_once values the first pass keeps them all. Beyond, the first
  // windows come from a sample of random tiles of 8 x 8 pairs:
  // rough_tiles of them, then as many as make every window's kept values
  // fit, from rough_tiles to sample_tiles, no more than one value in
  // sample_share of all, and keeping no more than sample_keep values.
  std::uint64_t at_once = std::uint64_t{1} << 16;
  std::uint64_t rough_tiles = 8192;
  std::uint64_t sample_share = 100;
  std::uint64_t sample_tiles = std::uint64_t{1} << 20;
  std::uint64_t sample_keep = std::uint64_t{1} << 20;
};

// What one pass over all values found out about a plan's windows: the
// counts, and each window's kept values in parts (one per worker, in any
// order). A window is complete when its parts hold every value of its
// kept buckets (a pass keeps about as many as a window's room).
struct pass_result {
  tally t;  // its own kept values unused
  std::vector<std::vector<kept_vector>> kept;  // per window, its parts
};

// Runs one pass over every value for the plan into out (its tally reset
// for the plan, no kept values yet). False when the run was cancelled.
using pass_function =
    std::function<bool(const pass_plan& plan, pass_result& out)>;

struct ranks_result {
  std::vector<double> values;  // at each rank asked for
  std::uint64_t nan = 0;       // values that are NaN: the rest is not set
  unsigned passes = 0;
  bool cancelled = false;
  bool stalled = false;  // a pass did not narrow an open rank: a fault
};

// The values at `ranks` (increasing, each below count) of the `count`
// values that pass() runs over. Without a first plan the first pass counts
// every value (and keeps them all when they fit).
ranks_result select_ranks(std::uint64_t count,
                          const std::vector<std::uint64_t>& ranks,
                          const pass_function& pass,
                          const std::optional<pass_plan>& first,
                          const select_limits& limits = {});

// The window from `low` to `high` (bit patterns) with at most
// 2^bucket_bits buckets; it keeps every value when `room` (the values in
// it; unknown_count when unknown) is given.
window window_over(std::uint64_t low, std::uint64_t high, std::uint64_t room,
                   int bucket_bits);

// The bucket of w that holds the pattern `bits` (clamped to the window).
std::uint64_t bucket_of(const window& w, std::uint64_t bits);

// The buckets per window for a pass of `windows` windows.
int bucket_bits_for(std::size_t windows, const select_limits& limits);

constexpr std::uint64_t unknown_count = ~std::uint64_t{0};
constexpr std::uint64_t top_pattern = 0x7ff0000000000000;  // +inf

}  // namespace kernel_width::detail
