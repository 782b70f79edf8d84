// The sampled quantiles and mean over rows held in one or two views: the
// programs' kept rows (one view), or x and y as the caller holds them.
#pragma once

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel_width/kernel_width.h"

namespace kernel_width::detail {

// numpy's placement, weight and interpolation, as the exact quantiles use
// them (quantiles.cpp).
quantile place(double p, std::uint64_t m);
double weight(const quantile& q, std::uint64_t m);
double numpy_lerp(double a, double b, double t);

// The drawn pairs over the rows: index k is x's row k below x.rows, else
// y's row k - x.rows; the distances run over the columns from first on.
struct sample_source {
  matrix_view x;
  matrix_view y;
  std::size_t first = 0;
  const pair_index* pairs = nullptr;
  sampling how;
  std::uint64_t population = 0;
  double bound = 0.0;
  std::size_t n = 0;
  std::size_t n_y = 0;
};

// pair_distance(), inline for the loop over the drawn pairs: one
// definition, so both give the same bits.
inline double row_distance(const double* a, const double* b,
                           std::size_t cols) {
  double sum = 0.0;
  for (std::size_t c = 0; c < cols; ++c) {
    const double diff = a[c] - b[c];
    sum += diff * diff;
  }
  return std::sqrt(sum);
}

// The distance of each drawn pair, in draw order, as the exact kernels
// compute it: squares of the differences added in column order, then the
// root. Empty when cancelled.
std::vector<double> drawn_distances(const sample_source& s, unsigned threads,
                                    const std::atomic<bool>* cancel);

// The values at the given ranks of d[0..m) sorted (d is reordered).
std::vector<double> values_at(double* d, std::uint64_t m,
                              const std::vector<std::uint64_t>& ranks);

// The estimates and intervals from the drawn distances d[0..how.draws) in
// draw order (s's rows and pairs unused; d reordered by the quantiles).
sampled_selection quantiles_given(const sample_source& s, double* d,
                                  const double* p, std::size_t count,
                                  sampled_quantile* out) noexcept;
sampled_labelled mean_given(const sample_source& s, const double* d) noexcept;

sampled_selection quantiles_from(const sample_source& s, const double* p,
                                 std::size_t count, sampled_quantile* out,
                                 unsigned threads,
                                 const std::atomic<bool>* cancel) noexcept;
sampled_labelled mean_from(const sample_source& s, unsigned threads,
                           const std::atomic<bool>* cancel) noexcept;

// D and the NaN rule for samples in memory: NaN when a distance the pairing
// takes is NaN (a NaN value, or two samples of a pair holding the same
// infinity in a column).
double bound_of(const sample_pairs& samples, std::size_t first,
                unsigned threads = 1);

}  // namespace kernel_width::detail
