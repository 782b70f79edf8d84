// share(): how the bands of pairs are dealt out to the threads of one
// machine and to the ranks of a cluster.
#include "threads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "kernels.h"
#include "packed.h"

namespace {

namespace detail = kernel_width::detail;

TEST(Share, EveryUnitGoesToExactlyOnePartInIncreasingOrder) {
  for (const std::size_t units : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 100u})
    for (const unsigned parts : {1u, 2u, 3u, 4u, 5u}) {
      std::vector<int> taken(units, 0);
      for (unsigned part = 0; part < parts; ++part) {
        const std::vector<std::size_t> mine = detail::share(units, parts, part);
        EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end()));
        for (const std::size_t u : mine) ++taken.at(u);
      }
      EXPECT_EQ(std::count(taken.begin(), taken.end(), 1),
                static_cast<long>(units))
          << units << " units, " << parts << " parts";
    }
}

TEST(Share, DealsOutInASnake) {
  // 0 1 2 | 5 4 3 | 6 7 8 | 9 (the last round reversed, part 2 only)
  EXPECT_EQ(detail::share(10, 3, 0), (std::vector<std::size_t>{0, 5, 6}));
  EXPECT_EQ(detail::share(10, 3, 1), (std::vector<std::size_t>{1, 4, 7}));
  EXPECT_EQ(detail::share(10, 3, 2), (std::vector<std::size_t>{2, 3, 8, 9}));
  EXPECT_TRUE(detail::share(2, 4, 3).empty());  // more parts than units
}

TEST(Share, PartsGetAboutAsManyPairs) {
  // 100,000 samples: 12,500 bands whose pairs fall from 8n to 28.
  detail::packed s;
  s.n = 100000;
  for (const unsigned parts : {2u, 3u, 64u}) {
    std::vector<double> pairs;
    for (unsigned part = 0; part < parts; ++part) {
      double sum = 0;
      for (const std::size_t b : detail::share(s.count(), parts, part))
        sum += static_cast<double>(detail::band_pairs(s, b));
      pairs.push_back(sum);
    }
    const auto [low, high] = std::minmax_element(pairs.begin(), pairs.end());
    EXPECT_LT(*high / *low, 1.01) << parts << " parts";
  }
}

}  // namespace
