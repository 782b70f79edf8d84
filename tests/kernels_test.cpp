// The vectorised kernels against the scalar reference, bit for bit, on
// every instruction set this CPU runs.
#include "kernels.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

namespace {

using namespace reference;
using namespace test_support;
namespace detail = kernel_width::detail;
using detail::packed;

std::vector<double> rows_of(isa set, const Table& data, std::size_t first,
                            std::size_t i, std::size_t rows, std::size_t stride,
                            bool centred, double mean) {
  const packed s = pack(data, first);
  std::vector<double> out(rows * stride);
  detail::kernels_for(set).rows(s, {i, rows}, {centred, mean}, out.data(),
                                stride);
  return out;
}

void expect_rows(isa set, const Table& data, std::size_t first, std::size_t i,
                 std::size_t rows, bool centred, double mean) {
  const std::size_t n = data.size();
  const std::size_t stride = (n + 7) / 8 * 8;
  const std::vector<double> out =
      rows_of(set, data, first, i, rows, stride, centred, mean);
  Row want(n);
  for (std::size_t r = 0; r < rows; ++r) {
    distance_row(data, i + r, first, want.data());
    for (std::size_t l = 0; l < n; ++l) {
      const double w = centred ? square(want[l] - mean) : want[l];
      ASSERT_EQ(bits(out[r * stride + l]), bits(w))
          << name(set) << " n=" << n << " row " << i + r << " sample " << l;
    }
  }
}

TEST(BlockKernel, EveryIsaMatchesDistanceRowBitForBit) {
  for (const isa set : isas())
    for (const Shape& s : shapes)
      for (const std::size_t first : {0u, 1u}) {
        const Table data = samples(s.n, s.cols + first, 7 + s.n);
        expect_rows(set, data, first, 0, s.n, false, 0.0);
      }
}

TEST(BlockKernel, CentredDistancesMatchSquareOfDifference) {
  for (const isa set : isas())
    for (const Shape& s : shapes) {
      const Table data = samples(s.n, s.cols, 11 + s.n);
      expect_rows(set, data, 0, 0, s.n, true, distance_mean(data, 0));
    }
}

TEST(BlockKernel, RowRangesThatSplitRegisterBlocks) {
  const Table data = samples(29, 6, 3);
  const Shape ranges[] = {{0, 1}, {3, 5}, {5, 7}, {27, 2}, {28, 1}};
  for (const isa set : isas())
    for (const Shape& r : ranges)
      expect_rows(set, data, 0, r.n, r.cols, false, 0.0);
}

TEST(BlockKernel, HugeValuesOverflowLikeTheScalarSum) {
  Table data = samples(12, 3, 5);
  data[2][1] = 1e200;
  data[5][0] = -1e200;
  data[7][2] = 1e-300;
  for (const isa set : isas()) expect_rows(set, data, 0, 0, 12, false, 0.0);
}

}  // namespace
