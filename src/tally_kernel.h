// The tally of a block of distances against a window (median_tally.h),
// written once over a native vector type W and inlined into one function
// per instruction set (kernels.cpp). Most values lie outside the window
// and are counted in vectors; the few inside, and any NaN, go one by one.
// Values over the window are not counted: pass counts less the others.
// Private to the library.
#pragma once

#include <bit>
#include <cstddef>

#include "median_tally.h"
#include "simd.h"

namespace kernel_width::detail {

// The values a vector loop found inside the window or NaN, one by one.
inline void take_odd(const double* x, std::size_t count, const window& w,
                     window_tally& t) {
  for (std::size_t k = 0; k < count; ++k) {
    if (x[k] != x[k])
      take_nan(x[k], t);
    else
      take_inside(x[k], w, t);
  }
}

template <class W>
inline void tally_any(const double* x, std::size_t count, const window& w,
                      window_tally& into) {
  constexpr std::size_t L = lanes<W>;
  constexpr unsigned all = (1u << L) - 1;
  constexpr std::size_t block = 256;
  // A copy that can live in registers: through `into` every count would
  // wait on the stores to the buckets.
  window_tally t = into;
  const W lo = splat<W>(w.lo);
  const W hi = splat<W>(w.hi);
  // Without a branch on them (they come at random): the odd values of a
  // block are packed into `odd`, then taken one by one.
  double odd[block + L];
  std::size_t k = 0;
  while (k + L <= count) {
    const std::size_t end = k + std::min(block, (count - k) / L * L);
    std::size_t held = 0;
    for (; k < end; k += L) {
      const W d = load<W>(x + k);
      const unsigned under = less_mask(d, lo);
      t.below += static_cast<unsigned>(std::popcount(under));
      // Neither under nor over: inside, or NaN.
      held += compress(d, all & ~(under | less_mask(hi, d)), odd + held);
    }
    take_odd(odd, held, w, t);
  }
  for (; k < count; ++k) take(x[k], w, t);
  into = t;
}

}  // namespace kernel_width::detail
