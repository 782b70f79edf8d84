// Small helpers over the native vector types (on x86-64 __m128d, __m256d
// and __m512d; on aarch64 NEON's float64x2_t; elsewhere GCC's generic
// vectors), so that a kernel is written once, as a template over the vector
// type W, and compiled once per instruction set (kernels.cpp). Only the
// helpers past the generic ones differ by architecture. Private to the
// library.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace kernel_width::detail {

// The portable kernels' vector: SSE2's on x86-64, two doubles of GCC's
// generic vectors elsewhere (a type of its own beside NEON's).
#if defined(__x86_64__)
using base_vector = __m128d;
#else
typedef double base_vector __attribute__((vector_size(16)));
#endif

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

// A count per lane, for the lanes that held a condition.
template <class W>
using lane_counts = lane_bits<W>;

// Whether the vector loop tests two vectors' high halves at once
// (high_halves; AVX-512 only), and the vector that holds them, by the
// vectors' size.
template <int Bytes>
struct halves_for {
  static constexpr bool paired = false;
  using type = std::int64_t;  // unused
};
template <class W>
struct halves_of : halves_for<sizeof(W)> {};

// The sum of a vector's counts, each a Lane (64 bits, or 32 on halves).
template <class C, class Lane = std::uint64_t>
inline std::uint64_t count_sum(const C& c) {
  Lane lanes[sizeof(C) / sizeof(Lane)];
  std::memcpy(lanes, &c, sizeof lanes);
  std::uint64_t sum = 0;
  for (const Lane x : lanes) sum += x;
  return sum;
}

#if defined(__x86_64__)
// ---- x86-64: SSE2, AVX2, AVX-512F ----

template <>
struct halves_for<64> {
  static constexpr bool paired = true;
  using type = __m512i;
  // (Into out: a vector returned across targets would change the
  // calling convention, as passed by value.)
  [[gnu::target("avx512f")]] static void splat(std::uint32_t x, __m512i& out) {
    out = _mm512_set1_epi32(static_cast<int>(x));
  }
};

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

// The lanes where a < b (neither NaN), lane 0 in bit 0. GCC's vector
// comparisons would go lane by lane once their masks are combined.
[[gnu::target("avx512f")]] inline unsigned less_mask(const __m512d& a,
                                                     const __m512d& b) {
  return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ);
}
[[gnu::target("avx2")]] inline unsigned less_mask(const __m256d& a,
                                                  const __m256d& b) {
  return static_cast<unsigned>(
      _mm256_movemask_pd(_mm256_cmp_pd(a, b, _CMP_LT_OQ)));
}
inline unsigned less_mask(const __m128d& a, const __m128d& b) {
  return static_cast<unsigned>(_mm_movemask_pd(_mm_cmplt_pd(a, b)));
}

// Counts the lanes of d at or over lo (or NaN) into at_least, and returns
// the lanes among them at or under hi (or NaN), lane 0 in bit 0: three
// vector operations, without a branch on the values.
[[gnu::target("avx512f")]] inline unsigned in_range(const __m512d& d,
                                                    const __m512d& lo,
                                                    const __m512d& hi,
                                                    int_vector<64>::type& at_least) {
  const __mmask8 over = _mm512_cmp_pd_mask(d, lo, _CMP_NLT_UQ);
  at_least = (int_vector<64>::type)_mm512_mask_sub_epi64(
      (__m512i)at_least, over, (__m512i)at_least, _mm512_set1_epi64(-1));
  return _mm512_mask_cmp_pd_mask(over, d, hi, _CMP_NGT_UQ);
}
[[gnu::target("avx2")]] inline unsigned in_range(const __m256d& d,
                                                 const __m256d& lo,
                                                 const __m256d& hi,
                                                 int_vector<32>::type& at_least) {
  const __m256d over = _mm256_cmp_pd(d, lo, _CMP_NLT_UQ);
  at_least -= (int_vector<32>::type)over;
  return static_cast<unsigned>(_mm256_movemask_pd(
      _mm256_and_pd(over, _mm256_cmp_pd(d, hi, _CMP_NGT_UQ))));
}
inline unsigned in_range(const __m128d& d, const __m128d& lo,
                         const __m128d& hi, int_vector<16>::type& at_least) {
  const __m128d over = _mm_cmpnlt_pd(d, lo);
  at_least -= (int_vector<16>::type)over;
  return static_cast<unsigned>(
      _mm_movemask_pd(_mm_and_pd(over, _mm_cmpngt_pd(d, hi))));
}

// in_range over H hulls, increasing and apart (lo[h] <= hi[h] < lo[h+1],
// or hi[h] below every value): a lane is inside one only if it is at most
// the hi of the last hull whose lo it reaches, so one blend per hull picks
// that hi and one comparison tests them all. NaN reaches every lo and is
// at most any hi, as in in_range.
template <int H>
[[gnu::target("avx512f")]] inline unsigned in_hulls(
    const __m512d& d, const __m512d* lo, const __m512d* hi,
    int_vector<64>::type* at_least) {
  const __m512i one = _mm512_set1_epi64(1);
  const __mmask8 from = _mm512_cmp_pd_mask(d, lo[0], _CMP_NLT_UQ);
  at_least[0] = (int_vector<64>::type)_mm512_mask_add_epi64(
      (__m512i)at_least[0], from, (__m512i)at_least[0], one);
  __m512d top = hi[0];
#pragma GCC unroll 4
  for (int h = 1; h < H; ++h) {
    const __mmask8 m = _mm512_cmp_pd_mask(d, lo[h], _CMP_NLT_UQ);
    at_least[h] = (int_vector<64>::type)_mm512_mask_add_epi64(
        (__m512i)at_least[h], m, (__m512i)at_least[h], one);
    top = _mm512_mask_blend_pd(m, top, hi[h]);
  }
  return _mm512_mask_cmp_pd_mask(from, d, top, _CMP_NGT_UQ);
}
template <int H>
[[gnu::target("avx2")]] inline unsigned in_hulls(
    const __m256d& d, const __m256d* lo, const __m256d* hi,
    int_vector<32>::type* at_least) {
  const __m256d from = _mm256_cmp_pd(d, lo[0], _CMP_NLT_UQ);
  at_least[0] -= (int_vector<32>::type)from;
  __m256d top = hi[0];
#pragma GCC unroll 4
  for (int h = 1; h < H; ++h) {
    const __m256d m = _mm256_cmp_pd(d, lo[h], _CMP_NLT_UQ);
    at_least[h] -= (int_vector<32>::type)m;
    top = _mm256_blendv_pd(top, hi[h], m);
  }
  return static_cast<unsigned>(_mm256_movemask_pd(
      _mm256_and_pd(from, _mm256_cmp_pd(d, top, _CMP_NGT_UQ))));
}
template <int H>
inline unsigned in_hulls(const __m128d& d, const __m128d* lo,
                         const __m128d* hi, int_vector<16>::type* at_least) {
  const __m128d from = _mm_cmpnlt_pd(d, lo[0]);
  at_least[0] -= (int_vector<16>::type)from;
  __m128d top = hi[0];
#pragma GCC unroll 4
  for (int h = 1; h < H; ++h) {
    const __m128d m = _mm_cmpnlt_pd(d, lo[h]);
    at_least[h] -= (int_vector<16>::type)m;
    top = _mm_or_pd(_mm_and_pd(m, hi[h]), _mm_andnot_pd(m, top));
  }
  return static_cast<unsigned>(
      _mm_movemask_pd(_mm_and_pd(from, _mm_cmpngt_pd(d, top))));
}

// Two vectors' lanes in one: the high halves of the bit patterns of a's 8
// lanes (lanes 0..7) and b's (8..15). Non-negative doubles order as their
// patterns, so a half compared with a bound's half orders the value with
// the bound rounded to a multiple of 2^32 patterns (down for a lo, up for
// a hi): one compare for 16 values.
[[gnu::target("avx512f")]] inline void high_halves(const __m512d& a,
                                                   const __m512d& b,
                                                   __m512i& out) {
  const __m512i odd = _mm512_set_epi32(31, 29, 27, 25, 23, 21, 19, 17, 15,
                                       13, 11, 9, 7, 5, 3, 1);
  out = _mm512_permutex2var_epi32(_mm512_castpd_si512(a), odd,
                                  _mm512_castpd_si512(b));
}

// in_hulls on high halves (high_halves), of the lanes in `lanes` only:
// counts per hull the lanes whose half reaches its lo's, and returns those
// at most the hi's half of the last hull so reached. No NaN among them.
template <int H>
[[gnu::target("avx512f")]] inline unsigned in_hulls_halves(
    const __m512i& e, const __m512i* lo, const __m512i* hi, __m512i* at_least,
    unsigned lanes) {
  const __m512i one = _mm512_set1_epi32(1);
  const auto all = static_cast<__mmask16>(lanes);
  const __mmask16 from = _mm512_mask_cmp_epu32_mask(all, e, lo[0], _MM_CMPINT_NLT);
  at_least[0] = _mm512_mask_add_epi32(at_least[0], from, at_least[0], one);
  __m512i top = hi[0];
#pragma GCC unroll 4
  for (int h = 1; h < H; ++h) {
    const __mmask16 m = _mm512_mask_cmp_epu32_mask(all, e, lo[h], _MM_CMPINT_NLT);
    at_least[h] = _mm512_mask_add_epi32(at_least[h], m, at_least[h], one);
    top = _mm512_mask_blend_epi32(m, top, hi[h]);
  }
  return _mm512_mask_cmp_epu32_mask(from, e, top, _MM_CMPINT_LE);
}

// Counts the lanes of `lanes` whose high half (high_halves) reaches lo's.
[[gnu::target("avx512f")]] inline void count_from_halves(const __m512i& e,
                                                         const __m512i& lo,
                                                         __m512i& at_least,
                                                         unsigned lanes) {
  const __mmask16 m = _mm512_mask_cmp_epu32_mask(static_cast<__mmask16>(lanes),
                                                 e, lo, _MM_CMPINT_NLT);
  at_least = _mm512_mask_add_epi32(at_least, m, at_least, _mm512_set1_epi32(1));
}

// Counts the lanes of d equal to v (never NaN) into equal.
[[gnu::target("avx512f")]] inline void count_equal(const __m512d& d,
                                                   const __m512d& v,
                                                   int_vector<64>::type& equal) {
  const __mmask8 m = _mm512_cmp_pd_mask(d, v, _CMP_EQ_OQ);
  equal = (int_vector<64>::type)_mm512_mask_sub_epi64(
      (__m512i)equal, m, (__m512i)equal, _mm512_set1_epi64(-1));
}

// Counts the lanes of d over v (or NaN) into over: with in_range's count
// at or over v, the lanes equal to v. Two vector operations.
[[gnu::target("avx512f")]] inline void count_over(const __m512d& d,
                                                  const __m512d& v,
                                                  int_vector<64>::type& over) {
  const __mmask8 m = _mm512_cmp_pd_mask(d, v, _CMP_NLE_UQ);
  over = (int_vector<64>::type)_mm512_mask_sub_epi64(
      (__m512i)over, m, (__m512i)over, _mm512_set1_epi64(-1));
}
[[gnu::target("avx2")]] inline void count_over(const __m256d& d,
                                               const __m256d& v,
                                               int_vector<32>::type& over) {
  over -= (int_vector<32>::type)_mm256_cmp_pd(d, v, _CMP_NLE_UQ);
}
inline void count_over(const __m128d& d, const __m128d& v,
                       int_vector<16>::type& over) {
  over -= (int_vector<16>::type)_mm_cmpnle_pd(d, v);
}

// Counts the lanes of d at or over lo (or NaN) into at_least: in_range
// without the lanes inside.
[[gnu::target("avx512f")]] inline void count_from(const __m512d& d,
                                                  const __m512d& lo,
                                                  int_vector<64>::type& at_least) {
  const __mmask8 m = _mm512_cmp_pd_mask(d, lo, _CMP_NLT_UQ);
  at_least = (int_vector<64>::type)_mm512_mask_sub_epi64(
      (__m512i)at_least, m, (__m512i)at_least, _mm512_set1_epi64(-1));
}
[[gnu::target("avx2")]] inline void count_from(const __m256d& d,
                                               const __m256d& lo,
                                               int_vector<32>::type& at_least) {
  at_least -= (int_vector<32>::type)_mm256_cmp_pd(d, lo, _CMP_NLT_UQ);
}
inline void count_from(const __m128d& d, const __m128d& lo,
                       int_vector<16>::type& at_least) {
  at_least -= (int_vector<16>::type)_mm_cmpnlt_pd(d, lo);
}

// The lanes of d that are NaN, lane 0 in bit 0.
[[gnu::target("avx512f")]] inline unsigned nan_lanes(const __m512d& d) {
  return _mm512_cmp_pd_mask(d, d, _CMP_UNORD_Q);
}
[[gnu::target("avx2")]] inline unsigned nan_lanes(const __m256d& d) {
  return static_cast<unsigned>(
      _mm256_movemask_pd(_mm256_cmp_pd(d, d, _CMP_UNORD_Q)));
}
inline unsigned nan_lanes(const __m128d& d) {
  return static_cast<unsigned>(_mm_movemask_pd(_mm_cmpunord_pd(d, d)));
}

// Writes the lanes of d picked by mask (lane 0 in bit 0) to out, packed,
// in lane order, and returns how many: no branch on the mask. out must have
// room for every lane.
[[gnu::target("avx512f")]] inline unsigned compress(const __m512d& d,
                                                    unsigned mask,
                                                    double* out) {
  // Into a register, then stored: a compressing store is slow on some CPUs.
  _mm512_storeu_pd(out,
                   _mm512_maskz_compress_pd(static_cast<__mmask8>(mask), d));
  return static_cast<unsigned>(std::popcount(mask));
}

// For each mask of 4 lanes, the 32-bit halves that pack its lanes first.
struct compress_table {
  std::int32_t index[16][8] = {};
  constexpr compress_table() {
    for (int m = 0; m < 16; ++m) {
      int k = 0;
      for (int lane = 0; lane < 4; ++lane)
        if (m >> lane & 1) {
          index[m][k++] = 2 * lane;
          index[m][k++] = 2 * lane + 1;
        }
    }
  }
};
inline constexpr compress_table compress_indices;

[[gnu::target("avx2")]] inline unsigned compress(const __m256d& d,
                                                 unsigned mask, double* out) {
  const __m256i index = _mm256_loadu_si256(
      reinterpret_cast<const __m256i*>(compress_indices.index[mask]));
  _mm256_storeu_pd(out, _mm256_castps_pd(_mm256_permutevar8x32_ps(
                            _mm256_castpd_ps(d), index)));
  return static_cast<unsigned>(std::popcount(mask));
}

inline unsigned compress(const __m128d& d, unsigned mask, double* out) {
  _mm_storel_pd(out, d);
  const unsigned first = mask & 1;
  _mm_storeh_pd(out + first, d);
  return first + (mask >> 1 & 1);
}

#else
// ---- the portable kernels' helpers off x86-64: lane by lane ----

inline void root(base_vector& x) {
  for (int k = 0; k < lanes<base_vector>; ++k) x[k] = std::sqrt(x[k]);
}

inline unsigned sign_mask(const base_vector& w) {
  const lane_bits<base_vector> bits = (lane_bits<base_vector>)w;
  unsigned mask = 0;
  for (int k = 0; k < lanes<base_vector>; ++k)
    mask |= static_cast<unsigned>(bits[k] < 0) << k;
  return mask;
}

inline unsigned less_mask(const base_vector& a, const base_vector& b) {
  return sign_mask((base_vector)(a < b));
}

// A comparison fails on NaN: "not under lo" and "not over hi" hold for it.
inline unsigned in_range(const base_vector& d, const base_vector& lo,
                         const base_vector& hi,
                         lane_bits<base_vector>& at_least) {
  const lane_bits<base_vector> over = ~(d < lo);
  at_least -= over;
  return sign_mask((base_vector)(over & ~(d > hi)));
}

// Counts the lanes of d over v (or NaN) into over.
inline void count_over(const base_vector& d, const base_vector& v,
                       lane_bits<base_vector>& over) {
  over -= ~(d <= v);
}

// Counts the lanes of d at or over lo (or NaN) into at_least.
inline void count_from(const base_vector& d, const base_vector& lo,
                       lane_bits<base_vector>& at_least) {
  at_least -= ~(d < lo);
}

// The lanes of d that are NaN, lane 0 in bit 0.
inline unsigned nan_lanes(const base_vector& d) {
  return sign_mask((base_vector)(d != d));
}

inline unsigned compress(const base_vector& d, unsigned mask, double* out) {
  unsigned held = 0;
  for (int k = 0; k < lanes<base_vector>; ++k) {
    out[held] = d[k];
    held += mask >> k & 1;
  }
  return held;
}

#endif

#if defined(__aarch64__)
// ---- NEON (aarch64): two doubles per vector ----

// The lanes of m (each all ones or all zeros) as bits, lane 0 in bit 0.
inline unsigned lane_mask(uint64x2_t m) {
  const uint64x2_t bit = {1, 2};
  return static_cast<unsigned>(vaddvq_u64(vandq_u64(m, bit)));
}

inline void root(float64x2_t& x) { x = vsqrtq_f64(x); }

inline unsigned sign_mask(const float64x2_t& w) {
  return lane_mask(
      vreinterpretq_u64_s64(vshrq_n_s64(vreinterpretq_s64_f64(w), 63)));
}

inline unsigned less_mask(const float64x2_t& a, const float64x2_t& b) {
  return lane_mask(vcltq_f64(a, b));
}

// d < lo and d > hi fail on NaN: "not under lo" and "not over hi" hold.
inline unsigned in_range(const float64x2_t& d, const float64x2_t& lo,
                         const float64x2_t& hi,
                         int_vector<16>::type& at_least) {
  using bits = int_vector<16>::type;
  const bits over = ~(bits)vcltq_f64(d, lo);
  at_least -= over;
  return lane_mask(vbicq_u64((uint64x2_t)over, vcgtq_f64(d, hi)));
}

// Counts the lanes of d over v (or NaN) into over.
inline void count_over(const float64x2_t& d, const float64x2_t& v,
                       int_vector<16>::type& over) {
  using bits = int_vector<16>::type;
  over -= ~(bits)vcleq_f64(d, v);
}

// Counts the lanes of d at or over lo (or NaN) into at_least.
inline void count_from(const float64x2_t& d, const float64x2_t& lo,
                       int_vector<16>::type& at_least) {
  using bits = int_vector<16>::type;
  at_least -= ~(bits)vcltq_f64(d, lo);
}

// The lanes of d that are NaN, lane 0 in bit 0.
inline unsigned nan_lanes(const float64x2_t& d) {
  // d == d fails on NaN alone.
  return lane_mask(
      vreinterpretq_u64_u32(vmvnq_u32(vreinterpretq_u32_u64(vceqq_f64(d, d)))));
}

inline unsigned compress(const float64x2_t& d, unsigned mask, double* out) {
  vst1q_lane_f64(out, d, 0);
  const unsigned first = mask & 1;
  vst1q_lane_f64(out + first, d, 1);
  return first + (mask >> 1 & 1);
}

#endif

// The lanes where a comparison held, lane 0 in bit 0.
template <class W>
inline unsigned mask_of(lane_bits<W> held) {
  return sign_mask((W)held);
}

#if !defined(__x86_64__)
// in_hulls off x86-64: in_range per hull.
template <int H, class W>
inline unsigned in_hulls(const W& d, const W* lo, const W* hi,
                         lane_counts<W>* at_least) {
  unsigned inside = 0;
  for (int h = 0; h < H; ++h) inside |= in_range(d, lo[h], hi[h], at_least[h]);
  return inside;
}
#endif

}  // namespace kernel_width::detail
