// The distances at chosen ranks, within one set of samples and across two,
// against a sort of all of them, bit for bit, on every instruction set and
// thread count, with the default limits (one pass keeps them all) and small
// ones (a sampled first plan, several passes); and the kernels the passes
// use against the plain ways.
#include "rank_passes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "kernel_width/kernel_width.h"
#include "kernels.h"
#include "packed_statistics.h"
#include "test_support.h"

namespace {

using namespace reference;
using namespace test_support;
namespace detail = kernel_width::detail;
namespace kw = kernel_width;

// Every distance d(i, l), i < l within a, or of a's samples to b's, sorted
// with NaN last.
std::vector<double> sorted_distances(const Table& a, const Table* b) {
  std::vector<double> all;
  Table both = a;
  if (b) both.insert(both.end(), b->begin(), b->end());
  Row row(both.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    distance_row(both, i, 0, row.data());
    const std::size_t from = b ? a.size() : i + 1;
    all.insert(all.end(), row.begin() + static_cast<std::ptrdiff_t>(from),
               row.end());
  }
  std::sort(all.begin(), all.end(), [](double x, double y) {
    return std::isnan(y) ? !std::isnan(x) : x < y;
  });
  return all;
}

std::vector<std::uint64_t> ranks_of(std::size_t count) {
  std::vector<std::uint64_t> r;
  if (count == 0) return r;
  for (const double p : {0.0, 0.1, 0.5, 0.9, 1.0}) {
    const auto k = static_cast<std::uint64_t>(p * static_cast<double>(count - 1));
    r.push_back(k);
    if (k + 1 < count) r.push_back(k + 1);
  }
  std::sort(r.begin(), r.end());
  r.erase(std::unique(r.begin(), r.end()), r.end());
  return r;
}

// Small enough that a few dozen samples are sampled, counted over several
// passes and kept only in part.
detail::select_limits small_limits() {
  detail::select_limits l;
  l.bucket_bits = 3;
  l.buckets = 32;
  l.keep = 40;
  l.at_once = 40;
  l.rough_tiles = 8;
  l.sample_share = 2;
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
  Table other;  // the second set, for the pairs across
};

std::vector<Case> cases() {
  Table overflow = samples(37, 3, 9);
  for (std::size_t i = 0; i < 37; i += 3) overflow[i][1] = 1e200;
  Table same(40, Row{1.5, -2.0});
  same[7] = {1.5, 2.0};
  Table far = samples(30, 3, 12);
  for (Row& r : far) r[0] += 1e6;
  return {
      {"two", {{0, 0}, {3, 4}}, {{1, 1}}},
      {"three", {{0, 0}, {3, 4}, {6, 8}}, {{0, 0}, {3, 4}}},
      {"even_pairs", samples(16, 3, 1), samples(9, 3, 11)},  // 120 pairs
      {"odd_pairs", samples(15, 3, 2), samples(7, 3, 12)},   // 105 pairs
      {"mixed", samples(70, 17, 3), samples(33, 17, 13)},
      {"wide", samples(41, 128, 4), samples(17, 128, 14)},
      {"grid", grid(90, 3, 5), grid(31, 3, 15)},
      {"grid_one_column", grid(61, 1, 6), grid(8, 1, 16)},
      {"identical_but_one", same, Table(9, Row{1.5, -2.0})},
      {"overflowing_squares", overflow, samples(20, 3, 17)},
      {"two_far_clusters", samples(50, 3, 7), far},
  };
}

void expect_ranks(const detail::pair_set& pairs, const std::vector<double>& want,
                  const char* name) {
  const std::vector<std::uint64_t> ranks = ranks_of(want.size());
  for (const isa set : isas())
    for (const unsigned threads : {1u, 2u, 3u, 4u})
      for (const bool small : {false, true}) {
        const detail::ranks_found f = detail::pair_ranks(
            pairs, ranks, threads, set, {},
            small ? small_limits() : detail::select_limits{});
        ASSERT_FALSE(f.stalled) << name;
        ASSERT_EQ(f.values.size(), ranks.size()) << name;
        for (std::size_t k = 0; k < ranks.size(); ++k)
          ASSERT_EQ(bits(f.values[k]), bits(want[ranks[k]]))
              << name << " " << test_support::name(set) << " threads "
              << threads << " rank " << ranks[k]
              << (small ? " small limits" : "");
      }
}

TEST(RankPasses, EqualTheSortWithinAndAcrossOnEveryIsaAndThreadCount) {
  for (const Case& c : cases()) {
    const detail::packed a = pack(c.data, 0);
    const detail::packed b = pack(c.other, 0);
    expect_ranks({&a, nullptr}, sorted_distances(c.data, nullptr), c.name);
    expect_ranks({&a, &b}, sorted_distances(c.data, &c.other), c.name);
    expect_ranks({&b, &a}, sorted_distances(c.other, &c.data), c.name);
  }
}

TEST(RankPasses, SmallLimitsSampleAndTakeSeveralPasses) {
  const Table data = samples(200, 5, 8);
  const std::vector<double> want = sorted_distances(data, nullptr);
  const detail::packed p = pack(data, 0);
  const std::uint64_t middle = want.size() / 2;
  const detail::ranks_found f = detail::pair_ranks(
      {&p, nullptr}, {middle}, 2, detail::best_isa(), {}, small_limits());
  EXPECT_EQ(bits(f.values[0]), bits(want[middle]));
  EXPECT_GT(f.passes, 2u);
}

// A NaN in one sample only, met by one thread's bands only (the last
// sample's pairs all lie in the bands before it): counted whatever the
// threads, as its pairs are.
TEST(RankPasses, NaNDistancesAreCountedOnEveryThreadCount) {
  const double inf = std::numeric_limits<double>::infinity();
  Table data = samples(70, 3, 5);
  data.back()[1] = std::nan("");
  Table infinite = {{0, 0}, {1, 1}, {inf, 2}, {inf, 3}, {4, 4}};
  for (const isa set : isas())
    for (const unsigned threads : {1u, 2u, 3u, 4u})
      for (const bool small : {false, true}) {
        const detail::select_limits l =
            small ? small_limits() : detail::select_limits{};
        const detail::packed p = pack(data, 0);
        EXPECT_EQ(detail::pair_ranks({&p, nullptr}, {100}, threads, set, {}, l)
                      .nan,
                  69u);
        const detail::packed q = pack(infinite, 0);  // inf - inf
        EXPECT_EQ(detail::pair_ranks({&q, nullptr}, {3}, threads, set, {}, l)
                      .nan,
                  1u);
      }
}

TEST(RankPasses, ZeroDistancesAreCounted) {
  const Table data = {{1, 2}, {1, 2}, {3, 4}, {1, 2}, {3, 4}};
  const detail::packed p = pack(data, 0);
  const detail::packed q = pack({{1, 2}, {3, 4}}, 0);
  bool cancelled = true;
  EXPECT_EQ(detail::zero_pairs({&p, nullptr}, 2, detail::best_isa(), {},
                               cancelled),
            4u);  // three equal samples and two
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(detail::zero_pairs({&p, &q}, 2, detail::best_isa(), {}, cancelled),
            5u);
}

TEST(RankPasses, ACancelledRunSaysSo) {
  const std::atomic<bool> cancel{true};
  const detail::packed p = pack(samples(50, 3, 2), 0);
  const detail::ranks_found f = detail::pair_ranks(
      {&p, nullptr}, {600}, 2, detail::best_isa(), {nullptr, &cancel});
  EXPECT_TRUE(f.cancelled);
  EXPECT_TRUE(f.values.empty());
}

// The first pass counts every pair once; later ones, rarely needed, keep
// the progress at its end. Within a set and across two, either way round.
TEST(RankPasses, TheControlCountsThePairsOfTheFirstPass) {
  struct Row {
    std::size_t n, n_y;  // n_y 0: within
    std::uint64_t pairs;
  };
  for (const Row& r : {Row{45, 0, 45 * 44 / 2}, Row{10, 3, 30}, Row{3, 10, 30},
                       Row{17, 9, 153}}) {
    const detail::packed p = pack(samples(r.n, 4, 3), 0);
    const detail::packed q = pack(samples(std::max<std::size_t>(r.n_y, 1), 4, 4), 0);
    const detail::pair_set pairs{&p, r.n_y > 0 ? &q : nullptr};
    // On one thread the sample, and so the number of passes, is always the
    // same; on several, which values a thread keeps before the sample's
    // room runs out depends on timing.
    for (const unsigned threads : {1u, 3u}) {
      detail::pair_counter done{0};
      const detail::ranks_found f =
          detail::pair_ranks(pairs, {r.pairs / 3}, threads, detail::best_isa(),
                             {&done, nullptr}, small_limits());
      if (r.n_y == 0 && threads == 1) {
        EXPECT_GT(f.passes, 1u);
      }
      EXPECT_EQ(done.load(), r.pairs) << r.n << " x " << r.n_y;
    }
  }
}

// Each band's pairs, within a set and across two, against a count of them
// one by one: its rows' later samples, or all of the other set's; summed,
// every pair once.
TEST(PairSet, EachBandHoldsItsRowsPairs) {
  struct Row {
    std::size_t n, n_y;  // n_y 0: within
  };
  for (const Row& r : {Row{10, 3}, Row{3, 10}, Row{1, 1}, Row{8, 8}, Row{9, 1},
                       Row{17, 5}, Row{2, 0}, Row{8, 0}, Row{9, 0}, Row{16, 0},
                       Row{17, 0}, Row{100, 0}, Row{100, 7}}) {
    const detail::packed p = pack(samples(r.n, 2, 1), 0);
    const detail::packed q = pack(samples(std::max<std::size_t>(r.n_y, 1), 2, 2), 0);
    const detail::pair_set pairs{&p, r.n_y > 0 ? &q : nullptr};
    std::uint64_t sum = 0;
    for (std::size_t b = 0; b < pairs.bands(); ++b) {
      std::uint64_t own = 0;
      for (std::size_t i = 8 * b; i < std::min(r.n, 8 * b + 8); ++i)
        own += r.n_y > 0 ? r.n_y : r.n - 1 - i;
      EXPECT_EQ(pairs.band_pairs(b), own) << r.n << " x " << r.n_y << " band " << b;
      sum += own;
    }
    EXPECT_EQ(pairs.count(), sum) << r.n << " x " << r.n_y;
    EXPECT_EQ(sum, r.n_y > 0 ? r.n * r.n_y : r.n * (r.n - 1) / 2);
  }
}

// Where the first pass keeps what the ranks need, it is the only pass: up
// to 65,536 pairs it keeps them all, beyond (here 4.5 million) what the
// sample placed around the ranks. A thread's last block of kept values
// lost would cost a second pass, the values still exact.
TEST(RankPasses, OnePassWhereTheKeptValuesFit) {
  for (const std::size_t n : {200, 3000}) {
    const Table data = samples(n, 5, 21);
    const std::vector<double> want = sorted_distances(data, nullptr);
    // The quantiles' ranks at 0.1, 0.5 and 0.9 (the extremes' windows
    // would hold ties the sample cannot tell apart).
    std::vector<std::uint64_t> ranks;
    for (const std::uint64_t r : ranks_of(want.size()))
      if (r > 1 && r + 2 < want.size()) ranks.push_back(r);
    const detail::packed p = pack(data, 0);
#ifdef SANITIZED
    // Slow under the sanitizers: the plain build checks the other counts.
    const unsigned thread_counts[] = {3u};
#else
    const unsigned thread_counts[] = {1u, 2u, 3u, 4u};
#endif
    for (const unsigned threads : thread_counts) {
      const detail::ranks_found f = detail::pair_ranks(
          {&p, nullptr}, ranks, threads, detail::best_isa());
      EXPECT_EQ(f.passes, 1u) << "n " << n << " threads " << threads;
      ASSERT_EQ(f.values.size(), ranks.size());
      for (std::size_t k = 0; k < ranks.size(); ++k)
        ASSERT_EQ(bits(f.values[k]), bits(want[ranks[k]]))
            << "n " << n << " threads " << threads << " rank " << ranks[k];
    }
  }
}

// Tied data (a grid: 13 distinct distances): windows that the sample sees
// as two ties are counted as two, in the vector loop. Ranks at the
// quantiles and on each side of a change of value near them, exact, in
// one pass, on every instruction set and thread count.
TEST(RankPasses, TiesOnAGridInOnePass) {
  const Table data = grid(3000, 3, 23);
  const std::vector<double> want = sorted_distances(data, nullptr);
  std::vector<std::uint64_t> ranks;
  for (const double q : {0.1, 0.5, 0.9}) {
    auto r = static_cast<std::uint64_t>(q * static_cast<double>(want.size()));
    ranks.push_back(r);
    while (r + 1 < want.size() && want[r] == want[r + 1]) ++r;
    ranks.insert(ranks.end(), {r, r + 1});
  }
  std::sort(ranks.begin(), ranks.end());
  ranks.erase(std::unique(ranks.begin(), ranks.end()), ranks.end());
  const detail::packed p = pack(data, 0);
#ifdef SANITIZED
  // Slow under the sanitizers: there one thread count, and the plain build
  // checks the others.
  const std::vector<unsigned> thread_counts{3};
#else
  const std::vector<unsigned> thread_counts{1, 2, 3};
#endif
  for (const isa set : isas())
    for (const unsigned threads : thread_counts) {
      const detail::ranks_found f =
          detail::pair_ranks({&p, nullptr}, ranks, threads, set);
      EXPECT_EQ(f.passes, 1u) << test_support::name(set) << " " << threads;
      ASSERT_EQ(f.values.size(), ranks.size());
      for (std::size_t k = 0; k < ranks.size(); ++k)
        ASSERT_EQ(bits(f.values[k]), bits(want[ranks[k]]))
            << test_support::name(set) << " threads " << threads << " rank "
            << ranks[k];
    }
}

// The samples' values row after row, for the public calls.
std::vector<double> flat(const Table& data) {
  std::vector<double> out;
  for (const Row& r : data) out.insert(out.end(), r.begin(), r.end());
  return out;
}

// Ranks in any order, repeated, and past the last (m - 1): each of those
// alone is NaN (numpy's, positive); the others are the sort's, within a
// set and across two.
TEST(RankPasses, OrderStatisticsPastTheLastRankAreNaNAlone) {
  const Table x = samples(20, 3, 5);
  const Table y = samples(7, 3, 6);
  const std::vector<double> fx = flat(x), fy = flat(y);
  for (const bool across : {false, true}) {
    const std::vector<double> want = sorted_distances(x, across ? &y : nullptr);
    const std::uint64_t m = want.size();
    const std::vector<std::uint64_t> ranks = {m, 0, m - 1, m + 1, 5,
                                              ~std::uint64_t{0}, m / 2, m - 1,
                                              0, m};
    std::vector<double> values(ranks.size());
    const kw::sample_pairs pairs =
        across ? kw::sample_pairs({fx.data(), 20, 3}, {fy.data(), 7, 3},
                                  kw::pairing::cross)
               : kw::sample_pairs({fx.data(), 20, 3});
    const kw::selection s = kw::order_statistics(pairs, ranks.data(),
                                                 ranks.size(), values.data(), 2);
    ASSERT_EQ(s.status, kw::error::none);
    EXPECT_EQ(s.pairs, m);
    for (std::size_t k = 0; k < ranks.size(); ++k)
      if (ranks[k] < m)
        EXPECT_EQ(bits(values[k]), bits(want[ranks[k]]))
            << "rank " << ranks[k] << (across ? " across" : "");
      else
        EXPECT_TRUE(std::isnan(values[k]) && !std::signbit(values[k]))
            << "rank " << ranks[k] << (across ? " across" : "");
  }
}

// Widths 2 Q^2 so small they round to 0: sigma stays Q itself (not the
// root of half a zero width), the width is 0 and says so, gamma infinite.
// One sample 2^-537 from two at 0: the distances 0, 2^-537, 2^-537, whose
// square is the smallest subnormal; half of it, between 0 and 2^-537,
// squares to under half of that, so to 0.
TEST(RankPasses, QuantilesWhoseWidthUnderflowsKeepTheirSigma) {
  const double x = std::ldexp(1.0, -537);
  const double data[] = {0.0, 0.0, x};
  struct Row {
    double p, value;
    bool zero;
  };
  const Row rows[] = {{0.0, 0.0, true},
                      {0.25, x / 2, true},
                      {0.5, x, false},
                      {1.0, x, false}};
  for (const Row& r : rows) {
    kw::quantile q;
    const kw::selection s = kw::quantiles(kw::matrix_view{data, 3, 1}, &r.p, 1, &q);
    ASSERT_EQ(s.status, kw::error::none);
    EXPECT_EQ(bits(q.value), bits(r.value)) << r.p;
    EXPECT_EQ(bits(q.sigma), bits(r.value)) << r.p;
    EXPECT_EQ(bits(q.width), bits(r.value * r.value * 2)) << r.p;
    EXPECT_EQ(q.width == 0, r.zero) << r.p;
    EXPECT_EQ(q.zero_width, r.zero) << r.p;
    EXPECT_EQ(bits(q.gamma), bits(1 / q.width)) << r.p;
  }
  // The median of 0, 0, 0, x, x, x: (0 + x) / 2, its width 0 too.
  const double four[] = {0.0, 0.0, 0.0, x};
  const kw::median_statistics m = kw::median({four, 4, 1});
  EXPECT_EQ(bits(m.median), bits(x / 2));
  EXPECT_EQ(bits(m.sigma), bits(x / 2));
  EXPECT_EQ(m.width, 0.0);
  EXPECT_TRUE(m.zero_width);
}

// A pass that narrows nothing (every value reported over the windows)
// ends the selection with error::internal at once, through the public
// statistics, never a pass after pass.
TEST(RankPasses, APassThatDoesNotNarrowIsAnInternalError) {
  const Table data = samples(30, 3, 4);
  const detail::packed p = pack(data, 0);
  const detail::pair_set pairs{&p, nullptr};
  int passes = 0;
  const detail::pass_function stuck = [&](const detail::pass_plan& plan,
                                          detail::pass_result& out) {
    out.kept.resize(plan.windows.size());
    out.t.under.assign(plan.hulls.size(), 0);
    return ++passes < 20;  // else a hang: stop as if cancelled
  };
  const detail::rank_engine engine{
      [&](const std::vector<std::uint64_t>& ranks) {
        return detail::find_ranks(pairs, ranks, 1, detail::best_isa(), stuck);
      },
      [](std::uint64_t& zeros) {
        zeros = 0;
        return true;
      }};
  const std::uint64_t ranks[] = {3, 200};
  double values[2];
  EXPECT_EQ(detail::order_statistics(pairs, 0, ranks, 2, values, engine).status,
            kw::error::internal);
  EXPECT_LE(passes, 2);
  const double ps[] = {0.1, 0.9};
  kw::quantile q[2];
  EXPECT_EQ(detail::quantiles(pairs, 0, ps, 2, q, engine).status,
            kw::error::internal);
  EXPECT_EQ(detail::median(pairs, 0, engine).status, kw::error::internal);
  EXPECT_LE(passes, 6);
}

// The squared distance of two samples, its sum in column order.
double squared(const Row& a, const Row& b) {
  double sum = 0.0;
  for (std::size_t c = 0; c < a.size(); ++c) sum += square(a[c] - b[c]);
  return sum;
}

// Ties with one value between two of them that no sample sees (two
// points far off the grid, close to each other: their pair lies in the
// diagonal tile the sample leaves out). The windows of one pattern leave
// its rank in the gap between them, found exactly by one pass more; the
// ranks on the ties beside it take one.
TEST(RankPasses, AValueBetweenTiesCostsOnePassMore) {
  Table data = grid(3000, 3, 29);
  for (Row& r : data) r.push_back(0.0);
  data[0][3] = 100.0;
  data[1][3] = 100.5;
  const std::vector<double> want = sorted_distances(data, nullptr);
  const double alone = std::sqrt(squared(data[0], data[1]));
  const auto at = std::lower_bound(want.begin(), want.end(), alone);
  ASSERT_EQ(bits(*at), bits(alone));
  const auto rank = static_cast<std::uint64_t>(at - want.begin());
  ASSERT_NE(*(at - 1), alone);
  ASSERT_NE(*(at + 1), alone);
  ASSERT_EQ(*(at + 1), *(at + 2));
  const detail::packed p = pack(data, 0);
  const std::vector<std::pair<std::vector<std::uint64_t>, unsigned>> runs = {
      {{rank - 1, rank}, 2u}, {{rank, rank + 1}, 2u}, {{rank + 1, rank + 2}, 1u}};
#ifdef SANITIZED
  const unsigned thread_counts[] = {2u};  // the plain build checks one too
#else
  const unsigned thread_counts[] = {1u, 2u};
#endif
  for (const auto& [ranks, passes] : runs)
    for (const isa set : isas())
      for (const unsigned threads : thread_counts) {
        const detail::ranks_found f =
            detail::pair_ranks({&p, nullptr}, ranks, threads, set);
        EXPECT_EQ(f.passes, passes) << test_support::name(set) << " " << ranks[0];
        ASSERT_EQ(f.values.size(), 2u);
        EXPECT_EQ(bits(f.values[0]), bits(want[ranks[0]])) << ranks[0];
        EXPECT_EQ(bits(f.values[1]), bits(want[ranks[1]])) << ranks[0];
      }
}

bool finite(const Table& data) {
  for (const Row& row : data)
    for (const double x : row)
      if (!std::isfinite(x)) return false;
  return true;
}

// Every band's tally of the pairs against the plan, from the vector
// kernel and one value at a time: the same counts, bounds and kept values;
// on finite samples also with the plan marked finite (AVX-512 then tests
// two vectors at once on their patterns' high halves).
void expect_plain_tallies(const Table& data, const Table& other,
                          const detail::pass_plan& given) {
  const detail::packed p = pack(data, 0);
  const detail::packed o = pack(other, 0);
  for (const bool finite_plan : {false, true}) {
    if (finite_plan && !(finite(data) && finite(other))) continue;
    detail::pass_plan plan = given;
    plan.finite = finite_plan;
  for (const isa set : isas()) {
    const detail::kernels& k = detail::kernels_for(set);
    for (const bool across : {false, true}) {
      const detail::pair_set pairs{&p, across ? &o : nullptr};
      const Table& others = across ? other : data;
      for (std::size_t b = 0; b < pairs.bands(); ++b) {
        detail::tally fast, plain;
        fast.reset(plan);
        plain.reset(plan);
        k.tally(pairs, b, {pairs.first_panel(b), pairs.others().count()}, plan,
                fast);
        for (std::size_t i = 8 * b; i < std::min(data.size(), 8 * b + 8); ++i)
          for (std::size_t l = across ? 0 : i + 1; l < others.size(); ++l)
            detail::take(squared(data[i], others[l]), plan, plain);
        const std::string where = name(set) + (across ? " across" : " within") +
                                  " band " + std::to_string(b) +
                                  (finite_plan ? " finite" : "");
        ASSERT_EQ(fast.values, plain.values) << where;
        ASSERT_EQ(fast.nan, plain.nan) << where;
        ASSERT_EQ(fast.nan_bits, plain.nan_bits) << where;
        ASSERT_EQ(fast.under, plain.under) << where;
        ASSERT_EQ(fast.inside, plain.inside) << where;
        ASSERT_EQ(fast.after, plain.after) << where;
        for (std::size_t j = 0; j < plan.buckets; ++j) {
          ASSERT_EQ(fast.buckets[j].count, plain.buckets[j].count) << where;
          ASSERT_EQ(bits(fast.buckets[j].low), bits(plain.buckets[j].low));
          ASSERT_EQ(bits(fast.buckets[j].high), bits(plain.buckets[j].high));
        }
        for (std::size_t j = 0; j < plan.windows.size(); ++j) {
          std::sort(fast.kept[j].begin(), fast.kept[j].end());
          std::sort(plain.kept[j].begin(), plain.kept[j].end());
          ASSERT_EQ(fast.kept[j], plain.kept[j]) << where << " window " << j;
        }
      }
    }
  }
  }
}

detail::pass_plan plan_of(
    const std::vector<std::pair<double, double>>& spans) {
  detail::pass_plan plan;
  for (const auto& [lo, hi] : spans)
    plan.windows.push_back(detail::window_over(bits(lo), bits(hi), 5, 2));
  detail::plan_hulls(plan);
  return plan;
}

// The kernels the passes use: a band's squared distances to a span of
// panels, and the tally of a band's pairs against a plan of several
// windows (more than the vector loop's hulls, one of them the single
// pattern 0), against the plain ways.
TEST(RankKernels, SquaresAndTallyMatchThePlainWays) {
  Table data = samples(29, 6, 4);
  data[5][2] = std::nan("");
  const Table other = samples(21, 6, 5);
  const detail::packed p = pack(data, 0);
  const detail::packed o = pack(other, 0);
  for (const isa set : isas()) {
    const detail::kernels& k = detail::kernels_for(set);
    std::vector<double> out(8 * 16);
    k.squares(p, 1, o, {1, 3}, out.data(), 16);  // rows 8..15, others 8..20
    for (std::size_t r = 0; r < 8; ++r)
      for (std::size_t l = 8; l < 21; ++l)
        ASSERT_EQ(bits(out[r * 16 + l - 8]), bits(squared(data[8 + r], other[l])))
            << name(set) << " row " << 8 + r << " sample " << l;
  }
  expect_plain_tallies(data, other,
                       plan_of({{0.0, 0.0}, {0.5, 2.0}, {3.0, 3.5}, {4.0, 5.0},
                                {40.0, 60.0},
                                {100.0, std::numeric_limits<double>::infinity()}}));
}

// Ties: windows of one pattern each (counted in vectors, never one by
// one), alone in their hulls or beside a wider window, with a NaN.
TEST(RankKernels, WindowsOfOnePatternCountTheirTies) {
  Table data = grid(37, 3, 8);
  data[11][1] = std::nan("");
  const Table other = grid(19, 3, 9);
  expect_plain_tallies(data, other, plan_of({{1.0, 1.0}, {3.0, 3.0}, {5.0, 5.0}}));
  expect_plain_tallies(data, other,
                       plan_of({{0.0, 0.0}, {2.0, 2.0}, {3.0, 4.0}, {6.0, 6.0},
                                {8.0, 8.0}, {12.0, 12.0}}));
  expect_plain_tallies(data, other, plan_of({{2.0, 2.0}}));
}

// The vector loop's hull test at its bounds: on a grid every squared
// distance is a whole number, so values lie on each hull's lo and hi, one
// pattern inside and outside them, between hulls, under the first and over
// the last; with 1 to 4 hulls, a tie between two wider windows, and a NaN.
TEST(RankKernels, HullBoundsMatchThePlainWays) {
  Table data = grid(37, 3, 10);
  data[20][0] = std::nan("");
  const Table other = grid(19, 3, 11);
  const double up = std::numeric_limits<double>::infinity();
  const auto in = [](double x) { return std::nextafter(x, 20.0); };
  const auto out = [](double x) { return std::nextafter(x, -1.0); };
  const std::vector<std::vector<std::pair<double, double>>> plans = {
      {{4.0, 5.0}},
      {{1.0, 2.0}, {8.0, 9.0}},
      {{1.0, 2.0}, {4.0, 5.0}, {8.0, 9.0}},
      {{in(1.0), out(2.0)}, {in(4.0), 5.0}, {8.0, out(9.0)}},
      {{out(1.0), in(2.0)}, {out(4.0), in(5.0)}, {out(8.0), in(9.0)}},
      {{0.0, 1.0}, {3.0, 4.0}, {6.0, 7.0}, {10.0, up}},
      {{1.0, 2.0}, {5.0, 5.0}, {8.0, 9.0}},
      {{3.0, 3.0}, {4.0, 6.0}, {7.0, 7.0}, {9.0, 11.0}},
  };
  for (const auto& spans : plans) expect_plain_tallies(data, other, plan_of(spans));
}

// The same without the NaN, so that the plans count as finite: on AVX-512
// the hulls are then widened to multiples of 2^32 patterns, whose margins
// go one by one. Whole numbers lie on such multiples: a lo one pattern
// over one takes it into the margin under the hull, a hi one pattern under
// it into the margin over; hulls a pattern apart share their margins;
// several windows in a hull leave gaps in it; an odd vector goes alone;
// random values, on narrow and on wide tiles.
TEST(RankKernels, WidenedHullsMatchThePlainWays) {
  const Table data = grid(37, 3, 12);
  const Table other = grid(19, 3, 13);
  const double up = std::numeric_limits<double>::infinity();
  const auto in = [](double x) { return std::nextafter(x, 20.0); };
  const auto out = [](double x) { return std::nextafter(x, -1.0); };
  const std::vector<std::vector<std::pair<double, double>>> plans = {
      {{1.0, 2.0}, {4.0, 5.0}},
      {{in(1.0), out(2.0)}, {in(4.0), 5.0}, {8.0, out(9.0)}},
      {{out(1.0), in(2.0)}, {out(4.0), in(5.0)}, {out(8.0), in(9.0)}},
      {{1.0, 2.0}, {in(2.0), 3.0}, {in(in(3.0)), out(5.0)}},
      {{0.0, 0.0}, {in(0.0), 1.0}, {3.0, 4.0}, {6.0, up}},
      {{0.0, 1.0}, {2.0, 2.5}, {3.0, 4.0}, {in(4.0), 5.0}, {6.0, 7.0},
       {9.0, 10.0}, {12.0, up}},
      // Ties alone: whole numbers are counted on the halves too, a tie off
      // such a pattern the plain way.
      {{1.0, 1.0}, {3.0, 3.0}, {5.0, 5.0}},
      {{0.0, 0.0}, {2.0, 2.0}, {6.0, 6.0}, {8.0, 8.0}},
      {{2.0, 2.0}, {in(3.0), in(3.0)}},
  };
  for (const auto& spans : plans) expect_plain_tallies(data, other, plan_of(spans));
  const Table spread = samples(29, 6, 14);
  const Table more = samples(21, 6, 15);
  expect_plain_tallies(spread, more,
                       plan_of({{0.5, 2.0}, {3.0, 3.5}, {4.0, 5.0}, {6.0, 8.0}}));
  // 64 columns: the kernels' wide tiles.
  expect_plain_tallies(samples(29, 64, 16), samples(21, 64, 17),
                       plan_of({{10.0, 20.0}, {25.0, 27.0}, {30.0, 45.0}}));
}

}  // namespace
