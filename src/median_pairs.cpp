#include "median_pairs.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

#include "kernels.h"
#include "median_sample.h"

namespace kernel_width::detail {

namespace {

// Panels per chunk: a band's distances to a chunk (8 rows of at most 1024
// samples, 64 KiB) stay in cache until they are tallied.
std::size_t chunk_panels(const packed& s) {
  return std::clamp<std::size_t>(4096 / std::max<std::size_t>(s.cols, 1), 1,
                                 128);
}

// One thread's buffers, all made before the threads start.
struct worker {
  std::vector<double> rows;  // a band's distances to a chunk
  std::vector<bucket> buckets;
  std::vector<double> kept;  // values inside, until moved to the pass's
  window_tally t;
};

// Where the threads put the values a pass keeps.
struct kept_values {
  double* values;
  std::size_t room;
  std::atomic<std::size_t> used{0};
};

void hand_over(worker& w, kept_values& out) {
  const std::size_t count = w.t.kept;
  if (count == 0) return;
  const std::size_t at = out.used.fetch_add(count, std::memory_order_relaxed);
  if (at < out.room)
    std::memcpy(out.values + at, w.kept.data(),
                std::min(count, out.room - at) * sizeof(double));
  w.t.kept = 0;
}

// Tallies the pairs i < l with i in band b, chunk by chunk.
void tally_band(const kernels& k, const packed& s, std::size_t b,
                const window& w, worker& wk, kept_values& out) {
  const std::size_t chunk = chunk_panels(s);
  const std::size_t stride = chunk * panel_width;
  const std::size_t first = b * panel_width;
  const std::size_t last = std::min(s.n, first + panel_width);
  for (std::size_t p0 = b; p0 < s.count(); p0 += chunk) {
    const panel_span panels{p0, std::min(s.count(), p0 + chunk)};
    k.pairs(s, b, panels, wk.rows.data(), stride);
    const std::size_t start = p0 * panel_width;
    const std::size_t end = std::min(s.n, panels.end * panel_width);
    for (std::size_t i = first; i < last; ++i) {
      const std::size_t from = std::max(i + 1, start);
      if (from < end)
        k.tally(wk.rows.data() + (i - first) * stride + (from - start),
                end - from, w, wk.t);
    }
    hand_over(wk, out);
  }
}

std::vector<worker> workers_for(const packed& s, const pass_result& out,
                                unsigned threads) {
  const std::size_t room = panel_width * chunk_panels(s) * panel_width;
  std::vector<worker> workers(threads);
  for (worker& wk : workers) {
    wk.rows.resize(room);
    wk.buckets.assign(out.buckets.size(), {});
    if (out.room > 0) wk.kept.resize(room);
    wk.t.buckets = wk.buckets.data();
    wk.t.values = wk.kept.data();
  }
  return workers;
}

// One pass over every pair on threads; false when cancelled.
bool run_pass(const packed& s, const window& w, unsigned threads, isa set,
              const run_control& control, pass_result& out) {
  const kernels& k = kernels_for(set);
  std::vector<worker> workers = workers_for(s, out, threads);
  kept_values values{out.values.get(), out.room};
  std::atomic<std::size_t> next{0};
  run_threads(threads, [&](unsigned id) {
    for (std::size_t b;
         (b = next.fetch_add(1, std::memory_order_relaxed)) < s.count();) {
      if (control.cancelled()) return;
      tally_band(k, s, b, w, workers[id], values);
      control.add(band_pairs(s, b));
    }
  });
  if (control.cancelled()) return false;
  for (const worker& wk : workers) {
    merge(out.t, wk.t);
    for (std::size_t j = 0; j < wk.buckets.size(); ++j)
      merge(out.buckets[j], wk.buckets[j]);
  }
  out.t.kept = std::min(values.used.load(), values.room);
  return true;
}

// Each thread keeps a row of buckets and a chunk's distances: at most 32
// MiB for them all, and never more threads than bands.
unsigned median_threads(const packed& s, unsigned threads,
                        const select_limits& limits) {
  if (threads == 0) threads = available_threads();
  const std::size_t chunk = panel_width * chunk_panels(s) * panel_width;
  const std::size_t per_thread =
      (sizeof(bucket) << limits.bucket_bits) + 2 * chunk * sizeof(double);
  const std::size_t budget = std::size_t{32} << 20;
  return static_cast<unsigned>(std::clamp<std::size_t>(
      std::min<std::size_t>({threads, s.count(), budget / per_thread}), 1,
      threads));
}

}  // namespace

median_result pair_median(const packed& s, unsigned threads, isa set,
                          const run_control& control,
                          const select_limits& limits) {
  const std::uint64_t n = s.n;
  const std::uint64_t pairs = n < 2 ? 0 : n * (n - 1) / 2;
  threads = median_threads(s, threads, limits);
  const std::optional<first_window> first =
      sampled_window(s, set, threads, pairs, limits);
  // The progress counts the first pass: most data need no other.
  run_control watch = control;
  return select_median(
      pairs,
      [&](const window& w, pass_result& out) {
        const bool done = run_pass(s, w, threads, set, watch, out);
        watch.done = nullptr;
        return done;
      },
      first, limits);
}

}  // namespace kernel_width::detail
