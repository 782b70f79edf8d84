#include "median_pairs.h"

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstring>
#include <limits>

#include "kernels.h"

namespace kernel_width::detail {

namespace {

constexpr std::uint64_t unknown = std::numeric_limits<std::uint64_t>::max();

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

// Where the threads put the values a pass collects.
struct collected {
  double* values;
  std::size_t room;
  std::atomic<std::size_t> used{0};
};

void hand_over(worker& w, collected& out) {
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
                const window& w, worker& wk, collected& out) {
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
    if (w.collect) hand_over(wk, out);
  }
}

std::vector<worker> workers_for(const packed& s, const window& w,
                                const pass_result& out, unsigned threads) {
  const std::size_t room = panel_width * chunk_panels(s) * panel_width;
  std::vector<worker> workers(threads);
  for (worker& wk : workers) {
    wk.rows.resize(room);
    if (w.collect)
      wk.kept.resize(room);
    else
      wk.buckets.assign(out.buckets.size(), {});
    wk.t.buckets = wk.buckets.data();
    wk.t.values = wk.kept.data();
  }
  return workers;
}

// One pass over every pair on threads; false when cancelled.
bool run_pass(const packed& s, const window& w, unsigned threads, isa set,
              const run_control& control, pass_result& out) {
  const kernels& k = kernels_for(set);
  std::vector<worker> workers = workers_for(s, w, out, threads);
  collected values{out.values.data(), out.values.size()};
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

// A fixed stream of random numbers (splitmix64): the same windows, and
// passes, on every run.
std::uint64_t next_random(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
  z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
  return z ^ (z >> 31);
}

// The distances between the samples of random pairs of different bands:
// 64 at a time, from two panels each, so that they stay cheap.
std::vector<double> sampled_distances(const packed& s, isa set,
                                      std::size_t tiles) {
  const kernels& k = kernels_for(set);
  std::vector<double> sample;
  sample.reserve(tiles * panel_width * panel_width);
  double tile[panel_width * panel_width];
  std::uint64_t state = 0;
  for (std::size_t t = 0; t < tiles; ++t) {
    const std::size_t b = next_random(state) % s.count();
    const std::size_t q = next_random(state) % s.count();
    if (b == q) continue;
    k.pairs(s, b, {q, q + 1}, tile, panel_width);
    for (std::size_t r = 0; r < std::min(panel_width, s.n - b * panel_width);
         ++r)
      for (std::size_t c = 0; c < panel_width; ++c) {
        const double d = tile[r * panel_width + c];
        if (q * panel_width + c < s.n && d == d) sample.push_back(d);
      }
  }
  return sample;
}

// The first window: the middle of a sample of the distances, widened on
// either side by a share that covers the sample's error many times over.
// Nothing when every distance can be collected at once.
std::optional<window> sampled_window(const packed& s, isa set,
                                     std::uint64_t pairs,
                                     const select_limits& limits) {
  if (pairs <= limits.collect || s.count() < 2) return std::nullopt;
  const std::uint64_t tiles = std::clamp<std::uint64_t>(
      pairs / limits.sample_share, 256, limits.sample_tiles);
  std::vector<double> sample = sampled_distances(s, set, tiles);
  if (sample.empty()) return std::nullopt;
  const double spread =
      0.002 + 8 / std::sqrt(static_cast<double>(sample.size()));
  const auto at = [&](double share) {
    const auto last = static_cast<double>(sample.size() - 1);
    const auto r =
        static_cast<std::ptrdiff_t>(std::clamp(share, 0.0, 1.0) * last);
    std::nth_element(sample.begin(), sample.begin() + r, sample.end());
    return bits_of(sample[static_cast<std::size_t>(r)]);
  };
  const std::uint64_t low = at(0.5 - spread);
  return window_over(low, at(0.5 + spread), unknown, limits);
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
  const std::optional<window> first = sampled_window(s, set, pairs, limits);
  return select_median(
      pairs,
      [&](const window& w, pass_result& out) {
        return run_pass(s, w, threads, set, control, out);
      },
      first, limits);
}

}  // namespace kernel_width::detail
