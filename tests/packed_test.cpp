// The packed layout the kernels read.
#include "packed.h"

#include <gtest/gtest.h>

#include <vector>

#include "samples.h"

namespace {

using kernel_width::detail::packed;

const std::vector<double> want = {1, 3, 5, 5, 5, 5, 5, 5,
                                  2, 4, 6, 6, 6, 6, 6, 6};

TEST(Packed, PanelsHoldEightSamplesColumnByColumnPaddedWithTheLast) {
  const Table data = {{9, 1, 2}, {9, 3, 4}, {9, 5, 6}};
  const packed s = pack(data, 1);
  ASSERT_EQ(s.panels.size(), 16u);
  EXPECT_EQ(s.n, 3u);
  EXPECT_EQ(s.cols, 2u);
  EXPECT_EQ(s.panels, want);
  EXPECT_EQ(kernel_width::detail::packed_bytes(3, 2), 16 * sizeof(double));
}

TEST(Packed, RowMajorArrayWithAStrideLongerThanItsRows) {
  // Three rows of (label, x, y) and one value of padding each.
  const double rows[] = {9, 1, 2, -1, 9, 3, 4, -1, 9, 5, 6, -1};
  const packed s = kernel_width::detail::pack(rows, 3, 3, 4, 1);
  EXPECT_EQ(s.cols, 2u);
  EXPECT_EQ(s.panels, want);
  // No columns left: one empty panel, never an empty vector.
  const packed none = kernel_width::detail::pack(rows, 3, 1, 4, 1);
  EXPECT_EQ(none.cols, 0u);
  EXPECT_EQ(none.panels.size(), 8u);
}

}  // namespace
