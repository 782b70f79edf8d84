// The vectorised kernel and the thread pipelines against the scalar
// reference functions of table.h, bit for bit.
#include "block.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "moments.h"
#include "table.h"

namespace {

// Deterministic samples mixing fractions of several magnitudes, repeated
// values (zero distances) and small integers (exact ties).
Table samples(std::size_t n, std::size_t cols, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> real(-1.0, 1.0);
  std::uniform_int_distribution<int> pick(0, 9);
  Table data(n, Row(cols));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t c = 0; c < cols; ++c) {
      const int kind = pick(gen);
      if (kind == 0 && i > 0)
        data[i][c] = data[i - 1][c];
      else if (kind == 1)
        data[i][c] = static_cast<double>(pick(gen));
      else
        data[i][c] = real(gen) * std::pow(10.0, pick(gen) - 4);
    }
  return data;
}

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

std::vector<int> isas() {
  std::vector<int> out;
  for (const int isa : {isa_base, isa_avx2, isa_avx512})
    if (isa_supported(isa)) out.push_back(isa);
  return out;
}

std::string name(int isa) {
  return isa == isa_avx512 ? "avx512" : isa == isa_avx2 ? "avx2" : "base";
}

struct Shape {
  std::size_t n;
  std::size_t cols;
};

// n around the panel width and the register blocks.
const Shape shapes[] = {{1, 1},   {2, 3},    {3, 17},   {7, 1},  {8, 3},
                        {9, 17},  {13, 128}, {16, 4},   {17, 1}, {33, 3},
                        {41, 17}, {64, 2},   {70, 128}, {100, 5}};

std::vector<double> rows_of(int isa, const Table& data, std::size_t first,
                            std::size_t i, std::size_t rows, std::size_t stride,
                            bool centred, double mean) {
  const packed s = pack(data, first);
  std::vector<double> out(rows * stride);
  distance_rows(isa, s, {i, rows}, {centred, mean}, out.data(), stride);
  return out;
}

void expect_rows(int isa, const Table& data, std::size_t first, std::size_t i,
                 std::size_t rows, bool centred, double mean) {
  const std::size_t n = data.size();
  const std::size_t stride = (n + 7) / 8 * 8;
  const std::vector<double> out =
      rows_of(isa, data, first, i, rows, stride, centred, mean);
  Row want(n);
  for (std::size_t r = 0; r < rows; ++r) {
    distance_row(data, i + r, first, want.data());
    for (std::size_t l = 0; l < n; ++l) {
      const double w = centred ? square(want[l] - mean) : want[l];
      ASSERT_EQ(bits(out[r * stride + l]), bits(w))
          << name(isa) << " n=" << n << " row " << i + r << " sample " << l;
    }
  }
}

TEST(BlockIsa, BaselineAlwaysRunsAndBestIsSupported) {
  EXPECT_TRUE(isa_supported(isa_base));
  EXPECT_TRUE(isa_supported(best_isa()));
  EXPECT_GE(available_threads(), 1u);
}

TEST(BlockPack, PanelsHoldEightSamplesColumnByColumnPaddedWithTheLast) {
  const Table data = {{9, 1, 2}, {9, 3, 4}, {9, 5, 6}};
  const packed s = pack(data, 1);
  ASSERT_EQ(s.panels.size(), 16u);
  EXPECT_EQ(s.n, 3u);
  EXPECT_EQ(s.cols, 2u);
  const std::vector<double> want = {1, 3, 5, 5, 5, 5, 5, 5,
                                    2, 4, 6, 6, 6, 6, 6, 6};
  EXPECT_EQ(s.panels, want);
}

TEST(BlockKernel, EveryIsaMatchesDistanceRowBitForBit) {
  for (const int isa : isas())
    for (const Shape& s : shapes)
      for (const std::size_t first : {0u, 1u}) {
        const Table data = samples(s.n, s.cols + first, 7 + s.n);
        expect_rows(isa, data, first, 0, s.n, false, 0.0);
      }
}

TEST(BlockKernel, CentredDistancesMatchSquareOfDifference) {
  for (const int isa : isas())
    for (const Shape& s : shapes) {
      const Table data = samples(s.n, s.cols, 11 + s.n);
      expect_rows(isa, data, 0, 0, s.n, true, distance_mean(data, 0));
    }
}

TEST(BlockKernel, RowRangesThatSplitRegisterBlocks) {
  const Table data = samples(29, 6, 3);
  const Shape ranges[] = {{0, 1}, {3, 5}, {5, 7}, {27, 2}, {28, 1}};
  for (const int isa : isas())
    for (const Shape& r : ranges)
      expect_rows(isa, data, 0, r.n, r.cols, false, 0.0);
}

TEST(BlockKernel, HugeValuesOverflowLikeTheScalarSum) {
  Table data = samples(12, 3, 5);
  data[2][1] = 1e200;
  data[5][0] = -1e200;
  data[7][2] = 1e-300;
  for (const int isa : isas()) expect_rows(isa, data, 0, 0, 12, false, 0.0);
}

// form_moments against the plain chains, bit for bit, for every isa and
// thread count.
void expect_moments(const Table& data, std::initializer_list<unsigned> threads,
                    const std::string& what) {
  const double mean = distance_mean(data, 0);
  const double variance = distance_variance(data, 0, mean);
  const packed s = pack(data, 0);
  for (const int isa : isas())
    for (const unsigned t : threads) {
      const moments m = form_moments(s, t, isa);
      ASSERT_EQ(bits(m.mean), bits(mean))
          << what << ", " << name(isa) << ", " << t << " threads: " << m.mean
          << " vs " << mean;
      ASSERT_EQ(bits(m.variance), bits(variance))
          << what << ", " << name(isa) << ", " << t
          << " threads: " << m.variance << " vs " << variance;
    }
}

TEST(BlockForm, MomentsMatchMeanAndVarianceForEveryIsaAndThreadCount) {
  for (const Shape& s : shapes)
    expect_moments(samples(s.n, s.cols, 23 + s.n), {1u, 2u, 3u},
                   "n=" + std::to_string(s.n));
}

TEST(BlockForm, NoSamplesGiveNotANumber) {
  const moments m = form_moments(pack({}, 0), 2, best_isa());
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

// Exactness never depends on the predicted grids, but speed does: on
// clustered samples nearly every row adds up at once.
TEST(BlockForm, PredictedGridsSettleNearlyEveryRowAtOnce) {
  std::mt19937_64 gen(3);
  std::normal_distribution<double> normal(0.0, 3.0);
  Table data(3000, Row(8));
  for (std::size_t i = 0; i < data.size(); ++i)
    for (double& x : data[i]) x = normal(gen) + static_cast<double>(i % 5 * 4);
  const moments m = form_moments(pack(data, 0), 2, best_isa());
  for (const pass_rows& rows : {m.mean_rows, m.variance_rows}) {
    EXPECT_LT(rows.again, 60u);
    EXPECT_LT(rows.replayed, 30u);  // about one row per binade crossed
  }
}

TEST(BlockLabelled, TotalMatchesDistanceTotalForEveryIsaAndThreadCount) {
  for (const Shape& s : shapes) {
    const Table data = samples(s.n, s.cols + 1, 31 + s.n);
    const double want = distance_total(data, 1);
    const packed p = pack(data, 1);
    for (const int isa : isas())
      for (const unsigned threads : {1u, 2u, 3u})
        EXPECT_EQ(bits(pair_total(p, threads, isa)), bits(want))
            << name(isa) << " n=" << s.n << " threads " << threads;
  }
}

TEST(BlockLabelled, ReferenceTotalIsTwiceTheUpperTriangle) {
  // (0,3,4) (0,0,0) (1,6,8): distances 5, 10, 5 in each direction.
  const Table data = {{0, 0, 0}, {0, 3, 4}, {1, 6, 8}};
  EXPECT_EQ(distance_total(data, 1), 40.0);
  EXPECT_EQ(pair_total(pack(data, 1), 2, best_isa()), 40.0);
}

TEST(BlockLabelled, LongBandsCrossSeveralCacheChunks) {
  // 4096 / 128 = 32 panels per chunk: 600 samples span several chunks.
  const Table data = samples(600, 129, 41);
  const double want = distance_total(data, 1);
  const packed p = pack(data, 1);
  for (const int isa : isas())
    for (const unsigned threads : {1u, 3u})
      EXPECT_EQ(bits(pair_total(p, threads, isa)), bits(want))
          << name(isa) << " threads " << threads;
}

}  // namespace
