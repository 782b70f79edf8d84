// Binomial tails for the order statistics of the drawn distances
// (doc/sampling.md gives the argument).
#include "sampled_binomial.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace kernel_width::detail {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// A term this small, 2^-200 of the mode's, ends the walk down: what lies
// below is bounded by a geometric series.
constexpr double negligible = 0x1p-200;

// The walk up only adds precision to the total (a partial total is a lower
// bound): it stops once terms fall below 2^-60 of it.
constexpr double precise = 0x1p-60;

// P(Bin(m, p) <= a) <= h for the largest such a, by walking from the mode
// m0 down: the terms w(k) = P(k) / P(m0), each from the one above by
// w(k-1) = w(k) k / (m - k + 1) * (1 - p) / p, within 7u of the exact ratio
// (conversions, three operations and the ratio (1 - p) / p). Sums and terms
// carry a relative error of at most eps, which the decision covers.
std::optional<std::uint64_t> exact_lower_rank(std::uint64_t m, double p,
                                              double h) {
  const double odds = (1 - p) / p;  // down the walk
  const double evens = p / (1 - p);  // up the walk
  double mode_real = std::floor((static_cast<double>(m) + 1) * p);
  const std::uint64_t m0 =
      mode_real >= static_cast<double>(m) ? m
                                          : static_cast<std::uint64_t>(mode_real);
  // Down: w[j] = w(m0 - j).
  std::vector<double> w{1.0};
  double tail = 0.0;  // bounds the terms below the walk's last
  for (std::uint64_t k = m0; k > 0; --k) {
    const double step =
        static_cast<double>(k) / static_cast<double>(m - k + 1) * odds;
    if (w.back() < negligible && step <= 0.9) {
      tail = w.back() * 10;  // w t / (1 - t) <= 9 w for t <= 0.9
      break;
    }
    w.push_back(w.back() * step);
  }
  double total = 0.0;
  for (const double x : w) total += x;
  std::uint64_t steps = w.size();
  double term = 1.0;
  for (std::uint64_t k = m0; k < m; ++k) {
    const double step =
        static_cast<double>(m - k) / static_cast<double>(k + 1) * evens;
    term *= step;
    total += term;
    ++steps;
    if (step < 1 && term < total * precise) break;
  }
  const double eps = 7 * unit_roundoff * static_cast<double>(steps) +
                     2 * unit_roundoff * static_cast<double>(steps + 2);
  if (!(eps < 1e-3)) return std::nullopt;  // no bound worth the name
  // The cumulative sum from the bottom, each candidate a = m0 - j tested
  // with a margin covering eps and the test's own roundings.
  const double margin = 1 + 3 * eps + 16 * unit_roundoff;
  const double limit = h * (total * (1 - 3 * eps - 16 * unit_roundoff));
  double below = tail;
  std::optional<std::uint64_t> found;
  if (tail > 0 && below * margin <= limit) found = m0 - w.size();  // untested
  for (std::size_t j = w.size(); j-- > 0;) {
    below += w[j];
    if (!(below * margin <= limit)) break;
    found = m0 - j;
  }
  if (found && *found >= m) found = m - 1;
  return found;
}

// Bernstein's inequality for the m draws (each within 1 of its mean):
// P(X <= m p - t) <= exp(-t^2 / (2 (m p (1 - p) + t / 3))), equal to h at
// t = L / 3 + sqrt(L^2 / 9 + 2 L m p (1 - p)), L = ln(1 / h). Computed
// with ample margins: m p (1 - p) > 2^28 here, so t > 10^5.
std::optional<std::uint64_t> bernstein_lower_rank(std::uint64_t m, double p,
                                                  double h) {
  const double slack = 1 + 0x1p-40;
  const double count = static_cast<double>(m);
  const double mean = down(down(down(count) * p) / slack);
  const double spread = up(up(up(count) * p) * (1 - p)) * slack;
  const double l = up(-std::log(h)) * slack;
  const double t =
      (l / 3 + std::sqrt(l * l / 9 + 2 * l * spread)) * slack + 2;
  const double a = std::floor(mean - t) - 1;
  if (!(a >= 0)) return std::nullopt;
  return std::min(static_cast<std::uint64_t>(a), m - 1);
}

}  // namespace

double down(double x) { return std::nextafter(x, -inf); }
double up(double x) { return std::nextafter(x, inf); }

double ratio_down(std::uint64_t x, std::uint64_t y) {
  // Two conversions and a division: within 3u, below 4 ulps.
  double r = static_cast<double>(x) / static_cast<double>(y);
  for (int k = 0; k < 4; ++k) r = down(r);
  return std::max(r, 0.0);
}

std::optional<std::uint64_t> lower_tail_rank(std::uint64_t m, double p,
                                             double h) {
  if (m == 0 || !(p > 0)) return std::nullopt;  // X = 0 always
  if (p >= 1) return m - 1;  // X = m always
  const double variance = static_cast<double>(m) * p * (1 - p);
  if (variance <= exact_variance) return exact_lower_rank(m, p, h);
  return bernstein_lower_rank(m, p, h);
}

bracket bracket_ranks(std::uint64_t m, std::uint64_t population,
                      std::uint64_t lower, std::uint64_t upper, double h) {
  bracket b;
  // At least (lower + 1) / N of the population is at or below the lower
  // neighbour; at most upper / N lies below the upper one.
  b.low = lower_tail_rank(m, ratio_down(lower + 1, population), h);
  const std::optional<std::uint64_t> above =
      lower_tail_rank(m, ratio_down(population - upper, population), h);
  if (above) b.high = m - 1 - *above;
  return b;
}

}  // namespace kernel_width::detail
