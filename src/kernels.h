// The vectorised kernels over packed samples, one table of them per
// instruction set, generated from one definition (kernels.cpp). Every
// distance equals bit for bit the plain sum of squares in column order and
// its correctly rounded square root.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cpu.h"
#include "exact_sum.h"
#include "packed.h"
#include "pair_set.h"
#include "rank_tally.h"

namespace kernel_width::detail {

inline double square(double x) { return x * x; }

// The terms a pass adds up: distances, or square(distance - mean); or the
// squared distances, before the root.
struct terms {
  bool centred = false;
  double mean = 0.0;
  bool squared = false;
};

// Rows first..first+count-1.
struct row_span {
  std::size_t first = 0;
  std::size_t count = 0;
};

// Panels first..end-1.
struct panel_span {
  std::size_t first = 0;
  std::size_t end = 0;
};

// Where the form kernel puts the terms it rounds, one array each per
// thread, indexed by row (padded() entries each).
struct grid_sums {
  const double* grids;  // the grid (exact_sum.h) each row's terms go to
  double* sum;          // the rounded terms added up, exactly
  double* off;          // the largest |term - rounded term|: u/2 on a tie
};

struct kernels {
  // The terms of the given rows against samples 0..padded()-1:
  // out[r * stride + l] for row first + r and sample l, each distance's sum
  // taken in column order. stride >= padded().
  void (*rows)(const packed& s, row_span rows, terms t, double* out,
               std::size_t stride);
  // The lane sums of the rows of band b (samples 8b..8b+7), 8 per row:
  // lane k of row i adds the distances to the samples l > i with
  // l % 8 == k, in increasing l (labelled_total.h).
  void (*band)(const packed& s, std::size_t b, double* lane_sums);
  // Carries on the lane sums of the rows of band b of s over the samples
  // of o (o's columns) from panel `first` on, each after every row of the
  // band: the same additions, in the same order, as band's past that
  // panel, o being s.
  void (*lanes)(const packed& s, std::size_t b, const packed& o,
                std::size_t first, double* lane_sums);
  // For each pair i < l with i in band b: the term of (i, l), which is also
  // that of (l, i), rounded to row i's grid into sums[i] and to row l's grid
  // into sums[l]; the diagonal's term goes to its row. Only the samples
  // of panels first.. on (first = b: every pair and the diagonal; first >
  // b: the pairs with those samples, all after the band).
  void (*form)(const packed& s, std::size_t b, std::size_t first, terms t,
               grid_sums sums);
  // The record of terms[0..count) on grid (exact_sum.h).
  grid_record (*record)(double grid, const double* terms, std::size_t count);
  // The squared distances of the rows of band b of s to the samples of
  // panels of o (o may be s): out[r * stride + l - 8 * panels.first] for
  // row 8b + r and sample l; the rows past the last sample are left out.
  // stride >= 8 panels.
  void (*squares)(const packed& s, std::size_t b, const packed& o,
                  panel_span panels, double* out, std::size_t stride);
  // Tallies the squared distances of the pairs with their first sample in
  // band b and their second in panels against the plan (rank_tally.h).
  void (*tally)(const pair_set& pairs, std::size_t b, panel_span panels,
                const pass_plan& plan, tally& t);
};

// The tables, one per instruction set of this architecture (kernel_set.h).
#if defined(__x86_64__)
const kernels& avx512_kernels();
const kernels& avx2_kernels();
#elif defined(__aarch64__)
const kernels& neon_kernels();
#endif
const kernels& base_kernels();

// The table for set, or for the best set below it that this CPU runs; the
// portable one for a set of another architecture.
const kernels& kernels_for(isa set);

// The pairs i < l with i in band b.
std::uint64_t band_pairs(const packed& s, std::size_t b);

}  // namespace kernel_width::detail
