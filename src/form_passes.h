// form_kernel_width's mean and variance of all n*n distances, bit for bit
// the plain sums taken row by row, entry by entry, with each pair's distance
// computed once per pass and every thread busy.
//
// Each pass adds up its n*n terms (the distances, then square(distance -
// mean)) in row order, one chain. On the grid of the running sum
// (exact_sum.h) a row's terms add up as integers in any order, so a pass
//  1. predicts each row's grid from estimates of the row sums;
//  2. computes every pair i < l once, rounding its term to row i's grid and
//     to row l's (the form kernel), each worker into its own exact sums;
//  3. computes again in order the rows whose terms hold a tie or whose grid
//     the approximate row totals now show to be wrong (the record kernel);
//  4. settles the rows in order: a row whose grid is that of the exact
//     running sum, and whose total keeps the sum in its binade, is added at
//     once; any other is summed again in order from the exact sum
//     (grid_sum).
// Steps 1 and 3 only decide how fast it goes; every result is exact.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "cpu.h"
#include "exact_sum.h"
#include "kernels.h"
#include "packed.h"
#include "threads.h"

namespace kernel_width::detail {

// How a pass settled its rows: most add up on their predicted grid; these
// were summed again in order.
struct pass_rows {
  std::size_t again = 0;     // a tie, or a wrong grid
  std::size_t replayed = 0;  // from the exact sum: the row left its binade
};

struct moments {
  double mean = 0.0;
  double variance = 0.0;
  pass_rows mean_rows;
  pass_rows variance_rows;
};

// threads 0 means available_threads(); the result is the same for every
// thread count. No samples give NaN for both, and so does a cancelled run.
// The control counts 2 n(n-1)/2 pairs.
moments form_moments(const packed& s, unsigned threads, isa set,
                     const run_control& control = {});

// The steps of a pass, for any engine that shares out the bands: the
// threads of one machine (form_moments), or the ranks of a cluster, each
// with its threads, that move only the samples, the grids, the partial
// row sums, the doubtful rows and the mean between them.

// The threads a pass runs on: each keeps two sums per row, at most 8 MiB
// more than the packed samples take, never more threads than bands.
unsigned form_threads(const packed& s, unsigned threads);

// The sums of the squared distances of each row (n entries), exact up to
// rounding, in O(n d).
std::vector<double> squared_sums(const packed& s);

// The first pass's estimates of the row sums, from squared_sums() and the
// distances to 64 samples spread over the data.
std::vector<double> distance_estimates(const packed& s,
                                       const std::vector<double>& q,
                                       const workers& w);

// The second pass's, from squared_sums(), the mean and the first pass's
// row totals (approximate).
std::vector<double> centred_estimates(const std::vector<double>& q,
                                      const std::vector<double>& totals,
                                      double mean);

// Step 1: the grid of each row (padded() entries; the padding's is 1) from
// estimates of the row sums.
std::vector<double> predict_grids(const packed& s,
                                  const std::vector<double>& estimates);

// Step 2's partial result: each row's rounded terms added up, exactly, and
// the largest rounding error (half a unit on a tie); padded() entries each.
struct row_sums {
  std::vector<double> sum;
  std::vector<double> off;
};

// Adds band b's pairs to partial (made with padded() zeros).
void round_band(isa set, const packed& s, std::size_t b, terms t,
                const std::vector<double>& grids, row_sums& partial);

// Step 2's buffers, one per thread (0: available_threads()), zeros: made
// before any pair is computed, so that an engine learns at once whether
// memory suffices.
std::vector<row_sums> pair_sums(const packed& s, unsigned threads);

// Step 2 for the bands that next hands out, on one thread per buffer of
// partial (pair_sums()); their combination.
row_sums round_pairs(const packed& s, terms t, const std::vector<double>& grids,
                     const unit_source& next, const workers& w,
                     std::vector<row_sums> partial);
// The same for the given bands (share()).
row_sums round_pairs(const packed& s, terms t, const std::vector<double>& grids,
                     const std::vector<std::size_t>& bands, const workers& w,
                     std::vector<row_sums> partial);

// Adds partial into total: sums are exact on the row's grid while below it
// (in any order), and a total that reaches it is refused in step 4 anyway.
// combine_sums and combine_offs do it for any range of rows, so that a
// reduction may split the rows as it likes.
void combine(row_sums& total, const row_sums& partial);
void combine_sums(double* total, const double* partial, std::size_t count);
void combine_offs(double* total, const double* partial, std::size_t count);

// Step 3: the rows that a tie or a wrong grid keeps from adding up at once,
// each with its grid (a row that leaves its binade is left to step 4).
struct doubtful_row {
  std::size_t row = 0;
  grid_record record;
};
std::vector<doubtful_row> doubtful_rows(const std::vector<double>& grids,
                                        const row_sums& total, std::size_t n);

// Computes a doubtful row's record again, in order; row holds padded()
// doubles.
void recompute(isa set, const packed& s, terms t, doubtful_row& doubtful,
               std::vector<double>& row);

// Step 3 for the given rows, on w's threads.
void recompute_all(const packed& s, terms t, std::vector<doubtful_row>& redo,
                   const workers& w);

// Step 4: the pass's sum, the rows settled in order.
struct pass_sum {
  double sum = 0.0;
  pass_rows rows;
};
// On the workers' instruction set, on one thread; a cancelled run stops
// between rows with a NaN sum.
pass_sum settle(const workers& w, const packed& s, terms t,
                const std::vector<double>& grids, const row_sums& total,
                const std::vector<doubtful_row>& redone);
// The same over n rows whose terms row_terms(i, row) puts in row (n
// entries) when a row is summed again: for an engine whose samples lie
// elsewhere. false from row_terms stops it with a NaN sum.
using row_terms = std::function<bool(std::size_t i, std::vector<double>& row)>;
pass_sum settle(const workers& w, std::size_t n,
                const std::vector<double>& grids, const row_sums& total,
                const std::vector<doubtful_row>& redone,
                const row_terms& terms_of);

// |term - rounded term| on a tie on grid; +inf on the grid of 2^-1022.
double half_unit(double grid);

// A pass's sum over its n * n terms: the mean.
double per_pair(double sum, std::size_t n);

}  // namespace kernel_width::detail
