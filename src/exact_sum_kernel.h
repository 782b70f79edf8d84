// The record of a block of terms on one grid (exact_sum.h), written once
// over a native vector type W and inlined into one function per instruction
// set (kernels.cpp). Private to the library.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "exact_sum.h"
#include "simd.h"

namespace kernel_width::detail {

// Bits [from, to) of a 64-bit word.
inline std::uint64_t span(unsigned from, unsigned to) {
  auto below = [](unsigned j) {
    return j >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << j) - 1;
  };
  return below(to) & ~below(from);
}

// The ties of a block, walked in order 64 terms at a time. Each term's
// rounding r (to the even neighbour on a tie) is already in the record's
// sum; a tie met while k is odd takes the odd neighbour instead, r + 1 or
// r - 1, and after any tie k is even. So k's parity at a tie is the parity
// of the r since the previous tie (or, at the first tie, of k plus the r
// before it): `odd` records what the first tie changes for an odd start.
struct tie_walk {
  std::int64_t moves = 0;  // the corrections for an even start
  int first = 0;           // the first tie's change for an odd start
  bool seen = false;
  unsigned parity = 0;  // of the r since the last tie

  // One word: bit j of parities is r's parity, of ties whether term j is a
  // tie, of ups whether its odd neighbour lies above.
  void word(std::uint64_t parities, std::uint64_t ties, std::uint64_t ups) {
    unsigned from = 0;
    for (; ties != 0; ties &= ties - 1) {
      const auto j = static_cast<unsigned>(std::countr_zero(ties));
      parity ^= std::popcount(parities & span(from, j)) & 1;
      const int move = (ups >> j & 1) ? 1 : -1;
      if (!seen) first = parity ? -move : move;
      seen = true;
      if (parity) moves += move;
      parity = 0;
      from = j + 1;
    }
    parity ^= std::popcount(parities & span(from, 64)) & 1;
  }
};

constexpr double infinity = std::numeric_limits<double>::infinity();

// The terms rounded to the grid and added up, and the largest rounding
// error: half a unit on a tie.
struct rounded_terms {
  double total = 0.0;
  double most = 0.0;
};

template <class W>
inline rounded_terms round_terms(double grid, const double* x,
                                 std::size_t count) {
  constexpr int L = lanes<W>;
  constexpr int K = 4;  // independent accumulators
  constexpr std::size_t step = K * L;
  const W g = splat<W>(grid);
  W sum[K] = {};
  W off[K] = {};
  auto add = [&](const double* p) {
#pragma GCC unroll 4
    for (int k = 0; k < K; ++k) {
      const W d = load<W>(p + k * L);
      const W a = on_grid(d, g);
      sum[k] += a;
      off[k] = larger(magnitude(d - a), off[k]);
    }
  };
  std::size_t j = 0;
  for (; j + step <= count; j += step) add(x + j);
  if (j < count) {  // zeros add nothing and are no ties
    double pad[step] = {};
    std::copy(x + j, x + count, pad);
    add(pad);
  }
  for (int k = 1; k < K; ++k) {
    sum[0] += sum[k];
    off[0] = larger(off[k], off[0]);
  }
  rounded_terms r;
  for (int l = 0; l < L; ++l) {
    r.total += sum[0][l];
    r.most = std::max(r.most, off[0][l]);
  }
  return r;
}

// The ties of the terms, walked in order (tie_walk).
template <class W>
inline tie_walk walk_ties(double grid, double half, const double* x,
                          std::size_t count) {
  constexpr int L = lanes<W>;
  const W g = splat<W>(grid);
  const W h = splat<W>(half);
  tie_walk walk;
  for (std::size_t c = 0; c < count; c += 64) {
    double pad[64] = {};
    const double* p = x + c;
    if (count - c < 64) {
      std::copy(p, x + count, pad);
      p = pad;
    }
    std::uint64_t parities = 0;
    std::uint64_t ties = 0;
    std::uint64_t ups = 0;
    for (unsigned i = 0; i < 64; i += L) {
      const W d = load<W>(p + i);
      const W z = d + g;  // holds r in its low mantissa bits
      const W f = d - (z - g);
      parities |= std::uint64_t{mask_of<W>((lane_bits<W>)z << 63)} << i;
      ties |= std::uint64_t{mask_of<W>(magnitude(f) == h)} << i;
      ups |= std::uint64_t{mask_of<W>(f > 0.0)} << i;
    }
    walk.word(parities, ties, ups);
  }
  return walk;
}

template <class W>
inline grid_record record(double grid, const double* x, std::size_t count) {
  const double u = grid * 0x1p-52;
  // On the grids of 2^-1022 every double below 2^-1021 lies: no ties.
  const double half = grid > 0x1p-1022 ? u * 0.5 : infinity;
  const rounded_terms r = round_terms<W>(grid, x, count);
  // Below grid the integer sum is exact; no usable record lies above it.
  if (!(r.total < grid)) return {grid, infinity, 0.0};
  if (!(r.most >= half)) return {grid, r.total, 0.0};
  const tie_walk walk = walk_ties<W>(grid, half, x, count);
  const double even = r.total + static_cast<double>(walk.moves) * u;
  if (!(even < grid)) return {grid, infinity, 0.0};
  return {grid, even, walk.first * u};
}

}  // namespace kernel_width::detail
