// labelled_kernel_width's total of the distances between different samples,
// in one fixed order whatever the threads.
//
// Only the pairs i < l count, doubled at the end. Row i keeps 8 lane sums,
// lane k adding the distances to the l > i with l % 8 == k in increasing l;
// the row's sum adds its lanes 0..7 in order; the total adds the row sums in
// row order. Every row's sum is computed within its band of 8 rows, so the
// bands can be shared out in any way.
#pragma once

#include <cstddef>
#include <vector>

#include "cpu.h"
#include "packed.h"
#include "threads.h"

namespace kernel_width::detail {

// The row sums of band b into row_sums[8b ..] (n entries in all).
void labelled_band(isa set, const packed& s, std::size_t b, double* row_sums);

// The row sums of the bands that next hands out, on w's threads, into
// row_sums (n entries); the others are left as they are.
void labelled_rows(const packed& s, const unit_source& next, const workers& w,
                   double* row_sums);
// The same for the given bands (share()).
void labelled_rows(const packed& s, const std::vector<std::size_t>& bands,
                   const workers& w, double* row_sums);

// A row's sum: its lanes 0..7 added in order.
double labelled_row(const double* lanes);

// Twice the row sums added in row order: the total.
double labelled_combine(const std::vector<double>& row_sums);
double labelled_combine(const double* row_sums, std::size_t n);

// The total over all ordered pairs of different samples, on threads (0:
// available_threads()); the same for every thread count. NaN once
// cancelled.
double pair_total(const packed& s, unsigned threads, isa set,
                  const run_control& control = {});

}  // namespace kernel_width::detail
