// Form's two passes against the plain chains of the scalar reference, bit
// for bit, for every instruction set and thread count.
#include "form_passes.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "test_support.h"

namespace {

using namespace reference;
using namespace test_support;
namespace detail = kernel_width::detail;
using detail::packed;

// The NaN of inf - inf as x86-64 gives it (-NaN), which the library gives
// on every machine (ARM's is +NaN); a NaN carried over from `from` stays.
double x86_nan(double x, double from) {
  return std::isnan(x) && !std::isnan(from)
             ? std::bit_cast<double>(std::uint64_t{0xfff8000000000000})
             : x;
}

// form_moments against the plain chains, bit for bit, for every isa and
// thread count.
void expect_moments(const Table& data, std::initializer_list<unsigned> threads,
                    const std::string& what) {
  const double mean = distance_mean(data, 0);
  const double variance = x86_nan(distance_variance(data, 0, mean), mean);
  const packed s = pack(data, 0);
  for (const isa set : isas())
    for (const unsigned t : threads) {
      const detail::moments m = detail::form_moments(s, t, set);
      ASSERT_EQ(bits(m.mean), bits(mean))
          << what << ", " << name(set) << ", " << t << " threads: " << m.mean
          << " vs " << mean;
      ASSERT_EQ(bits(m.variance), bits(variance))
          << what << ", " << name(set) << ", " << t
          << " threads: " << m.variance << " vs " << variance;
    }
}

TEST(BlockForm, MomentsMatchMeanAndVarianceForEveryIsaAndThreadCount) {
  for (const Shape& s : shapes)
    expect_moments(samples(s.n, s.cols, 23 + s.n), {1u, 2u, 3u},
                   "n=" + std::to_string(s.n));
}

TEST(BlockForm, NoSamplesGiveNotANumber) {
  const detail::moments m =
      detail::form_moments(pack({}, 0), 2, detail::best_isa());
  EXPECT_TRUE(std::isnan(m.mean));
  EXPECT_TRUE(std::isnan(m.variance));
}

TEST(BlockForm, ManyBandsAndCacheChunksAreTheSameForEveryThreadCount) {
  // 70 columns: 58 panels per cache chunk, so 301 samples span two.
  for (const std::size_t cols : {3u, 17u, 70u})
    expect_moments(samples(301, cols, 99), {1u, 2u, 3u, 4u},
                   "cols " + std::to_string(cols));
}

// Data sets whose terms break a careless grid sum: ties on most terms
// (values on a grid of powers of two), repeated points, squares that
// overflow or are subnormal, and a large common offset.
TEST(BlockForm, AdversarialDataSets) {
  std::mt19937_64 gen(5);
  std::uniform_int_distribution<int> pick(0, 15);
  auto make = [&](std::size_t n, std::size_t cols, auto value) {
    Table data(n, Row(cols));
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t c = 0; c < cols; ++c) data[i][c] = value(i, c);
    return data;
  };
  const struct {
    const char* what;
    Table data;
  } sets[] = {
      {"one column on a grid of 1/4",
       make(700, 1, [&](auto, auto) { return pick(gen) * 0.25 + 4096; })},
      {"integers, Pythagorean distances",
       make(300, 2,
            [&](auto i, auto c) { return (i * 3 + c * 4) % 12 * 1.0; })},
      {"powers of two",
       make(260, 3, [&](auto, auto) { return std::ldexp(1.0, pick(gen)); })},
      {"all points equal", make(90, 4, [](auto, auto) { return 7.5; })},
      {"two points repeated",
       make(333, 2, [](auto i, auto) { return i % 2 ? 1.0 : 0.0; })},
      {"subnormal squares",
       make(150, 2, [&](auto, auto) { return pick(gen) * 1e-160; })},
      {"overflowing squares",
       make(70, 2, [&](auto i, auto) { return i % 3 ? 1e200 : -1e200; })},
      {"large common offset",
       make(400, 3, [&](auto, auto) { return 1e12 + pick(gen) * 0.5; })},
      {"tiny values",
       make(120, 1, [&](auto, auto) { return pick(gen) * 1e-300; })},
  };
  for (const auto& set : sets) expect_moments(set.data, {1u, 2u, 3u}, set.what);
}

// The steps as an engine of `parts` ranks runs them (mpi/form_ranks.cpp):
// each part rounds its share of the bands (dealt: the parts at once, each
// taking the next band of one scrambled order), the partials are combined
// last part first, each part recomputes its share of the doubtful rows,
// and one settles. The pass's sum and the row totals.
double pass_over_parts(const packed& s, detail::terms t,
                       const std::vector<double>& estimates, unsigned parts,
                       bool dealt, std::vector<double>& totals) {
  const detail::workers w{detail::best_isa(), 1, {}};
  const std::vector<double> grids = detail::predict_grids(s, estimates);
  std::vector<detail::row_sums> partial(parts);
  scrambled_bands bands(s.count(), parts);
  run_parts(dealt ? parts : 0, [&](unsigned p) {
    partial[p] = detail::round_pairs(s, t, grids, bands.source(), w,
                                     detail::pair_sums(s, 1));
  });
  for (unsigned p = 0; p < parts && !dealt; ++p)
    partial[p] =
        detail::round_pairs(s, t, grids, detail::share(s.count(), parts, p), w,
                            detail::pair_sums(s, 1));
  detail::row_sums total = partial.back();
  for (unsigned p = parts - 1; p-- > 0;) {
    detail::combine_sums(total.sum.data(), partial[p].sum.data(), 8);
    detail::combine_sums(total.sum.data() + 8, partial[p].sum.data() + 8,
                         total.sum.size() - 8);
    detail::combine_offs(total.off.data(), partial[p].off.data(),
                         total.off.size());
  }
  std::vector<detail::doubtful_row> redo =
      detail::doubtful_rows(grids, total, s.n);
  for (unsigned p = 0; p < parts; ++p) {
    std::vector<detail::doubtful_row> mine;
    const std::vector<std::size_t> rows = detail::share(redo.size(), parts, p);
    for (const std::size_t k : rows) mine.push_back(redo[k]);
    detail::recompute_all(s, t, mine, w);
    for (std::size_t j = 0; j < rows.size(); ++j) redo[rows[j]] = mine[j];
  }
  totals = total.sum;
  totals.resize(s.n);
  return detail::settle({w.set, w.threads, {}}, s, t, grids, total, redo).sum;
}

TEST(BlockForm, StepsSharedOutOverPartsGiveTheSameBits) {
  const Table data = samples(203, 5, 7);  // 26 bands, the last one short
  const double mean = distance_mean(data, 0);
  const double variance = distance_variance(data, 0, mean);
  const packed s = pack(data, 0);
  const detail::workers w{detail::best_isa(), 2, {}};
  const std::vector<double> q = detail::squared_sums(s);
  for (const bool dealt : {false, true})
    for (const unsigned parts : {1u, 2u, 3u, 4u, 30u}) {
      std::vector<double> totals;
      const double m = detail::per_pair(
          pass_over_parts(s, {}, detail::distance_estimates(s, q, w), parts,
                          dealt, totals),
          s.n);
      ASSERT_EQ(bits(m), bits(mean)) << parts << " parts, dealt " << dealt;
      const double v = detail::per_pair(
          pass_over_parts(s, {true, m}, detail::centred_estimates(q, totals, m),
                          parts, dealt, totals),
          s.n);
      ASSERT_EQ(bits(v), bits(variance)) << parts << " parts, dealt " << dealt;
    }
}

// Exactness never depends on the predicted grids, but speed does: on
// clustered samples nearly every row adds up at once.
TEST(BlockForm, PredictedGridsSettleNearlyEveryRowAtOnce) {
  std::mt19937_64 gen(3);
  std::normal_distribution<double> normal(0.0, 3.0);
  Table data(3000, Row(8));
  for (std::size_t i = 0; i < data.size(); ++i)
    for (double& x : data[i]) x = normal(gen) + static_cast<double>(i % 5 * 4);
  const detail::moments m =
      detail::form_moments(pack(data, 0), 2, detail::best_isa());
  for (const detail::pass_rows& rows : {m.mean_rows, m.variance_rows}) {
    EXPECT_LT(rows.again, 60u);
    EXPECT_LT(rows.replayed, 30u);  // about one row per binade crossed
  }
}

}  // namespace
