// The sampled widths against the exact functions: the intervals contain
// the exact value in at least the promised share of draws, the estimate is
// numpy's formula on the drawn distances, the same bits for every thread
// count and through the programs' entry points, and the boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kernel_width/kernel_width.h"
#include "sampled_estimates.h"

namespace {

namespace kw = kernel_width;
using kw::pairing;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct data {
  std::vector<double> values;
  std::size_t cols = 0;
  kw::matrix_view view() const {
    return {values.data(), values.size() / cols, cols, 0};
  }
};

// The shapes the bounds must survive: ties everywhere, two clusters far
// apart (the median falls in the gap or at its edge), one value taking
// most rows (most distances 0), and plain continuous values.
enum class shape { ties, clusters, dominant, continuous };

data make(shape s, std::size_t n, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(0, 1);
  std::uniform_int_distribution<int> small(0, 2);
  data d{std::vector<double>(n * 2), 2};
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t c = 0; c < 2; ++c) {
      double& v = d.values[i * 2 + c];
      switch (s) {
        case shape::ties: v = small(gen); break;
        case shape::clusters: v = u(gen) + (i % 2 == 0 ? 0.0 : 1e6); break;
        case shape::dominant: v = u(gen) < 0.85 ? 0.5 : u(gen); break;
        case shape::continuous: v = u(gen) * 10 - 5; break;
      }
    }
  return d;
}

std::string name(shape s) {
  const char* names[] = {"ties", "clusters", "dominant", "continuous"};
  return names[static_cast<int>(s)];
}

// The one-sided binomial test: the probability of at most `hits` among
// `trials` when each hits with probability c.
double binomial_below(std::uint64_t hits, std::uint64_t trials, double c) {
  long double total = 0;
  for (std::uint64_t k = 0; k <= hits; ++k) {
    const long double kk = k, t = trials;
    total += std::exp(std::lgamma(t + 1) - std::lgamma(kk + 1) -
                      std::lgamma(t - kk + 1) + kk * std::log((long double)c) +
                      (t - kk) * std::log1p(-(long double)c));
  }
  return static_cast<double>(total);
}

constexpr double quantile_ps[] = {0.0, 0.1, 0.5, 0.9, 1.0};
constexpr std::size_t quantile_count = std::size(quantile_ps);
// Fewer under the sanitizers, whose runs check the code's memory, not the
// intervals' coverage.
#ifdef SANITIZED
constexpr std::uint64_t seeds = 500;
#else
constexpr std::uint64_t seeds = 2000;
#endif

struct coverage_case {
  shape s;
  std::size_t n, n_y;
  std::uint64_t draws;
};

const coverage_case coverage_cases[] = {
    {shape::ties, 3, 4, 50},        {shape::ties, 60, 20, 200},
    {shape::clusters, 10, 9, 100},  {shape::clusters, 200, 50, 500},
    {shape::dominant, 40, 30, 200}, {shape::dominant, 150, 5, 300},
    {shape::continuous, 7, 3, 50},  {shape::continuous, 80, 80, 400},
};

// The exact value and its width and gamma lie within the interval's.
bool contains(const kw::sampled_quantile& s, const kw::quantile& exact) {
  return s.low.value <= exact.value && exact.value <= s.high.value &&
         s.low.width <= exact.width && exact.width <= s.high.width &&
         s.low.gamma <= exact.gamma && exact.gamma <= s.high.gamma;
}

TEST(SampledCoverage, QuantilesHoldTheirConfidence) {
  for (const coverage_case& c : coverage_cases)
    for (const pairing kind : {pairing::within, pairing::pooled, pairing::cross}) {
      const data x = make(c.s, c.n, 1), y = make(c.s, c.n_y, 2);
      const kw::sample_pairs pairs(x.view(), y.view(), kind);
      kw::quantile exact[quantile_count];
      ASSERT_EQ(kw::quantiles(pairs, quantile_ps, quantile_count, exact, 1).status,
                kw::error::none);
      for (const double confidence : {0.9, 0.99}) {
        std::uint64_t hits[quantile_count] = {}, trivial = 0;
        for (std::uint64_t seed = 0; seed < seeds; ++seed) {
          kw::sampled_quantile s[quantile_count];
          const auto r =
              kw::sampled_quantiles({pairs, {c.draws, seed, confidence}},
                                    quantile_ps, quantile_count, s, 1);
          ASSERT_EQ(r.status, kw::error::none);
          for (std::size_t k = 0; k < quantile_count; ++k) {
            hits[k] += contains(s[k], exact[k]);
            trivial += s[k].low.trivial + s[k].high.trivial;
          }
        }
        for (std::size_t k = 0; k < quantile_count; ++k)
          EXPECT_GT(binomial_below(hits[k], seeds, confidence), 1e-4)
              << name(c.s) << " n " << c.n << " kind " << static_cast<int>(kind)
              << " C " << confidence << " p " << quantile_ps[k] << ": "
              << hits[k] << " of " << seeds;
        // The inner quantiles' intervals are not the trivial [0, D].
        EXPECT_LT(trivial, seeds * 5) << name(c.s) << " " << c.n;
      }
    }
}

TEST(SampledCoverage, MeanHoldsItsConfidence) {
  for (const coverage_case& c : coverage_cases) {
    const data x = make(c.s, c.n, 3);
    const kw::labelled_statistics exact = kw::labelled(x.view(), 0, 1);
    for (const double confidence : {0.9, 0.99}) {
      std::uint64_t hits = 0;
      for (std::uint64_t seed = 0; seed < seeds; ++seed) {
        const auto s = kw::sampled_mean(x.view(), 0, {c.draws, seed, confidence}, 1);
        ASSERT_EQ(s.status, kw::error::none);
        hits += s.low.value <= exact.mean && exact.mean <= s.high.value &&
                s.low.width <= exact.width && exact.width <= s.high.width &&
                s.low.gamma <= exact.gamma && exact.gamma <= s.high.gamma;
      }
      EXPECT_GT(binomial_below(hits, seeds, confidence), 1e-4)
          << name(c.s) << " n " << c.n << " C " << confidence << ": " << hits;
    }
  }
}

// numpy.quantile's linear method on the drawn distances, written from its
// definition: the virtual index (m - 1) p, its floor and the next rank.
double numpy_quantile(std::vector<double> d, double p) {
  std::sort(d.begin(), d.end());
  const double index = static_cast<double>(d.size() - 1) * p;
  const auto low = std::min<std::size_t>(static_cast<std::size_t>(index), d.size() - 1);
  const std::size_t high = std::min(low + 1, d.size() - 1);
  const double t = index - static_cast<double>(low), a = d[low], b = d[high];
  const double diff = b - a;
  return t >= 0.5 ? b - diff * (1 - t) : a + diff * t;
}

std::vector<double> plain_distances(const kw::sample_pairs& s,
                                    const std::vector<kw::pair_index>& pairs) {
  std::vector<double> d;
  const auto row = [&](std::uint64_t k) {
    return k < s.x.rows ? s.x.data + k * s.x.cols
                        : s.y.data + (k - s.x.rows) * s.y.cols;
  };
  for (const kw::pair_index p : pairs) {
    double sum = 0;
    for (std::size_t c = 0; c < s.x.cols; ++c) {
      const double diff = row(p.first)[c] - row(p.second)[c];
      sum += diff * diff;
    }
    d.push_back(std::sqrt(sum));
  }
  return d;
}

// Every drawn distance is, bit for bit, one of the exact computation's
// (all of them once enough are drawn), and the estimate is numpy's formula
// on them.
TEST(SampledEstimate, DrawnDistancesAreTheExactOnes) {
  std::mt19937_64 gen(5);
  std::uniform_real_distribution<double> u(-1, 1);
  for (const pairing kind : {pairing::within, pairing::pooled, pairing::cross}) {
    data x{std::vector<double>(9 * 17), 17}, y{std::vector<double>(5 * 17), 17};
    for (double& v : x.values) v = u(gen) * std::pow(10.0, static_cast<int>(u(gen) * 4));
    for (double& v : y.values) v = u(gen) * 3;
    const kw::sample_pairs s(x.view(), y.view(), kind);
    const std::uint64_t population = kw::pair_count(9, 5, kind);
    std::vector<std::uint64_t> ranks(population);
    for (std::uint64_t r = 0; r < population; ++r) ranks[r] = r;
    std::vector<double> exact(population);
    kw::order_statistics(s, ranks.data(), population, exact.data(), 2);
    std::set<std::uint64_t> exact_bits, drawn_bits;
    for (const double v : exact) exact_bits.insert(std::bit_cast<std::uint64_t>(v));
    const std::uint64_t m = 3000;
    std::vector<kw::pair_index> pairs(m);
    kw::draw_pairs(9, 5, kind, {m, 77, 0.9}, pairs.data(), 2);
    kw::detail::sample_source source;
    source.x = s.x;
    if (kind != pairing::within) source.y = s.y;
    source.pairs = pairs.data();
    source.how = {m, 77, 0.9};
    const std::vector<double> d = kw::detail::drawn_distances(source, 3, nullptr);
    for (const double v : d) drawn_bits.insert(std::bit_cast<std::uint64_t>(v));
    EXPECT_EQ(drawn_bits, exact_bits) << static_cast<int>(kind);
    const double ps[] = {0.0, 0.25, 0.5, 0.7, 0.999, 1.0};
    kw::sampled_quantile out[6];
    kw::sampled_quantiles({s, {m, 77, 0.9}}, ps, 6, out, 2);
    const std::vector<double> plain = plain_distances(s, pairs);
    for (int k = 0; k < 6; ++k)
      EXPECT_EQ(std::bit_cast<std::uint64_t>(out[k].estimate.value),
                std::bit_cast<std::uint64_t>(numpy_quantile(plain, ps[k])))
          << ps[k];
    double sum = 0;
    for (const double v : plain) sum += v;
    if (kind == pairing::within) {
      EXPECT_EQ(kw::sampled_mean(x.view(), 0, {m, 77, 0.9}, 3).mean, sum / m);
    }
  }
}

bool same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same(const kw::interval_end& a, const kw::interval_end& b) {
  return same(a.value, b.value) && same(a.width, b.width) &&
         same(a.sigma, b.sigma) && same(a.gamma, b.gamma) && a.rank == b.rank &&
         a.trivial == b.trivial;
}

bool same(const kw::sampled_quantile& a, const kw::sampled_quantile& b) {
  const kw::quantile &x = a.estimate, &y = b.estimate;
  return same(x.value, y.value) && same(x.lower, y.lower) &&
         same(x.upper, y.upper) && same(x.width, y.width) &&
         same(x.gamma, y.gamma) && x.lower_rank == y.lower_rank &&
         x.upper_rank == y.upper_rank && same(a.low, b.low) &&
         same(a.high, b.high);
}

bool same(const kw::sampled_labelled& a, const kw::sampled_labelled& b) {
  return same(a.mean, b.mean) && same(a.width, b.width) &&
         same(a.gamma, b.gamma) && same(a.low, b.low) && same(a.high, b.high);
}

// The same seed, the same bits for 1, 2 and 3 threads; and the programs'
// path (the kept rows only, x's then y's, renumbered pairs, N and D
// given) gives the in-memory functions' bits.
TEST(SampledEstimate, SameBitsForAnyThreadsAndThroughKeptRows) {
  const data x = make(shape::continuous, 3000, 8), y = make(shape::ties, 1000, 9);
  const double ps[] = {0.05, 0.5, 0.95};
  const kw::sampling how{200000, 31, 0.99};
  for (const pairing kind : {pairing::within, pairing::pooled, pairing::cross}) {
    const kw::sample_pairs s(x.view(), y.view(), kind);
    kw::sampled_quantile one[3], other[3];
    kw::sampled_quantiles({s, how}, ps, 3, one, 1);
    for (const unsigned threads : {2u, 3u}) {
      kw::sampled_quantiles({s, how}, ps, 3, other, threads);
      for (int k = 0; k < 3; ++k) EXPECT_TRUE(same(one[k], other[k])) << threads;
    }
    const std::size_t n_y = kind == pairing::within ? 0 : 1000;
    std::vector<kw::pair_index> pairs(how.draws);
    kw::draw_pairs(3000, n_y, kind, how, pairs.data());
    std::vector<std::uint64_t> rows(2 * how.draws);
    std::uint64_t kept = 0;
    kw::keep_rows(pairs.data(), how.draws, rows.data(), &kept);
    std::vector<double> stacked;
    for (std::uint64_t r = 0; r < kept; ++r) {
      const double* from = rows[r] < 3000 ? &x.values[rows[r] * 2]
                                          : &y.values[(rows[r] - 3000) * 2];
      stacked.insert(stacked.end(), from, from + 2);
    }
    kw::drawn_sample d;
    d.rows = {stacked.data(), kept, 2, 0};
    d.pairs = pairs.data();
    d.how = how;
    d.population = kw::pair_count(3000, n_y, kind);
    d.bound = kw::detail::bound_of(s, 0);
    d.n = 3000;
    d.n_y = n_y;
    kw::sampled_quantiles_of(d, ps, 3, other, 2);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(same(one[k], other[k])) << "kept rows";
    if (kind != pairing::within) continue;
    const kw::sampled_labelled mean = kw::sampled_mean(x.view(), 0, how, 1);
    EXPECT_TRUE(same(mean, kw::sampled_mean(x.view(), 0, how, 3)));
    EXPECT_TRUE(same(mean, kw::sampled_mean_of(d, 0, 2)));
  }
}

struct error_case {
  std::uint64_t draws;
  double confidence, p;
  std::size_t n, n_y;
  kw::error status;
};

// Each rule at its boundary and one past it.
const error_case errors[] = {
    {0, 0.99, 0.5, 10, 0, kw::error::bad_sampling},
    {1, 0.99, 0.5, 10, 0, kw::error::none},
    {(std::uint64_t{1} << 63) + 1, 0.99, 0.5, 10, 0, kw::error::bad_sampling},
    {std::uint64_t{1} << 63, 0.99, 0.5, 10, 0, kw::error::out_of_memory},
    {10, 0.0, 0.5, 10, 0, kw::error::bad_sampling},
    {10, 0x1p-1074, 0.5, 10, 0, kw::error::none},
    {10, 1.0, 0.5, 10, 0, kw::error::bad_sampling},
    {10, 1 - 0x1p-53, 0.5, 10, 0, kw::error::none},
    {10, nan, 0.5, 10, 0, kw::error::bad_sampling},
    {10, -0.5, 0.5, 10, 0, kw::error::bad_sampling},
    {10, 0.9, 1.0, 10, 0, kw::error::none},
    {10, 0.9, std::nextafter(1.0, 2.0), 10, 0, kw::error::bad_probability},
    {10, 0.9, -0.0, 10, 0, kw::error::none},
    {10, 0.9, nan, 10, 0, kw::error::bad_probability},
    {10, 0.9, 0.5, 0, 0, kw::error::no_samples},
    {10, 0.9, 0.5, 1, 0, kw::error::none},  // no pairs: -NaN, as exactly
};

TEST(SampledBoundaries, Errors) {
  const data x = make(shape::continuous, 10, 1);
  for (const error_case& e : errors) {
    const kw::matrix_view v{x.values.data(), e.n, 2, 0};
    kw::sampled_quantile q;
    const auto r =
        kw::sampled_quantiles({v, {e.draws, 1, e.confidence}}, &e.p, 1, &q);
    EXPECT_EQ(r.status, e.status) << e.draws << " " << e.confidence << " " << e.p;
    EXPECT_EQ(std::isnan(q.estimate.value), e.status != kw::error::none || e.n < 2);
    if (e.p != 0.5) continue;
    const auto m = kw::sampled_mean(v, 0, {e.draws, 1, e.confidence});
    EXPECT_EQ(m.status, e.status) << e.draws << " " << e.confidence;
    EXPECT_EQ(std::isnan(m.mean), e.status != kw::error::none || e.n < 2);
  }
  const data three = make(shape::continuous, 4, 1);
  const kw::matrix_view wide{three.values.data(), 2, 4, 0};
  kw::sampled_quantile q;
  const double half = 0.5;
  EXPECT_EQ(kw::sampled_quantiles(
                {{x.view(), wide, pairing::cross}, {10, 1, 0.9}}, &half, 1, &q)
                .status,
            kw::error::columns_differ);
  EXPECT_EQ(kw::sampled_quantiles(
                {{x.view(), {nullptr, 0, 2, 0}, pairing::cross}, {10, 1, 0.9}},
                &half, 1, &q)
                .status,
            kw::error::no_samples);
  EXPECT_EQ(kw::sampled_mean(x.view(), 2, {10, 1, 0.9}).status,
            kw::error::no_features);
}

// One draw, p at 0 and 1, C near 0 and 1, and a single pair (N = 1).
TEST(SampledBoundaries, Ends) {
  const data x = make(shape::continuous, 30, 4);
  const double ps[] = {0.0, 0.5, 1.0};
  kw::sampled_quantile q[3];
  auto r = kw::sampled_quantiles({x.view(), {1, 5, 0.9}}, ps, 3, q);
  EXPECT_EQ(r.draws, 1u);
  EXPECT_EQ(r.population, 435u);
  const double drawn = q[0].estimate.value;
  for (const auto& e : q) EXPECT_EQ(e.estimate.value, drawn);
  // The median: nothing from one draw. The minimum lies below the drawn
  // distance unless the one pair drawn is the minimum's (1 / N < 0.05);
  // the maximum lies above it always.
  EXPECT_TRUE(q[1].low.trivial && q[1].high.trivial);
  EXPECT_EQ(q[1].low.value, 0.0);
  EXPECT_EQ(q[1].high.value, r.bound);
  EXPECT_EQ(q[1].low.gamma, 1 / q[1].high.width);
  EXPECT_EQ(q[1].high.gamma, inf);
  EXPECT_TRUE(q[0].low.trivial && !q[0].high.trivial);
  EXPECT_EQ(q[0].high.value, drawn);
  EXPECT_TRUE(!q[2].low.trivial && q[2].high.trivial);
  EXPECT_EQ(q[2].low.value, drawn);
  EXPECT_EQ(q[2].high.value, r.bound);
  // 5000 draws of 435 pairs: the minimum's and maximum's pairs are drawn
  // about 11 times each, and the ends reach them exactly.
  kw::quantile exact[3];
  kw::quantiles(x.view(), ps, 3, exact);
  r = kw::sampled_quantiles({x.view(), {5000, 5, 0.99}}, ps, 3, q);
  EXPECT_EQ(q[0].low.value, exact[0].value);
  EXPECT_EQ(q[0].low.rank, 3u);  // P(Bin(5000, 1/435) <= 3) < 0.005
  EXPECT_EQ(q[2].high.value, exact[2].value);
  EXPECT_EQ(q[2].high.rank, 4996u);
  // C near 0: an interval of a rank or two; near 1: wider than at 0.99.
  r = kw::sampled_quantiles({x.view(), {5000, 5, 1e-9}}, ps + 1, 1, q);
  EXPECT_LE(q[0].low.rank, q[0].high.rank);
  EXPECT_LE(q[0].high.rank - q[0].low.rank, 2u);
  kw::sampled_quantile sure;
  kw::sampled_quantiles({x.view(), {5000, 5, 0.99}}, ps + 1, 1, q);
  kw::sampled_quantiles({x.view(), {5000, 5, 1 - 0x1p-53}}, ps + 1, 1, &sure);
  EXPECT_LT(sure.low.rank, q[0].low.rank);
  EXPECT_GT(sure.high.rank, q[0].high.rank);
  // N = 1: every draw is the one distance, and so are both ends.
  const kw::matrix_view two{x.values.data(), 2, 2, 0};
  kw::quantile single;
  kw::quantiles(two, ps + 1, 1, &single);
  for (const std::uint64_t m : {1u, 2u, 100u}) {
    kw::sampled_quantiles({two, {m, 5, 0.99}}, ps + 1, 1, q);
    EXPECT_EQ(q[0].estimate.value, single.value);
    EXPECT_EQ(q[0].low.value, single.value) << m;
    EXPECT_EQ(q[0].high.value, single.value) << m;
  }
}

// NaN anywhere a distance is taken makes every value NaN, as the exact
// result is; infinities without NaN give D = inf.
TEST(SampledBoundaries, NanAndInfinity) {
  struct nan_case {
    std::vector<double> x, y;
    pairing kind;
    bool nan;
    double bound;
  };
  const nan_case cases[] = {
      {{0, 1, nan}, {}, pairing::within, true, 0},
      {{0, inf, inf}, {}, pairing::within, true, 0},
      {{0, inf, -inf}, {}, pairing::within, false, inf},
      {{0, inf}, {inf}, pairing::pooled, true, 0},
      {{0, inf}, {inf}, pairing::cross, true, 0},
      {{inf, inf}, {0}, pairing::cross, false, inf},
      {{inf, 1}, {-inf}, pairing::cross, false, inf},
      {{0, 3}, {nan}, pairing::cross, true, 0},
      {{0, 3}, {1}, pairing::cross, false, 3},
  };
  for (const nan_case& c : cases) {
    const kw::sample_pairs s({c.x.data(), c.x.size(), 1, 0},
                             {c.y.data(), c.y.size(), 1, 0}, c.kind);
    kw::sampled_quantile q;
    const double half = 0.5;
    const auto r = kw::sampled_quantiles({s, {50, 1, 0.9}}, &half, 1, &q);
    EXPECT_EQ(r.nan, c.nan) << c.x.size() << " " << static_cast<int>(c.kind);
    kw::quantile exact;
    EXPECT_EQ(kw::quantiles(s, &half, 1, &exact).nan_pairs > 0, c.nan);
    if (c.nan) {
      EXPECT_TRUE(std::isnan(q.estimate.value) && std::isnan(q.low.value) &&
                  std::isnan(q.high.value));
    } else {
      EXPECT_GE(r.bound, c.bound);
    }
    if (c.kind == pairing::within) {
      EXPECT_EQ(std::isnan(kw::sampled_mean(s.x, 0, {50, 1, 0.9}).mean), c.nan);
    }
  }
}

TEST(SampledBoundaries, CancelledComputesNothing) {
  const data x = make(shape::continuous, 100, 4);
  std::atomic<bool> cancel{true};
  kw::sampled_quantile q;
  const double half = 0.5;
  EXPECT_EQ(kw::sampled_quantiles({x.view(), {1000, 1, 0.9}}, &half, 1, &q, 2,
                                  &cancel)
                .status,
            kw::error::cancelled);
  EXPECT_TRUE(std::isnan(q.estimate.value));
  EXPECT_EQ(kw::sampled_mean(x.view(), 0, {1000, 1, 0.9}, 2, &cancel).status,
            kw::error::cancelled);
}

}  // namespace
