// Bounds for sampled widths: D, the bound on every distance, and the
// interval around labelled's mean from the drawn distances.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kernel_width::detail {

// The interval for the mean distance, before its widths are derived.
struct mean_interval {
  double low = 0.0;
  double high = 0.0;
  bool low_trivial = false;
  bool high_trivial = false;
};

// What the interval is computed from: the m drawn distances d (none NaN)
// in [0, bound], their computed mean, the failure probability delta = 1 - C
// (rounded down), and n, the samples labelled's exact sum runs over.
struct mean_evidence {
  const double* d = nullptr;
  std::uint64_t m = 0;
  double mean = 0.0;
  double bound = 0.0;
  double delta = 0.0;
  std::size_t n = 0;
};

// Maurer and Pontil's empirical Bernstein bound on both sides (delta / 2
// each) for variables in [0, bound], every quantity rounded outward, then
// widened by the relative error of labelled's own sum and division.
mean_interval mean_bounds(const mean_evidence& e);

// The relative error bound of labelled's mean over n samples: each
// distance passes through at most n / 8 + 1 lane additions, 8 lane
// additions and n row additions, then one conversion and one division.
double labelled_rounding(std::size_t n);

}  // namespace kernel_width::detail
