// Why a width is not finite, negative or 0, and how the warning reads.
#include "width_warning.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

namespace kw = kernel_width;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

kw::form_width_result form_result(std::size_t n, double mean, double variance,
                                  kw::form_rule rule, double width) {
  kw::form_width_result r;
  r.n = n;
  r.mean = mean;
  r.variance = variance;
  r.ratio = mean * mean / variance;
  r.rule = rule;
  r.width = width;
  r.zero_width = width == 0;
  return r;
}

TEST(WidthWarning, FormReasons) {
  using enum kw::form_rule;
  struct {
    kw::form_width_result r;
    double divisor;
    const char* why;
  } const cases[] = {
      {form_result(2, 2.5, 6.25, table, 3.125), 2, ""},
      {form_result(2, 1e-300, 1e-300, table, 5e-301), 2, ""},
      {form_result(0, nan, nan, table, nan), 2, ""},  // "no samples" says why
      {form_result(1, 0, 0, table, 0), 2, ""},        // "one sample" says why
      // A width of 0 (or -0, which is not below 0): why.
      {form_result(2, 0, 0, table, 0), 2, "every distance is 0 (all samples "
                                          "coincide)"},
      {form_result(2, 0, 0, table, -0.0), -2, "every distance is 0 (all "
                                              "samples coincide)"},
      {form_result(2, 1e-200, 0, table, 0), 2, "the variance is zero"},
      {form_result(2, 1e-160, 1e-300, low_ratio, 0), 2,
       "variance / 2.6 underflowed"},
      {form_result(2, 1e-160, 1e-320, high_ratio, 0), 2,
       "variance * ratio underflowed"},
      {form_result(2, 2.5, 6.25, table, 0), inf,
       "the divisor on t:1 is infinite"},
      {form_result(2, 1e-160, 1e-310, table, 0), 1e300,
       "variance / divisor underflowed"},
      {form_result(2, inf, nan, table, nan), 2, "the distances overflowed"},
      {form_result(2, 1e300, inf, high_ratio, inf), 2,
       "the squared deviations from the mean overflowed"},
      {form_result(2, 2.5, 6.25, table, inf), 0, "the divisor on t:1 is 0"},
      {form_result(2, 2.5, 6.25, table, -inf), -0.0, "the divisor on t:1 is 0"},
      {form_result(2, 2.5, 6.25, table, -3.125), -2,
       "the divisor on t:1 is negative"},
      {form_result(2, 2.5, 6.25, table, nan), nan,
       "the divisor on t:1 is not a number"},
      {form_result(1, 0, 0, table, nan), 0, "the divisor on t:1 is 0"},
      {form_result(2, 1e-160, 0, high_ratio, nan), 2, "the variance is zero"},
      {form_result(2, 1e150, 1e298, high_ratio, inf), 2,
       "variance * ratio overflowed"},
      {form_result(2, 2.5, 6.25, table, inf), 1e-320,
       "variance / divisor overflowed"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(form_width_doubt(c.r, "t:1", c.divisor), c.why)
        << c.r.width << ' ' << c.divisor;
}

TEST(WidthWarning, LabelledReasons) {
  const auto doubt = [](std::size_t n, double total, double width) {
    kw::labelled_statistics l;
    l.n = n;
    l.total = total;
    l.mean = total / static_cast<double>(n * n - n);
    l.width = width;
    l.zero_width = width == 0;
    return labelled_width_doubt(l);
  };
  EXPECT_EQ(doubt(2, 10, 50), "");
  EXPECT_EQ(doubt(1, 0, nan), "");  // "one sample" says why
  EXPECT_EQ(doubt(0, 0, nan), "");
  EXPECT_EQ(doubt(2, inf, inf), "the distances overflowed");
  EXPECT_EQ(doubt(2, 2e200, inf), "2 * mean^2 overflowed");
  EXPECT_EQ(doubt(2, 2e154, 1.7e308), "");  // below the largest double
  EXPECT_EQ(doubt(1, 0, 0), "");           // one sample
  EXPECT_EQ(doubt(3, 0, 0), "every distance is 0 (all samples coincide)");
  EXPECT_EQ(doubt(3, 1e-160, 0), "2 * mean^2 underflowed");
  EXPECT_EQ(doubt(3, 5e-324, 0), "the mean distance underflowed");
}

TEST(WidthWarning, MedianReasons) {
  auto doubt = [](std::size_t n, double median, std::uint64_t zeros = 0) {
    kernel_width::median_statistics m;
    m.n = n;
    m.pairs = n * (n - (n > 0)) / 2;
    m.median = median;
    m.width = median * median * 2;
    m.zero_pairs = zeros;
    m.zero_width = m.width == 0;
    return median_width_doubt(m);
  };
  EXPECT_EQ(doubt(2, 5), "");
  EXPECT_EQ(doubt(1, nan), "");  // "one sample" says why
  EXPECT_EQ(doubt(3, nan), "the data hold NaN or infinity");
  EXPECT_EQ(doubt(3, inf), "the distances overflowed");
  EXPECT_EQ(doubt(3, 1e155), "2 * median^2 overflowed");
  EXPECT_EQ(doubt(3, 9e153), "");  // 2 * 8.1e307 is still a double
  EXPECT_EQ(doubt(1, 0), "");       // no pairs
  EXPECT_EQ(doubt(5, 0, 5), "5 of the 10 pairs are at distance 0");
  EXPECT_EQ(doubt(3, 0, 3), "every distance is 0 (all samples coincide)");
  EXPECT_EQ(doubt(3, 0), "at least half of the pairs are at distance 0");
  EXPECT_EQ(doubt(3, 1e-170), "2 * median^2 underflowed");
}

TEST(WidthWarning, Words) {
  EXPECT_EQ(width_warning("d.txt", inf, "why", false),
            "d.txt: warning: the width is not finite (inf): why");
  EXPECT_EQ(width_warning("d.txt", -nan, "why", true),
            "d.txt: error: the width is not finite (-nan): why");
  EXPECT_EQ(width_warning("<stdin>", -3.125, "why", false),
            "<stdin>: warning: the width is negative (-3.125): why");
  EXPECT_EQ(width_warning("d.txt", 0.0, "why", true),
            "d.txt: error: the width is 0: why");
  EXPECT_EQ(width_warning("d.txt", -0.0, "why", false),
            "d.txt: warning: the width is -0: why");
}

}  // namespace
