#include "form_passes.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

#include "same_nan.h"

namespace kernel_width::detail {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// |term - rounded term| on a tie; +inf on the grid of 2^-1022, which has
// none.
double half(double grid) {
  return grid > 0x1p-1022 ? grid * 0x1p-53 : infinity;
}

// Each row's sum and sum of squares of its distances to m samples spread
// over the data, added over the threads.
std::vector<double> sampled_sums(const packed& s, std::size_t m,
                                 unsigned threads, isa set) {
  // Every buffer is made before the threads start: no thread allocates.
  std::vector<std::vector<double>> sums(threads,
                                        std::vector<double>(2 * s.n, 0.0));
  std::vector<std::vector<double>> rows(threads,
                                        std::vector<double>(s.padded()));
  const kernels& k = kernels_for(set);
  std::atomic<std::size_t> next{0};
  run_threads(threads, [&](unsigned w) {
    std::vector<double>& row = rows[w];
    double* sum = sums[w].data();
    double* squares = sum + s.n;
    for (std::size_t j; (j = next.fetch_add(1)) < m;) {
      k.rows(s, {j * s.n / m, 1}, {}, row.data(), s.padded());
      for (std::size_t i = 0; i < s.n; ++i) {
        sum[i] += row[i];
        squares[i] += square(row[i]);
      }
    }
  });
  std::vector<double> all(2 * s.n, 0.0);
  for (const std::vector<double>& w : sums)
    for (std::size_t i = 0; i < 2 * s.n; ++i) all[i] += w[i];
  return all;
}

struct pass_result {
  pass_sum sum;
  std::vector<double> totals;  // each row's total, approximately
};

// One pass on the threads of this machine.
pass_result run_pass(const packed& s, terms t,
                     const std::vector<double>& estimates, const workers& w) {
  const std::vector<double> grids = predict_grids(s, estimates);
  row_sums total = round_pairs(s, t, grids, share(s.count(), 1, 0), w,
                               pair_sums(s, w.threads));
  std::vector<doubtful_row> redo = doubtful_rows(grids, total, s.n);
  recompute_all(s, t, redo, w);
  pass_result result{settle(w, s, t, grids, total, redo), std::move(total.sum)};
  result.totals.resize(s.n);
  return result;
}

}  // namespace

unsigned form_threads(const packed& s, unsigned threads) {
  if (threads == 0) threads = available_threads();
  const std::size_t per_thread = 2 * s.padded() * sizeof(double);
  const std::size_t budget = (std::size_t{8} << 20) + packed_bytes(s.n, s.cols);
  return static_cast<unsigned>(std::clamp<std::size_t>(
      std::min<std::size_t>({threads, s.count(), budget / per_thread}), 1,
      threads));
}

// n |x_i - m|^2 + the sum of |x_l - m|^2, with m the mean sample.
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

// The row sums of the distances: sqrt(n Q_i) times the ratio of the
// mean distance to the root mean square distance, as the distances to 64
// samples spread over the data show it. The ratio varies much less than
// the distances do.
std::vector<double> distance_estimates(const packed& s,
                                       const std::vector<double>& q,
                                       const workers& w) {
  const std::size_t m = std::min<std::size_t>(s.n, 64);
  const unsigned threads = w.threads == 0 ? available_threads() : w.threads;
  const std::vector<double> sampled = sampled_sums(s, m, threads, w.set);
  std::vector<double> estimates(s.n);
  for (std::size_t i = 0; i < s.n; ++i) {
    const double sum = sampled[i];
    const double squares = sampled[s.n + i];
    const double root = std::sqrt(static_cast<double>(s.n) * q[i]);
    estimates[i] =
        squares > 0.0 ? root * sum / std::sqrt(static_cast<double>(m) * squares)
                      : root;
  }
  return estimates;
}

// square(d - mean) summed over a row is Q_i - 2 mean R_i + n mean^2, with
// R_i the row's total of distances.
std::vector<double> centred_estimates(const std::vector<double>& q,
                                      const std::vector<double>& totals,
                                      double mean) {
  const std::size_t n = q.size();
  std::vector<double> estimates(n);
  for (std::size_t i = 0; i < n; ++i)
    estimates[i] = std::max(0.0, q[i] - 2.0 * mean * totals[i] +
                                     static_cast<double>(n) * square(mean));
  return estimates;
}

std::vector<double> predict_grids(const packed& s,
                                  const std::vector<double>& estimates) {
  // The padding's terms are masked to 0, which any grid takes.
  std::vector<double> grids(s.padded(), 1.0);
  double estimate = 0.0;
  for (std::size_t i = 0; i < s.n; ++i) {
    grids[i] = grid_of(estimate);
    estimate += estimates[i];
  }
  return grids;
}

void round_band(isa set, const packed& s, std::size_t b, terms t,
                const std::vector<double>& grids, row_sums& partial) {
  kernels_for(set).form(s, b, b, t,
                        {grids.data(), partial.sum.data(), partial.off.data()});
}

std::vector<row_sums> pair_sums(const packed& s, unsigned threads) {
  const std::size_t padded = s.padded();
  return std::vector<row_sums>(
      threads == 0 ? available_threads() : threads,
      {std::vector<double>(padded), std::vector<double>(padded)});
}

row_sums round_pairs(const packed& s, terms t, const std::vector<double>& grids,
                     const unit_source& next, const workers& w,
                     std::vector<row_sums> partial) {
  const auto threads = static_cast<unsigned>(partial.size());
  run_threads(threads, [&](unsigned k) {
    for (std::size_t b; !w.control.cancelled() && next(b);) {
      round_band(w.set, s, b, t, grids, partial[k]);
      w.control.add(band_pairs(s, b));
    }
  });
  for (std::size_t k = 1; k < partial.size(); ++k)
    combine(partial[0], partial[k]);
  return std::move(partial[0]);
}

row_sums round_pairs(const packed& s, terms t, const std::vector<double>& grids,
                     const std::vector<std::size_t>& bands, const workers& w,
                     std::vector<row_sums> partial) {
  std::atomic<std::size_t> next{0};
  return round_pairs(s, t, grids, in_order(bands, next), w, std::move(partial));
}

void recompute_all(const packed& s, terms t, std::vector<doubtful_row>& redo,
                   const workers& w) {
  const unsigned threads = w.threads == 0 ? available_threads() : w.threads;
  std::vector<std::vector<double>> rows(threads,
                                        std::vector<double>(s.padded()));
  std::atomic<std::size_t> next{0};
  run_threads(threads, [&](unsigned k) {
    for (std::size_t j; (j = next.fetch_add(1)) < redo.size();) {
      if (w.control.cancelled()) return;
      recompute(w.set, s, t, redo[j], rows[k]);
    }
  });
}

void combine_sums(double* total, const double* partial, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) total[i] += partial[i];
}

void combine_offs(double* total, const double* partial, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    total[i] = std::max(total[i], partial[i]);
}

void combine(row_sums& total, const row_sums& partial) {
  combine_sums(total.sum.data(), partial.sum.data(), total.sum.size());
  combine_offs(total.off.data(), partial.off.data(), total.off.size());
}

std::vector<doubtful_row> doubtful_rows(const std::vector<double>& grids,
                                        const row_sums& total, std::size_t n) {
  std::vector<doubtful_row> redo;
  double approximate = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double grid = grid_of(approximate);
    const double after = approximate + total.sum[i];
    if ((total.off[i] >= half(grids[i]) || grid != grids[i]) &&
        grid_of(after) == grid)
      redo.push_back({i, {grid, infinity, 0.0}});
    approximate = after;
  }
  return redo;
}

void recompute(isa set, const packed& s, terms t, doubtful_row& doubtful,
               std::vector<double>& row) {
  const kernels& k = kernels_for(set);
  k.rows(s, {doubtful.row, 1}, t, row.data(), s.padded());
  doubtful.record = k.record(doubtful.record.grid, row.data(), s.n);
}

pass_sum settle(const workers& w, const packed& s, terms t,
                const std::vector<double>& grids, const row_sums& total,
                const std::vector<doubtful_row>& redone) {
  return settle(w, s.n, grids, total, redone,
                [&](std::size_t i, std::vector<double>& row) {
                  row.resize(s.padded());
                  kernels_for(w.set).rows(s, {i, 1}, t, row.data(),
                                          s.padded());
                  return true;
                });
}

double half_unit(double grid) { return half(grid); }

pass_sum settle(const workers& w, std::size_t n,
                const std::vector<double>& grids, const row_sums& total,
                const std::vector<doubtful_row>& redone,
                const row_terms& terms_of) {
  const isa set = w.set;
  const run_control& control = w.control;
  pass_sum result;
  result.rows.again = redone.size();
  std::vector<double> row;
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (control.cancelled()) {
      result.sum = not_a_number;
      return result;
    }
    grid_record record{grids[i],
                       total.off[i] >= half(grids[i]) ? infinity : total.sum[i],
                       0.0};
    if (k < redone.size() && redone[k].row == i) record = redone[k++].record;
    if (const auto next = advance(result.sum, record)) {
      result.sum = *next;
      continue;
    }
    if (!terms_of(i, row)) {
      result.sum = not_a_number;
      return result;
    }
    result.sum = grid_sum(set, result.sum, row.data(), n);
    ++result.rows.replayed;
  }
  return result;
}

double per_pair(double sum, std::size_t n) {
  return same_nan(sum / static_cast<double>(static_cast<std::int64_t>(n) *
                                            static_cast<std::int64_t>(n)),
                  sum);
}

moments form_moments(const packed& s, unsigned threads, isa set,
                     const run_control& control) {
  if (s.n == 0) return {per_pair(0.0, 0), per_pair(0.0, 0), {}, {}};
  const workers w{set, form_threads(s, threads), control};
  const std::vector<double> q = squared_sums(s);
  moments m;
  pass_result pass = run_pass(s, {}, distance_estimates(s, q, w), w);
  m.mean = per_pair(pass.sum.sum, s.n);
  m.mean_rows = pass.sum.rows;
  if (control.cancelled()) return {not_a_number, not_a_number, {}, {}};
  pass =
      run_pass(s, {true, m.mean}, centred_estimates(q, pass.totals, m.mean), w);
  // Without a NaN distance (the mean would be NaN), a NaN comes from
  // inf - inf: the terms of infinite distances about an infinite mean.
  m.variance = same_nan(per_pair(pass.sum.sum, s.n), m.mean);
  m.variance_rows = pass.sum.rows;
  return m;
}

}  // namespace kernel_width::detail
