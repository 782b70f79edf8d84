// The public API: results, errors as values (out of memory and an
// unsupported KERNEL_WIDTH_ISA included), and the version.
#include "kernel_width/kernel_width.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace kw = kernel_width;

TEST(KernelWidth, TwoSamplesAndTheirWidths) {
  const double samples[] = {0, 0, 3, 4};
  const double labelled[] = {1, 0, 0, 2, 3, 4};
  const double table[] = {0.5, 2, 1.5, 4};
  const kw::form_width_result r =
      kw::form_width({samples, 2, 2}, {table, 2, 2});
  EXPECT_EQ(r.status, kw::error::none);
  EXPECT_EQ(r.n, 2u);
  EXPECT_EQ(r.columns, 2u);
  EXPECT_EQ(r.mean, 2.5);
  EXPECT_EQ(r.variance, 6.25);
  EXPECT_EQ(r.ratio, 1.0);
  EXPECT_EQ(r.rule, kw::form_rule::table);
  EXPECT_EQ(r.row, 0u);
  EXPECT_EQ(r.width, 3.125);
  const kw::labelled_statistics l = kw::labelled({labelled, 2, 3}, 1);
  EXPECT_EQ(l.status, kw::error::none);
  EXPECT_EQ(l.width, 50.0);
}

TEST(KernelWidth, MedianOfTheDistances) {
  // Distances 5, 10, 5: the middle one; then 5, 10, 15, 5, 10, 5: the
  // mean of the middle two, (5 + 10) / 2.
  const double three[] = {0, 0, 3, 4, 6, 8};
  const kw::median_statistics m = kw::median({three, 3, 2});
  EXPECT_EQ(m.status, kw::error::none);
  EXPECT_EQ(m.n, 3u);
  EXPECT_EQ(m.columns, 2u);
  EXPECT_EQ(m.pairs, 3u);
  EXPECT_EQ(m.median, 5.0);
  EXPECT_EQ(m.width, 50.0);
  // Two of every four columns, through the stride.
  const double four[] = {0, 0, 9, 9, 3, 4, 9, 9, 6, 8, 9, 9, 9, 12, 9, 9};
  const kw::median_statistics e = kw::median({four, 4, 2, 4}, 2);
  EXPECT_EQ(e.pairs, 6u);
  EXPECT_EQ(e.median, 7.5);
  EXPECT_EQ(e.width, 112.5);
  // Fewer than two samples: NaN, as numpy's median of no distances.
  const kw::median_statistics one = kw::median({three, 1, 2});
  EXPECT_EQ(one.status, kw::error::none);
  EXPECT_EQ(one.pairs, 0u);
  EXPECT_TRUE(std::isnan(one.median) && std::signbit(one.median));
  EXPECT_TRUE(std::isnan(one.width));
}

// The spread ratio's fixed rules hold strictly: at exactly 0.01 and exactly
// 100 the table is searched, and its row keyed there wins; one step past
// either, the fixed rule.
TEST(KernelWidth, RatiosAtTheThresholdsSearchTheTable) {
  const double table[] = {0.01, 4, 100, 8, 50, 2};
  struct {
    double ratio;
    kw::form_rule rule;
    std::size_t row;
    double width;
  } const cases[] = {
      {0.01, kw::form_rule::table, 0, 6.0 / 4},
      {100, kw::form_rule::table, 1, 6.0 / 8},
      {std::nextafter(0.01, 0.0), kw::form_rule::low_ratio, 0, 6.0 / 2.6},
      {std::nextafter(100.0, 200.0), kw::form_rule::high_ratio, 0,
       6.0 * std::nextafter(100.0, 200.0)},
  };
  for (const auto& c : cases) {
    kw::form_statistics s;
    s.n = 3;
    s.columns = 1;
    s.mean = 1;
    s.variance = 6;
    s.ratio = c.ratio;
    const kw::form_width_result r = kw::form_width(s, {table, 3, 2});
    EXPECT_EQ(r.rule, c.rule) << c.ratio;
    EXPECT_EQ(r.row, c.row) << c.ratio;
    EXPECT_EQ(r.width, c.width) << c.ratio;
  }
}

// A NaN in one sample only makes the median NaN on every thread count, run
// after run: the first sample's pairs lie in the first band of pairs alone,
// which one thread takes, and the last sample's in every band.
TEST(KernelWidth, ANanInOneSampleMakesTheMedianNan) {
  const std::size_t n = 301, d = 3;
  std::vector<double> x(n * d);
  for (std::size_t k = 0; k < x.size(); ++k)
    x[k] = static_cast<double>(k * 37 % 101) / 7;
  for (const std::size_t at : {std::size_t{0}, n / 2, n - 1}) {
    std::vector<double> y = x;
    y[at * d + 1] = std::nan("");
    for (const unsigned threads : {1u, 2u, 3u, 4u, 8u})
      for (int run = 0; run < 3; ++run) {
        const kw::median_statistics m = kw::median({y.data(), n, d}, threads);
        EXPECT_EQ(m.status, kw::error::none);
        EXPECT_TRUE(std::isnan(m.median) && std::isnan(m.width))
            << "sample " << at << ", " << threads << " threads: "
            << m.median;
      }
  }
}

TEST(KernelWidth, ErrorsAreValues) {
  const double x[] = {1, 2, 3, 4};
  const double keys[] = {0.5, 1.5};
  EXPECT_EQ(kw::form({x, 2, 0}).status, kw::error::no_features);
  EXPECT_EQ(kw::form({nullptr, 0, 2}).status, kw::error::no_samples);
  EXPECT_EQ(kw::labelled({x, 2, 1}, 1).status, kw::error::no_features);
  EXPECT_EQ(kw::median({x, 2, 0}).status, kw::error::no_features);
  EXPECT_EQ(kw::median({nullptr, 0, 2}).status, kw::error::no_samples);
  EXPECT_TRUE(std::isnan(kw::median({x, 2, 0}).width));
  EXPECT_EQ(kw::form_width({x, 2, 2}, {}).status, kw::error::no_rows_to_search);
  EXPECT_EQ(kw::form_width({x, 2, 2}, {keys, 2, 0}).status, kw::error::no_key);
  EXPECT_EQ(kw::form_width({x, 2, 2}, {keys, 2, 1}).status,
            kw::error::no_divisor);
  EXPECT_TRUE(std::isnan(kw::form_width({x, 2, 0}, {keys, 2, 1}).width));
  EXPECT_STREQ(kw::describe(kw::error::out_of_memory), "out of memory");
  EXPECT_STREQ(kw::describe(kw::error::none), "");
  EXPECT_STREQ(kw::version(), KERNEL_WIDTH_VERSION);
}

TEST(KernelWidth, ACancelFlagSetBeforehandComputesNothing) {
  const double x[] = {0, 0, 3, 4};
  const double table[] = {0.5, 2};
  const std::atomic<bool> cancel{true};
  const kw::form_statistics f = kw::form({x, 2, 2}, 1, &cancel);
  EXPECT_EQ(f.status, kw::error::cancelled);
  EXPECT_TRUE(std::isnan(f.mean));
  EXPECT_EQ(kw::form_width({x, 2, 2}, {table, 1, 2}, 2, &cancel).status,
            kw::error::cancelled);
  EXPECT_EQ(kw::labelled({x, 2, 2}, 0, 2, &cancel).status,
            kw::error::cancelled);
  EXPECT_EQ(kw::median({x, 2, 2}, 2, &cancel).status, kw::error::cancelled);
  EXPECT_STREQ(kw::describe(kw::error::cancelled), "cancelled");
  // A flag that stays clear changes nothing.
  const std::atomic<bool> clear{false};
  EXPECT_EQ(kw::form({x, 2, 2}, 1, &clear).mean, 2.5);
}

// Seconds of work, stopped a moment after it starts.
TEST(KernelWidth, ACancelFlagSetDuringTheRunStopsIt) {
  std::vector<double> x(std::size_t{60000} * 16);
  for (std::size_t k = 0; k < x.size(); ++k)
    x[k] = static_cast<double>(k * 7919 % 1000) / 7.0;
  for (const int which : {0, 1, 2}) {
    std::atomic<bool> cancel{false};
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      cancel = true;
    });
    const kw::matrix_view view{x.data(), 60000, 16, 16};
    const kw::error status = which == 0 ? kw::form(view, 2, &cancel).status
                             : which == 1
                                 ? kw::labelled(view, 0, 2, &cancel).status
                                 : kw::median(view, 2, &cancel).status;
    stopper.join();
    EXPECT_EQ(status, kw::error::cancelled) << which;
  }
}

// The address space of this process now, in bytes.
rlim_t address_space() {
  unsigned long pages = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f) {
    if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  return static_cast<rlim_t>(pages) * 4096;
}

// In a process of its own: samples that fit under the address-space
// limit, and no room for the library's packed copy of them.
void compute_beyond_the_limit(int which) {
  std::vector<double> x(std::size_t{24} << 20, 1.0);  // 192 MiB
  const rlimit limit{address_space() + (std::size_t{64} << 20), RLIM_INFINITY};
  if (setrlimit(RLIMIT_AS, &limit) != 0) std::exit(3);
  const kw::matrix_view view{x.data(), x.size() / 8, 8, 8};
  const kw::error status = which == 0   ? kw::form(view, 1).status
                           : which == 1 ? kw::labelled(view, 1, 1).status
                                        : kw::median(view, 1).status;
  std::exit(status == kw::error::out_of_memory ? 0 : 1);
}

TEST(KernelWidthDeathTest, OutOfMemoryIsAValueNotATermination) {
#ifdef SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than any limit";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const int which : {0, 1, 2})
    EXPECT_EXIT(compute_beyond_the_limit(which), testing::ExitedWithCode(0),
                "");
}

// In a process of its own, so that the variable is read afresh.
void compute_with_isa(const char* name) {
  setenv("KERNEL_WIDTH_ISA", name, 1);
  const double x[] = {0, 0, 3, 4};
  const kw::form_statistics f = kw::form({x, 2, 2});
  const kw::labelled_statistics l = kw::labelled({x, 2, 2}, 0);
  const kw::median_statistics m = kw::median({x, 2, 2});
  if (f.status == kw::error::unsupported_isa &&
      l.status == kw::error::unsupported_isa &&
      m.status == kw::error::unsupported_isa && std::isnan(f.mean) &&
      std::isnan(l.width) && std::isnan(m.width))
    std::exit(2);
  std::exit(f.status == kw::error::none && f.mean == 2.5 ? 0 : 1);
}

TEST(KernelWidthDeathTest, AnIsaThatIsNotThereIsRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(compute_with_isa("base"), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(compute_with_isa("avx9"), testing::ExitedWithCode(2), "");
  EXPECT_EXIT(compute_with_isa("Base"), testing::ExitedWithCode(2), "");
}

}  // namespace
