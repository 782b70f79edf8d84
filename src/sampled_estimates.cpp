// The sampled quantiles and mean: the drawn distances, their estimate and
// the interval around the exact value.
#include "sampled_estimates.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

#include "cpu.h"
#include "sampled_binomial.h"
#include "sampled_draw.h"
#include "sampled_mean_bound.h"
#include "same_nan.h"

namespace kernel_width {

namespace detail {

namespace {

constexpr double numpy_nan = std::numeric_limits<double>::quiet_NaN();

std::size_t stride_of(const matrix_view& m) {
  return m.stride == 0 ? m.cols : m.stride;
}

const double* row_of(const sample_source& s, std::uint64_t k) {
  if (k < s.x.rows) return s.x.data + k * stride_of(s.x);
  return s.y.data + (k - s.x.rows) * stride_of(s.y);
}

// 1 - C rounded down: exact from C = 0.5 on.
double failure(double confidence) {
  const double alpha = 1 - confidence;
  return confidence < 0.5 ? down(alpha) : alpha;
}

// The three parameters of each end; gamma reverses the order.
void complete(interval_end& low, interval_end& high) {
  low.width = low.value * low.value * 2;
  low.sigma = low.value;
  high.width = high.value * high.value * 2;
  high.sigma = high.value;
  low.gamma = gamma_of(high.width);
  high.gamma = gamma_of(low.width);
}

// Every value of a quantile set to v (NaN), the ranks kept.
void set_all(sampled_quantile& q, double v) {
  q.estimate.lower = q.estimate.upper = q.estimate.value = v;
  q.estimate.width = v * v * 2;
  q.estimate.sigma = v;
  q.estimate.gamma = gamma_of(q.estimate.width);
  q.low.value = q.high.value = v;
  complete(q.low, q.high);
}

sampled_selection echo(const sample_source& s) {
  sampled_selection r;
  r.n = s.n;
  r.n_y = s.n_y;
  r.columns = s.x.cols - s.first;
  r.population = s.population;
  r.draws = s.how.draws;
  r.seed = s.how.seed;
  r.confidence = s.how.confidence;
  r.bound = s.bound;
  return r;
}

// Estimate and interval of one quantile from the values at the ranks
// wanted (v: estimate's lower and upper, then the interval's ends).
void fill(sampled_quantile& q, std::uint64_t m, const double* v,
          const bracket& b, double bound) {
  quantile& e = q.estimate;
  e.lower = v[0];
  e.upper = v[1];
  e.value = numpy_lerp(e.lower, e.upper, weight(e, m));
  e.width = e.value * e.value * 2;
  e.sigma = e.value;
  e.gamma = gamma_of(e.width);
  e.zero_width = e.width == 0;
  q.low.trivial = !b.low;
  q.low.rank = b.low.value_or(0);
  q.low.value = b.low ? v[2] : 0.0;
  q.high.trivial = !b.high;
  q.high.rank = b.high.value_or(0);
  q.high.value = b.high ? v[3] : bound;
  complete(q.low, q.high);
}

}  // namespace

std::vector<double> drawn_distances(const sample_source& s, unsigned threads,
                                    const std::atomic<bool>* cancel) {
  constexpr std::uint64_t ahead = 16;
  std::vector<double> d(s.how.draws);
  const std::size_t cols = s.x.cols;
  const bool done = for_chunks(
      s.how.draws, threads, cancel, [&](std::uint64_t begin, std::uint64_t end) {
        for (std::uint64_t k = begin; k < end; ++k) {
          // The rows are far apart in a large data set: ask for those of a
          // pair a few ahead while this one is computed.
          if (k + ahead < end) {
            __builtin_prefetch(row_of(s, s.pairs[k + ahead].first) + s.first);
            __builtin_prefetch(row_of(s, s.pairs[k + ahead].second) + s.first);
          }
          d[k] = row_distance(row_of(s, s.pairs[k].first) + s.first,
                              row_of(s, s.pairs[k].second) + s.first,
                              cols - s.first);
        }
      });
  if (!done) d.clear();
  return d;
}

std::vector<double> values_at(double* d, std::uint64_t m,
                              const std::vector<std::uint64_t>& ranks) {
  std::vector<std::uint64_t> wanted = ranks;
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  // Ranks close together (one quantile's estimate and interval) form a
  // cluster: its first and last placed by selection, the few between
  // sorted, each selection over what lies above the cluster before.
  const std::uint64_t gap = std::max<std::uint64_t>(m / 64, 1024);
  const auto at = [&](std::uint64_t r) { return d + r; };
  double* const end = d + m;
  double* from = d;
  for (std::size_t k = 0; k < wanted.size();) {
    std::size_t last = k;
    while (last + 1 < wanted.size() && wanted[last + 1] - wanted[last] <= gap)
      ++last;
    std::nth_element(from, at(wanted[k]), end);
    if (last > k) {
      std::nth_element(at(wanted[k]) + 1, at(wanted[last]), end);
      std::sort(at(wanted[k]) + 1, at(wanted[last]));
    }
    from = at(wanted[last]) + 1;
    k = last + 1;
  }
  std::vector<double> v;
  v.reserve(ranks.size());
  for (const std::uint64_t r : ranks) v.push_back(d[r]);
  return v;
}

namespace {

// The echo, and every quantile placed among the M with NaN values.
sampled_selection unfilled(const sample_source& s, const double* p,
                           std::size_t count, sampled_quantile* out) {
  for (std::size_t k = 0; k < count; ++k) {
    out[k] = sampled_quantile{};
    out[k].estimate = place(p[k], s.how.draws);
    set_all(out[k], numpy_nan);
  }
  return echo(s);
}

}  // namespace

sampled_selection quantiles_given(const sample_source& s, double* d,
                                  const double* p, std::size_t count,
                                  sampled_quantile* out) noexcept {
  sampled_selection r = unfilled(s, p, count, out);
  const std::uint64_t m = s.how.draws;
  r.nan = std::isnan(s.bound) ||
          std::any_of(d, d + m, [](double x) { return std::isnan(x); });
  if (r.nan) return r;
  try {
    const double h = failure(s.how.confidence) / 2;
    std::vector<std::uint64_t> ranks;
    std::vector<bracket> brackets;
    for (std::size_t k = 0; k < count; ++k) {
      const quantile exact = place(p[k], s.population);
      brackets.push_back(bracket_ranks(m, s.population, exact.lower_rank,
                                       exact.upper_rank, h));
      ranks.insert(ranks.end(), {out[k].estimate.lower_rank,
                                 out[k].estimate.upper_rank,
                                 brackets.back().low.value_or(0),
                                 brackets.back().high.value_or(0)});
    }
    const std::vector<double> v = values_at(d, m, ranks);
    for (std::size_t k = 0; k < count; ++k)
      fill(out[k], m, v.data() + 4 * k, brackets[k], s.bound);
  } catch (const std::bad_alloc&) {
    r.status = error::out_of_memory;
  } catch (const std::length_error&) {
    r.status = error::out_of_memory;
  }
  return r;
}

sampled_selection quantiles_from(const sample_source& s, const double* p,
                                 std::size_t count, sampled_quantile* out,
                                 unsigned threads,
                                 const std::atomic<bool>* cancel) noexcept {
  std::vector<double> d;
  error status = error::none;
  try {
    d = drawn_distances(s, threads, cancel);
    if (d.empty()) status = error::cancelled;
  } catch (const std::bad_alloc&) {
    status = error::out_of_memory;
  } catch (const std::length_error&) {
    status = error::out_of_memory;
  }
  if (status == error::none) return quantiles_given(s, d.data(), p, count, out);
  sampled_selection r = unfilled(s, p, count, out);
  r.status = status;
  return r;
}

namespace {

// The echo, every value NaN.
sampled_labelled no_estimate(const sample_source& s) {
  sampled_labelled r;
  r.n = s.n;
  r.columns = s.x.cols - s.first;
  r.population = s.population;
  r.draws = s.how.draws;
  r.seed = s.how.seed;
  r.confidence = s.how.confidence;
  r.bound = s.bound;
  r.mean = r.width = r.sigma = r.gamma = numpy_nan;
  r.low.value = r.high.value = numpy_nan;
  complete(r.low, r.high);
  return r;
}

}  // namespace

sampled_labelled mean_given(const sample_source& s, const double* d) noexcept {
  sampled_labelled r = no_estimate(s);
  const std::uint64_t m = s.how.draws;
  if (std::isnan(s.bound) ||
      std::any_of(d, d + m, [](double x) { return std::isnan(x); }))
    return r;
  double sum = 0.0;  // in draw order, whatever the threads
  for (std::uint64_t k = 0; k < m; ++k) sum += d[k];
  r.mean = sum / static_cast<double>(m);
  r.width = r.mean * r.mean * 2;
  r.sigma = r.mean;
  r.gamma = gamma_of(r.width);
  r.zero_width = r.width == 0;
  const mean_interval i = mean_bounds(
      {d, m, r.mean, s.bound, failure(s.how.confidence), s.n});
  r.low.value = i.low;
  r.low.trivial = i.low_trivial;
  r.high.value = i.high;
  r.high.trivial = i.high_trivial;
  complete(r.low, r.high);
  return r;
}

sampled_labelled mean_from(const sample_source& s, unsigned threads,
                           const std::atomic<bool>* cancel) noexcept {
  error status = error::none;
  try {
    const std::vector<double> d = drawn_distances(s, threads, cancel);
    if (!d.empty()) return mean_given(s, d.data());
    status = error::cancelled;
  } catch (const std::bad_alloc&) {
    status = error::out_of_memory;
  } catch (const std::length_error&) {
    status = error::out_of_memory;
  }
  sampled_labelled r = no_estimate(s);
  r.status = status;
  return r;
}

}  // namespace detail

double pair_distance(const double* a, const double* b,
                     std::size_t cols) noexcept {
  return detail::row_distance(a, b, cols);
}

}  // namespace kernel_width
