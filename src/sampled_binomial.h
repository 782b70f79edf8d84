// The ranks of the drawn distances that bracket an exact quantile: binomial
// tail probabilities, bounded from above so that rounding can only widen
// the interval.
#pragma once

#include <cstdint>
#include <optional>

namespace kernel_width::detail {

// u, the unit roundoff of double.
inline constexpr double unit_roundoff = 0x1p-53;

// Rounded down and up: the next double below or above x.
double down(double x);
double up(double x);

// x / y rounded down (x <= y, y >= 1).
double ratio_down(std::uint64_t x, std::uint64_t y);

// The largest a < m with P(Bin(m, p) <= a) <= h, or nothing (then even
// a = 0 fails). The tail is bounded from above: exactly summed, relative
// to the mode, while m p (1 - p) <= exact_variance; by Bernstein's
// inequality beyond.
std::optional<std::uint64_t> lower_tail_rank(std::uint64_t m, double p,
                                             double h);

inline constexpr double exact_variance = 0x1p28;

// The ranks among m drawn distances that bracket the exact quantile whose
// lower and upper ranks among the population's n are lower and upper, each
// end with failure probability at most h; nothing for an end that no rank
// reaches (0 below, the distance bound above).
struct bracket {
  std::optional<std::uint64_t> low;
  std::optional<std::uint64_t> high;
};
bracket bracket_ranks(std::uint64_t m, std::uint64_t population,
                      std::uint64_t lower, std::uint64_t upper, double h);

}  // namespace kernel_width::detail
