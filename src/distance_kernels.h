// The distance kernels, written once over a native vector type W (__m512d,
// __m256d, __m128d, float64x2_t or a generic vector, used with GCC's vector
// operators) and inlined into one
// function per instruction set (kernels.cpp). Every lane keeps its own
// column sum in column order; vectors only run across samples, never within
// a sum. Private to the library.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "kernels.h"
#include "simd.h"

namespace kernel_width::detail {

// Native vectors per column of a panel.
template <class W>
constexpr int per_panel = static_cast<int>(panel_width) / lanes<W>;

template <class W, int R, int V>
using sums = W[R][V * per_panel<W>];

// Register blocking: R rows against V panels (wide: from 64 columns on), as
// many accumulators as each register file holds without spilling; wide
// rows prefer more panels (the square roots weigh less there), as measured
// with bench/floors.
template <int Lanes>
struct blocking_of;
template <>
struct blocking_of<8> {  // AVX-512
  static constexpr int rows = 4, narrow = 2, wide = 4;
};
template <>
struct blocking_of<4> {  // AVX2
  static constexpr int rows = 4, narrow = 1, wide = 1;
};
template <>
struct blocking_of<2> {  // SSE2, and the portable kernels elsewhere
  static constexpr int rows = 2, narrow = 1, wide = 1;
};
template <class W>
struct blocking_for : blocking_of<lanes<W>> {};
#if defined(__aarch64__)
// NEON: twice SSE2's registers (32) hold AVX2's tiles, 4 rows by a panel,
// in 16 accumulators. Not yet timed on ARM hardware.
template <>
struct blocking_for<float64x2_t> : blocking_of<4> {};
#endif
template <class W>
using blocking = blocking_for<W>;

// acc[r][j]: the terms of samples i..i+R-1 of s against the samples of
// panels p..p+V-1 of o (vector j covers samples 8p + j L .. 8p + j L + L -
// 1), o having s's columns.
template <class W, int R, int V>
inline void tile(const packed& s, std::size_t i, const packed& o,
                 std::size_t p, terms t, sums<W, R, V>& acc) {
  constexpr int M = per_panel<W>;
  constexpr int L = lanes<W>;
  const std::size_t cols = s.cols;
  const std::size_t span = cols * panel_width;
  const double* a[R];
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
    a[r] = s.values() + (i + r) / panel_width * span + (i + r) % panel_width;
  const double* b = o.values() + p * span;
#pragma GCC unroll 32
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 32
    for (int j = 0; j < V * M; ++j) acc[r][j] = W{};
  for (std::size_t c = 0; c < cols; ++c) {
    W y[V * M];
#pragma GCC unroll 16
    for (int j = 0; j < V * M; ++j)
      y[j] = load<W>(b + j / M * span + c * panel_width + j % M * L);
#pragma GCC unroll 16
    for (int r = 0; r < R; ++r) {
      const double x = a[r][c * panel_width];
#pragma GCC unroll 16
      for (int j = 0; j < V * M; ++j) {
        const W d = x - y[j];
        acc[r][j] += d * d;
      }
    }
  }
  if (t.squared) return;
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
    for (int j = 0; j < V * M; ++j) {
      root(acc[r][j]);
      if (t.centred) {
        const W d = acc[r][j] - t.mean;
        acc[r][j] = d * d;
      }
    }
}

// Samples of one set against panels of the same set.
template <class W, int R, int V>
inline void tile(const packed& s, std::size_t i, std::size_t p, terms t,
                 sums<W, R, V>& acc) {
  tile<W, R, V>(s, i, s, p, t, acc);
}

template <class W, int R, int V>
inline void store_tile(const sums<W, R, V>& acc, double* out,
                       std::size_t stride) {
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
    for (int j = 0; j < V * per_panel<W>; ++j)
      store<W>(out + r * stride + j * lanes<W>, acc[r][j]);
}

// Panels per chunk: a chunk of packed samples stays in cache while every
// row group of a band passes over it.
inline std::size_t chunk_panels(std::size_t cols) {
  return std::max<std::size_t>(1, 4096 / std::max<std::size_t>(cols, 1));
}

// ---- rows: every term of some rows ----

// The terms of rows i..i+R-1 against the given panels, from out on (the
// first panel's samples at out[0..8)).
template <class W, int R, int V>
inline void rows_chunk(const packed& s, std::size_t i, panel_span panels,
                       terms t, double* out, std::size_t stride) {
  std::size_t p = panels.first;
  for (; p + V <= panels.end; p += V) {
    sums<W, R, V> acc;
    tile<W, R, V>(s, i, p, t, acc);
    store_tile<W, R, V>(acc, out + (p - panels.first) * panel_width, stride);
  }
  for (; p < panels.end; ++p) {
    sums<W, R, 1> acc;
    tile<W, R, 1>(s, i, p, t, acc);
    store_tile<W, R, 1>(acc, out + (p - panels.first) * panel_width, stride);
  }
}

template <class W, int R, int V>
inline void rows_of(const packed& s, row_span rows, terms t, double* out,
                    std::size_t stride) {
  const std::size_t count = s.count();
  const std::size_t chunk = chunk_panels(s.cols);
  for (std::size_t p0 = 0; p0 < count; p0 += chunk) {
    const panel_span panels{p0, std::min(count, p0 + chunk)};
    double* at = out + p0 * panel_width;
    std::size_t r = 0;
    for (; r + R <= rows.count; r += R)
      rows_chunk<W, R, V>(s, rows.first + r, panels, t, at + r * stride,
                          stride);
    for (; r < rows.count; ++r)
      rows_chunk<W, 1, V>(s, rows.first + r, panels, t, at + r * stride,
                          stride);
  }
}

template <class W>
inline void rows_any(const packed& s, row_span rows, terms t, double* out,
                     std::size_t stride) {
  using B = blocking<W>;
  if (s.cols >= 64)
    rows_of<W, B::rows, B::wide>(s, rows, t, out, stride);
  else
    rows_of<W, B::rows, B::narrow>(s, rows, t, out, stride);
}

// ---- squares: a band's squared distances to some panels of a set ----

template <class W, int R, int V>
inline void squares_chunk(const packed& s, std::size_t i, const packed& o,
                          panel_span panels, double* out,
                          std::size_t stride) {
  constexpr terms squared{false, 0.0, true};
  std::size_t p = panels.first;
  for (; p + V <= panels.end; p += V) {
    sums<W, R, V> acc;
    tile<W, R, V>(s, i, o, p, squared, acc);
    store_tile<W, R, V>(acc, out + (p - panels.first) * panel_width, stride);
  }
  for (; p < panels.end; ++p) {
    sums<W, R, 1> acc;
    tile<W, R, 1>(s, i, o, p, squared, acc);
    store_tile<W, R, 1>(acc, out + (p - panels.first) * panel_width, stride);
  }
}

template <class W, int R, int V>
inline void squares_of(const packed& s, std::size_t b, const packed& o,
                       panel_span panels, double* out, std::size_t stride) {
  const std::size_t i = b * panel_width;
  const std::size_t rows = std::min(panel_width, s.n - i);
  std::size_t r = 0;
  for (; r + R <= rows; r += R)
    squares_chunk<W, R, V>(s, i + r, o, panels, out + r * stride, stride);
  for (; r < rows; ++r)
    squares_chunk<W, 1, V>(s, i + r, o, panels, out + r * stride, stride);
}

template <class W>
inline void squares_any(const packed& s, std::size_t b, const packed& o,
                        panel_span panels, double* out, std::size_t stride) {
  using B = blocking<W>;
  if (s.cols >= 64)
    squares_of<W, B::rows, B::wide>(s, b, o, panels, out, stride);
  else
    squares_of<W, B::rows, B::narrow>(s, b, o, panels, out, stride);
}

// ---- band: the labelled lane sums of a band ----

// Adds the distances of panels p0..p1-1 of o lane by lane, panel after
// panel, to the 8 lane sums of each of rows i..i+R-1 of s (lane_sums, 8 per
// row).
template <class W, int R, int V>
inline void lane_run(const packed& s, std::size_t i, const packed& o,
                     panel_span panels, double* lane_sums) {
  constexpr int M = per_panel<W>;
  constexpr int L = lanes<W>;
  W sum[R][M];
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
    for (int m = 0; m < M; ++m)
      sum[r][m] = load<W>(lane_sums + r * panel_width + m * L);
  std::size_t p = panels.first;
  for (; p + V <= panels.end; p += V) {
    sums<W, R, V> acc;
    tile<W, R, V>(s, i, o, p, {}, acc);
#pragma GCC unroll 16
    for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
      for (int j = 0; j < V * M; ++j) sum[r][j % M] += acc[r][j];
  }
  for (; p < panels.end; ++p) {
    sums<W, R, 1> acc;
    tile<W, R, 1>(s, i, o, p, {}, acc);
#pragma GCC unroll 16
    for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
      for (int m = 0; m < M; ++m) sum[r][m] += acc[r][m];
  }
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
    for (int m = 0; m < M; ++m)
      store<W>(lane_sums + r * panel_width + m * L, sum[r][m]);
}

// Adds the distances from rows i..i+rows-1 of s to the samples l of panel p
// of o with l < o.n, and (o being s) l > i + r, to their lane sums.
template <class W>
inline void lane_masked(const packed& s, std::size_t i, std::size_t rows,
                        const packed& o, std::size_t p, double* lane_sums) {
  for (std::size_t r = 0; r < rows; ++r) {
    sums<W, 1, 1> acc;
    tile<W, 1, 1>(s, i + r, o, p, {}, acc);
    double d[panel_width];
    store_tile<W, 1, 1>(acc, d, 0);
    for (std::size_t k = 0; k < panel_width; ++k) {
      const std::size_t l = p * panel_width + k;
      if ((&o != &s || l > i + r) && l < o.n)
        lane_sums[r * panel_width + k] += d[k];
    }
  }
}

// Carries the lane sums of the rows of band b of s on over the samples of
// o from panel `first` on, every one after the band's rows: the full
// panels, then the last, partial panel (masked).
template <class W, int R, int V>
inline void lanes_of(const packed& s, std::size_t b, const packed& o,
                     std::size_t first, double* lane_sums) {
  const std::size_t i = b * panel_width;
  const std::size_t rows = std::min(panel_width, s.n - i);
  const std::size_t full = o.n / panel_width;
  const std::size_t chunk = chunk_panels(s.cols);
  for (std::size_t p0 = first; p0 < full; p0 += chunk) {
    const panel_span panels{p0, std::min(full, p0 + chunk)};
    std::size_t r = 0;
    for (; r + R <= rows; r += R)
      lane_run<W, R, V>(s, i + r, o, panels, lane_sums + r * panel_width);
    for (; r < rows; ++r)
      lane_run<W, 1, V>(s, i + r, o, panels, lane_sums + r * panel_width);
  }
  if (full >= first && o.n % panel_width != 0)
    lane_masked<W>(s, i, rows, o, full, lane_sums);
}

// The lane sums of the rows of band b (samples 8b..8b+7): the band's own
// panel (masked), then the panels after it: every lane in increasing
// sample order.
template <class W, int R, int V>
inline void band_of(const packed& s, std::size_t b, double* lane_sums) {
  const std::size_t i = b * panel_width;
  const std::size_t rows = std::min(panel_width, s.n - i);
  std::fill(lane_sums, lane_sums + panel_width * panel_width, 0.0);
  lane_masked<W>(s, i, rows, s, b, lane_sums);
  lanes_of<W, R, V>(s, b, s, b + 1, lane_sums);
}

template <class W>
inline void band_any(const packed& s, std::size_t b, double* lane_sums) {
  using B = blocking<W>;
  if (s.cols >= 64)
    band_of<W, B::rows, B::wide>(s, b, lane_sums);
  else
    band_of<W, B::rows, B::narrow>(s, b, lane_sums);
}

template <class W>
inline void lanes_any(const packed& s, std::size_t b, const packed& o,
                      std::size_t first, double* lane_sums) {
  using B = blocking<W>;
  if (s.cols >= 64)
    lanes_of<W, B::rows, B::wide>(s, b, o, first, lane_sums);
  else
    lanes_of<W, B::rows, B::narrow>(s, b, o, first, lane_sums);
}

// ---- form: every pair of a band rounded to the grids of both its rows ----

// R rows of a band on their way through the kernel, from row `first` on:
// each row's grid, and its rounded terms and largest rounding error, one
// vector of lanes each. A local copy stays in registers; through pointers
// each addition would wait on a store.
template <class W, int R>
struct row_block {
  std::size_t first = 0;
  W grid[R];
  W sum[R];
  W off[R];
};

// Rounds the terms of a tile of the block's rows against panels p..p+V-1 to
// the rows' grids (into the block) and to the samples' grids (into out).
// Masked, only the pairs with i + r < l < n count: a masked term is +0,
// which rounds to 0 exactly on every grid.
template <class W, int R, int V, bool Masked>
inline void add_tile(const packed& s, sums<W, R, V>& acc, std::size_t p,
                     row_block<W, R>& rows, grid_sums out) {
  constexpr int L = lanes<W>;
  constexpr int J = V * per_panel<W>;
  const std::size_t l = p * panel_width;
  if constexpr (Masked) {
    W index{};  // every lane is set below; GCC -O1 cannot tell
    for (int k = 0; k < L; ++k) index[k] = static_cast<double>(l + k);
    for (int j = 0; j < J; ++j)
      for (int r = 0; r < R; ++r)
        acc[r][j] =
            keep_if<W>((index + j * L > static_cast<double>(rows.first + r)) &
                           (index + j * L < static_cast<double>(s.n)),
                       acc[r][j]);
  }
  W cg[J];
  W cs[J];
  W co[J];
#pragma GCC unroll 16
  for (int j = 0; j < J; ++j) {
    cg[j] = load<W>(out.grids + l + j * L);
    cs[j] = load<W>(out.sum + l + j * L);
    co[j] = load<W>(out.off + l + j * L);
  }
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r) {
    W sum = rows.sum[r];
    W most = rows.off[r];
#pragma GCC unroll 16
    for (int j = 0; j < J; ++j) {
      const W d = acc[r][j];
      const W a = on_grid(d, rows.grid[r]);
      sum += a;
      most = larger(magnitude(d - a), most);
      const W c = on_grid(d, cg[j]);
      cs[j] += c;
      co[j] = larger(magnitude(d - c), co[j]);
    }
    rows.sum[r] = sum;
    rows.off[r] = most;
  }
#pragma GCC unroll 16
  for (int j = 0; j < J; ++j) {
    store<W>(out.sum + l + j * L, cs[j]);
    store<W>(out.off + l + j * L, co[j]);
  }
}

template <class W, int R, int V, bool Masked>
inline void form_tile(const packed& s, std::size_t p, terms t,
                      row_block<W, R>& rows, grid_sums out) {
  sums<W, R, V> acc;
  tile<W, R, V>(s, rows.first, p, t, acc);
  add_tile<W, R, V, Masked>(s, acc, p, rows, out);
}

// A band's rows as form_band_of carries them from chunk to chunk.
template <class W>
struct band_lanes {
  std::size_t band = 0;
  W grid[panel_width];
  W sum[panel_width] = {};
  W off[panel_width] = {};
};

// Rows 8b + r .. 8b + r + R - 1 of band b against panels: the band's own
// panel and the last, partial one masked, the full ones after the band in
// groups of V.
template <class W, int R, int V>
inline void form_chunk(const packed& s, panel_span panels, terms t,
                       band_lanes<W>& band, std::size_t r, grid_sums out) {
  row_block<W, R> rows;
  rows.first = band.band * panel_width + r;
  for (int k = 0; k < R; ++k) {
    rows.grid[k] = band.grid[r + k];
    rows.sum[k] = band.sum[r + k];
    rows.off[k] = band.off[r + k];
  }
  const std::size_t full = s.n / panel_width;
  std::size_t p = panels.first;
  if (p == band.band) form_tile<W, R, 1, true>(s, p++, t, rows, out);
  const std::size_t end = std::min(panels.end, full);
  for (; p + V <= end; p += V) form_tile<W, R, V, false>(s, p, t, rows, out);
  for (; p < end; ++p) form_tile<W, R, 1, false>(s, p, t, rows, out);
  for (; p < panels.end; ++p) form_tile<W, R, 1, true>(s, p, t, rows, out);
  for (int k = 0; k < R; ++k) {
    band.sum[r + k] = rows.sum[k];
    band.off[r + k] = rows.off[k];
  }
}

// Adds a band's lanes, and on the diagonal its term, (0 - mean)^2 when
// centred, which belongs to its row only, to the rows' sums.
template <class W>
inline void settle_band(const band_lanes<W>& band, std::size_t rows, terms t,
                        bool diagonal, grid_sums out) {
  const double self = t.centred && diagonal ? square(0.0 - t.mean) : 0.0;
  const std::size_t i = band.band * panel_width;
  for (std::size_t r = 0; r < rows; ++r) {
    const double grid = out.grids[i + r];
    const double a = (self + grid) - grid;
    double sum = out.sum[i + r] + a;
    double off = std::max(out.off[i + r], std::abs(self - a));
    for (int k = 0; k < lanes<W>; ++k) {
      sum += band.sum[r][k];
      off = std::max(off, band.off[r][k]);
    }
    out.sum[i + r] = sum;
    out.off[i + r] = off;
  }
}

// Band b's pairs with the samples of panels first.. (first = b: the band's
// own panel, masked, and the diagonal's terms; first > b: only later
// samples).
template <class W, int R, int V>
inline void form_band_of(const packed& s, std::size_t b, std::size_t first,
                         terms t, grid_sums out) {
  const std::size_t rows = std::min(panel_width, s.n - b * panel_width);
  band_lanes<W> band;
  band.band = b;
  for (std::size_t r = 0; r < rows; ++r)
    band.grid[r] = splat<W>(out.grids[b * panel_width + r]);
  const std::size_t count = s.count();
  const std::size_t chunk = chunk_panels(s.cols);
  for (std::size_t p0 = first; p0 < count; p0 += chunk) {
    const panel_span panels{p0, std::min(count, p0 + chunk)};
    std::size_t r = 0;
    for (; r + R <= rows; r += R)
      form_chunk<W, R, V>(s, panels, t, band, r, out);
    for (; r < rows; ++r) form_chunk<W, 1, V>(s, panels, t, band, r, out);
  }
  settle_band(band, rows, t, first == b, out);
}

template <class W>
inline void form_any(const packed& s, std::size_t b, std::size_t first,
                     terms t, grid_sums out) {
  using B = blocking<W>;
  if (s.cols >= 64)
    form_band_of<W, B::rows, B::wide>(s, b, first, t, out);
  else
    form_band_of<W, B::rows, B::narrow>(s, b, first, t, out);
}

}  // namespace kernel_width::detail
