#include "block.h"

#include <immintrin.h>
#include <sched.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <type_traits>

namespace {

// The kernel is written once over a native vector type W (__m512d, __m256d
// or __m128d, used with GCC's vector operators) and inlined into one
// wrapper per instruction set by `flatten`. Every lane keeps its own column
// sum in column order; vectors only run across samples, never within a sum.

[[gnu::target("avx512f")]] inline void root(__m512d& x) {
  x = _mm512_maskz_sqrt_pd(0xff, x);
}
[[gnu::target("avx2")]] inline void root(__m256d& x) { x = _mm256_sqrt_pd(x); }
inline void root(__m128d& x) { x = _mm_sqrt_pd(x); }

template <class W>
constexpr int lanes = sizeof(W) / sizeof(double);

// Native vectors per column of a panel.
template <class W>
constexpr int per_panel = static_cast<int>(panel_width) / lanes<W>;

template <class W, int R, int V>
using sums = W[R][V * per_panel<W>];

// acc[r][j]: distances from samples i..i+R-1 to the samples of panels
// p..p+V-1; centred, square(distance - mean) instead.
// A chain may ride along (feed, called once per column, adds a few ready
// entries to the chain): interleaved with this independent vector work, the
// chain's latency hides behind it in out-of-order execution.
template <class W, int R, int V, class Feed = std::nullptr_t>
inline void tile(const double* panels, std::size_t cols, std::size_t i,
                 std::size_t p, bool centred, double mean, sums<W, R, V>& acc,
                 Feed feed = nullptr) {
  constexpr int M = per_panel<W>;
  constexpr int L = lanes<W>;
  const std::size_t span = cols * panel_width;
  const double* a[R];
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
    a[r] = panels + (i + r) / panel_width * span + (i + r) % panel_width;
  const double* b = panels + p * span;
#pragma GCC unroll 32
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 32
    for (int j = 0; j < V * M; ++j) acc[r][j] = W{};
  for (std::size_t c = 0; c < cols; ++c) {
    W y[V * M];
#pragma GCC unroll 16
    for (int j = 0; j < V * M; ++j)
      std::memcpy(&y[j], b + j / M * span + c * panel_width + j % M * L,
                  sizeof(W));
#pragma GCC unroll 16
    for (int r = 0; r < R; ++r) {
      const double x = a[r][c * panel_width];
#pragma GCC unroll 16
      for (int j = 0; j < V * M; ++j) {
        const W t = x - y[j];
        acc[r][j] += t * t;
      }
    }
    if constexpr (!std::is_null_pointer_v<Feed>) feed();
  }
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
    for (int j = 0; j < V * M; ++j) {
      root(acc[r][j]);
      if (centred) {
        const W t = acc[r][j] - mean;
        acc[r][j] = t * t;
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
      std::memcpy(out + r * stride + j * lanes<W>, &acc[r][j], sizeof(W));
}

// Panels per chunk: a chunk of packed samples stays in cache while every
// row group of a block passes over it.
std::size_t chunk_panels(std::size_t cols) {
  return std::max<std::size_t>(1, 4096 / std::max<std::size_t>(cols, 1));
}

// The chain a tile may take along: entries feed..feed_end, k per column,
// and refill (with its context), which moves the chain on to the next
// ready run of entries and says whether there is one.
using refill_fn = bool (*)(void*);

template <class W, int R, int V>
inline void fed_tile(const double* panels, std::size_t cols, std::size_t i,
                     std::size_t p, bool centred, double mean,
                     sums<W, R, V>& acc, const double*& feed,
                     const double*& feed_end, std::size_t k, double& sum,
                     refill_fn refill, void* context) {
  const std::size_t need = k * cols;
  auto enough = [&] {
    return static_cast<std::size_t>(feed_end - feed) >= need;
  };
  if (k == 0 || (!enough() && !(refill(context) && enough()))) {
    tile<W, R, V>(panels, cols, i, p, centred, mean, acc);
    return;
  }
  double s = sum;
  const double* f = feed;
  tile<W, R, V>(panels, cols, i, p, centred, mean, acc, [&] {
    for (std::size_t q = 0; q < k; ++q) s += f[q];
    f += k;
  });
  sum = s;
  feed = f;
}

// Stores the first `valid` lanes of each row of a one-panel tile.
template <class W, int R>
inline void store_part(const sums<W, R, 1>& acc, double* out,
                       std::size_t stride, std::size_t valid) {
  double lanes_out[R][panel_width];
  store_tile<W, R, 1>(acc, &lanes_out[0][0], panel_width);
  for (int r = 0; r < R; ++r)
    std::memcpy(out + r * stride, lanes_out[r], valid * sizeof(double));
}

template <class W, int R, int V>
inline void rows_chunk(const double* panels, std::size_t n, std::size_t cols,
                       std::size_t i, std::size_t p0, std::size_t p1,
                       double* out, std::size_t stride, bool centred,
                       double mean, const double*& feed,
                       const double*& feed_end, std::size_t k, double& sum,
                       refill_fn refill, void* context) {
  const std::size_t full = n / panel_width;
  const std::size_t end = std::min(p1, full);
  std::size_t p = p0;
  for (; p + V <= end; p += V) {
    sums<W, R, V> acc;
    fed_tile<W, R, V>(panels, cols, i, p, centred, mean, acc, feed, feed_end, k,
                      sum, refill, context);
    store_tile<W, R, V>(acc, out + p * panel_width, stride);
  }
  for (; p < end; ++p) {
    sums<W, R, 1> acc;
    fed_tile<W, R, 1>(panels, cols, i, p, centred, mean, acc, feed, feed_end, k,
                      sum, refill, context);
    store_tile<W, R, 1>(acc, out + p * panel_width, stride);
  }
  if (p < p1) {  // the last panel, partly padding: rows may lie end to end
    sums<W, R, 1> acc;
    tile<W, R, 1>(panels, cols, i, p, centred, mean, acc);
    store_part<W, R>(acc, out + p * panel_width, stride, n % panel_width);
  }
}

template <class W, int R, int V>
inline void rows_of(const double* panels, std::size_t n, std::size_t cols,
                    std::size_t i, std::size_t rows, double* out,
                    std::size_t stride, bool centred, double mean,
                    const double*& feed, const double*& feed_end, std::size_t k,
                    double& sum, refill_fn refill, void* context) {
  const std::size_t count = (n + panel_width - 1) / panel_width;
  const std::size_t chunk = chunk_panels(cols);
  for (std::size_t p0 = 0; p0 < count; p0 += chunk) {
    const std::size_t p1 = std::min(count, p0 + chunk);
    std::size_t r = 0;
    for (; r + R <= rows; r += R)
      rows_chunk<W, R, V>(panels, n, cols, i + r, p0, p1, out + r * stride,
                          stride, centred, mean, feed, feed_end, k, sum, refill,
                          context);
    for (; r < rows; ++r)
      rows_chunk<W, 1, V>(panels, n, cols, i + r, p0, p1, out + r * stride,
                          stride, centred, mean, feed, feed_end, k, sum, refill,
                          context);
  }
}

// Adds the distances of panels p0..p1-1 lane by lane, panel after panel, to
// the 8 lane sums of each of rows i..i+R-1 (lane_sums, 8 per row).
template <class W, int R, int V>
inline void lane_run(const double* panels, std::size_t cols, std::size_t i,
                     std::size_t p0, std::size_t p1, double* lane_sums) {
  constexpr int M = per_panel<W>;
  constexpr int L = lanes<W>;
  W s[R][M];
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
    for (int m = 0; m < M; ++m)
      std::memcpy(&s[r][m], lane_sums + r * panel_width + m * L, sizeof(W));
  std::size_t p = p0;
  for (; p + V <= p1; p += V) {
    sums<W, R, V> acc;
    tile<W, R, V>(panels, cols, i, p, false, 0.0, acc);
#pragma GCC unroll 16
    for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
      for (int j = 0; j < V * M; ++j) s[r][j % M] += acc[r][j];
  }
  for (; p < p1; ++p) {
    sums<W, R, 1> acc;
    tile<W, R, 1>(panels, cols, i, p, false, 0.0, acc);
#pragma GCC unroll 16
    for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
      for (int m = 0; m < M; ++m) s[r][m] += acc[r][m];
  }
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 16
    for (int m = 0; m < M; ++m)
      std::memcpy(lane_sums + r * panel_width + m * L, &s[r][m], sizeof(W));
}

// Adds the distances from rows i..i+rows-1 to the samples l of panel p with
// i < l < n to their lane sums.
template <class W>
inline void lane_masked(const double* panels, std::size_t n, std::size_t cols,
                        std::size_t i, std::size_t rows, std::size_t p,
                        double* lane_sums) {
  for (std::size_t r = 0; r < rows; ++r) {
    sums<W, 1, 1> acc;
    tile<W, 1, 1>(panels, cols, i + r, p, false, 0.0, acc);
    double d[panel_width];
    store_tile<W, 1, 1>(acc, d, 0);
    for (std::size_t k = 0; k < panel_width; ++k) {
      const std::size_t l = p * panel_width + k;
      if (l > i + r && l < n) lane_sums[r * panel_width + k] += d[k];
    }
  }
}

// The lane sums of the rows of band b (samples 8b..8b+7): the band's own
// panel (masked), then the full panels after it, then the last, partial
// panel (masked): every lane in increasing sample order.
template <class W, int R, int V>
inline void band_of(const double* panels, std::size_t n, std::size_t cols,
                    std::size_t b, double* lane_sums) {
  const std::size_t i = b * panel_width;
  const std::size_t rows = std::min(panel_width, n - i);
  const std::size_t full = n / panel_width;
  std::fill(lane_sums, lane_sums + panel_width * panel_width, 0.0);
  lane_masked<W>(panels, n, cols, i, rows, b, lane_sums);
  const std::size_t chunk = chunk_panels(cols);
  for (std::size_t p0 = b + 1; p0 < full; p0 += chunk) {
    const std::size_t p1 = std::min(full, p0 + chunk);
    std::size_t r = 0;
    for (; r + R <= rows; r += R)
      lane_run<W, R, V>(panels, cols, i + r, p0, p1,
                        lane_sums + r * panel_width);
    for (; r < rows; ++r)
      lane_run<W, 1, V>(panels, cols, i + r, p0, p1,
                        lane_sums + r * panel_width);
  }
  if (full > b && n % panel_width != 0)
    lane_masked<W>(panels, n, cols, i, rows, full, lane_sums);
}

using rows_fn = void (*)(const double*, std::size_t, std::size_t, std::size_t,
                         std::size_t, double*, std::size_t, bool, double,
                         const double*&, const double*&, std::size_t, double&,
                         refill_fn, void*);
using band_fn = void (*)(const double*, std::size_t, std::size_t, std::size_t,
                         double*);

// Register blocking: R rows against V panels, as many accumulators as each
// register file holds without spilling; wide rows prefer more panels (the
// square roots weigh less there), as measured with bench/floors.
[[gnu::target("avx512f"), gnu::flatten]] void rows_avx512(
    const double* panels, std::size_t n, std::size_t cols, std::size_t i,
    std::size_t rows, double* out, std::size_t stride, bool centred,
    double mean, const double*& feed, const double*& feed_end, std::size_t k,
    double& sum, refill_fn refill, void* context) {
  if (cols >= 64)
    rows_of<__m512d, 4, 4>(panels, n, cols, i, rows, out, stride, centred, mean,
                           feed, feed_end, k, sum, refill, context);
  else
    rows_of<__m512d, 4, 2>(panels, n, cols, i, rows, out, stride, centred, mean,
                           feed, feed_end, k, sum, refill, context);
}

[[gnu::target("avx2"), gnu::flatten]] void rows_avx2(
    const double* panels, std::size_t n, std::size_t cols, std::size_t i,
    std::size_t rows, double* out, std::size_t stride, bool centred,
    double mean, const double*& feed, const double*& feed_end, std::size_t k,
    double& sum, refill_fn refill, void* context) {
  rows_of<__m256d, 4, 1>(panels, n, cols, i, rows, out, stride, centred, mean,
                         feed, feed_end, k, sum, refill, context);
}

[[gnu::flatten]] void rows_base(const double* panels, std::size_t n,
                                std::size_t cols, std::size_t i,
                                std::size_t rows, double* out,
                                std::size_t stride, bool centred, double mean,
                                const double*& feed, const double*& feed_end,
                                std::size_t k, double& sum, refill_fn refill,
                                void* context) {
  rows_of<__m128d, 2, 1>(panels, n, cols, i, rows, out, stride, centred, mean,
                         feed, feed_end, k, sum, refill, context);
}

[[gnu::target("avx512f"), gnu::flatten]] void band_avx512(const double* panels,
                                                          std::size_t n,
                                                          std::size_t cols,
                                                          std::size_t b,
                                                          double* lane_sums) {
  if (cols >= 64)
    band_of<__m512d, 4, 4>(panels, n, cols, b, lane_sums);
  else
    band_of<__m512d, 4, 2>(panels, n, cols, b, lane_sums);
}

[[gnu::target("avx2"), gnu::flatten]] void band_avx2(const double* panels,
                                                     std::size_t n,
                                                     std::size_t cols,
                                                     std::size_t b,
                                                     double* lane_sums) {
  band_of<__m256d, 4, 1>(panels, n, cols, b, lane_sums);
}

[[gnu::flatten]] void band_base(const double* panels, std::size_t n,
                                std::size_t cols, std::size_t b,
                                double* lane_sums) {
  band_of<__m128d, 2, 1>(panels, n, cols, b, lane_sums);
}

rows_fn rows_for(int isa) {
  if (isa >= isa_avx512 && isa_supported(isa_avx512)) return rows_avx512;
  if (isa >= isa_avx2 && isa_supported(isa_avx2)) return rows_avx2;
  return rows_base;
}

band_fn band_for(int isa) {
  if (isa >= isa_avx512 && isa_supported(isa_avx512)) return band_avx512;
  if (isa >= isa_avx2 && isa_supported(isa_avx2)) return band_avx2;
  return band_base;
}

// Waits politely: spins briefly, then gives the core away (the thread
// count may exceed the cores).
void idle(unsigned& spins) {
  if (++spins < 64)
    _mm_pause();
  else
    std::this_thread::yield();
}

// The chain: one dependent addition after another, in order. Kept out of
// line: inlined, GCC parked the sum in a general register between additions.
[[gnu::noinline]] double add_all(double sum, const double* p,
                                 std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) sum += p[k];
  return sum;
}

// Runs work on threads - 1 helper threads and on the calling thread.
template <class F>
void run_threads(unsigned threads, F work_of_helper, auto work_of_caller) {
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work_of_helper);
  work_of_caller();
  for (std::thread& t : helpers) t.join();
}

constexpr std::size_t none = SIZE_MAX;

}  // namespace

// The ring's memory: the packed data's size plus 8 MiB, which keeps the peak
// (packed data and ring) under the bound of twice the data plus 16 MiB.
std::size_t ring_budget(std::size_t n, std::size_t cols) {
  return n * cols * sizeof(double) + (std::size_t{8} << 20);
}

namespace {

// Slots of the ring: more slots absorb more jitter between the threads;
// from 3 (one unit added up, two computed) to most, within the budget.
std::size_t ring_slots(std::size_t n, std::size_t cols, std::size_t rows,
                       std::size_t most) {
  const std::size_t unit = rows * n * sizeof(double);
  return std::clamp<std::size_t>(
      ring_budget(n, cols) / std::max<std::size_t>(unit, 1), 3, most);
}

// Claims the next unit below limit; none when there is none.
std::size_t claim(std::atomic<std::size_t>& next, std::size_t units,
                  std::size_t limit) {
  std::size_t c = next.load(std::memory_order_relaxed);
  while (c < units && c < limit)
    if (next.compare_exchange_weak(c, c + 1, std::memory_order_relaxed))
      return c;
  return none;
}

}  // namespace

std::size_t unit_rows(std::size_t n, std::size_t cols) {
  std::size_t rows = cols >= 64 ? 16 : cols >= 16 ? 8 : 4;
  while (rows > 4 && 3 * rows * n * sizeof(double) > ring_budget(n, cols))
    rows /= 2;
  return rows;
}

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

std::vector<double> pack(const Table& data, std::size_t first) {
  const std::size_t n = data.size();
  const std::size_t width = n == 0 ? 0 : data[0].size();
  const std::size_t cols = width > first ? width - first : 0;
  const std::size_t count = (n + panel_width - 1) / panel_width;
  // Never empty, so that row pointers stay valid without columns.
  std::vector<double> panels(std::max(count * cols * panel_width, panel_width));
  for (std::size_t s = 0; s < count * panel_width; ++s) {
    const Row& row = data[std::min(s, n - 1)];
    double* out =
        panels.data() + s / panel_width * cols * panel_width + s % panel_width;
    for (std::size_t c = 0; c < cols; ++c)
      out[c * panel_width] = row[first + c];
  }
  return panels;
}

void distance_rows(int isa, const double* panels, std::size_t n,
                   std::size_t cols, std::size_t i, std::size_t rows,
                   double* out, std::size_t stride, bool centred, double mean) {
  const double* feed = nullptr;
  const double* feed_end = nullptr;
  double sum = 0.0;
  rows_for(isa)(panels, n, cols, i, rows, out, stride, centred, mean, feed,
                feed_end, 0, sum, nullptr, nullptr);
}

// Units of unit_rows(n, cols) rows pass through a ring of slots, consumed
// strictly in order by the calling thread, which adds them up; helpers
// compute units ahead. The calling thread computes too: while it adds up a
// ready unit it computes a later one with the additions interleaved (the
// chain waits on latency, the kernel on throughput), and when its next unit
// is not ready it computes the next unclaimed one. One thread gives a plain
// serial run, and the sum never depends on who computed what.
double chain_sum(const std::vector<double>& panels, std::size_t n,
                 std::size_t cols, unsigned threads, int isa, bool centred,
                 double mean) {
  constexpr std::size_t ring = 8;
  if (threads == 0) threads = available_threads();
  const rows_fn fn = rows_for(isa);
  const std::size_t rows_per_unit = unit_rows(n, cols);
  const std::size_t units = (n + rows_per_unit - 1) / rows_per_unit;
  const std::size_t slots =
      threads == 1 ? 2 : ring_slots(n, cols, rows_per_unit, ring);
  // Rows lie end to end, so that a unit is one run of entries in chain order.
  std::vector<double> buffer(slots * rows_per_unit * n);
  std::array<std::atomic<std::size_t>, ring> ready{};  // unit + 1 in a slot
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> consumed{0};
  // Chain entries per column of a tile, when the chain rides along: about
  // three per distance computed, so that the chain sets the pace. Measured
  // (bench/run): it pays where chain and kernel take comparable time; narrow
  // samples leave the kernel little to hide the chain behind, and for wide
  // ones the chain hardly counts.
  const std::size_t per_column = cols >= 8 && cols < 64 ? 192 / cols : 0;

  auto slot = [&](std::size_t u) {
    return buffer.data() + u % slots * rows_per_unit * n;
  };
  auto compute = [&](std::size_t u, const double*& feed,
                     const double*& feed_end, std::size_t k, double& sum,
                     refill_fn refill, void* context) {
    const std::size_t i = u * rows_per_unit;
    fn(panels.data(), n, cols, i, std::min(rows_per_unit, n - i), slot(u), n,
       centred, mean, feed, feed_end, k, sum, refill, context);
    ready[u % slots].store(u + 1, std::memory_order_release);
  };
  auto helper = [&] {
    unsigned spins = 0;
    const double* none_yet = nullptr;
    double unused = 0.0;
    while (next.load(std::memory_order_relaxed) < units) {
      const std::size_t u =
          claim(next, units, consumed.load(std::memory_order_acquire) + slots);
      if (u == none) {
        idle(spins);
        continue;
      }
      spins = 0;
      compute(u, none_yet, none_yet, 0, unused, nullptr, nullptr);
    }
  };

  // The calling thread's chain: unit u is being added up from feed on.
  double sum = 0.0;
  std::size_t u = 0;
  const double* feed = nullptr;
  const double* feed_end = nullptr;
  // Adds up the rest of unit u, if begun, and begins the next unit when it
  // is ready; says whether the chain has entries to go on with.
  auto advance = [&] {
    if (feed) {
      sum = add_all(sum, feed, static_cast<std::size_t>(feed_end - feed));
      consumed.store(++u, std::memory_order_release);
      feed = feed_end = nullptr;
    }
    if (u == units || ready[u % slots].load(std::memory_order_acquire) != u + 1)
      return false;
    feed = slot(u);
    feed_end = feed + std::min(rows_per_unit, n - u * rows_per_unit) * n;
    return true;
  };
  const refill_fn refill = [](void* context) {
    return (*static_cast<decltype(advance)*>(context))();
  };
  auto caller = [&] {
    unsigned spins = 0;
    while (u < units) {
      if (!feed) advance();
      if (feed && per_column == 0) {  // plain: add up ready units at once
        advance();
        continue;
      }
      const std::size_t v = claim(next, units, u + slots);
      if (v != none)
        compute(v, feed, feed_end, per_column, sum, refill, &advance);
      else if (feed)
        advance();
      else
        idle(spins);
    }
  };
  run_threads(threads, helper, caller);
  return sum;
}

// Labelled order: bands of 8 rows are claimed by any thread; each row's
// lane sums and row sum land in fixed places, and the caller adds the row
// sums in row order at the end (see distance_total).
double pair_total(const std::vector<double>& panels, std::size_t n,
                  std::size_t cols, unsigned threads, int isa) {
  if (threads == 0) threads = available_threads();
  const band_fn fn = band_for(isa);
  const std::size_t bands = (n + panel_width - 1) / panel_width;
  std::vector<double> row_sums(n);
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    double lane_sums[panel_width * panel_width];
    for (;;) {
      const std::size_t b = next.fetch_add(1, std::memory_order_relaxed);
      if (b >= bands) return;
      fn(panels.data(), n, cols, b, lane_sums);
      const std::size_t i = b * panel_width;
      for (std::size_t r = 0; r < std::min(panel_width, n - i); ++r) {
        double sum = 0.0;
        for (std::size_t k = 0; k < panel_width; ++k)
          sum += lane_sums[r * panel_width + k];
        row_sums[i + r] = sum;
      }
    }
  };
  run_threads(threads, work, work);
  double total = 0.0;
  for (const double s : row_sums) total += s;
  return 2.0 * total;
}

void form_moments(const std::vector<double>& panels, std::size_t n,
                  std::size_t cols, unsigned threads, int isa, double& mean,
                  double& variance) {
  const double count = static_cast<double>(static_cast<std::int64_t>(n) *
                                           static_cast<std::int64_t>(n));
  mean = chain_sum(panels, n, cols, threads, isa, false, 0.0) / count;
  variance = chain_sum(panels, n, cols, threads, isa, true, mean) / count;
}
