// The tally of a band's squared distances against a pass's windows
// (rank_tally.h), written once over a native vector type W and inlined
// into one function per instruction set (kernels.cpp). Each tile of
// distances is tallied while it is in registers: most values lie outside
// every hull and are only counted, under each hull, in vectors; the few
// inside one, and any NaN, are packed aside and taken one by one. Private
// to the library.
#pragma once

#include <bit>
#include <cstddef>

#include "distance_kernels.h"
#include "rank_tally.h"
#include "simd.h"

namespace kernel_width::detail {

// The hulls' bounds in vectors, and, per lane, the values at or over each
// hull's lo so far, out of `values`. With ties, a hull of one window of
// one pattern v (all its values equal) is only counted: its hi below its
// lo, so that no value goes one by one, and the values over v counted
// too (over[h], unused for the other hulls).
// Which hulls are of one pattern: none, some, or all (then none of them
// needs its hi, only a NaN goes one by one). `halves`: none, and no NaN
// either, two vectors tested at once on their patterns' high halves
// (halves_of, AVX-512): the hulls widened to multiples of 2^32 patterns,
// the values in the margins taken one by one (take_widened).
// `tie_halves`: all, each tie a pattern whose low half is 0, no NaN: the
// values at or over each counted on two vectors' high halves at once
// (exact at such a pattern), those equal to it in vectors.
enum class tie_hulls { none, some, all, halves, tie_halves };

constexpr bool with_ties(tie_hulls t) {
  return t == tie_hulls::some || t == tie_hulls::all ||
         t == tie_hulls::tie_halves;
}

constexpr bool on_halves(tie_hulls t) {
  return t == tie_hulls::halves || t == tie_hulls::tie_halves;
}

template <class W, int H, tie_hulls Ties>
struct hull_cuts {
  static constexpr int P = on_halves(Ties) ? H : 1;
  using half = typename halves_of<W>::type;
  W lo[H];
  W hi[H];
  lane_counts<W> at_least[H];
  lane_counts<W> over[with_ties(Ties) ? H : 1];  // tie_halves: equal
  half lo32[P];  // the hulls' bounds' high halves, and 32-bit counts
  half hi32[P];
  half at_least32[P];
  std::uint64_t values = 0;
};

// Values packed aside by the vector loop, until taken one by one: room for
// a few tiles and a vector's overrun.
struct odd_values {
  static constexpr std::size_t flush_at = 256;
  double x[flush_at + 256];
  std::size_t held = 0;
};

[[gnu::noinline]] inline void take_held(odd_values& odd, const pass_plan& plan, tally& t) {
  for (std::size_t k = 0; k < odd.held; ++k) take_inside(odd.x[k], plan, t);
  odd.held = 0;
}

[[gnu::noinline]] inline void take_widened_held(odd_values& odd,
                                                const pass_plan& plan,
                                                tally& t) {
  for (std::size_t k = 0; k < odd.held; ++k) take_widened(odd.x[k], plan, t);
  odd.held = 0;
}

template <tie_hulls Ties>
inline void take_all_held(odd_values& odd, const pass_plan& plan, tally& t) {
  if constexpr (Ties == tie_hulls::halves)
    take_widened_held(odd, plan, t);
  else
    take_held(odd, plan, t);
}

// Vectors a and b (b = a with lanes 0xff: a alone) on their high halves.
template <class W, int H, tie_hulls Ties>
inline void tally_pair(const W& a, const W& b, unsigned lanes,
                       hull_cuts<W, H, Ties>& cuts, odd_values& odd) {
  typename halves_of<W>::type e;
  high_halves(a, b, e);
  const unsigned inside =
      in_hulls_halves<H>(e, cuts.lo32, cuts.hi32, cuts.at_least32, lanes);
  if (inside != 0) [[unlikely]] {
    odd.held += compress(a, inside & 0xff, odd.x + odd.held);
    odd.held += compress(b, inside >> 8, odd.x + odd.held);
  }
}

// Ties on high halves: a and b (b = a with lanes 0xff) counted at or over
// each tie, and each vector's lanes equal to it.
template <class W, int H, tie_hulls Ties>
inline void tally_tie_pair(const W& a, const W& b, unsigned lanes,
                           hull_cuts<W, H, Ties>& cuts) {
  typename halves_of<W>::type e;
  high_halves(a, b, e);
#pragma GCC unroll 4
  for (int h = 0; h < H; ++h) {
    count_from_halves(e, cuts.lo32[h], cuts.at_least32[h], lanes);
    count_equal(a, cuts.lo[h], cuts.over[h]);
    if (lanes > 0xff) count_equal(b, cuts.lo[h], cuts.over[h]);
  }
}

// f(a, b, lanes) on a tile's vectors two at a time (lanes 0xffff), the
// last alone when their number is odd (b = a, lanes 0xff).
template <class W, int R, int V, class F>
inline void by_pairs(const sums<W, R, V>& acc, F f) {
  constexpr int C = V * per_panel<W>;
  constexpr int N = R * C;
#pragma GCC unroll 16
  for (int k = 0; k + 1 < N; k += 2)
    f(acc[k / C][k % C], acc[(k + 1) / C][(k + 1) % C], 0xffffu);
  if constexpr (N % 2 == 1) f(acc[R - 1][C - 1], acc[R - 1][C - 1], 0xffu);
}

// Counted at or over each hull's lo, in vectors; the values inside a hull
// (neither under nor over it) or NaN, rare, packed aside.
template <class W, int R, int V, int H, tie_hulls Ties>
inline void tally_tile(const sums<W, R, V>& acc, hull_cuts<W, H, Ties>& cuts,
                       odd_values& odd) {
  cuts.values += R * V * panel_width;
  if constexpr (Ties == tie_hulls::halves) {
    by_pairs<W, R, V>(acc, [&](const W& a, const W& b, unsigned lanes) {
      tally_pair<W, H, Ties>(a, b, lanes, cuts, odd);
    });
    return;
  }
  if constexpr (Ties == tie_hulls::tie_halves) {
    by_pairs<W, R, V>(acc, [&](const W& a, const W& b, unsigned lanes) {
      tally_tie_pair<W, H, Ties>(a, b, lanes, cuts);
    });
    return;
  }
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
    for (int j = 0; j < V * per_panel<W>; ++j) {
      const W d = acc[r][j];
      unsigned inside = 0;
      if constexpr (Ties == tie_hulls::all) {
#pragma GCC unroll 4
        for (int h = 0; h < H; ++h) {
          count_from(d, cuts.lo[h], cuts.at_least[h]);
          count_over(d, cuts.lo[h], cuts.over[h]);
        }
        inside = nan_lanes(d);
      } else {
        inside = in_hulls<H>(d, cuts.lo, cuts.hi, cuts.at_least);
        if constexpr (Ties == tie_hulls::some)
#pragma GCC unroll 4
          for (int h = 0; h < H; ++h) count_over(d, cuts.lo[h], cuts.over[h]);
      }
      if (inside != 0) [[unlikely]]
        odd.held += compress(d, inside, odd.x + odd.held);
    }
}

// A tile with pairs that do not count (l <= i within a set, or past the
// last sample), the plain way.
template <class W, int R>
inline void tally_masked(const pair_set& pairs, std::size_t i, std::size_t p,
                         const pass_plan& plan, tally& t) {
  constexpr terms squared{false, 0.0, true};
  sums<W, R, 1> acc;
  tile<W, R, 1>(*pairs.rows, i, pairs.others(), p, squared, acc);
  double d[R * panel_width];
  store_tile<W, R, 1>(acc, d, panel_width);
  const std::size_t n = pairs.others().n;
  for (int r = 0; r < R; ++r)
    for (std::size_t k = 0; k < panel_width; ++k) {
      const std::size_t l = p * panel_width + k;
      if (l < n && (pairs.across() || l > i + static_cast<std::size_t>(r)))
        take(d[r * panel_width + k], plan, t);
    }
}

// What a band's rows tally into: the pass's plan, the vector counts, the
// values packed aside and the band's tally.
template <class W, int H, tie_hulls Ties>
struct band_tally {
  const pass_plan& plan;
  hull_cuts<W, H, Ties>& cuts;
  odd_values& odd;
  tally& t;
};

// Rows i..i+R-1 against panels: those that need a mask one by one, the
// others V at a time.
template <class W, int R, int V, int H, tie_hulls Ties>
inline void tally_rows(const pair_set& pairs, std::size_t i,
                       panel_span panels, band_tally<W, H, Ties> b) {
  auto& [plan, cuts, odd, t] = b;
  constexpr terms squared{false, 0.0, true};
  const std::size_t full = pairs.others().n / panel_width;
  std::size_t p = panels.first;
  if (!pairs.across() && p == i / panel_width)
    tally_masked<W, R>(pairs, i, p++, plan, t);
  const std::size_t end = std::min(panels.end, full);
  for (; p + V <= end; p += V) {
    sums<W, R, V> acc;
    tile<W, R, V>(*pairs.rows, i, pairs.others(), p, squared, acc);
    tally_tile<W, R, V, H, Ties>(acc, cuts, odd);
    if (odd.held >= odd_values::flush_at) take_all_held<Ties>(odd, plan, t);
  }
  for (; p < end; ++p) {
    sums<W, R, 1> acc;
    tile<W, R, 1>(*pairs.rows, i, pairs.others(), p, squared, acc);
    tally_tile<W, R, 1, H, Ties>(acc, cuts, odd);
    if (odd.held >= odd_values::flush_at) take_all_held<Ties>(odd, plan, t);
  }
  for (; p < panels.end; ++p) tally_masked<W, R>(pairs, i, p, plan, t);
}

// Whether hull h is one window of one pattern.
inline bool tie_hull(const pass_plan& plan, std::size_t h) {
  const hull& u = plan.hulls[h];
  const window& w = plan.windows[u.first];
  return u.end == u.first + 1 && w.first == bits_of(w.hi);
}

// Whether every hull's lo is a pattern whose low half is 0.
inline bool low_halves_zero(const pass_plan& plan) {
  for (const hull& u : plan.hulls)
    if ((bits_of(u.lo) & 0xffffffff) != 0) return false;
  return true;
}

// A tie hull's values, all equal to its lo: at or over it, not over it.
template <class W, int H, tie_hulls Ties>
inline void take_ties(const hull_cuts<W, H, Ties>& cuts, const pass_plan& plan,
                      tally& t) {
  if constexpr (with_ties(Ties))
    for (int h = 0; h < H; ++h) {
      if (!tie_hull(plan, h)) continue;
      const std::size_t j = plan.hulls[h].first;
      const std::uint64_t equal =
          Ties == tie_hulls::tie_halves
              ? count_sum(cuts.over[h])
              : count_sum(cuts.at_least[h]) - count_sum(cuts.over[h]);
      if (equal == 0) continue;
      t.inside[j] += equal;
      bucket& b = t.buckets[plan.windows[j].base];
      b.count += equal;
      b.low = b.high = plan.windows[j].lo;
    }
}

template <class W, int R, int V, int H, tie_hulls Ties>
inline void tally_of(const pair_set& pairs, std::size_t b, panel_span panels,
                     const pass_plan& plan, tally& t) {
  hull_cuts<W, H, Ties> cuts;
  for (int h = 0; h < H; ++h) {
    cuts.lo[h] = splat<W>(plan.hulls[h].lo);
    const bool tie = with_ties(Ties) && tie_hull(plan, h);
    cuts.hi[h] = splat<W>(tie ? -1.0 : plan.hulls[h].hi);
    cuts.at_least[h] = lane_counts<W>{};
    if constexpr (with_ties(Ties)) cuts.over[h] = lane_counts<W>{};
    if constexpr (on_halves(Ties)) {
      halves_of<W>::splat(bits_of(plan.hulls[h].lo) >> 32, cuts.lo32[h]);
      halves_of<W>::splat(bits_of(plan.hulls[h].hi) >> 32, cuts.hi32[h]);
      halves_of<W>::splat(0, cuts.at_least32[h]);
    }
  }
  odd_values odd;
  const std::size_t i = b * panel_width;
  const std::size_t rows = std::min(panel_width, pairs.rows->n - i);
  std::size_t r = 0;
  const band_tally<W, H, Ties> into{plan, cuts, odd, t};
  for (; r + R <= rows; r += R)
    tally_rows<W, R, V, H, Ties>(pairs, i + r, panels, into);
  for (; r < rows; ++r)
    tally_rows<W, 1, V, H, Ties>(pairs, i + r, panels, into);
  take_all_held<Ties>(odd, plan, t);
  take_ties(cuts, plan, t);
  t.values += cuts.values;
  for (int h = 0; h < H; ++h) {
    std::uint64_t at_least = count_sum(cuts.at_least[h]);
    if constexpr (on_halves(Ties))
      at_least = count_sum<typename halves_of<W>::type, std::uint32_t>(
          cuts.at_least32[h]);
    t.under[h] += cuts.values - at_least;
  }
}

template <class W, int R, int V, int H>
inline void tally_ties(const pair_set& pairs, std::size_t b, panel_span panels,
                       const pass_plan& plan, tally& t) {
  std::size_t ties = 0;
  for (std::size_t h = 0; h < plan.hulls.size(); ++h) ties += tie_hull(plan, h);
  if constexpr (halves_of<W>::paired && H >= 2) {
    if (ties == 0 && plan.finite)
      return tally_of<W, R, V, H, tie_hulls::halves>(pairs, b, panels, plan, t);
    if (ties == plan.hulls.size() && plan.finite && low_halves_zero(plan))
      return tally_of<W, R, V, H, tie_hulls::tie_halves>(pairs, b, panels,
                                                         plan, t);
  }
  if (ties == 0)
    tally_of<W, R, V, H, tie_hulls::none>(pairs, b, panels, plan, t);
  else if (ties < plan.hulls.size())
    tally_of<W, R, V, H, tie_hulls::some>(pairs, b, panels, plan, t);
  else
    tally_of<W, R, V, H, tie_hulls::all>(pairs, b, panels, plan, t);
}

template <class W, int R, int V>
inline void tally_hulls(const pair_set& pairs, std::size_t b,
                        panel_span panels, const pass_plan& plan, tally& t) {
  switch (plan.hulls.size()) {
    case 1:
      return tally_ties<W, R, V, 1>(pairs, b, panels, plan, t);
    case 2:
      return tally_ties<W, R, V, 2>(pairs, b, panels, plan, t);
    case 3:
      return tally_ties<W, R, V, 3>(pairs, b, panels, plan, t);
    default:
      return tally_ties<W, R, V, max_hulls>(pairs, b, panels, plan, t);
  }
}

template <class W>
inline void tally_any(const pair_set& pairs, std::size_t b, panel_span panels,
                      const pass_plan& plan, tally& t) {
  using B = blocking<W>;
  if (pairs.rows->cols >= 64)
    tally_hulls<W, B::rows, B::wide>(pairs, b, panels, plan, t);
  else
    tally_hulls<W, B::rows, B::narrow>(pairs, b, panels, plan, t);
}

}  // namespace kernel_width::detail
