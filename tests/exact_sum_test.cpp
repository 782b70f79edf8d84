// The grid summation against the plain chain, bit for bit, on streams built
// to break it: ties on most terms, sums crossing many binades, starts just
// below a binade's top, zeros, subnormals, overflow, infinities and NaN.
#include "exact_sum.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kernels.h"
#include "test_support.h"

namespace {

using namespace kernel_width::detail;
using test_support::bits;
using test_support::isas;

double chain(double s, const std::vector<double>& x) {
  for (const double v : x) s += v;
  return s;
}

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// A start s and count terms.
struct stream {
  double start;
  std::vector<double> terms;
};

using maker = std::function<stream(std::mt19937_64&, std::size_t)>;

// u of the binade of s.
double unit(double s) { return grid_of(s) * 0x1p-52; }

// Terms that are mostly exact ties on the start's grid (odd multiples of
// u / 2), some exact multiples of u and some small fractions of u.
stream ties(std::mt19937_64& rng, std::size_t count) {
  std::uniform_int_distribution<int> pick(0, 9);
  std::uniform_int_distribution<std::int64_t> small(0, 40);
  const double start = std::ldexp(1.0 + pick(rng) / 16.0, pick(rng) * 7 - 30);
  const double u = unit(start);
  stream s{start, {}};
  for (std::size_t j = 0; j < count; ++j) {
    const int kind = pick(rng);
    const auto m = static_cast<double>(small(rng));
    s.terms.push_back(kind < 6   ? (2 * m + 1) * u / 2
                      : kind < 8 ? m * u
                                 : u / (1 << pick(rng)));
  }
  return s;
}

// Starts a few dozen units below the top of a binade: the first terms
// cross it, with ties on both grids.
stream near_top(std::mt19937_64& rng, std::size_t count) {
  std::uniform_int_distribution<int> pick(0, 60);
  const double top = std::ldexp(1.0, pick(rng) - 20);
  const double u = unit(top / 2);
  stream s{top - pick(rng) * u, {}};
  for (std::size_t j = 0; j < count; ++j)
    s.terms.push_back(pick(rng) % 4 * u / 2 + (j % 7 == 0 ? u / 4 : 0.0));
  return s;
}

// From zero, terms of wildly different sizes: many binades crossed.
stream wide(std::mt19937_64& rng, std::size_t count) {
  std::uniform_real_distribution<double> real(1.0, 2.0);
  std::uniform_int_distribution<int> exponent(-60, 60);
  stream s{0.0, {}};
  for (std::size_t j = 0; j < count; ++j)
    s.terms.push_back(
        j % 5 == 0 ? 0.0 : std::ldexp(real(rng), exponent(rng)) * (j + 1));
  return s;
}

// Subnormal and smallest normal terms from zero, and a start just below
// 2^-1022: sums on the grid 2^-1074 that become normal.
stream tiny(std::mt19937_64& rng, std::size_t count) {
  std::uniform_int_distribution<std::int64_t> m(0, std::int64_t{1} << 45);
  const double min = std::numeric_limits<double>::denorm_min();
  stream s{rng() % 2 ? 0.0 : 0x1p-1022 - 50 * min, {}};
  for (std::size_t j = 0; j < count; ++j)
    s.terms.push_back(j % 3 == 0 ? 0.0 : static_cast<double>(m(rng)) * min);
  return s;
}

// Terms of about 1e300: the sum overflows to infinity on the way.
stream huge(std::mt19937_64& rng, std::size_t count) {
  std::uniform_real_distribution<double> real(0.5, 3.0);
  stream s{1e300, {}};
  for (std::size_t j = 0; j < count; ++j) s.terms.push_back(real(rng) * 1e300);
  return s;
}

// Ordinary terms with an infinity or a NaN of either sign somewhere.
stream special(std::mt19937_64& rng, std::size_t count) {
  std::uniform_real_distribution<double> real(0.0, 10.0);
  stream s{1.0, {}};
  for (std::size_t j = 0; j < count; ++j) s.terms.push_back(real(rng));
  // One NaN sign a stream: which of two NaNs a sum keeps is the
  // compiler's choice of operand order, not the arithmetic's.
  const double odd[] = {inf, rng() % 2 ? nan : -nan};
  if (count > 0) s.terms[rng() % count] = odd[rng() % 2];
  if (count > 1 && rng() % 2) s.terms[rng() % count] = odd[rng() % 2];
  return s;
}

// -0 as start and as terms: the chain keeps -0 only while every term is
// -0.
stream negative_zero(std::mt19937_64& rng, std::size_t count) {
  stream s{-0.0, std::vector<double>(count, -0.0)};
  if (count > 0 && rng() % 2) s.terms[rng() % count] = 0.0;
  return s;
}

// Distances of clustered samples, the programs' terms, from zero.
stream distances(std::mt19937_64& rng, std::size_t count) {
  std::normal_distribution<double> normal(0.0, 3.0);
  stream s{0.0, {}};
  for (std::size_t j = 0; j < count; ++j)
    s.terms.push_back(std::sqrt(square(normal(rng)) + square(normal(rng))));
  return s;
}

const std::pair<const char*, maker> makers[] = {
    {"ties", ties},
    {"near_top", near_top},
    {"wide", wide},
    {"tiny", tiny},
    {"huge", huge},
    {"special", special},
    {"negative_zero", negative_zero},
    {"distances", distances}};

// Counts around the tie walk's words, the kernels' steps and grid_block.
const std::size_t counts[] = {0,   1,   2,   3,    7,    8,    31,  32,
                              33,  63,  64,  65,   127,  128,  129, 511,
                              512, 513, 777, 1024, 1537, 4096, 5000};

TEST(GridSum, EqualsThePlainChainBitForBit) {
  std::mt19937_64 rng(2026);
  for (const isa set : isas())
    for (const auto& [name, make] : makers)
      for (const std::size_t count : counts)
        for (int trial = 0; trial < 6; ++trial) {
          const stream s = make(rng, count);
          const double want = chain(s.start, s.terms);
          const double got = grid_sum(set, s.start, s.terms.data(), count);
          ASSERT_EQ(bits(got), bits(want))
              << name << ", " << isa_name(set) << ", " << count
              << " terms, trial " << trial << ": " << got << " vs " << want;
        }
}

// A record serves any start on its grid: even and odd k alike.
TEST(GridRecord, ServesEveryStartOnItsGridExactly) {
  std::mt19937_64 rng(7);
  for (const isa set : isas())
    for (const std::size_t count : counts)
      for (int trial = 0; trial < 20; ++trial) {
        stream s = ties(rng, count);
        const grid_record r =
            kernels_for(set).record(grid_of(s.start), s.terms.data(), count);
        for (const double start :
             {s.start, std::nextafter(s.start, inf),
              std::nextafter(std::nextafter(s.start, inf), inf)}) {
          if (grid_of(start) != r.grid) continue;
          const double want = chain(start, s.terms);
          const auto got = advance(start, r);
          if (got) {
            ASSERT_EQ(bits(*got), bits(want))
                << isa_name(set) << ", " << count << " terms, trial " << trial;
          } else {  // refused only when the chain left the binade
            ASSERT_NE(grid_of(want), r.grid) << count << " terms";
          }
        }
      }
}

// Every double below 2^53 u of a binade's grid is reached exactly: a start
// at the very top takes no term but zeros, and k = 2^53 - 1 plus a tie
// rounds up out of the binade.
TEST(GridRecord, TopOfTheBinadeIsRefused) {
  const double top = std::nextafter(2.0, 0.0);  // k = 2^53 - 1, u = 2^-52
  const double u = 0x1p-52;
  for (const isa set : isas()) {
    const double zeros[3] = {0.0, 0.0, 0.0};
    EXPECT_EQ(advance(top, kernels_for(set).record(1.0, zeros, 3)), top);
    const double tie[1] = {u / 2};
    EXPECT_FALSE(advance(top, kernels_for(set).record(1.0, tie, 1)));
    EXPECT_EQ(grid_sum(set, top, tie, 1), 2.0);
    const double below[2] = {u / 2, u / 2};  // k even after the first tie
    EXPECT_EQ(grid_sum(set, top - u, below, 2), chain(top - u, {u / 2, u / 2}));
  }
}

TEST(GridOf, ZeroAndSubnormalsShareTheSmallestNormalGrid) {
  EXPECT_EQ(grid_of(0.0), 0x1p-1022);
  EXPECT_EQ(grid_of(std::numeric_limits<double>::denorm_min()), 0x1p-1022);
  EXPECT_EQ(grid_of(0x1p-1022), 0x1p-1022);
  EXPECT_EQ(grid_of(0x1p-1021), 0x1p-1021);
  EXPECT_EQ(grid_of(3.0), 2.0);
  EXPECT_EQ(grid_of(inf), inf);
  EXPECT_FALSE(advance(-0.0, grid_record{0x1p-1022, 0.0, 0.0}));
  EXPECT_FALSE(advance(nan, grid_record{inf, 0.0, 0.0}));
}

}  // namespace
