// The scalar reference itself: small cases worked by hand, and its
// row-by-row sums against the whole matrix.
#include "reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using namespace reference;

TEST(Distance, MatrixOfTwoSamples) {
  const Table expected = {{0, 5}, {5, 0}};
  EXPECT_EQ(distance_matrix({{0, 0}, {3, 4}}, 0), expected);
  EXPECT_EQ(distance_matrix({{1, 0, 0}, {2, 3, 4}}, 1), expected);
  EXPECT_EQ(distance_matrix({{7, 8}}, 0), Table{{0}});
  EXPECT_TRUE(distance_matrix({}, 0).empty());
}

TEST(Distance, UnequalRowsUseTheColumnsBothHold) {
  const Table expected = {{0, 5, 0}, {5, 0, 0}, {0, 0, 0}};
  EXPECT_EQ(distance_matrix({{0, 0}, {3, 4, 5}, {}}, 0), expected);
}

TEST(Distance, StatisticsOfTwoSamples) {
  const Table data = {{0, 0}, {3, 4}};
  EXPECT_EQ(distance_mean(data, 0), 2.5);
  EXPECT_EQ(distance_variance(data, 0, 2.5), 6.25);
  EXPECT_EQ(distance_total({{1, 0, 0}, {2, 3, 4}}, 1), 10);
  EXPECT_EQ(distance_total({{0, 0, 0}, {0, 3, 4}, {1, 6, 8}}, 1), 40);
  EXPECT_TRUE(std::isnan(distance_mean({}, 0)));
}

Table random_data(std::mt19937_64& rng, std::size_t n, std::size_t d) {
  std::normal_distribution<double> normal(0.0, 3.0);
  Table data(n, Row(d));
  for (Row& row : data)
    for (double& v : row) v = normal(rng);
  return data;
}

// The row-at-a-time sums must equal the sums over the whole matrix, taken
// row by row, bit for bit.
TEST(Distance, RowByRowEqualsTheMatrix) {
  std::mt19937_64 rng(42);
  for (const std::size_t n : {1, 2, 3, 9, 31, 100})
    for (const std::size_t d : {1, 2, 5, 17}) {
      const Table data = random_data(rng, n, d);
      const Table matrix = distance_matrix(data, 0);
      const double count = static_cast<double>(n * n);
      double sum = 0.0;
      for (const Row& row : matrix)
        for (const double x : row) sum += x;
      const double mean = sum / count;
      double deviation = 0.0;
      for (const Row& row : matrix)
        for (const double x : row) deviation += square(x - mean);
      EXPECT_EQ(distance_mean(data, 0), mean) << n << 'x' << d;
      EXPECT_EQ(distance_variance(data, 0, mean), deviation / count)
          << n << 'x' << d;
    }
}

TEST(Search, NearestKeyEarlierOnTies) {
  const Table table = {{0.5, 2}, {1.5, 4}};
  EXPECT_EQ(nearest_row(table, 1.0), 0u);
  EXPECT_EQ(nearest_row(table, 1.4), 1u);
  EXPECT_EQ(nearest_row(table, 0.6), 0u);
  EXPECT_EQ(nearest_row(table, std::nan("")), 0u);
  EXPECT_EQ(nearest_row({{5000, 1}, {3000, 2}}, 1.0), 0u);
  // Exactly 1,000 away is not near enough; just inside is.
  EXPECT_EQ(nearest_row({{7, 1}, {1000, 2}}, 0.0), 0u);
  EXPECT_EQ(nearest_row({{2000, 1}, {999.5, 2}}, 0.0), 1u);
}

}  // namespace
