#include "grid.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "block.h"
#include "simd.h"

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// Bits [from, to) of a 64-bit word.
std::uint64_t span(unsigned from, unsigned to) {
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

template <class W>
grid_record record(double grid, const double* x, std::size_t count) {
  constexpr int L = lanes<W>;
  constexpr int K = 4;  // independent accumulators
  constexpr std::size_t step = K * L;
  const W g = splat<W>(grid);
  const double u = grid * 0x1p-52;
  // On the grids of 2^-1022 every double below 2^-1021 lies: no ties.
  const double half = grid > 0x1p-1022 ? u * 0.5 : infinity;

  W sum[K] = {};
  W off[K] = {};  // the largest |x - rounded x|: half on a tie
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
  double total = 0.0;
  double most = 0.0;
  for (int l = 0; l < L; ++l) {
    total += sum[0][l];
    most = std::max(most, off[0][l]);
  }
  // Below grid the integer sum is exact; no usable record lies above it.
  if (!(total < grid)) return {grid, infinity, 0.0};
  if (!(most >= half)) return {grid, total, 0.0};

  tie_walk walk;
  const W h = splat<W>(half);
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
  const double even = total + static_cast<double>(walk.moves) * u;
  if (!(even < grid)) return {grid, infinity, 0.0};
  return {grid, even, walk.first * u};
}

using record_fn = grid_record (*)(double, const double*, std::size_t);

[[gnu::target("avx512f"), gnu::flatten]] grid_record record_avx512(
    double grid, const double* x, std::size_t count) {
  return record<__m512d>(grid, x, count);
}

[[gnu::target("avx2"), gnu::flatten]] grid_record record_avx2(
    double grid, const double* x, std::size_t count) {
  return record<__m256d>(grid, x, count);
}

[[gnu::flatten]] grid_record record_base(double grid, const double* x,
                                         std::size_t count) {
  return record<__m128d>(grid, x, count);
}

record_fn record_for(int isa) {
  if (isa >= isa_avx512 && isa_supported(isa_avx512)) return record_avx512;
  if (isa >= isa_avx2 && isa_supported(isa_avx2)) return record_avx2;
  return record_base;
}

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// The plain chain, one dependent addition after another.
[[gnu::noinline]] double plain_sum(double s, const double* terms,
                                   std::size_t count) {
  for (std::size_t j = 0; j < count; ++j) s += terms[j];
  return s;
}

}  // namespace

double grid_of(double s) {
  const std::uint64_t e = bits(s) >> 52 & 0x7ff;
  return std::bit_cast<double>(std::max<std::uint64_t>(e, 1) << 52);
}

grid_record record_of(int isa, double grid, const double* terms,
                      std::size_t count) {
  return record_for(isa)(grid, terms, count);
}

std::optional<double> advance(double s, const grid_record& record) {
  const std::uint64_t e = bits(s) >> 52;  // the sign bit makes it 2048 or more
  if (e >= 0x7ff || grid_of(s) != record.grid) return std::nullopt;
  // The low bit of s is k's parity, subnormal or not.
  const double next = s + (bits(s) & 1 ? record.sum + record.odd : record.sum);
  if (bits(next) >> 52 != e) return std::nullopt;
  return next;
}

double grid_sum(int isa, double s, const double* terms, std::size_t count) {
  const record_fn fn = record_for(isa);
  for (std::size_t b = 0; b < count; b += grid_block) {
    const std::size_t m = std::min(grid_block, count - b);
    if (std::isfinite(s) && !std::signbit(s))
      if (const auto next = advance(s, fn(grid_of(s), terms + b, m))) {
        s = *next;
        continue;
      }
    s = plain_sum(s, terms + b, m);
  }
  return s;
}
