// The bound D on the distances, and the empirical Bernstein interval for
// the mean distance (doc/sampling.md gives the argument).
#include "sampled_mean_bound.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "kernel_width/kernel_width.h"
#include "sampled_binomial.h"

namespace kernel_width {

namespace detail {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// gamma_k = k u / (1 - k u), the classic bound for k roundings in a row,
// rounded up; +inf once k u is too large for a bound worth having.
double chain_error(double k) {
  const double ku = up(k * unit_roundoff);
  if (!(ku < 0.01)) return inf;
  return up(ku / down(1 - ku));
}

mean_interval trivial(double bound) { return {0.0, bound, true, true}; }

}  // namespace

double labelled_rounding(std::size_t n) {
  const double depth = static_cast<double>(n) * 1.125 + 16;
  return chain_error(up(depth));
}

mean_interval mean_bounds(const mean_evidence& e) {
  const double grow = labelled_rounding(e.n);
  const double high_trivial = e.bound == 0 ? 0.0 : up(e.bound * up(1 + grow));
  mean_interval r = trivial(high_trivial);
  const double sum_error = chain_error(static_cast<double>(e.m) + 2);
  if (e.m < 2 || !std::isfinite(e.bound) || !std::isfinite(e.mean) ||
      !std::isfinite(sum_error) || !std::isfinite(grow))
    return r;
  // The real sample mean lies within sum_error of the computed one.
  const double mean_low = down(e.mean * down(1 - sum_error));
  const double mean_high = up(e.mean * up(1 + sum_error));
  // The sample variance with the computed mean in place of the real one
  // (any centre gives a sum of squares at least the real one's).
  double squares = 0.0;
  for (std::uint64_t k = 0; k < e.m; ++k) {
    const double d = e.d[k] - e.mean;
    squares += d * d;
  }
  const double count = down(static_cast<double>(e.m));
  const double count_less = down(static_cast<double>(e.m - 1));
  const double variance =
      up(up(squares / count_less) *
         up(1 + chain_error(static_cast<double>(e.m) + 5)));
  // ln(2 / (delta / 2)), with a margin for log's own error.
  const double l = up(up(std::log(up(4 / e.delta))) * (1 + 0x1p-40));
  const double spread = up(std::sqrt(up(up(up(2 * variance) * l) / count)));
  const double range = up(up(up(7 * e.bound) * l) / down(3 * count_less));
  const double t = up(spread + range);
  const double low = down(mean_low - t);
  const double high = up(mean_high + t);
  if (low > 0) {
    r.low = down(low * down(1 - grow));
    r.low_trivial = false;
  }
  if (high < e.bound) {
    r.high = up(high * up(1 + grow));
    r.high_trivial = false;
  }
  return r;
}

}  // namespace detail

double distance_bound(const double* column_min, const double* column_max,
                      std::size_t cols) noexcept {
  // Each inexact step rounded up: at least what round-to-nearest gives for
  // any difference within the range, as it is monotone. A column whose
  // minimum and maximum are the same infinity gives NaN, as its distances.
  using detail::up;
  double sum = 0.0;
  for (std::size_t c = 0; c < cols; ++c) {
    const double diff = column_max[c] - column_min[c];
    if (std::isnan(diff)) return std::numeric_limits<double>::quiet_NaN();
    if (diff == 0) continue;
    sum = up(sum + up(up(diff) * up(diff)));
  }
  return sum == 0 ? 0.0 : up(std::sqrt(sum));
}

}  // namespace kernel_width
