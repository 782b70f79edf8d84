#include "exact_sum.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "kernels.h"

namespace kernel_width::detail {

namespace {

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// The plain chain, one dependent addition after another.
[[gnu::noinline]] double plain_sum(double s, const double* terms,
                                   std::size_t count) {
  for (std::size_t j = 0; j < count; ++j) s += terms[j];
  return s;
}

}  // namespace

double grid_of(double s) {
  const std::uint64_t e = bits(s) >> 52 & 0x7ff;
  return std::bit_cast<double>(std::max<std::uint64_t>(e, 1) << 52);
}

std::optional<double> advance(double s, const grid_record& record) {
  const std::uint64_t e = bits(s) >> 52;  // the sign bit makes it 2048 or more
  if (e >= 0x7ff || grid_of(s) != record.grid) return std::nullopt;
  // The low bit of s is k's parity, subnormal or not.
  const double next = s + (bits(s) & 1 ? record.sum + record.odd : record.sum);
  if (bits(next) >> 52 != e) return std::nullopt;
  return next;
}

double grid_sum(isa set, double s, const double* terms, std::size_t count) {
  const kernels& k = kernels_for(set);
  for (std::size_t b = 0; b < count; b += grid_block) {
    const std::size_t m = std::min(grid_block, count - b);
    if (std::isfinite(s) && !std::signbit(s))
      if (const auto next = advance(s, k.record(grid_of(s), terms + b, m))) {
        s = *next;
        continue;
      }
    s = plain_sum(s, terms + b, m);
  }
  return s;
}

}  // namespace kernel_width::detail
