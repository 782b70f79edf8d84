// Small helpers over the native vector types __m128d, __m256d and __m512d,
// so that a kernel is written once, as a template over the vector type W,
// and compiled once per instruction set (kernels.cpp). Private to the
// library.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

namespace kernel_width::detail {

template <class W>
constexpr int lanes = sizeof(W) / sizeof(double);

// The integer vector of W's size, for bit operations and comparisons.
template <int Bytes>
struct int_vector {
  typedef std::int64_t type __attribute__((vector_size(Bytes)));
};
template <class W>
using lane_bits = typename int_vector<sizeof(W)>::type;

template <class W>
inline W splat(double x) {
  return W{} + x;
}

template <class W>
inline W load(const double* p) {
  W w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

template <class W>
inline void store(double* p, W w) {
  std::memcpy(p, &w, sizeof w);
}

template <class W>
inline W magnitude(W x) {
  return (W)((lane_bits<W>)x & INT64_MAX);
}

// a where a > b, else b: a NaN in a is never taken.
template <class W>
inline W larger(W a, W b) {
  return a > b ? a : b;
}

// x where keep is set (all ones), else +0.
template <class W>
inline W keep_if(lane_bits<W> keep, W x) {
  return (W)((lane_bits<W>)x & keep);
}

// x rounded to the nearest multiple of u = grid * 2^-52, ties to an even
// multiple, for 0 <= x < grid (grid a power of two): the sum lands in
// [grid, 2 grid), whose doubles are exactly the multiples of u.
template <class W>
inline W on_grid(W x, W grid) {
  return (x + grid) - grid;
}

[[gnu::target("avx512f")]] inline void root(__m512d& x) {
  x = _mm512_maskz_sqrt_pd(0xff, x);
}
[[gnu::target("avx2")]] inline void root(__m256d& x) { x = _mm256_sqrt_pd(x); }
inline void root(__m128d& x) { x = _mm_sqrt_pd(x); }

// The sign bits of the lanes of w, lane 0 in bit 0. (By reference: a
// vector passed by value between functions of different targets would
// change the calling convention.)
[[gnu::target("avx512f")]] inline unsigned sign_mask(const __m512d& w) {
  return _mm512_cmplt_epi64_mask(_mm512_castpd_si512(w),
                                 _mm512_setzero_si512());
}
[[gnu::target("avx2")]] inline unsigned sign_mask(const __m256d& w) {
  return static_cast<unsigned>(_mm256_movemask_pd(w));
}
inline unsigned sign_mask(const __m128d& w) {
  return static_cast<unsigned>(_mm_movemask_pd(w));
}

// The lanes where a comparison held, lane 0 in bit 0.
template <class W>
inline unsigned mask_of(lane_bits<W> held) {
  return sign_mask((W)held);
}

}  // namespace kernel_width::detail
