#include "moments.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "grid.h"

// Each pass adds up its n*n terms (the distances, then square(distance -
// mean)) in row order, one chain. On the grid of the running sum (grid.h)
// a row's terms add up as integers in any order, so a pass
//  1. predicts each row's grid from estimates of the row sums;
//  2. computes every pair i < l once, on all threads, rounding its term to
//     row i's grid and to row l's (form_band), each thread into its own
//     exact sums;
//  3. computes again in order, on all threads, the rows whose terms hold a
//     tie or whose grid the approximate row totals now show to be wrong
//     (record_of);
//  4. settles the rows in order: a row whose grid is that of the exact
//     running sum, and whose total keeps the sum in its binade, is added at
//     once; any other is summed again in order from the exact sum
//     (grid_sum).
// Steps 1 and 3 only decide how fast it goes; every result is exact.

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// |term - rounded term| on a tie; +inf on the grid of 2^-1022, which has
// none.
double half(double grid) {
  return grid > 0x1p-1022 ? grid * 0x1p-53 : infinity;
}

double value(const packed& s, std::size_t i, std::size_t c) {
  return s.panels[i / panel_width * s.cols * panel_width + c * panel_width +
                  i % panel_width];
}

// The sums of the squared distances of each row, n |x_i - m|^2 + the sum
// of |x_l - m|^2 with m the mean sample: exact up to rounding, in O(n d).
std::vector<double> squared_sums(const packed& s) {
  std::vector<double> centre(s.cols, 0.0);
  for (std::size_t i = 0; i < s.n; ++i)
    for (std::size_t c = 0; c < s.cols; ++c) centre[c] += value(s, i, c);
  for (double& x : centre) x /= static_cast<double>(s.n);
  std::vector<double> q(s.n, 0.0);
  double all = 0.0;
  for (std::size_t i = 0; i < s.n; ++i) {
    for (std::size_t c = 0; c < s.cols; ++c)
      q[i] += square(value(s, i, c) - centre[c]);
    all += q[i];
  }
  for (double& x : q) x = static_cast<double>(s.n) * x + all;
  return q;
}

// Estimated row sums of the distances: sqrt(n Q_i) times the ratio of the
// mean distance to the root mean square distance, as the distances to 64
// samples spread over the data show it. The ratio varies much less than
// the distances do.
std::vector<double> distance_estimates(const packed& s,
                                       const std::vector<double>& q,
                                       unsigned threads, int isa) {
  const std::size_t m = std::min<std::size_t>(s.n, 64);
  // Every buffer is made before the threads start: no thread allocates.
  std::vector<std::vector<double>> sums(threads,
                                        std::vector<double>(2 * s.n, 0.0));
  std::vector<std::vector<double>> rows(threads,
                                        std::vector<double>(s.padded()));
  std::atomic<std::size_t> next{0};
  run_threads(threads, [&](unsigned w) {
    std::vector<double>& row = rows[w];
    double* sum = sums[w].data();
    double* squares = sum + s.n;
    for (std::size_t j; (j = next.fetch_add(1)) < m;) {
      distance_rows(isa, s, {j * s.n / m, 1}, {}, row.data(), s.padded());
      for (std::size_t i = 0; i < s.n; ++i) {
        sum[i] += row[i];
        squares[i] += square(row[i]);
      }
    }
  });
  std::vector<double> estimates(s.n);
  for (std::size_t i = 0; i < s.n; ++i) {
    double sum = 0.0;
    double squares = 0.0;
    for (const std::vector<double>& w : sums) {
      sum += w[i];
      squares += w[s.n + i];
    }
    const double root = std::sqrt(static_cast<double>(s.n) * q[i]);
    estimates[i] =
        squares > 0.0 ? root * sum / std::sqrt(static_cast<double>(m) * squares)
                      : root;
  }
  return estimates;
}

struct pass_result {
  double sum = 0.0;
  std::vector<double> totals;  // each row's total, approximately
  pass_rows rows;
};

pass_result run_pass(const packed& s, terms t,
                     const std::vector<double>& estimates, unsigned threads,
                     int isa, pair_counter* done) {
  const std::size_t n = s.n;
  const std::size_t padded = s.padded();
  // 1. The padding's terms are masked to 0, which any grid takes.
  std::vector<double> grids(padded, 1.0);
  double estimate = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    grids[i] = grid_of(estimate);
    estimate += estimates[i];
  }

  // 2. Every pair once; sum and off of a thread lie end to end.
  std::vector<double> totals(n, 0.0);
  std::vector<double> off(n, 0.0);
  {
    std::vector<std::vector<double>> sums(threads,
                                          std::vector<double>(2 * padded));
    std::atomic<std::size_t> next{0};
    run_threads(threads, [&](unsigned w) {
      const grid_sums out{grids.data(), sums[w].data(),
                          sums[w].data() + padded};
      for (std::size_t b; (b = next.fetch_add(1)) < s.count();) {
        form_band(isa, s, b, t, out);
        if (done) done->fetch_add(band_pairs(s, b), std::memory_order_relaxed);
      }
    });
    for (const std::vector<double>& w : sums)
      for (std::size_t i = 0; i < n; ++i) {
        totals[i] += w[i];
        off[i] = std::max(off[i], w[padded + i]);
      }
  }

  // 3. Rows that a tie or a wrong grid keeps from adding up at once. A row
  // that leaves its binade is left to step 4.
  struct again {
    std::size_t row;
    grid_record record;
  };
  std::vector<again> redo;
  double approximate = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double grid = grid_of(approximate);
    const double after = approximate + totals[i];
    if ((off[i] >= half(grids[i]) || grid != grids[i]) &&
        grid_of(after) == grid)
      redo.push_back({i, {grid, infinity, 0.0}});
    approximate = after;
  }
  std::atomic<std::size_t> next{0};
  std::vector<std::vector<double>> rows(threads, std::vector<double>(padded));
  run_threads(threads, [&](unsigned w) {
    std::vector<double>& row = rows[w];
    for (std::size_t k; (k = next.fetch_add(1)) < redo.size();) {
      distance_rows(isa, s, {redo[k].row, 1}, t, row.data(), padded);
      redo[k].record = record_of(isa, redo[k].record.grid, row.data(), n);
    }
  });

  // 4. Settle the rows in order.
  pass_result result;
  result.rows.again = redo.size();
  std::vector<double>& row = rows[0];
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; ++i) {
    grid_record record{grids[i],
                       off[i] >= half(grids[i]) ? infinity : totals[i], 0.0};
    if (k < redo.size() && redo[k].row == i) record = redo[k++].record;
    if (const auto next_sum = advance(result.sum, record)) {
      result.sum = *next_sum;
      continue;
    }
    distance_rows(isa, s, {i, 1}, t, row.data(), padded);
    result.sum = grid_sum(isa, result.sum, row.data(), n);
    ++result.rows.replayed;
  }
  result.totals = std::move(totals);
  return result;
}

}  // namespace

moments form_moments(const packed& s, unsigned threads, int isa,
                     pair_counter* done) {
  const double count = static_cast<double>(static_cast<std::int64_t>(s.n) *
                                           static_cast<std::int64_t>(s.n));
  if (s.n == 0) return {0.0 / count, 0.0 / count, {}, {}};
  if (threads == 0) threads = available_threads();
  // Each thread keeps two sums per row: at most 8 MiB more than the packed
  // samples take, and never more threads than bands.
  const std::size_t per_thread = 2 * s.padded() * sizeof(double);
  const std::size_t budget = (std::size_t{8} << 20) + s.panels.size() * 8;
  threads = static_cast<unsigned>(std::clamp<std::size_t>(
      std::min<std::size_t>({threads, s.count(), budget / per_thread}), 1,
      threads));

  const std::vector<double> q = squared_sums(s);
  moments m;
  pass_result pass = run_pass(s, {}, distance_estimates(s, q, threads, isa),
                              threads, isa, done);
  m.mean = pass.sum / count;
  m.mean_rows = pass.rows;

  // square(d - mean) summed over a row is Q_i - 2 mean R_i + n mean^2, with
  // R_i the row's total of distances.
  std::vector<double> estimates(s.n);
  const auto n = static_cast<double>(s.n);
  for (std::size_t i = 0; i < s.n; ++i)
    estimates[i] = std::max(
        0.0, q[i] - 2.0 * m.mean * pass.totals[i] + n * square(m.mean));
  pass = run_pass(s, {true, m.mean}, estimates, threads, isa, done);
  m.variance = pass.sum / count;
  m.variance_rows = pass.rows;
  return m;
}
