// The packed layout the kernels read.
#include "packed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "packed_statistics.h"
#include "samples.h"
#include "test_support.h"

namespace {

using kernel_width::detail::packed;
using test_support::bits;
using test_support::samples;

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

// The samples held elsewhere (as processes share them) are read the same,
// to the last bit, and panels is never looked at.
TEST(Packed, ComputationsReadAViewAsTheirOwnPanels) {
  namespace detail = kernel_width::detail;
  const packed own = pack(samples(203, 5, 3), 0);
  const std::vector<double> elsewhere = own.panels;
  packed s = own;
  s.panels.assign(8, std::numeric_limits<double>::quiet_NaN());
  s.view = elsewhere.data();
  EXPECT_EQ(detail::value(s, 202, 4), detail::value(own, 202, 4));
  const auto f = detail::form(s, 2, {}), g = detail::form(own, 2, {});
  EXPECT_EQ(bits(f.mean), bits(g.mean));
  EXPECT_EQ(bits(f.variance), bits(g.variance));
  EXPECT_EQ(bits(detail::labelled(s, 2, {}).total),
            bits(detail::labelled(own, 2, {}).total));
  EXPECT_EQ(bits(detail::median(s, 2, {}).median),
            bits(detail::median(own, 2, {}).median));
  EXPECT_FALSE(std::isnan(f.mean));
}

}  // namespace
