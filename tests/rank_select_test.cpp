// The selection against a sort of all values, bit for bit, with limits
// small enough that every way of narrowing down is taken: ranks in long
// runs of equal values, in different buckets, at a bucket's edge, between
// windows, outside a badly placed first plan, and kept values that do not
// fit; and a pass that does not narrow ends the selection, never hangs it.
#include "rank_select.h"

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
constexpr std::uint64_t top = detail::top_pattern;

// One pass over the values, as one worker of the threads would make it:
// kept values until they pass a window's room.
detail::pass_function over(const std::vector<double>& values) {
  return [&values](const detail::pass_plan& plan, detail::pass_result& out) {
    detail::tally t;
    t.reset(plan);
    for (const double x : values) {
      detail::take(x, plan, t);
      for (std::size_t j = 0; j < plan.windows.size(); ++j)
        if (t.kept[j].size() > plan.windows[j].room) t.keeping[j] = 0;
    }
    out.t.merge(t);
    out.kept.resize(plan.windows.size());
    for (std::size_t j = 0; j < plan.windows.size(); ++j)
      out.kept[j].push_back(std::move(t.kept[j]));
    return true;
  };
}

detail::ranks_result select(const std::vector<double>& values,
                            const std::vector<std::uint64_t>& ranks,
                            const select_limits& limits,
                            std::optional<detail::pass_plan> first = {}) {
  return detail::select_ranks(values.size(), ranks, over(values), first,
                              limits);
}

// The ranks a test asks for: the middle two, or a spread of them.
std::vector<std::uint64_t> middle(std::size_t count) {
  if (count == 0) return {};
  if (count % 2) return {count / 2};
  return {count / 2 - 1, count / 2};
}
std::vector<std::uint64_t> spread(std::size_t count) {
  std::vector<std::uint64_t> r;
  for (const double p : {0.0, 0.1, 0.25, 0.5, 0.75, 0.9, 1.0})
    r.push_back(static_cast<std::uint64_t>(p * static_cast<double>(count - 1)));
  std::sort(r.begin(), r.end());
  r.erase(std::unique(r.begin(), r.end()), r.end());
  return r;
}

// Every few-bucket, small-room set of limits, and the defaults.
std::vector<select_limits> all_limits() {
  std::vector<select_limits> out = {{}};
  for (const int bucket_bits : {1, 2, 5})
    for (const std::uint64_t keep : {0, 1, 3, 40}) {
      select_limits l;
      l.bucket_bits = bucket_bits;
      l.buckets = std::size_t{1} << (bucket_bits + 1);
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
  std::vector<double> ramp;
  for (int i = 0; i < 300; ++i) ramp.push_back(std::sqrt(i * 1.5));
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
      {"huge", {1.7e308, 1.7e308, 1e308, 1.75e308}},
      {"subnormal", {0, tiny, 2 * tiny, 5}},
      {"ramp", ramp},
  };
}

void expect_sorted_ranks(std::vector<double> values,
                         const std::vector<std::uint64_t>& ranks,
                         const select_limits& l, const char* name) {
  const detail::ranks_result r = select(values, ranks, l);
  std::sort(values.begin(), values.end());
  ASSERT_FALSE(r.stalled) << name;
  ASSERT_EQ(r.values.size(), ranks.size()) << name;
  for (std::size_t k = 0; k < ranks.size(); ++k)
    EXPECT_EQ(bits(r.values[k]), bits(values[ranks[k]]))
        << name << " rank " << ranks[k] << " bits " << l.bucket_bits
        << " keep " << l.keep;
}

TEST(RankSelect, EqualsTheSortForEveryLimit) {
  for (const Case& c : cases())
    for (const select_limits& l : all_limits()) {
      expect_sorted_ranks(c.values, middle(c.values.size()), l, c.name);
      expect_sorted_ranks(c.values, spread(c.values.size()), l, c.name);
    }
}

// More windows than the vector loop has hulls: every rank of a set.
TEST(RankSelect, EveryRankAtOnce) {
  std::vector<double> values;
  std::mt19937_64 gen(3);
  for (int i = 0; i < 120; ++i)
    values.push_back(std::sqrt(static_cast<double>(gen() % 90)));
  std::vector<std::uint64_t> all(values.size());
  for (std::size_t k = 0; k < all.size(); ++k) all[k] = k;
  for (const select_limits& l : all_limits())
    expect_sorted_ranks(values, all, l, "every rank");
}

TEST(RankSelect, ANaNIsCountedAndEndsTheSelection) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const detail::ranks_result r = select({nan, 1, -nan, 2}, {1, 2}, {});
  EXPECT_EQ(r.nan, 2u);
  EXPECT_TRUE(r.values.empty());
  EXPECT_EQ(select({}, {}, {}).passes, 0u);
}

// Random values with long runs of equal ones, against every limit.
TEST(RankSelect, RandomRunsOfEqualValues) {
  std::mt19937_64 gen(5);
  for (int round = 0; round < 40; ++round) {
    std::uniform_int_distribution<int> distinct(1, 12);
    std::vector<double> levels(static_cast<std::size_t>(distinct(gen)));
    for (double& x : levels)
      x = std::sqrt(static_cast<double>(gen() % 50)) * 0.75;
    std::vector<double> values(static_cast<std::size_t>(gen() % 300 + 1));
    for (double& x : values) x = levels[gen() % levels.size()];
    for (const select_limits& l : all_limits()) {
      expect_sorted_ranks(values, middle(values.size()), l, "runs");
      expect_sorted_ranks(values, spread(values.size()), l, "runs");
    }
  }
}

// Every value fits at once exactly when there are no more than the room:
// one pass at the limit, more one past it.
TEST(RankSelect, KeptValuesFitUpToTheRoomAndNoFurther) {
  std::vector<double> values;
  for (int i = 0; i < 1000; ++i) values.push_back(std::sqrt(i * 1.5));
  select_limits l;
  l.bucket_bits = 2;
  l.keep = 1000;
  EXPECT_EQ(select(values, middle(1000), l).passes, 1u);
  l.keep = 999;
  EXPECT_GT(select(values, middle(1000), l).passes, 1u);
  l.keep = 0;
  EXPECT_GT(select(values, middle(1000), l).passes, 5u);
}

// A first plan that misses the ranks, on either side or between its
// windows, or keeps too little: still the exact values.
TEST(RankSelect, AFirstPlanThatMissesTheRanks) {
  std::vector<double> values;
  for (int i = 0; i < 400; ++i) values.push_back(i % 7 == 0 ? 3.0 : i / 10.0);
  std::vector<double> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  const std::vector<std::uint64_t> ranks = spread(values.size());
  select_limits l;
  l.bucket_bits = 3;
  l.keep = 20;
  const auto plan = [&](std::vector<std::pair<double, double>> spans,
                        std::uint64_t keep_last) {
    detail::pass_plan p;
    for (const auto& [lo, hi] : spans) {
      detail::window w = detail::window_over(bits(lo), bits(hi),
                                             detail::unknown_count, 3);
      w.keep_first = 0;
      w.keep_last = keep_last;
      w.room = l.keep;
      p.windows.push_back(w);
    }
    detail::plan_hulls(p);
    return p;
  };
  for (const detail::pass_plan& p :
       {plan({{0.0, 1.0}}, 7), plan({{35.0, inf}}, 0), plan({{0.0, inf}}, 7),
        plan({{1.0, 2.0}, {19.0, 21.0}, {30.0, 31.0}}, 7),
        plan({{std::nextafter(sorted[200], 0.0), sorted[200]}}, 1)}) {
    const detail::ranks_result r = select(values, ranks, l, p);
    ASSERT_EQ(r.values.size(), ranks.size());
    for (std::size_t k = 0; k < ranks.size(); ++k)
      EXPECT_EQ(bits(r.values[k]), bits(sorted[ranks[k]]))
          << p.windows.front().lo << " rank " << ranks[k];
  }
}

// A pass that finds nothing can narrow nothing: the selection says so at
// once instead of passing again and again.
TEST(RankSelect, APassThatDoesNotNarrowStopsTheSelection) {
  int passes = 0;
  const detail::ranks_result r = detail::select_ranks(
      1000, {400, 500},
      [&](const detail::pass_plan& plan, detail::pass_result& out) {
        ++passes;
        out.kept.resize(plan.windows.size());
        out.t.under.assign(plan.hulls.size(), 0);  // every value over
        return true;
      },
      std::nullopt, {});
  EXPECT_TRUE(r.stalled);
  EXPECT_LE(passes, 2);
}

TEST(RankSelect, WindowsHaveAtMostTheirBuckets) {
  for (const auto& [low, high] :
       {std::pair<std::uint64_t, std::uint64_t>{0, top},
        {5, 5},
        {5, 20},
        {5, 21},
        {bits(1.0), bits(2.0)}}) {
    const detail::window w = detail::window_over(low, high, 0, 4);
    EXPECT_LE(detail::bucket_of(w, high), 15u) << low << ".." << high;
    EXPECT_EQ(w.count(), detail::bucket_of(w, high) + 1);
    EXPECT_EQ(detail::bucket_of(w, low), 0u);
    EXPECT_EQ(w.keep_last, detail::bucket_of(w, high));
  }
  EXPECT_GT(detail::window_over(0, 9, detail::unknown_count, 4).keep_first,
            detail::window_over(0, 9, detail::unknown_count, 4).keep_last);
  // Fewer buckets a window as the windows grow many.
  EXPECT_EQ(detail::bucket_bits_for(1, {}), 12);
  EXPECT_EQ(detail::bucket_bits_for(128, {}), 7);
}

}  // namespace
