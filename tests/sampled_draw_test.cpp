// Drawing the pairs of a sampled width: their count, their uniformity,
// their independence from the thread count, and the rows they need.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "kernel_width/kernel_width.h"
#include "sampled_draw.h"

namespace {

using kernel_width::pair_index;
using kernel_width::pairing;

constexpr std::uint64_t max64 = UINT64_MAX;

struct count_case {
  std::size_t n, n_y;
  pairing kind;
  std::uint64_t pairs;
  bool overflow;
};

// Each rule at its boundary and one past it; the 64-bit limits included.
const count_case counts[] = {
    {0, 0, pairing::within, 0, false},
    {1, 0, pairing::within, 0, false},
    {2, 0, pairing::within, 1, false},
    {5, 7, pairing::within, 10, false},  // y is not read within
    {1, 0, pairing::pooled, 0, false},
    {1, 1, pairing::pooled, 1, false},
    {2, 3, pairing::pooled, 10, false},
    {3, 0, pairing::cross, 0, false},
    {0, 3, pairing::cross, 0, false},
    {3, 4, pairing::cross, 12, false},
    // n(n-1)/2 <= 2^64 - 1 up to n = 6074001000, exactly 2^64 - ... below.
    {6074001000u, 0, pairing::within, 18446744070963499500u, false},
    {6074001001u, 0, pairing::within, 0, true},
    {6074000999u, 1, pairing::pooled, 18446744070963499500u, false},
    {std::uint64_t{1} << 32, (std::uint64_t{1} << 32) - 1, pairing::cross,
     max64 - (std::uint64_t{1} << 32) + 1, false},
    {std::uint64_t{1} << 32, std::uint64_t{1} << 32, pairing::cross, 0, true},
    {SIZE_MAX, 1, pairing::pooled, 0, true},
};

TEST(PairCount, TableOfBoundaries) {
  for (const count_case& c : counts) {
    bool over = !c.overflow;
    EXPECT_EQ(kernel_width::pair_count(c.n, c.n_y, c.kind, &over), c.pairs)
        << c.n << " " << c.n_y;
    EXPECT_EQ(over, c.overflow) << c.n << " " << c.n_y;
    EXPECT_EQ(kernel_width::pair_count(c.n, c.n_y, c.kind), c.pairs);
  }
}

std::vector<pair_index> drawn(std::size_t n, std::size_t n_y, pairing kind,
                              std::uint64_t seed, std::uint64_t count,
                              unsigned threads) {
  std::vector<pair_index> out(count);
  EXPECT_EQ(kernel_width::draw_pairs(n, n_y, kind, {count, seed, 0.99},
                                     out.data(), threads),
            kernel_width::error::none);
  return out;
}

bool same(const std::vector<pair_index>& a, const std::vector<pair_index>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (a[k].first != b[k].first || a[k].second != b[k].second) return false;
  return true;
}

// Enough pairs for several chunks of work, so that threads share them.
TEST(DrawPairs, SameSeedSamePairsForAnyThreadCount) {
  for (const pairing kind : {pairing::within, pairing::pooled, pairing::cross}) {
    const auto one = drawn(1000, 77, kind, 12345, 100000, 1);
    EXPECT_TRUE(same(one, drawn(1000, 77, kind, 12345, 100000, 2)));
    EXPECT_TRUE(same(one, drawn(1000, 77, kind, 12345, 100000, 3)));
    EXPECT_FALSE(same(one, drawn(1000, 77, kind, 12346, 100000, 1)));
    // Pair k does not depend on how many are drawn.
    const auto fewer = drawn(1000, 77, kind, 12345, 333, 2);
    EXPECT_TRUE(same(fewer, {one.begin(), one.begin() + 333}));
  }
}

// Pearson's chi-square over every pair of a small set, against the
// 1 - 10^-6 quantile of its distribution (Wilson-Hilferty).
double chi_square_limit(double df) {
  const double z = 4.753424;
  const double a = 2 / (9 * df);
  return df * std::pow(1 - a + z * std::sqrt(a), 3);
}

TEST(DrawPairs, UniformOverThePairs) {
  struct shape {
    std::size_t n, n_y;
    pairing kind;
  };
  for (const shape s : {shape{2, 0, pairing::within}, shape{6, 0, pairing::within},
                        shape{2, 3, pairing::pooled}, shape{1, 1, pairing::pooled},
                        shape{3, 4, pairing::cross}, shape{1, 5, pairing::cross}}) {
    const std::uint64_t pairs = kernel_width::pair_count(s.n, s.n_y, s.kind);
    const std::uint64_t draws = 20000 * pairs;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint64_t> seen;
    for (const pair_index p : drawn(s.n, s.n_y, s.kind, 7, draws, 0)) {
      if (s.kind == pairing::cross) {
        ASSERT_LT(p.first, s.n);
        ASSERT_GE(p.second, s.n);
        ASSERT_LT(p.second, s.n + s.n_y);
      } else {
        ASSERT_LT(p.first, p.second);
        ASSERT_LT(p.second, s.n + (s.kind == pairing::pooled ? s.n_y : 0));
      }
      ++seen[{p.first, p.second}];
    }
    ASSERT_EQ(seen.size(), pairs) << s.n << " " << s.n_y;
    double chi = 0;
    for (const auto& [pair, count] : seen) {
      const double d = static_cast<double>(count) - 20000.0;
      chi += d * d / 20000.0;
    }
    if (pairs > 1) {
      EXPECT_LT(chi, chi_square_limit(pairs - 1.0)) << s.n;
    }
  }
}

// At the largest counts the indices stay in range and both halves of each
// range are reached (a bounded draw that dropped the high bits would not).
TEST(DrawPairs, ValidAtTheLargestPairCounts) {
  struct shape {
    std::size_t n, n_y;
    pairing kind;
  };
  for (const shape s : {shape{6074001000u, 0, pairing::within},
                        shape{6074000999u, 1, pairing::pooled},
                        shape{std::uint64_t{1} << 32,
                              (std::uint64_t{1} << 32) - 1, pairing::cross}}) {
    const std::uint64_t total = s.n + s.n_y;
    bool high_first = false, low_second = false;
    for (const pair_index p : drawn(s.n, s.n_y, s.kind, 3, 4000, 2)) {
      if (s.kind == pairing::cross) {
        ASSERT_LT(p.first, s.n);
        ASSERT_GE(p.second, s.n);
        low_second = low_second || p.second - s.n < s.n_y / 2;
      } else {
        ASSERT_LT(p.first, p.second);
        low_second = low_second || p.second < total / 2;
      }
      ASSERT_LT(p.second, total);
      high_first = high_first || p.first > s.n / 2;
    }
    EXPECT_TRUE(high_first && low_second) << s.n;
  }
  std::vector<pair_index> out(1);
  EXPECT_EQ(kernel_width::draw_pairs(6074001001u, 0, pairing::within,
                                     {1, 0, 0.99}, out.data()),
            kernel_width::error::too_many_pairs);
  EXPECT_EQ(
      kernel_width::draw_pairs(1, 0, pairing::within, {1, 0, 0.99}, out.data()),
      kernel_width::error::no_samples);
  EXPECT_EQ(
      kernel_width::draw_pairs(4, 0, pairing::cross, {1, 0, 0.99}, out.data()),
      kernel_width::error::no_samples);
}

// Lemire's reduction is exact: over a range that does not divide 2^64 the
// rejected words make every value equally likely, here for range 3 over
// the stream's words.
TEST(DrawPairs, BoundedIntegersAreUnbiased) {
  std::uint64_t counts[3] = {};
  kernel_width::detail::pair_stream s(99, 0);
  for (int k = 0; k < 300000; ++k) ++counts[kernel_width::detail::bounded(s, 3)];
  double chi = 0;
  for (const std::uint64_t c : counts) {
    const double d = static_cast<double>(c) - 100000.0;
    chi += d * d / 100000.0;
  }
  EXPECT_LT(chi, chi_square_limit(2));
  kernel_width::detail::pair_stream t(1, 2);
  for (int k = 0; k < 1000; ++k)
    EXPECT_EQ(kernel_width::detail::bounded(t, 1), 0u);
}

TEST(KeepRows, RenumbersIntoTheKeptRows) {
  for (const pairing kind : {pairing::within, pairing::pooled, pairing::cross}) {
    const std::size_t n = 50, n_y = 30;
    auto pairs = drawn(n, n_y, kind, 5, 40, 1);
    const auto original = pairs;
    std::vector<std::uint64_t> rows(2 * pairs.size());
    std::uint64_t kept = 0;
    ASSERT_EQ(kernel_width::keep_rows(pairs.data(), pairs.size(), rows.data(),
                                      &kept),
              kernel_width::error::none);
    ASSERT_LE(kept, 80u);
    for (std::uint64_t k = 1; k < kept; ++k) ASSERT_LT(rows[k - 1], rows[k]);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
      ASSERT_LT(pairs[k].first, kept);
      ASSERT_LT(pairs[k].second, kept);
      EXPECT_EQ(rows[pairs[k].first], original[k].first);
      EXPECT_EQ(rows[pairs[k].second], original[k].second);
    }
  }
  std::uint64_t kept = 7;
  EXPECT_EQ(kernel_width::keep_rows(nullptr, 0, nullptr, &kept),
            kernel_width::error::none);
  EXPECT_EQ(kept, 0u);
}

// The simple way: sort the indices, drop repeats, find each by search.
std::vector<std::uint64_t> sorted_rows(std::vector<pair_index>& pairs) {
  std::vector<std::uint64_t> rows;
  for (const pair_index& p : pairs) rows.insert(rows.end(), {p.first, p.second});
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  const auto at = [&](std::uint64_t i) {
    return static_cast<std::uint64_t>(
        std::lower_bound(rows.begin(), rows.end(), i) - rows.begin());
  };
  for (pair_index& p : pairs) p = {at(p.first), at(p.second)};
  return rows;
}

struct keep_case {
  std::size_t n, n_y;
  std::uint64_t count;
};

// Dense and sparse indices: the bit table serves while the largest index
// is at most 128 count, the sort beyond; both sides of that line, with
// every pairing and y's indices after x's.
TEST(KeepRows, SameAsSortingTheIndices) {
  const keep_case cases[] = {{2, 1, 1},       {3, 2, 5},        {200, 60, 2},
                             {5000, 3000, 1}, {100000, 7, 30},  {1000, 1000, 4000},
                             {1u << 20, 5, 3}, {60000, 60000, 500}};
  for (const keep_case& c : cases)
    for (const pairing kind : {pairing::within, pairing::pooled, pairing::cross})
      for (const std::uint64_t seed : {1u, 2u, 3u}) {
        auto pairs = drawn(c.n, c.n_y, kind, seed, c.count, 2);
        auto expected_pairs = pairs;
        const std::vector<std::uint64_t> expected = sorted_rows(expected_pairs);
        std::vector<std::uint64_t> rows(2 * c.count);
        std::uint64_t kept = 0;
        ASSERT_EQ(kernel_width::keep_rows(pairs.data(), c.count, rows.data(), &kept),
                  kernel_width::error::none);
        ASSERT_EQ(kept, expected.size()) << c.n << " " << c.count;
        rows.resize(kept);
        EXPECT_EQ(rows, expected) << c.n << " " << c.count;
        EXPECT_TRUE(same(pairs, expected_pairs)) << c.n << " " << c.count;
      }
}

// The largest index exactly at the line between the two ways and one past
// it, with hand-made pairs that repeat rows.
TEST(KeepRows, AtTheLineBetweenTableAndSort) {
  // Two pairs: the table while top / 64 <= 4, so up to 319.
  for (const std::uint64_t top : {318u, 319u, 320u, 321u}) {
    std::vector<pair_index> pairs{{top - 1, top}, {0, top - 1}};
    auto expected_pairs = pairs;
    const auto expected = sorted_rows(expected_pairs);
    std::vector<std::uint64_t> rows(4);
    std::uint64_t kept = 0;
    ASSERT_EQ(kernel_width::keep_rows(pairs.data(), 2, rows.data(), &kept),
              kernel_width::error::none);
    rows.resize(kept);
    EXPECT_EQ(rows, expected) << top;
    EXPECT_TRUE(same(pairs, expected_pairs)) << top;
  }
}

std::uint64_t bits_of(double v) {
  std::uint64_t b = 0;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// A reader that computes each drawn distance with pair_distance() gets the
// bits of the functions that hold the rows: estimates and both ends, for
// every pairing, and the mean.
TEST(FromDistances, SameBitsAsFromTheRows) {
  namespace kw = kernel_width;
  std::mt19937_64 rng(11);
  std::normal_distribution<double> normal(0.0, 3.0);
  const std::size_t n = 150, n_y = 70, cols = 5;
  std::vector<double> x(n * cols), y(n_y * cols);
  for (double& v : x) v = normal(rng);
  for (double& v : y) v = std::round(normal(rng));  // ties
  const kw::matrix_view vx{x.data(), n, cols, 0}, vy{y.data(), n_y, cols, 0};
  const double p[] = {0.0, 0.1, 0.5, 0.93, 1.0};
  const kw::sampling how{5000, 42, 0.95};
  for (const pairing kind : {pairing::within, pairing::pooled, pairing::cross}) {
    const kw::sample_pairs samples = kind == pairing::within
                                         ? kw::sample_pairs(vx)
                                         : kw::sample_pairs(vx, vy, kind);
    kw::sampled_quantile held[5], given[5];
    const kw::sampled_selection a =
        kw::sampled_quantiles({samples, how}, p, 5, held, 2);
    const auto pairs = drawn(n, kind == pairing::within ? 0 : n_y, kind, 42,
                             how.draws, 1);
    const auto row = [&](std::uint64_t i) {
      return i < n ? x.data() + i * cols : y.data() + (i - n) * cols;
    };
    std::vector<double> d;
    for (const pair_index& q : pairs)
      d.push_back(kw::pair_distance(row(q.first), row(q.second), cols));
    const kw::sampled_selection b = kw::sampled_quantiles_from(
        {d.data(), how, a.population, a.bound, a.n, a.n_y, cols}, p, 5, given);
    ASSERT_EQ(b.status, kw::error::none);
    EXPECT_EQ(b.columns, cols);
    for (int k = 0; k < 5; ++k) {
      EXPECT_EQ(bits_of(held[k].estimate.value), bits_of(given[k].estimate.value));
      EXPECT_EQ(bits_of(held[k].low.width), bits_of(given[k].low.width));
      EXPECT_EQ(bits_of(held[k].high.gamma), bits_of(given[k].high.gamma));
      EXPECT_EQ(held[k].low.rank, given[k].low.rank);
      EXPECT_EQ(held[k].high.trivial, given[k].high.trivial);
    }
  }
  const kw::sampled_labelled a = kw::sampled_mean(vx, 1, how, 2);
  const auto pairs = drawn(n, 0, pairing::within, 42, how.draws, 1);
  std::vector<double> d;
  for (const pair_index& q : pairs)
    d.push_back(kw::pair_distance(x.data() + q.first * cols + 1,
                                  x.data() + q.second * cols + 1, cols - 1));
  const kw::sampled_labelled b = kw::sampled_mean_from(
      {d.data(), how, a.population, a.bound, n, 0, cols - 1});
  EXPECT_EQ(bits_of(a.mean), bits_of(b.mean));
  EXPECT_EQ(bits_of(a.low.value), bits_of(b.low.value));
  EXPECT_EQ(bits_of(a.high.value), bits_of(b.high.value));
  EXPECT_EQ(b.columns, cols - 1);
  // Refused as the *_of functions refuse: no draws.
  EXPECT_EQ(kw::sampled_mean_from({d.data(), {0, 1, 0.9}, a.population,
                                   a.bound, n, 0, cols - 1})
                .status,
            kw::error::bad_sampling);
}

}  // namespace
