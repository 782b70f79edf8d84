#include "kernels.h"

#include <algorithm>

#include "distance_kernels.h"
#include "exact_sum_kernel.h"
#include "tally_kernel.h"

namespace kernel_width::detail {

namespace {

// One table of kernels per instruction set, from one definition: each
// function inlines (flatten) the templates over W, compiled for the set.
// clang-format off
#define KERNEL_WIDTH_KERNELS(NAME, ATTRIBUTES, W)                         \
  ATTRIBUTES void rows_##NAME(const packed& s, row_span rows, terms t,    \
                              double* out, std::size_t stride) {          \
    rows_any<W>(s, rows, t, out, stride);                                 \
  }                                                                       \
  ATTRIBUTES void band_##NAME(const packed& s, std::size_t b,             \
                              double* lane_sums) {                        \
    band_any<W>(s, b, lane_sums);                                         \
  }                                                                       \
  ATTRIBUTES void form_##NAME(const packed& s, std::size_t b, terms t,    \
                              grid_sums out) {                            \
    form_any<W>(s, b, t, out);                                            \
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
  constexpr kernels NAME##_kernels{rows_##NAME,    band_##NAME,           \
                                   form_##NAME,    record_##NAME,         \
                                   squares_##NAME, tally_##NAME};
// clang-format on

KERNEL_WIDTH_KERNELS(avx512, __attribute__((target("avx512f"), flatten)),
                     __m512d)
KERNEL_WIDTH_KERNELS(avx2, __attribute__((target("avx2"), flatten)), __m256d)
KERNEL_WIDTH_KERNELS(base, __attribute__((flatten)), __m128d)

#undef KERNEL_WIDTH_KERNELS

}  // namespace

const kernels& kernels_for(isa set) {
  if (set >= isa::avx512 && isa_supported(isa::avx512)) return avx512_kernels;
  if (set >= isa::avx2 && isa_supported(isa::avx2)) return avx2_kernels;
  return base_kernels;
}

std::uint64_t band_pairs(const packed& s, std::size_t b) {
  std::uint64_t pairs = 0;
  for (std::size_t i = b * panel_width;
       i < std::min(s.n, (b + 1) * panel_width); ++i)
    pairs += s.n - 1 - i;
  return pairs;
}

}  // namespace kernel_width::detail
