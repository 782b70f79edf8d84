// The sampled quantiles and mean: the drawn distances, their estimate and
// the interval around the exact value.
#include <cmath>
#include <limits>

#include "kernel_width/kernel_width.h"

namespace kernel_width {

double distance_bound(const double*, const double*, std::size_t) noexcept {
  return std::numeric_limits<double>::quiet_NaN();
}

sampled_selection sampled_quantiles(const sample_pairs&, const double*,
                                    std::size_t, const sampling&,
                                    sampled_quantile*, unsigned,
                                    const std::atomic<bool>*) noexcept {
  sampled_selection s;
  s.status = error::internal;
  return s;
}

sampled_labelled sampled_mean(matrix_view, std::size_t, const sampling&,
                              unsigned, const std::atomic<bool>*) noexcept {
  sampled_labelled s;
  s.status = error::internal;
  return s;
}

sampled_selection sampled_quantiles_of(const drawn_sample&, const double*,
                                       std::size_t, sampled_quantile*,
                                       unsigned,
                                       const std::atomic<bool>*) noexcept {
  sampled_selection s;
  s.status = error::internal;
  return s;
}

sampled_labelled sampled_mean_of(const drawn_sample&, std::size_t, unsigned,
                                 const std::atomic<bool>*) noexcept {
  sampled_labelled s;
  s.status = error::internal;
  return s;
}

}  // namespace kernel_width
