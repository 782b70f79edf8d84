// A stand-in: every distance computed and sorted.
#include "rank_passes.h"

#include <algorithm>
#include <cmath>

namespace kernel_width::detail {

namespace {

double distance(const packed& a, std::size_t i, const packed& b,
                std::size_t l) {
  double sum = 0.0;
  for (std::size_t c = 0; c < a.cols; ++c) {
    const double d = value(a, i, c) - value(b, l, c);
    sum += d * d;
  }
  return std::sqrt(sum);
}

std::vector<double> all_distances(const pair_set& pairs,
                                  const run_control& control) {
  std::vector<double> d;
  const packed& a = *pairs.rows;
  const packed& b = pairs.others();
  for (std::size_t i = 0; i < a.n && !control.cancelled(); ++i)
    for (std::size_t l = pairs.across() ? 0 : i + 1; l < b.n; ++l)
      d.push_back(distance(a, i, b, l));
  return d;
}

}  // namespace

ranks_found pair_ranks(const pair_set& pairs,
                       const std::vector<std::uint64_t>& ranks, unsigned,
                       isa, const run_control& control) {
  ranks_found f;
  f.passes = 1;
  if (control.cancelled()) {
    f.cancelled = true;
    return f;
  }
  std::vector<double> d = all_distances(pairs, control);
  if (control.cancelled()) {
    f.cancelled = true;
    return f;
  }
  control.add(d.size());
  for (const double x : d) f.nan += std::isnan(x);
  std::sort(d.begin(), d.end(), [](double a, double b) {
    return std::isnan(b) ? !std::isnan(a) : a < b;
  });
  for (const std::uint64_t r : ranks) f.values.push_back(d[r]);
  return f;
}

std::uint64_t zero_pairs(const pair_set& pairs, unsigned, isa,
                         const run_control& control, bool& cancelled) {
  cancelled = control.cancelled();
  std::uint64_t zeros = 0;
  for (const double x : all_distances(pairs, control)) zeros += x == 0;
  return zeros;
}

}  // namespace kernel_width::detail
