#include "block.h"

#include <immintrin.h>
#include <sched.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <type_traits>

#include "block.h"
#include "simd.h"

namespace {

// The kernel is written once over a native vector type W (__m512d, __m256d
// or __m128d, used with GCC's vector operators) and inlined into one
// wrapper per instruction set by `flatten`. Every lane keeps its own column
// sum in column order; vectors only run across samples, never within a sum.

// Native vectors per column of a panel.
template <class W>
constexpr int per_panel = static_cast<int>(panel_width) / lanes<W>;

template <class W, int R, int V>
using sums = W[R][V * per_panel<W>];

// acc[r][j]: the terms of samples i..i+R-1 against the samples of panels
// p..p+V-1 (vector j covers samples 8p + j L .. 8p + j L + L - 1).
template <class W, int R, int V>
inline void tile(const packed& s, std::size_t i, std::size_t p, terms t,
                 sums<W, R, V>& acc) {
  constexpr int M = per_panel<W>;
  constexpr int L = lanes<W>;
  const std::size_t cols = s.cols;
  const std::size_t span = cols * panel_width;
  const double* a[R];
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
    a[r] =
        s.panels.data() + (i + r) / panel_width * span + (i + r) % panel_width;
  const double* b = s.panels.data() + p * span;
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
// row group of a block passes over it.
std::size_t chunk_panels(std::size_t cols) {
  return std::max<std::size_t>(1, 4096 / std::max<std::size_t>(cols, 1));
}

template <class W, int R, int V>
inline void rows_chunk(const packed& s, std::size_t i, std::size_t p0,
                       std::size_t p1, terms t, double* out,
                       std::size_t stride) {
  std::size_t p = p0;
  for (; p + V <= p1; p += V) {
    sums<W, R, V> acc;
    tile<W, R, V>(s, i, p, t, acc);
    store_tile<W, R, V>(acc, out + p * panel_width, stride);
  }
  for (; p < p1; ++p) {
    sums<W, R, 1> acc;
    tile<W, R, 1>(s, i, p, t, acc);
    store_tile<W, R, 1>(acc, out + p * panel_width, stride);
  }
}

template <class W, int R, int V>
inline void rows_of(const packed& s, row_span rows, terms t, double* out,
                    std::size_t stride) {
  const std::size_t count = s.count();
  const std::size_t chunk = chunk_panels(s.cols);
  for (std::size_t p0 = 0; p0 < count; p0 += chunk) {
    const std::size_t p1 = std::min(count, p0 + chunk);
    std::size_t r = 0;
    for (; r + R <= rows.count; r += R)
      rows_chunk<W, R, V>(s, rows.first + r, p0, p1, t, out + r * stride,
                          stride);
    for (; r < rows.count; ++r)
      rows_chunk<W, 1, V>(s, rows.first + r, p0, p1, t, out + r * stride,
                          stride);
  }
}

// Adds the distances of panels p0..p1-1 lane by lane, panel after panel, to
// the 8 lane sums of each of rows i..i+R-1 (lane_sums, 8 per row).
template <class W, int R, int V>
inline void lane_run(const packed& s, std::size_t i, std::size_t p0,
                     std::size_t p1, double* lane_sums) {
  constexpr int M = per_panel<W>;
  constexpr int L = lanes<W>;
  W sum[R][M];
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
    for (int m = 0; m < M; ++m)
      sum[r][m] = load<W>(lane_sums + r * panel_width + m * L);
  std::size_t p = p0;
  for (; p + V <= p1; p += V) {
    sums<W, R, V> acc;
    tile<W, R, V>(s, i, p, {}, acc);
#pragma GCC unroll 16
    for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
      for (int j = 0; j < V * M; ++j) sum[r][j % M] += acc[r][j];
  }
  for (; p < p1; ++p) {
    sums<W, R, 1> acc;
    tile<W, R, 1>(s, i, p, {}, acc);
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

// Adds the distances from rows i..i+rows-1 to the samples l of panel p with
// i < l < n to their lane sums.
template <class W>
inline void lane_masked(const packed& s, std::size_t i, std::size_t rows,
                        std::size_t p, double* lane_sums) {
  for (std::size_t r = 0; r < rows; ++r) {
    sums<W, 1, 1> acc;
    tile<W, 1, 1>(s, i + r, p, {}, acc);
    double d[panel_width];
    store_tile<W, 1, 1>(acc, d, 0);
    for (std::size_t k = 0; k < panel_width; ++k) {
      const std::size_t l = p * panel_width + k;
      if (l > i + r && l < s.n) lane_sums[r * panel_width + k] += d[k];
    }
  }
}

// The lane sums of the rows of band b (samples 8b..8b+7): the band's own
// panel (masked), then the full panels after it, then the last, partial
// panel (masked): every lane in increasing sample order.
template <class W, int R, int V>
inline void band_of(const packed& s, std::size_t b, double* lane_sums) {
  const std::size_t i = b * panel_width;
  const std::size_t rows = std::min(panel_width, s.n - i);
  const std::size_t full = s.n / panel_width;
  std::fill(lane_sums, lane_sums + panel_width * panel_width, 0.0);
  lane_masked<W>(s, i, rows, b, lane_sums);
  const std::size_t chunk = chunk_panels(s.cols);
  for (std::size_t p0 = b + 1; p0 < full; p0 += chunk) {
    const std::size_t p1 = std::min(full, p0 + chunk);
    std::size_t r = 0;
    for (; r + R <= rows; r += R)
      lane_run<W, R, V>(s, i + r, p0, p1, lane_sums + r * panel_width);
    for (; r < rows; ++r)
      lane_run<W, 1, V>(s, i + r, p0, p1, lane_sums + r * panel_width);
  }
  if (full > b && s.n % panel_width != 0)
    lane_masked<W>(s, i, rows, full, lane_sums);
}

// Rounds the terms of a tile of rows i..i+R-1 against panels p..p+V-1 to
// the rows' grids (into their lane vectors rs, ro) and to the samples'
// grids (into out). Masked, only the pairs with i + r < l < n count: a
// masked term is +0, which rounds to 0 exactly on every grid.
template <class W, int R, int V, bool Masked>
inline void add_tile(const packed& s, sums<W, R, V>& acc, std::size_t i,
                     std::size_t p, const W* rg, W* rs, W* ro, grid_sums out) {
  constexpr int L = lanes<W>;
  constexpr int J = V * per_panel<W>;
  const std::size_t l = p * panel_width;
  if constexpr (Masked) {
    W index;
    for (int k = 0; k < L; ++k) index[k] = static_cast<double>(l + k);
    for (int j = 0; j < J; ++j)
      for (int r = 0; r < R; ++r)
        acc[r][j] = keep_if<W>((index + j * L > static_cast<double>(i + r)) &
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
    W sum = rs[r];
    W most = ro[r];
#pragma GCC unroll 16
    for (int j = 0; j < J; ++j) {
      const W d = acc[r][j];
      const W a = on_grid(d, rg[r]);
      sum += a;
      most = larger(magnitude(d - a), most);
      const W c = on_grid(d, cg[j]);
      cs[j] += c;
      co[j] = larger(magnitude(d - c), co[j]);
    }
    rs[r] = sum;
    ro[r] = most;
  }
#pragma GCC unroll 16
  for (int j = 0; j < J; ++j) {
    store<W>(out.sum + l + j * L, cs[j]);
    store<W>(out.off + l + j * L, co[j]);
  }
}

// Rows i..i+R-1 of band b against panels p0..p1-1: the band's own panel and
// the last, partial one masked, the full ones after the band in groups of V.
template <class W, int R, int V>
inline void form_chunk(const packed& s, std::size_t b, std::size_t i,
                       std::size_t p0, std::size_t p1, terms t,
                       const W* row_grid, W* row_sum, W* row_off,
                       grid_sums out) {
  // Local copies stay in registers; through the pointers each addition
  // would wait on a store.
  W rg[R];
  W rs[R];
  W ro[R];
  for (int r = 0; r < R; ++r) {
    rg[r] = row_grid[r];
    rs[r] = row_sum[r];
    ro[r] = row_off[r];
  }
  const std::size_t full = s.n / panel_width;
  std::size_t p = p0;
  auto masked = [&] {
    sums<W, R, 1> acc;
    tile<W, R, 1>(s, i, p, t, acc);
    add_tile<W, R, 1, true>(s, acc, i, p, rg, rs, ro, out);
  };
  if (p == b) {
    masked();
    ++p;
  }
  const std::size_t end = std::min(p1, full);
  for (; p + V <= end; p += V) {
    sums<W, R, V> acc;
    tile<W, R, V>(s, i, p, t, acc);
    add_tile<W, R, V, false>(s, acc, i, p, rg, rs, ro, out);
  }
  for (; p < end; ++p) {
    sums<W, R, 1> acc;
    tile<W, R, 1>(s, i, p, t, acc);
    add_tile<W, R, 1, false>(s, acc, i, p, rg, rs, ro, out);
  }
  for (; p < p1; ++p) masked();
  for (int r = 0; r < R; ++r) {
    row_sum[r] = rs[r];
    row_off[r] = ro[r];
  }
}

template <class W, int R, int V>
inline void form_band_of(const packed& s, std::size_t b, terms t,
                         grid_sums out) {
  constexpr int L = lanes<W>;
  const std::size_t i = b * panel_width;
  const std::size_t rows = std::min(panel_width, s.n - i);
  W rg[panel_width];
  W rs[panel_width] = {};
  W ro[panel_width] = {};
  for (std::size_t r = 0; r < rows; ++r) rg[r] = splat<W>(out.grids[i + r]);
  const std::size_t count = s.count();
  const std::size_t chunk = chunk_panels(s.cols);
  for (std::size_t p0 = b; p0 < count; p0 += chunk) {
    const std::size_t p1 = std::min(count, p0 + chunk);
    std::size_t r = 0;
    for (; r + R <= rows; r += R)
      form_chunk<W, R, V>(s, b, i + r, p0, p1, t, rg + r, rs + r, ro + r, out);
    for (; r < rows; ++r)
      form_chunk<W, 1, V>(s, b, i + r, p0, p1, t, rg + r, rs + r, ro + r, out);
  }
  // The diagonal's term, (0 - mean)^2 when centred, belongs to its row only.
  const double self = t.centred ? square(0.0 - t.mean) : 0.0;
  for (std::size_t r = 0; r < rows; ++r) {
    const double grid = out.grids[i + r];
    const double a = (self + grid) - grid;
    double sum = out.sum[i + r] + a;
    double off = std::max(out.off[i + r], std::abs(self - a));
    for (int k = 0; k < L; ++k) {
      sum += rs[r][k];
      off = std::max(off, ro[r][k]);
    }
    out.sum[i + r] = sum;
    out.off[i + r] = off;
  }
}

// Register blocking: R rows against V panels, as many accumulators as each
// register file holds without spilling; wide rows prefer more panels (the
// square roots weigh less there), as measured with bench/floors.
using rows_fn = void (*)(const packed&, row_span, terms, double*, std::size_t);
using band_fn = void (*)(const packed&, std::size_t, double*);
using form_fn = void (*)(const packed&, std::size_t, terms, grid_sums);

[[gnu::target("avx512f"), gnu::flatten]] void rows_avx512(const packed& s,
                                                          row_span rows,
                                                          terms t, double* out,
                                                          std::size_t stride) {
  if (s.cols >= 64)
    rows_of<__m512d, 4, 4>(s, rows, t, out, stride);
  else
    rows_of<__m512d, 4, 2>(s, rows, t, out, stride);
}

[[gnu::target("avx2"), gnu::flatten]] void rows_avx2(const packed& s,
                                                     row_span rows, terms t,
                                                     double* out,
                                                     std::size_t stride) {
  rows_of<__m256d, 4, 1>(s, rows, t, out, stride);
}

[[gnu::flatten]] void rows_base(const packed& s, row_span rows, terms t,
                                double* out, std::size_t stride) {
  rows_of<__m128d, 2, 1>(s, rows, t, out, stride);
}

[[gnu::target("avx512f"), gnu::flatten]] void band_avx512(const packed& s,
                                                          std::size_t b,
                                                          double* lane_sums) {
  if (s.cols >= 64)
    band_of<__m512d, 4, 4>(s, b, lane_sums);
  else
    band_of<__m512d, 4, 2>(s, b, lane_sums);
}

[[gnu::target("avx2"), gnu::flatten]] void band_avx2(const packed& s,
                                                     std::size_t b,
                                                     double* lane_sums) {
  band_of<__m256d, 4, 1>(s, b, lane_sums);
}

[[gnu::flatten]] void band_base(const packed& s, std::size_t b,
                                double* lane_sums) {
  band_of<__m128d, 2, 1>(s, b, lane_sums);
}

[[gnu::target("avx512f"), gnu::flatten]] void form_avx512(const packed& s,
                                                          std::size_t b,
                                                          terms t,
                                                          grid_sums out) {
  if (s.cols >= 64)
    form_band_of<__m512d, 4, 4>(s, b, t, out);
  else
    form_band_of<__m512d, 4, 2>(s, b, t, out);
}

[[gnu::target("avx2"), gnu::flatten]] void form_avx2(const packed& s,
                                                     std::size_t b, terms t,
                                                     grid_sums out) {
  form_band_of<__m256d, 4, 1>(s, b, t, out);
}

[[gnu::flatten]] void form_base(const packed& s, std::size_t b, terms t,
                                grid_sums out) {
  form_band_of<__m128d, 2, 1>(s, b, t, out);
}

template <class F>
F pick(int isa, F avx512, F avx2, F base) {
  if (isa >= isa_avx512 && isa_supported(isa_avx512)) return avx512;
  if (isa >= isa_avx2 && isa_supported(isa_avx2)) return avx2;
  return base;
}

}  // namespace

bool isa_supported(int isa) {
  __builtin_cpu_init();
  if (isa == isa_avx512) return __builtin_cpu_supports("avx512f");
  if (isa == isa_avx2) return __builtin_cpu_supports("avx2");
  return isa == isa_base;
}

int best_isa() {
  if (isa_supported(isa_avx512)) return isa_avx512;
  if (isa_supported(isa_avx2)) return isa_avx2;
  return isa_base;
}

unsigned available_threads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

// row(k) points at sample k's first packed value.
template <class Row>
packed pack_rows(std::size_t n, std::size_t cols, Row row) {
  packed s;
  s.n = n;
  s.cols = cols;
  // Never empty, so that row pointers stay valid without columns.
  s.panels.assign(std::max(s.padded() * s.cols, panel_width), 0.0);
  for (std::size_t k = 0; k < s.padded() && s.cols > 0; ++k) {
    const double* values = row(std::min(k, n - 1));
    double* out = s.panels.data() + k / panel_width * s.cols * panel_width +
                  k % panel_width;
    for (std::size_t c = 0; c < s.cols; ++c) out[c * panel_width] = values[c];
  }
  return s;
}

}  // namespace

packed pack(const Table& data, std::size_t first) {
  const std::size_t width = data.empty() ? 0 : data[0].size();
  return pack_rows(data.size(), width > first ? width - first : 0,
                   [&](std::size_t k) { return data[k].data() + first; });
}

packed pack(const double* data, std::size_t n, std::size_t width,
            std::size_t stride, std::size_t first) {
  return pack_rows(n, width > first ? width - first : 0,
                   [&](std::size_t k) { return data + k * stride + first; });
}

void distance_rows(int isa, const packed& s, row_span rows, terms t,
                   double* out, std::size_t stride) {
  pick<rows_fn>(isa, rows_avx512, rows_avx2, rows_base)(s, rows, t, out,
                                                        stride);
}

void form_band(int isa, const packed& s, std::size_t b, terms t,
               grid_sums sums) {
  pick<form_fn>(isa, form_avx512, form_avx2, form_base)(s, b, t, sums);
}

void run_threads(unsigned threads, const std::function<void(unsigned)>& work) {
  std::vector<std::thread> helpers;
  try {
    helpers.reserve(threads);
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work, t);
  } catch (const std::system_error&) {  // no more threads to be had
  } catch (const std::bad_alloc&) {
  }
  work(0);
  for (std::thread& t : helpers) t.join();
}

std::uint64_t band_pairs(const packed& s, std::size_t b) {
  std::uint64_t pairs = 0;
  for (std::size_t i = b * panel_width;
       i < std::min(s.n, (b + 1) * panel_width); ++i)
    pairs += s.n - 1 - i;
  return pairs;
}

// Labelled order: bands of 8 rows are claimed by any thread; each row's
// lane sums and row sum land in fixed places, and the caller adds the row
// sums in row order at the end (see distance_total).
double pair_total(const packed& s, unsigned threads, int isa,
                  pair_counter* done) {
  if (threads == 0) threads = available_threads();
  const band_fn fn = pick<band_fn>(isa, band_avx512, band_avx2, band_base);
  const std::size_t bands = s.count();
  std::vector<double> row_sums(s.n);
  std::atomic<std::size_t> next{0};
  run_threads(threads, [&](unsigned) {
    double lane_sums[panel_width * panel_width];
    for (;;) {
      const std::size_t b = next.fetch_add(1, std::memory_order_relaxed);
      if (b >= bands) return;
      fn(s, b, lane_sums);
      const std::size_t i = b * panel_width;
      for (std::size_t r = 0; r < std::min(panel_width, s.n - i); ++r) {
        double sum = 0.0;
        for (std::size_t k = 0; k < panel_width; ++k)
          sum += lane_sums[r * panel_width + k];
        row_sums[i + r] = sum;
      }
      if (done) done->fetch_add(band_pairs(s, b), std::memory_order_relaxed);
    }
  });
  double total = 0.0;
  for (const double x : row_sums) total += x;
  return 2.0 * total;
}
