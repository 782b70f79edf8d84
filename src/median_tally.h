// What one pass over the distances learns about a window of values: how
// many lie under it, how they spread over its buckets, with the smallest
// and largest in each, and the values themselves in some of the buckets.
// Non-negative doubles order like their bit patterns, so a window is a
// range of patterns cut into buckets of 2^shift patterns each.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace kernel_width::detail {

// The values lo..hi (both >= +0, hi at most +inf), with first = the bits of
// lo. Bucket of x: (bits(x) - first) >> shift. The values of buckets
// keep_first..keep_last are kept too (none when keep_first > keep_last).
struct window {
  double lo = 0.0;
  double hi = 0.0;
  std::uint64_t first = 0;
  int shift = 0;
  std::uint64_t keep_first = 1;
  std::uint64_t keep_last = 0;
};

inline std::uint64_t bits_of(double x) {
  return std::bit_cast<std::uint64_t>(x);
}
inline double value_of(std::uint64_t bits) {
  return std::bit_cast<double>(bits);
}

// What a counting pass keeps per bucket.
struct bucket {
  std::uint64_t count = 0;
  double low = std::numeric_limits<double>::infinity();  // smallest value
  double high = -1.0;                                    // largest value
};

// One worker's findings, added up over the workers by merge(). Every field
// is a count, a minimum or a maximum: the order of the work never shows.
struct window_tally {
  std::uint64_t below = 0;     // values under lo
  std::uint64_t inside = 0;    // values in the window
  std::uint64_t nan = 0;       // values that are not a number
  std::uint64_t nan_bits = 0;  // the largest bit pattern among those
  bucket* buckets = nullptr;
  double* values = nullptr;  // room for the values kept
  std::size_t kept = 0;      // values written to values
};

// The values inside the window, one at a time: its bucket counted, and
// the value kept where the window says.
inline void take_inside(double x, const window& w, window_tally& t) {
  ++t.inside;
  const std::uint64_t j = (bits_of(x) - w.first) >> w.shift;
  bucket& b = t.buckets[j];
  ++b.count;
  b.low = std::min(b.low, x);
  b.high = std::max(b.high, x);
  if (j >= w.keep_first && j <= w.keep_last) t.values[t.kept++] = x;
}

inline void take_nan(double x, window_tally& t) {
  ++t.nan;
  t.nan_bits = std::max(t.nan_bits, bits_of(x));
}

// One value, the plain way: what the vector kernel does for many.
inline void take(double x, const window& w, window_tally& t) {
  if (x != x)
    take_nan(x, t);
  else if (x < w.lo)
    ++t.below;
  else if (x <= w.hi)
    take_inside(x, w, t);
}

// Adds one worker's findings (not its buckets or values) to all.
inline void merge(window_tally& all, const window_tally& one) {
  all.below += one.below;
  all.inside += one.inside;
  all.nan += one.nan;
  all.nan_bits = std::max(all.nan_bits, one.nan_bits);
}

inline void merge(bucket& all, const bucket& one) {
  all.count += one.count;
  all.low = std::min(all.low, one.low);
  all.high = std::max(all.high, one.high);
}

}  // namespace kernel_width::detail
