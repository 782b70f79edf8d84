// Kernel widths from the pairwise Euclidean distances between samples that
// are already in memory: the same exact results as form_kernel_width,
// labelled_kernel_width and median_kernel_width, without files, in O(n d)
// memory, on every core.
//
// Samples are a row-major array of doubles. Results are plain structs with
// one status each; an error is a value in them, never an exception (every
// function here is noexcept), and the statistics are those the arithmetic
// gives (NaN for no samples) also when there is one. Out of memory gives
// error::out_of_memory and no partial result.
//
// The environment variable KERNEL_WIDTH_ISA (base, avx2 or avx512 on x86-64;
// base or neon on aarch64; base elsewhere), read once
// per process, forces the kernels of one instruction set; the results are
// the same bit for bit. A name that is unknown, or that this CPU cannot
// run, makes every computation return error::unsupported_isa.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kernel_width {

// rows samples of cols values each; sample r starts at data + r * stride.
// stride 0 means cols.
struct matrix_view {
  const double* data = nullptr;
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::size_t stride = 0;
};

enum class error {
  none,
  no_samples,         // no rows: the statistics are NaN
  no_features,        // no values in the columns that count
  no_rows_to_search,  // the table search was needed and the table is empty
  no_key,             // the table has no column for the keys
  no_divisor,         // the chosen table row has no divisor (one column)
  out_of_memory,      // an allocation failed: nothing was computed
  unsupported_isa,    // KERNEL_WIDTH_ISA names no set this CPU runs
  cancelled,          // the cancel flag was set: nothing was computed
  columns_differ,     // the two sets of samples have different columns
  bad_probability,    // a quantile's probability is not in [0, 1]
  internal,           // a selection stopped narrowing: a fault of ours
  bad_sampling,       // no draws, more than 2^63, or a confidence outside (0, 1)
  too_many_pairs,     // the pairs do not fit 64 bits: they cannot be drawn
  bad_buffer,         // engine bytes truncated, foreign, or of another version
};

// The programs' words for an error: "no samples", "no feature values",
// "no rows to search", "no key on the line", "no divisor after the key",
// "out of memory", "unknown or unsupported instruction set in
// KERNEL_WIDTH_ISA", "cancelled", "the two sets of samples have different
// numbers of columns", "a probability outside [0, 1]", "internal error: the
// selection did not narrow", "no pairs drawn, more than 2^63, or a
// confidence outside (0, 1)", "more pairs than 64 bits count", "a plan or
// partial result that is truncated, foreign or of another version"; "" for
// none.
const char* describe(error e) noexcept;

// The library's version ("1.1.0"), which the programs' --version prints.
const char* version() noexcept;

// A width w of the kernel exp(-d^2 / w) as the other common parameters of
// the same kernel: sigma = sqrt(w / 2), of exp(-d^2 / (2 sigma^2)) (a
// length scale), and gamma = 1 / w, of exp(-gamma d^2). Each result below
// gives all three; the median's and the quantiles' sigma is the distance
// itself, and labelled's the mean distance, bit for bit.
double sigma_of(double width) noexcept;
double gamma_of(double width) noexcept;

// The spread of the n*n distances over all columns, the zero diagonal
// included, summed in row order exactly as form_kernel_width sums them.
struct form_statistics {
  std::size_t n = 0;
  std::size_t columns = 0;
  double mean = 0.0;
  double variance = 0.0;
  double ratio = 0.0;  // square(mean) / variance, the spread ratio
  error status = error::none;
};

// threads 0: every core the process may use. The result is the same for
// every thread count. cancel, when given, may be set from another thread:
// the threads stop between bands of pairs (within a fraction of a second)
// and the result is error::cancelled.
form_statistics form(matrix_view samples, unsigned threads = 0,
                     const std::atomic<bool>* cancel = nullptr) noexcept;

enum class form_rule { low_ratio, high_ratio, table };

// The width from the statistics: variance / 2.6 below a ratio of 0.01,
// variance * ratio above 100, otherwise variance divided by the divisor
// (column 1) of the table row whose key (column 0) lies nearest to the
// ratio (the earlier row on ties, row 0 when none lies within 1,000 or the
// ratio is not a number). The table is read only when the search runs.
struct form_width_result {
  std::size_t n = 0;  // n, columns, mean, variance, ratio: as form() gives
  std::size_t columns = 0;
  double mean = 0.0;
  double variance = 0.0;
  double ratio = 0.0;
  double width = 0.0;
  form_rule rule = form_rule::table;
  std::size_t row = 0;  // the chosen row, for form_rule::table
  double sigma = 0.0;   // sigma_of(width)
  double gamma = 0.0;   // gamma_of(width)
  bool zero_width = false;  // width == 0: the kernel's gamma is infinite
  error status = error::none;
};

form_width_result form_width(const form_statistics& statistics,
                             matrix_view table) noexcept;
form_width_result form_width(
    matrix_view samples, matrix_view table, unsigned threads = 0,
    const std::atomic<bool>* cancel = nullptr) noexcept;

// The mean distance between different samples over the columns from
// first_column on, and the width 2 mean^2.
struct labelled_statistics {
  std::size_t n = 0;
  std::size_t columns = 0;  // the columns that count
  double total = 0.0;       // over all ordered pairs of different samples
  std::int64_t pairs = 0;   // n * n - n
  double mean = 0.0;
  double width = 0.0;
  double sigma = 0.0;  // the mean itself
  double gamma = 0.0;  // gamma_of(width)
  bool zero_width = false;  // width == 0 (every distance 0, or underflow)
  error status = error::none;
};

labelled_statistics labelled(
    matrix_view samples, std::size_t first_column, unsigned threads = 0,
    const std::atomic<bool>* cancel = nullptr) noexcept;

// Which distances a median or quantile runs over.
enum class pairing {
  within,  // every pair i < l of the samples of x: n(n-1)/2
  pooled,  // every pair of x's and y's samples taken as one set, x first
  cross,   // each sample of x with each sample of y: n * n_y
};

// One set of samples, or two and the pairs between them; y is read only
// for pooled and cross, and must have x's columns. (Made from views, never
// from a view's own fields, so that median({data, rows, cols}) stays the
// one-matrix call.)
struct sample_pairs {
  matrix_view x;
  matrix_view y;
  pairing kind = pairing::within;

  sample_pairs(matrix_view one) noexcept : x(one) {}
  sample_pairs(matrix_view first, matrix_view second, pairing how) noexcept
      : x(first), y(second), kind(how) {}
};

// The median heuristic: the median of the distances over all columns,
// exactly as numpy's median of them gives it (the middle value, or
// (a + b) / 2 of the two middle values; NaN when a distance is NaN: numpy's
// NaN, positive), and the width 2 median^2. Found in a few passes over the
// pairs, without storing the distances. Fewer than two samples leave no
// pairs: the median is -NaN, as 0.0 / 0.0 gives it; no samples at all (or,
// across, an empty x or y) is error::no_samples, with the same -NaN.
struct median_statistics {
  std::size_t n = 0;        // samples of x
  std::size_t n_y = 0;      // samples of y (pooled and cross; else 0)
  std::size_t columns = 0;
  std::uint64_t pairs = 0;  // the distances the median is taken over
  double median = 0.0;
  double width = 0.0;
  double sigma = 0.0;  // the median itself
  double gamma = 0.0;  // gamma_of(width)
  // The distances that are 0, counted when the median is 0 (width 0, the
  // kernel's gamma infinite): at least half of the pairs coincide.
  std::uint64_t zero_pairs = 0;
  bool zero_width = false;
  error status = error::none;
};

median_statistics median(matrix_view samples, unsigned threads = 0,
                         const std::atomic<bool>* cancel = nullptr) noexcept;
median_statistics median(const sample_pairs& samples, unsigned threads = 0,
                         const std::atomic<bool>* cancel = nullptr) noexcept;

// What a selection over the distances found besides its values.
struct selection {
  std::size_t n = 0;        // samples of x
  std::size_t n_y = 0;      // samples of y (pooled and cross; else 0)
  std::size_t columns = 0;
  std::uint64_t pairs = 0;  // the distances, m
  std::uint64_t nan_pairs = 0;  // of them NaN (then every value is NaN)
  // The distances that are 0, counted when a value found is 0; else 0.
  std::uint64_t zero_pairs = 0;
  error status = error::none;
};

// The distances at the given ranks among the m distances sorted in
// increasing order (rank 0 the smallest, m - 1 the largest), bit for bit
// as a sort of them would place them, for any interpolation formula to
// build on: values[k] for ranks[k], count of each, in any order, repeats
// allowed. A rank of m or more is NaN, and so is every value when a
// distance is NaN (nan_pairs > 0); no pairs give -NaN. All in the same
// passes over the pairs, in O((n + n_y) d) memory and a bounded kept part.
selection order_statistics(const sample_pairs& samples,
                           const std::uint64_t* ranks, std::size_t count,
                           double* values, unsigned threads = 0,
                           const std::atomic<bool>* cancel = nullptr) noexcept;

// One quantile of the distances, numpy's default ("linear") method: the
// virtual index (m - 1) p, the distances at its floor and the rank after it
// (both m - 1 from the top), interpolated by numpy's own formula. NaN when
// a distance is NaN; -NaN for no pairs.
struct quantile {
  double p = 0.0;             // the probability asked for
  std::uint64_t lower_rank = 0;
  std::uint64_t upper_rank = 0;
  double lower = 0.0;         // the distance at lower_rank
  double upper = 0.0;         // the distance at upper_rank
  double value = 0.0;         // the quantile Q(p)
  double width = 0.0;         // 2 Q(p)^2
  double sigma = 0.0;         // Q(p) itself
  double gamma = 0.0;         // gamma_of(width)
  bool zero_width = false;    // width == 0
};

// The quantiles out[k] for the probabilities p[k], k < count, each equal bit
// for bit to numpy.quantile(distances, p[k]) on pdist(x) (within), on
// pdist of x stacked on y (pooled) or on cdist(x, y) (cross); all from the
// same passes. A probability outside [0, 1] (or NaN) is
// error::bad_probability and computes nothing.
selection quantiles(const sample_pairs& samples, const double* p,
                    std::size_t count, quantile* out, unsigned threads = 0,
                    const std::atomic<bool>* cancel = nullptr) noexcept;


// ---- Sampled widths: an estimate from M drawn pairs, with an interval ----
//
// Instead of all N pairs, M pairs drawn uniformly with replacement from the
// same N pairs that median() and quantiles() take (or labelled()'s pairs
// i < l). The estimate is numpy's formula applied to the M drawn distances
// (their plain mean for labelled); the interval [low, high] contains the
// value that the exact function returns with probability at least the
// confidence C over the draw, whatever the data (doc/sampling.md gives the
// argument). A drawn distance is bit for bit the distance the exact
// computation takes for that pair, and the same seed gives the same pairs,
// and so the same bits, for every thread count and every front end.

// A pair of samples by index. For pooled and cross, y's sample j is index
// n + j. first < second within and pooled; first < n <= second across.
struct pair_index {
  std::uint64_t first = 0;
  std::uint64_t second = 0;
};

// N, the pairs a median over n samples of x (and n_y of y) takes, as kind
// says: n(n-1)/2 within; (n + n_y)(n + n_y - 1)/2 pooled; n * n_y across.
// When N does not fit 64 bits: 0, and *overflow (when given) true.
std::uint64_t pair_count(std::size_t n, std::size_t n_y, pairing kind,
                         bool* overflow = nullptr) noexcept;

// How to sample: M = draws (1 to 2^63), the seed, and the confidence C in
// (0, 1) that the interval contains the exact value.
struct sampling {
  std::uint64_t draws = 0;
  std::uint64_t seed = 0;
  double confidence = 0.99;
};

// Draws how.draws pairs uniformly, with replacement, from the N pairs into
// out[0..how.draws) (how.confidence is not used). Pair k depends only on
// (how.seed, k, n, n_y, kind): its words come from SplitMix64 started at a
// mix of the seed and k, each bounded by Lemire's multiply-and-reject
// method (no bias); within and pooled, an ordered pair of different
// samples is drawn and put in increasing order, across one sample of each
// set. So any thread count (0: every core), and every front end, draws the
// same pairs. Errors: no_samples (N = 0), too_many_pairs, out_of_memory
// (threads only).
error draw_pairs(std::size_t n, std::size_t n_y, pairing kind,
                 const sampling& how, pair_index* out,
                 unsigned threads = 0) noexcept;

// The samples that the drawn pairs need, in increasing index order, into
// rows (room for 2 * count), their number into *kept; each pair renumbered
// in place into rows' positions. For pooled and cross, x's rows come
// first, then y's (index n + j): a reader stacks the kept rows of x, then
// those of y. Linear in count while the largest index is at most 128
// count (a bit table over the indices), O(count log count) beyond.
error keep_rows(pair_index* pairs, std::uint64_t count, std::uint64_t* rows,
                std::uint64_t* kept) noexcept;

// D, an upper bound on every distance the library computes between the
// samples (over the given columns), from each column's minimum and maximum
// over all samples (of x and y): sqrt of the sum of the squared ranges,
// every operation rounded upward. As round-to-nearest is monotone, no
// computed distance exceeds it. A reader gathers the minima and maxima
// while streaming. NaN when a minimum or maximum is NaN; +inf when one is
// infinite. Two samples whose pair is taken holding the same infinity in a
// column also give a NaN distance: a reader that sees that passes NaN as
// the bound below.
double distance_bound(const double* column_min, const double* column_max,
                      std::size_t cols) noexcept;

// One end of an interval, in the three parameters of the kernel. width,
// sigma and gamma are the exact functions' formulas applied to value: as
// rounding is monotone, the exact result's width and sigma lie between the
// ends' and its gamma between low.gamma and high.gamma. gamma reverses the
// order: low.gamma = gamma_of(high.width), high.gamma = gamma_of(low.width).
struct interval_end {
  double value = 0.0;  // the distance (quantiles) or mean distance (labelled)
  double width = 0.0;  // 2 value^2
  double sigma = 0.0;  // value itself
  double gamma = 0.0;  // see above
  // Quantiles: the rank among the M drawn distances sorted (0 the smallest)
  // that gives value; unused when trivial, and for labelled.
  std::uint64_t rank = 0;
  // The end is the trivial bound: 0 (low) or D (high; for the mean, D
  // widened by labelled()'s rounding), as no order statistic (or, for the
  // mean, no bound inside [0, D]) reaches the confidence.
  bool trivial = false;
};

// A quantile from the drawn distances: the estimate is numpy's quantile of
// the M drawn distances (its ranks among the M), the interval brackets
// quantiles()'s exact value for the same probability.
struct sampled_quantile {
  quantile estimate;
  interval_end low;
  interval_end high;
};

// What a sampled quantile run used and found: n, n_y, columns; N
// (population), M, seed and C echoed, and the bound D. nan: a distance is
// NaN (the exact result is NaN), and so is every value.
struct sampled_selection {
  std::size_t n = 0;
  std::size_t n_y = 0;
  std::size_t columns = 0;
  std::uint64_t population = 0;  // N
  std::uint64_t draws = 0;       // M
  std::uint64_t seed = 0;
  double confidence = 0.0;
  double bound = 0.0;  // D
  bool nan = false;
  error status = error::none;
};

// labelled()'s mean from drawn pairs i < l: the estimate is their plain
// mean, d_0 + d_1 + ... + d_{M-1} added in draw order, divided by M (the
// same for every thread count); the interval brackets labelled()'s mean,
// from an empirical Bernstein bound (Maurer and Pontil 2009, Theorem 4)
// for variables in [0, D], widened by labelled()'s own rounding.
struct sampled_labelled {
  std::size_t n = 0;
  std::size_t columns = 0;  // the columns that count
  std::uint64_t population = 0;  // N, the pairs i < l
  std::uint64_t draws = 0;       // M
  std::uint64_t seed = 0;
  double confidence = 0.0;
  double bound = 0.0;  // D
  double mean = 0.0;   // the estimate; width, sigma, gamma as labelled()'s
  double width = 0.0;
  double sigma = 0.0;
  double gamma = 0.0;
  bool zero_width = false;
  interval_end low;
  interval_end high;
  error status = error::none;
};

// The samples to draw pairs from, and how.
struct sampled_pairs {
  sample_pairs samples;
  sampling how;
};

// The in-memory entry points (Python and R call these): draw_pairs(), then
// the *_of functions below on all the rows, so that every front end gives
// the same bits. Probabilities as quantiles() takes them.
sampled_selection sampled_quantiles(
    const sampled_pairs& drawn, const double* p, std::size_t count,
    sampled_quantile* out, unsigned threads = 0,
    const std::atomic<bool>* cancel = nullptr) noexcept;
sampled_labelled sampled_mean(matrix_view samples, std::size_t first_column,
                              const sampling& how, unsigned threads = 0,
                              const std::atomic<bool>* cancel = nullptr) noexcept;

// The drawn pairs over the rows they need (keep_rows()), and what the
// whole data set gives: for the programs, which never hold all the rows.
struct drawn_sample {
  matrix_view rows;  // the kept rows: x's, then y's (pooled and cross)
  const pair_index* pairs = nullptr;  // how.draws pairs, indices into rows
  sampling how;
  std::uint64_t population = 0;  // N (pair_count())
  double bound = 0.0;            // D (distance_bound()); NaN: the data
                                 // give a NaN distance
  std::size_t n = 0;             // the samples of x and y, echoed
  std::size_t n_y = 0;
};

sampled_selection sampled_quantiles_of(
    const drawn_sample& sample, const double* p, std::size_t count,
    sampled_quantile* out, unsigned threads = 0,
    const std::atomic<bool>* cancel = nullptr) noexcept;
sampled_labelled sampled_mean_of(
    const drawn_sample& sample, std::size_t first_column,
    unsigned threads = 0,
    const std::atomic<bool>* cancel = nullptr) noexcept;

// The distance of two samples a and b, cols values each, bit for bit as
// the drawn distances above are computed: the squares of the differences
// added in column order, then the square root.
double pair_distance(const double* a, const double* b,
                     std::size_t cols) noexcept;

// The M drawn distances already computed, distances[k] = pair_distance()
// of drawn pair k, and what the whole data set gives: for a reader that
// computes each pair as its rows stream by instead of holding the rows.
struct computed_distances {
  double* distances = nullptr;  // how.draws values; the quantiles reorder
  sampling how;
  std::uint64_t population = 0;  // N
  double bound = 0.0;            // D, as drawn_sample's
  std::size_t n = 0;
  std::size_t n_y = 0;
  std::size_t columns = 0;  // the columns that count
};

// The same results, bit for bit, as the *_of functions on the rows.
sampled_selection sampled_quantiles_from(const computed_distances& sample,
                                         const double* p, std::size_t count,
                                         sampled_quantile* out) noexcept;
sampled_labelled sampled_mean_from(const computed_distances& sample) noexcept;

}  // namespace kernel_width
