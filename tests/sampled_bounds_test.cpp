// The bounds behind the sampled intervals, against the same quantities
// computed directly in long double: binomial tail ranks, the empirical
// Bernstein interval, and the distance bound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "kernel_width/kernel_width.h"
#include "sampled_binomial.h"
#include "sampled_mean_bound.h"

namespace {

using kernel_width::detail::lower_tail_rank;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// P(Bin(m, p) <= a) for every a, summed in long double from the logs of
// the terms.
std::vector<long double> binomial_cdf(std::uint64_t m, double p) {
  std::vector<long double> logs(m + 1);
  long double top = -INFINITY;
  for (std::uint64_t k = 0; k <= m; ++k) {
    const long double kk = k, mm = m;
    logs[k] = std::lgamma(mm + 1) - std::lgamma(kk + 1) -
              std::lgamma(mm - kk + 1) + kk * std::log((long double)p) +
              (mm - kk) * std::log1p(-(long double)p);
    top = std::max(top, logs[k]);
  }
  long double total = 0;
  std::vector<long double> cdf(m + 1);
  for (std::uint64_t k = 0; k <= m; ++k) {
    total += std::exp(logs[k] - top);
    cdf[k] = total;
  }
  for (auto& c : cdf) c /= total;
  return cdf;
}

// The rank is the largest a whose tail is at most h: the tail at a within
// h, at a + 1 beyond it (both up to the reference's own error).
TEST(BinomialRanks, LargestRankWithinTheTail) {
  const std::uint64_t ms[] = {1, 2, 5, 50, 499, 3000};
  const double ps[] = {1e-6, 0.01, 0.3, 0.5, 0.97, 1 - 1e-9};
  const double hs[] = {0.05, 0.005, 5e-10, 0x1p-54};
  for (const std::uint64_t m : ms)
    for (const double p : ps) {
      const std::vector<long double> cdf = binomial_cdf(m, p);
      for (const double h : hs) {
        const auto a = lower_tail_rank(m, p, h);
        const long double hl = h;
        if (a) {
          ASSERT_LT(*a, m);
          EXPECT_LE(cdf[*a], hl * (1 + 1e-9L)) << m << " " << p << " " << h;
          EXPECT_GT(cdf[*a + 1], hl * (1 - 1e-6L)) << m << " " << p << " " << h;
        } else {
          EXPECT_GT(cdf[0], hl * (1 - 1e-6L)) << m << " " << p << " " << h;
        }
      }
    }
}

struct edge_case {
  std::uint64_t m;
  double p, h;
  bool found;
  std::uint64_t rank;
};

// p at 0 and 1, one draw, the tail just above and below (1 - p)^m.
const edge_case edges[] = {
    {1, 0.0, 0.5, false, 0},   {10, 0.0, 0.5, false, 0},
    {1, 1.0, 1e-9, true, 0},   {7, 1.0, 1e-9, true, 6},
    {1, 0.75, 0.2501, true, 0},  {1, 0.75, 0.2499, false, 0},
    {2, 0.5, 0.2501, true, 0},   {2, 0.5, 0.2499, false, 0},
    {2, 0.5, 0.7501, true, 1},   {2, 0.5, 0.7499, true, 0},
};

TEST(BinomialRanks, Edges) {
  for (const edge_case& e : edges) {
    const auto a = lower_tail_rank(e.m, e.p, e.h);
    ASSERT_EQ(a.has_value(), e.found) << e.m << " " << e.p << " " << e.h;
    if (a) {
      EXPECT_EQ(*a, e.rank) << e.m << " " << e.p << " " << e.h;
    }
  }
}

// Beyond 2^28 of variance the tail is Bernstein's: more conservative than
// the exact one (the normal approximation stands in for it at this size)
// by a bounded amount, and right where the methods meet.
TEST(BinomialRanks, BernsteinBeyondTheExactRange) {
  const double h = 0.005, z = 2.5758293035489;  // Phi(-z) = h
  for (const double scale : {1.0, 64.0, 0x1p30}) {
    const double p = 0.5;
    const auto m = static_cast<std::uint64_t>(0x1p31 * scale);
    const double mean = m * p, sd = std::sqrt(m * p * (1 - p));
    const auto a = lower_tail_rank(m, p, h);
    ASSERT_TRUE(a);
    EXPECT_LT(static_cast<double>(*a), mean - z * sd - 0.5 * sd);
    EXPECT_GT(static_cast<double>(*a), mean - 4 * sd);
  }
  // Just inside the exact range: within a unit of the normal quantile,
  // past it by the skew at most a few units.
  const std::uint64_t m = (std::uint64_t{1} << 30) - 64;
  const auto a = lower_tail_rank(m, 0.5, h);
  ASSERT_TRUE(a);
  const double sd = std::sqrt(m * 0.25);
  EXPECT_NEAR(static_cast<double>(*a), m * 0.5 - z * sd, 3.0);
  // A small p at an enormous m: the tail is far from the mode.
  const auto tiny = lower_tail_rank(std::uint64_t{1} << 62, 0x1p-50, h);
  ASSERT_TRUE(tiny);
  EXPECT_NEAR(static_cast<double>(*tiny), 4096 - z * 64, 6.0);
}

TEST(BinomialRanks, RatioRoundedDown) {
  for (const std::uint64_t y : {std::uint64_t{3}, std::uint64_t{1000003},
                                (std::uint64_t{1} << 63) + 12345, UINT64_MAX}) {
    for (const std::uint64_t x : {std::uint64_t{1}, y / 3, y - 1, y}) {
      const double r = kernel_width::detail::ratio_down(x, y);
      EXPECT_LE((long double)r * y, (long double)x) << x << "/" << y;
      EXPECT_GT((long double)r * y, (long double)x * (1 - 1e-14L));
    }
  }
}

// Maurer and Pontil's bound written plainly in long double: the library's
// interval must contain it, and exceed it by no more than its roundings.
TEST(MeanBound, EmpiricalBernsteinInLongDouble) {
  std::mt19937_64 gen(4);
  for (const std::uint64_t m : {2u, 3u, 50u, 1000u, 100000u}) {
    for (const double delta : {0.01, 0.1, 0.9}) {
      const double bound = 7.5;
      std::vector<double> d(m);
      std::uniform_real_distribution<double> u(0, bound);
      for (double& x : d) x = u(gen) * u(gen) / bound;
      long double sum = 0, squares = 0;
      double plain = 0;
      for (const double x : d) sum += x, plain += x;
      const long double mean = sum / m;
      for (const double x : d) squares += (x - mean) * (x - mean);
      const long double l = std::log(4.0L / delta);
      const long double t = std::sqrt(2 * squares / (m - 1) * l / m) +
                            7 * bound * l / (3.0L * (m - 1));
      const std::size_t n = 1000;
      const auto r = kernel_width::detail::mean_bounds(
          {d.data(), m, plain / static_cast<double>(m), bound, delta, n});
      const long double low = std::max(0.0L, mean - t);
      const long double high = std::min<long double>(bound, mean + t);
      EXPECT_LE(r.low, low) << m << " " << delta;
      EXPECT_GE(r.high, high) << m << " " << delta;
      EXPECT_EQ(r.low_trivial, !(mean - t > 1e-12L)) << m << " " << delta;
      if (!r.low_trivial) {
        EXPECT_GT(r.low, low - 1e-9L * bound);
      }
      if (!r.high_trivial) {
        EXPECT_LT(r.high, high + 1e-9L * bound);
      }
    }
  }
}

TEST(MeanBound, TrivialEnds) {
  const double d[] = {1.0, 2.0, 3.0};
  // One draw: no variance, the trivial interval [0, D] (D widened by
  // labelled's rounding).
  auto r = kernel_width::detail::mean_bounds({d, 1, 1.0, 4.0, 0.01, 10});
  EXPECT_TRUE(r.low_trivial && r.high_trivial);
  EXPECT_EQ(r.low, 0.0);
  EXPECT_GE(r.high, 4.0);
  EXPECT_LT(r.high, 4.0 * (1 + 1e-13));
  r = kernel_width::detail::mean_bounds({d, 3, 2.0, inf, 0.01, 10});
  EXPECT_TRUE(r.low_trivial && r.high_trivial);
  EXPECT_EQ(r.high, inf);
  const double zeros[] = {0.0, 0.0};
  r = kernel_width::detail::mean_bounds({zeros, 2, 0.0, 0.0, 0.01, 10});
  EXPECT_EQ(r.low, 0.0);
  EXPECT_EQ(r.high, 0.0);
}

struct bound_case {
  std::vector<double> low, high;
  double at_least, at_most;
};

const bound_case bounds[] = {
    {{}, {}, 0.0, 0.0},
    {{2.5}, {2.5}, 0.0, 0.0},
    {{-1.0}, {2.0}, 3.0, 3.0 * (1 + 1e-15)},
    {{0.0, 0.0}, {3.0, 4.0}, 5.0, 5.0 * (1 + 1e-15)},
    {{-inf, 0.0}, {1.0, 1.0}, inf, inf},
    {{1.0, 0.0}, {inf, 1.0}, inf, inf},
    {{-1e300, 0.0}, {1e300, 0.0}, inf, inf},  // overflows upward
};

TEST(DistanceBound, Table) {
  for (const bound_case& c : bounds) {
    const double d =
        kernel_width::distance_bound(c.low.data(), c.high.data(), c.low.size());
    EXPECT_GE(d, c.at_least);
    EXPECT_LE(d, c.at_most);
  }
  const double low[] = {0.0, nan}, high[] = {1.0, 1.0};
  EXPECT_TRUE(std::isnan(kernel_width::distance_bound(low, high, 2)));
  const double same[] = {inf}, minus[] = {-inf};
  EXPECT_TRUE(std::isnan(kernel_width::distance_bound(same, same, 1)));
  EXPECT_TRUE(std::isnan(kernel_width::distance_bound(minus, minus, 1)));
}

// No distance computed the library's way exceeds the bound, on data whose
// roundings go both ways (several magnitudes, differences that round).
TEST(DistanceBound, AboveEveryComputedDistance) {
  std::mt19937_64 gen(11);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int trial = 0; trial < 200; ++trial) {
    const std::size_t n = 12, cols = 1 + trial % 9;
    std::vector<double> x(n * cols);
    for (double& v : x) v = u(gen) * std::pow(10.0, trial % 7 - 3);
    std::vector<double> low(cols, inf), high(cols, -inf);
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t c = 0; c < cols; ++c) {
        low[c] = std::min(low[c], x[i * cols + c]);
        high[c] = std::max(high[c], x[i * cols + c]);
      }
    const double bound = kernel_width::distance_bound(low.data(), high.data(), cols);
    double largest = 0;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t l = i + 1; l < n; ++l) {
        double sum = 0;
        for (std::size_t c = 0; c < cols; ++c) {
          const double diff = x[i * cols + c] - x[l * cols + c];
          sum += diff * diff;
        }
        largest = std::max(largest, std::sqrt(sum));
      }
    ASSERT_GE(bound, largest) << trial;
  }
}

}  // namespace
