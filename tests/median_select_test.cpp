// The selection against a sort of all values, bit for bit, with limits
// small enough that every way of narrowing down is taken: middles in long
// runs of equal values, in different buckets, at a bucket's edge, outside
// a badly placed first window, and kept values that do not fit.
#include "median_select.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "test_support.h"

namespace {

namespace detail = kernel_width::detail;
using detail::select_limits;
using test_support::bits;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr std::uint64_t top = 0x7ff0000000000000;

// numpy's median: NaN if any value is; the middle value, or the mean of
// the middle two as np.mean takes it, (a + b) / 2.
double numpy_median(std::vector<double> v) {
  if (std::any_of(v.begin(), v.end(), [](double x) { return x != x; }))
    return std::numeric_limits<double>::quiet_NaN();
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// One pass over the values, as the threads would make it.
detail::pass_function over(const std::vector<double>& values) {
  return [&values](const detail::window& w, detail::pass_result& out) {
    std::vector<double> kept(values.size());
    detail::window_tally t;
    t.buckets = out.buckets.data();
    t.values = kept.data();
    for (const double x : values) detail::take(x, w, t);
    t.kept = std::min<std::size_t>(t.kept, out.room);
    std::copy_n(kept.begin(), t.kept, out.values.get());
    out.t = t;
    return true;
  };
}

detail::median_result select(const std::vector<double>& values,
                             const select_limits& limits,
                             std::optional<detail::first_window> first = {}) {
  return detail::select_median(values.size(), over(values), first, limits);
}

// Every few-bucket, small-room set of limits, and the defaults.
std::vector<select_limits> all_limits() {
  std::vector<select_limits> out = {{}};
  for (const int bucket_bits : {1, 2, 5})
    for (const std::uint64_t keep : {0, 1, 3, 40}) {
      select_limits l;
      l.bucket_bits = bucket_bits;
      l.keep = keep;
      out.push_back(l);
    }
  return out;
}

std::vector<double> repeat(std::vector<double> v, int times) {
  std::vector<double> out;
  for (int t = 0; t < times; ++t) out.insert(out.end(), v.begin(), v.end());
  return out;
}

struct Case {
  const char* name;
  std::vector<double> values;
};

const double tiny = std::numeric_limits<double>::denorm_min();

std::vector<Case> cases() {
  return {
      {"one", {2.5}},
      {"two", {3.0, 1.0}},
      {"three", {3.0, 1.0, 2.0}},
      {"odd", {5, 1, 4, 2, 3, 9, 0.5}},
      {"even", {5, 1, 4, 2, 3, 9}},
      {"all_equal", std::vector<double>(101, 1.5)},
      {"zeros_in_the_middle", {0, 0, 0, 0, 0, 7, 8, 0, 0}},
      {"grid_runs", repeat({0, 1, std::sqrt(2.0), std::sqrt(3.0), 2}, 37)},
      {"runs_either_side_of_the_middle", repeat({std::sqrt(5.0), 2.0}, 50)},
      {"middles_far_apart", {1, 1, 1, 1, 1e300, 1e300, 1e300, 1e300}},
      {"neighbouring_patterns",
       {1.0, std::nextafter(1.0, 2.0), 1.0, std::nextafter(1.0, 2.0)}},
      {"infinite_middle", {inf, inf, inf, 1, 2}},
      {"infinite_upper_middle", {inf, inf, 1, 2}},
      {"all_infinite", {inf, inf, inf, inf}},
      {"sum_overflows", {1.7e308, 1.7e308, 1e308, 1.75e308}},
      {"subnormal_mean_rounds", {0, tiny, 2 * tiny, 5}},
      {"nan", {1, 2, std::numeric_limits<double>::quiet_NaN(), 3}},
  };
}

TEST(MedianSelect, EqualsTheSortedMiddleForEveryLimit) {
  for (const Case& c : cases())
    for (const select_limits& l : all_limits()) {
      const detail::median_result r = select(c.values, l);
      const double want = numpy_median(c.values);
      if (want != want)
        EXPECT_TRUE(std::isnan(r.median)) << c.name;
      else
        EXPECT_EQ(bits(r.median), bits(want))
            << c.name << " bits " << l.bucket_bits << " keep " << l.keep;
    }
}

TEST(MedianSelect, NoValuesGiveNegativeNaN) {
  const detail::median_result r = select({}, {});
  EXPECT_EQ(bits(r.median), bits(-std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ(r.passes, 0u);
}

TEST(MedianSelect, TheLargestNaNPatternWins) {
  const double plus = std::numeric_limits<double>::quiet_NaN();
  const detail::median_result r = select({plus, 1, -plus, 2}, {});
  EXPECT_EQ(bits(r.median), bits(-plus));
}

// Random values with long runs of equal ones, against every limit.
TEST(MedianSelect, RandomRunsOfEqualValues) {
  std::mt19937_64 gen(5);
  for (int round = 0; round < 40; ++round) {
    std::uniform_int_distribution<int> distinct(1, 12);
    std::vector<double> levels(static_cast<std::size_t>(distinct(gen)));
    for (double& x : levels)
      x = std::sqrt(static_cast<double>(gen() % 50)) * 0.75;
    std::vector<double> values(static_cast<std::size_t>(gen() % 300 + 1));
    for (double& x : values) x = levels[gen() % levels.size()];
    for (const select_limits& l : all_limits())
      ASSERT_EQ(bits(select(values, l).median), bits(numpy_median(values)))
          << "round " << round << " bits " << l.bucket_bits;
  }
}

TEST(MedianSelect, SmallLimitsTakeSeveralPassesAndDefaultsOne) {
  std::vector<double> values;
  for (int i = 0; i < 1000; ++i) values.push_back(std::sqrt(i * 1.5));
  select_limits small;
  small.bucket_bits = 2;
  small.keep = 0;
  EXPECT_GT(select(values, small).passes, 5u);
  EXPECT_EQ(select(values, {}).passes, 1u);
}

// A first window that misses the middle, on either side, or keeps too
// little: still the exact middle.
TEST(MedianSelect, AFirstWindowThatMissesTheMiddle) {
  std::vector<double> values;
  for (int i = 0; i < 400; ++i) values.push_back(i % 7 == 0 ? 3.0 : i / 10.0);
  const double want = numpy_median(values);
  select_limits l;
  l.bucket_bits = 3;
  l.keep = 20;
  const auto at = [&](double lo, double hi, std::uint64_t keep_last) {
    detail::first_window f{
        detail::window_over(bits(lo), bits(hi), detail::unknown_count, l),
        l.keep};
    f.w.keep_first = 0;
    f.w.keep_last = keep_last;
    return f;
  };
  for (const detail::first_window& f :
       {at(0.0, 1.0, 7), at(35.0, inf, 0), at(0.0, inf, 7), at(19.0, 21.0, 7),
        at(std::nextafter(want, 0.0), want, 1)})
    EXPECT_EQ(bits(select(values, l, f).median), bits(want))
        << f.w.lo << ".." << f.w.hi;
}

// Kept values are picked from only when every one of them fitted: all 100
// in room for 100 settle the middle at once, in room for 99 they do not.
// (Four buckets: the middle is neither first nor last in its bucket.)
TEST(MedianSelect, KeptValuesCountOnlyWhenAllFit) {
  std::vector<double> values;
  for (int i = 100; i >= 1; --i) values.push_back(i);  // middle (50 + 51) / 2
  for (const std::uint64_t room : {100, 99}) {
    select_limits l;
    l.bucket_bits = 2;
    l.keep = room;
    detail::first_window f{
        detail::window_over(bits(1.0), bits(100.0), detail::unknown_count, l),
        room};
    f.w.keep_first = 0;
    f.w.keep_last = 3;
    const detail::median_result r = select(values, l, f);
    EXPECT_EQ(r.median, 50.5) << room;
    EXPECT_EQ(r.passes, room == 100 ? 1u : 2u) << room;
  }
}

TEST(MedianSelect, WindowsHaveAtMostTheirBuckets) {
  select_limits l;
  l.bucket_bits = 4;
  for (const auto& [low, high] :
       {std::pair<std::uint64_t, std::uint64_t>{0, top},
        {5, 5},
        {5, 20},
        {5, 21},
        {bits(1.0), bits(2.0)}}) {
    const detail::window w = detail::window_over(low, high, 0, l);
    EXPECT_LE(detail::bucket_of(w, high), 15u) << low << ".." << high;
    EXPECT_EQ(detail::bucket_of(w, low), 0u);
    EXPECT_EQ(w.keep_last, detail::bucket_of(w, high));
  }
  EXPECT_GT(detail::window_over(0, 9, 11, {.keep = 10}).keep_first,
            detail::window_over(0, 9, 11, {.keep = 10}).keep_last);
}

}  // namespace
