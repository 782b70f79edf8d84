// What one pass over the distances learns about a few windows of values:
// how many lie under each, how they spread over its buckets, with the
// smallest and largest in each bucket, and the values themselves in some
// of the buckets. The values are squared distances: their order is the
// distances' (a correctly rounded square root never reverses two values),
// so a pass need not take a root per pair. Non-negative doubles order like
// their bit patterns, so a window is a range of patterns cut into buckets
// of 2^shift patterns each.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "big_allocator.h"

namespace kernel_width::detail {

inline std::uint64_t bits_of(double x) {
  return std::bit_cast<std::uint64_t>(x);
}
inline double value_of(std::uint64_t bits) {
  return std::bit_cast<double>(bits);
}

// The values lo..hi (both >= +0, hi at most +inf), with first = the bits of
// lo. Bucket of x: (bits(x) - first) >> shift, its tally at buckets[base +
// that]. The values of buckets keep_first..keep_last are kept too (none
// when keep_first > keep_last).
struct window {
  double lo = 0.0;
  double hi = 0.0;
  std::uint64_t first = 0;
  int shift = 0;
  std::uint64_t keep_first = 1;
  std::uint64_t keep_last = 0;
  std::uint64_t room = 0;  // how many kept values a pass may hold
  std::size_t base = 0;
  std::uint64_t count() const { return ((bits_of(hi) - first) >> shift) + 1; }
  bool keeps(std::uint64_t j) const { return j >= keep_first && j <= keep_last; }
};

// Consecutive windows first..end-1, seen from the vector loop as one range
// lo..hi: values outside every hull are only counted (under each hull, or
// over it), values inside one go one by one.
struct hull {
  double lo = 0.0;
  double hi = 0.0;
  std::size_t first = 0;
  std::size_t end = 0;
};

constexpr std::size_t max_hulls = 4;

// A pass's windows, in increasing order and apart, and its hulls.
struct pass_plan {
  std::vector<window> windows;
  std::vector<hull> hulls;
  std::size_t buckets = 0;  // over all windows
  // Whether no value is NaN (the samples all finite, as the pass that runs
  // the plan finds): the vector loop then need not look for NaN.
  bool finite = false;
};

// Groups the windows into at most max_hulls hulls, split at the widest
// gaps between them; sets each window's base and the plan's buckets.
void plan_hulls(pass_plan& plan);

// Values kept by one worker for one window.
using kept_vector = std::vector<double, big_allocator<double>>;

struct bucket {
  std::uint64_t count = 0;
  double low = std::numeric_limits<double>::infinity();  // smallest value
  double high = -1.0;                                    // largest value
};

// What a pass (or one worker's share of it) found. Every field is a count,
// a minimum or a maximum: the order of the work never shows.
struct tally {
  std::uint64_t values = 0;           // every value seen, NaN included
  std::vector<std::uint64_t> under;   // per hull: values under its lo
  std::vector<std::uint64_t> inside;  // per window
  std::vector<std::uint64_t> after;   // per window: in its hull, up to the next
  std::vector<bucket> buckets;        // per window, from its base
  std::uint64_t nan = 0;              // values that are not a number
  std::uint64_t nan_bits = 0;         // the largest bit pattern among those
  // Values of kept buckets, per window, while the window is `keeping`
  // (a pass stops keeping a window's values once they pass its room).
  std::vector<kept_vector> kept;
  std::vector<char> keeping;

  void reset(const pass_plan& plan);
  // Adds another's findings (not its kept values).
  void merge(const tally& other);
};

// A value inside hull h (or NaN), the plain way: its window or the gap it
// lies in, its bucket, and kept where the window says.
inline void take_odd(double x, const pass_plan& plan, std::size_t h,
                     tally& t) {
  const hull& u = plan.hulls[h];
  const auto first = plan.windows.begin() + static_cast<std::ptrdiff_t>(u.first);
  const auto end = plan.windows.begin() + static_cast<std::ptrdiff_t>(u.end);
  // The first window whose hi is not below x: x is in it, or in the gap
  // before it.
  const auto w = end - first == 1 ? first
                                  : std::partition_point(first, end,
                                                         [x](const window& v) {
                                                           return v.hi < x;
                                                         });
  const auto j = static_cast<std::size_t>(w - plan.windows.begin());
  if (x < w->lo) {
    ++t.after[j - 1];
    return;
  }
  ++t.inside[j];
  if (w->first == bits_of(w->hi)) {
    // One pattern (ties): its values are all x, counted and never kept.
    bucket& b = t.buckets[w->base];
    ++b.count;
    b.low = b.high = x;
    return;
  }
  const std::uint64_t k = (bits_of(x) - w->first) >> w->shift;
  bucket& b = t.buckets[w->base + k];
  ++b.count;
  b.low = std::min(b.low, x);
  b.high = std::max(b.high, x);
  if (w->keeps(k) && t.keeping[j]) t.kept[j].push_back(x);
}

inline void take_nan(double x, tally& t) {
  ++t.nan;
  t.nan_bits = std::max(t.nan_bits, bits_of(x));
}

// A value the vector loop found inside a hull, or NaN.
inline void take_inside(double x, const pass_plan& plan, tally& t) {
  if (x != x) {
    take_nan(x, t);
    return;
  }
  std::size_t h = 0;
  while (x > plan.hulls[h].hi) ++h;
  take_odd(x, plan, h, t);
}

// The pattern a hull's lo is rounded down to where the vector loop compares
// high halves of patterns (simd.h, high_halves).
inline std::uint64_t coarse_lo(const hull& u) {
  return bits_of(u.lo) & ~std::uint64_t{0xffffffff};
}

// A value the vector loop found inside a hull widened to multiples of 2^32
// patterns: counted at or over the widened lo of each hull, it is under
// the lo of those it does not reach; taken if inside one.
inline void take_widened(double x, const pass_plan& plan, tally& t) {
  if (x != x) {
    take_nan(x, t);
    return;
  }
  std::size_t inside = plan.hulls.size();
  for (std::size_t h = 0; h < plan.hulls.size(); ++h) {
    const hull& u = plan.hulls[h];
    if (x < u.lo)
      t.under[h] += bits_of(x) >= coarse_lo(u);
    else if (x <= u.hi)
      inside = h;
  }
  if (inside < plan.hulls.size()) take_odd(x, plan, inside, t);
}

// One value, the plain way: what the vector kernel does for many.
[[gnu::noinline]] inline void take(double x, const pass_plan& plan, tally& t) {
  ++t.values;
  if (x != x) {
    take_nan(x, t);
    return;
  }
  for (std::size_t h = 0; h < plan.hulls.size(); ++h) {
    const hull& u = plan.hulls[h];
    if (x < u.lo)
      ++t.under[h];
    else if (x <= u.hi)
      take_odd(x, plan, h, t);
  }
}

// A window's count of values under it, from the hulls' counts and the
// windows before it in its hull.
std::uint64_t below(const pass_plan& plan, const tally& t, std::size_t j);

}  // namespace kernel_width::detail
