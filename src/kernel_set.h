// One table of kernels per instruction set, from one definition: each
// function inlines (flatten) the templates over W, compiled for the set.
// Each set's table is made in a file of its own (kernels_avx512.cpp,
// kernels_avx2.cpp, kernels_base.cpp), so that the three compile at once.
// Private to the library.
#pragma once

#include "distance_kernels.h"
#include "exact_sum_kernel.h"
#include "kernels.h"
#include "tally_kernel.h"

// clang-format off
#define KERNEL_WIDTH_KERNELS(NAME, ATTRIBUTES, W)                         \
  namespace {                                                             \
  ATTRIBUTES void rows_##NAME(const packed& s, row_span rows, terms t,    \
                              double* out, std::size_t stride) {          \
    rows_any<W>(s, rows, t, out, stride);                                 \
  }                                                                       \
  ATTRIBUTES void band_##NAME(const packed& s, std::size_t b,             \
                              double* lane_sums) {                        \
    band_any<W>(s, b, lane_sums);                                         \
  }                                                                       \
  ATTRIBUTES void lanes_##NAME(const packed& s, std::size_t b,            \
                               const packed& o, std::size_t first,        \
                               double* lane_sums) {                       \
    lanes_any<W>(s, b, o, first, lane_sums);                              \
  }                                                                       \
  ATTRIBUTES void form_##NAME(const packed& s, std::size_t b,             \
                              std::size_t first, terms t, grid_sums out) { \
    form_any<W>(s, b, first, t, out);                                     \
  }                                                                       \
  ATTRIBUTES grid_record record_##NAME(double grid, const double* x,      \
                                       std::size_t count) {               \
    return record<W>(grid, x, count);                                     \
  }                                                                       \
  ATTRIBUTES void squares_##NAME(const packed& s, std::size_t b,          \
                                 const packed& o, panel_span panels,      \
                                 double* out, std::size_t stride) {       \
    squares_any<W>(s, b, o, panels, out, stride);                         \
  }                                                                       \
  ATTRIBUTES void tally_##NAME(const pair_set& pairs, std::size_t b,      \
                               panel_span panels, const pass_plan& plan,  \
                               tally& t) {                                \
    tally_any<W>(pairs, b, panels, plan, t);                              \
  }                                                                       \
  }                                                                       \
  const kernels& NAME##_kernels() {                                       \
    static constexpr kernels table{rows_##NAME,    band_##NAME,           \
                                   lanes_##NAME,   form_##NAME,           \
                                   record_##NAME,  squares_##NAME,        \
                                   tally_##NAME};                         \
    return table;                                                         \
  }
// clang-format on

