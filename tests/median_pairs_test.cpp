// The median of the pairwise distances against a sort of all of them, bit
// for bit, on every instruction set and thread count, with the default
// limits (one pass keeps them all) and small ones (a sampled first window,
// several passes).
#include "median_pairs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "kernels.h"
#include "test_support.h"

namespace {

using namespace reference;
using namespace test_support;
namespace detail = kernel_width::detail;

// numpy's median of the distances d(i, l), i < l, from a sort of them all.
double sorted_median(const Table& data) {
  std::vector<double> all;
  Row row(data.size());
  for (std::size_t i = 0; i < data.size(); ++i) {
    distance_row(data, i, 0, row.data());
    all.insert(all.end(), row.begin() + static_cast<std::ptrdiff_t>(i) + 1,
               row.end());
  }
  if (all.empty()) return -std::numeric_limits<double>::quiet_NaN();
  std::sort(all.begin(), all.end());
  const std::size_t m = all.size() / 2;
  return all.size() % 2 ? all[m] : (all[m - 1] + all[m]) / 2;
}

// Small enough that a few dozen samples are sampled, counted over several
// passes and kept only in part.
detail::select_limits small_limits() {
  detail::select_limits l;
  l.bucket_bits = 3;
  l.keep = 40;
  l.at_once = 40;
  l.rough_tiles = 8;
  l.sample_share = 16;
  l.sample_tiles = 64;
  return l;
}

// Points on a small integer grid: distances are square roots of small
// integers, each repeated many times.
Table grid(std::size_t n, std::size_t cols, unsigned seed) {
  std::mt19937_64 gen(seed);
  Table data(n, Row(cols));
  for (Row& r : data)
    for (double& x : r) x = static_cast<double>(gen() % 3);
  return data;
}

struct Case {
  const char* name;
  Table data;
};

std::vector<Case> cases() {
  Table overflow = samples(37, 3, 9);
  for (std::size_t i = 0; i < 37; i += 3) overflow[i][1] = 1e200;
  Table same(40, Row{1.5, -2.0});
  same[7] = {1.5, 2.0};
  return {
      {"two", {{0, 0}, {3, 4}}},         {"three", {{0, 0}, {3, 4}, {6, 8}}},
      {"even_pairs", samples(16, 3, 1)},  // 120 pairs
      {"odd_pairs", samples(15, 3, 2)},   // 105 pairs
      {"mixed", samples(70, 17, 3)},     {"wide", samples(41, 128, 4)},
      {"grid", grid(90, 3, 5)},          {"grid_one_column", grid(61, 1, 6)},
      {"identical_but_one", same},       {"overflowing_squares", overflow},
  };
}

TEST(MedianPairs, EqualsTheSortedMiddleOnEveryIsaAndThreadCount) {
  for (const Case& c : cases()) {
    const double want = sorted_median(c.data);
    const detail::packed p = pack(c.data, 0);
    for (const isa set : isas())
      for (const unsigned threads : {1u, 2u, 3u, 4u})
        for (const bool small : {false, true}) {
          const detail::median_result r = detail::pair_median(
              p, threads, set, {},
              small ? small_limits() : detail::select_limits{});
          ASSERT_EQ(bits(r.median), bits(want))
              << c.name << " " << name(set) << " threads " << threads
              << (small ? " small limits" : "");
        }
  }
}

TEST(MedianPairs, SmallLimitsSampleAndTakeSeveralPasses) {
  const Table data = samples(200, 5, 8);
  const detail::median_result r = detail::pair_median(
      pack(data, 0), 2, detail::best_isa(), {}, small_limits());
  EXPECT_EQ(bits(r.median), bits(sorted_median(data)));
  EXPECT_GT(r.passes, 2u);
}

TEST(MedianPairs, FewerThanTwoSamplesGiveNegativeNaN) {
  const double none = -std::numeric_limits<double>::quiet_NaN();
  for (const std::size_t n : {0u, 1u}) {
    const detail::median_result r =
        detail::pair_median(pack(samples(n, 2, 1), 0), 2, detail::best_isa());
    EXPECT_EQ(bits(r.median), bits(none)) << n;
  }
}

TEST(MedianPairs, ANaNDistanceMakesTheMedianNaN) {
  const double inf = std::numeric_limits<double>::infinity();
  const Table data = {{0, 0}, {1, 1}, {inf, 2}, {inf, 3}, {4, 4}};
  for (const isa set : isas())
    EXPECT_TRUE(std::isnan(
        detail::pair_median(pack(data, 0), 2, set, {}, small_limits()).median))
        << name(set);
}

TEST(MedianPairs, ACancelledRunSaysSo) {
  const std::atomic<bool> cancel{true};
  const detail::median_result r = detail::pair_median(
      pack(samples(50, 3, 2), 0), 2, detail::best_isa(), {nullptr, &cancel});
  EXPECT_TRUE(r.cancelled);
  EXPECT_TRUE(std::isnan(r.median));
}

// The first pass counts every pair once; later ones, rarely needed, keep
// the progress at its end.
TEST(MedianPairs, TheControlCountsThePairsOfTheFirstPass) {
  const Table data = samples(45, 4, 3);
  detail::pair_counter done{0};
  const detail::median_result r = detail::pair_median(
      pack(data, 0), 3, detail::best_isa(), {&done, nullptr}, small_limits());
  EXPECT_GT(r.passes, 1u);
  EXPECT_EQ(done.load(), std::uint64_t{45 * 44 / 2});
}

// The kernels the passes use: a band's distances to a span of panels, and
// the tally of a block of them, against the plain ways.
TEST(MedianKernels, PairsAndTallyMatchThePlainWays) {
  const Table data = samples(29, 6, 4);
  const detail::packed p = pack(data, 0);
  Row want(29);
  const double inf = std::numeric_limits<double>::infinity();
  for (const isa set : isas()) {
    const detail::kernels& k = detail::kernels_for(set);
    std::vector<double> out(8 * 16);
    k.pairs(p, 1, {2, 4}, out.data(), 16);  // rows 8..15, samples 16..31
    for (std::size_t r = 0; r < 8; ++r) {
      distance_row(data, 8 + r, 0, want.data());
      for (std::size_t l = 16; l < 29; ++l)
        ASSERT_EQ(bits(out[r * 16 + l - 16]), bits(want[l]))
            << name(set) << " row " << 8 + r << " sample " << l;
    }
    std::vector<double> x = {0.5,           2, 2, 3,    inf, 1,   2.5, 4, 0,
                             -std::nan(""), 3, 2, 2.25, 7,   1.75};
    for (std::size_t count = 0; count <= x.size(); ++count) {
      detail::window w =
          detail::window_over(bits(1.0), bits(3.0), 100, {.bucket_bits = 2});
      std::vector<detail::bucket> b1(4), b2(4);
      std::vector<double> v1(16), v2(16);
      detail::window_tally fast{.buckets = b1.data(), .values = v1.data()};
      detail::window_tally plain{.buckets = b2.data(), .values = v2.data()};
      k.tally(x.data(), count, w, fast);
      for (std::size_t j = 0; j < count; ++j) detail::take(x[j], w, plain);
      ASSERT_EQ(fast.below, plain.below) << name(set) << " count " << count;
      ASSERT_EQ(fast.inside, plain.inside);
      ASSERT_EQ(fast.nan, plain.nan);
      ASSERT_EQ(fast.kept, plain.kept);
      for (std::size_t j = 0; j < 4; ++j) {
        ASSERT_EQ(b1[j].count, b2[j].count) << j;
        ASSERT_EQ(bits(b1[j].low), bits(b2[j].low)) << j;
        ASSERT_EQ(bits(b1[j].high), bits(b2[j].high)) << j;
      }
      std::sort(v1.begin(),
                v1.begin() + static_cast<std::ptrdiff_t>(fast.kept));
      std::sort(v2.begin(),
                v2.begin() + static_cast<std::ptrdiff_t>(plain.kept));
      ASSERT_EQ(v1, v2);
    }
  }
}

}  // namespace
