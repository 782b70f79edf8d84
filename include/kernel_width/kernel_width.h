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
// The environment variable KERNEL_WIDTH_ISA (base, avx2, avx512), read once
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
};

// The programs' words for an error: "no samples", "no feature values",
// "no rows to search", "no key on the line", "no divisor after the key",
// "out of memory", "unknown or unsupported instruction set in
// KERNEL_WIDTH_ISA", "cancelled"; "" for none.
const char* describe(error e) noexcept;

// The library's version, as the programs' --version prints it ("1.0.0").
const char* version() noexcept;

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
  error status = error::none;
};

labelled_statistics labelled(
    matrix_view samples, std::size_t first_column, unsigned threads = 0,
    const std::atomic<bool>* cancel = nullptr) noexcept;

// The median heuristic: the median of the n(n-1)/2 distances d(i, l), i < l,
// over all columns, exactly as numpy's median of them gives it (the middle
// value, or (a + b) / 2 of the two middle values; NaN when a distance is
// NaN), and the width 2 median^2. Found in a few passes over the pairs,
// without storing the distances.
struct median_statistics {
  std::size_t n = 0;
  std::size_t columns = 0;
  std::uint64_t pairs = 0;  // n(n-1)/2
  double median = 0.0;      // NaN for fewer than two samples
  double width = 0.0;
  error status = error::none;
};

median_statistics median(matrix_view samples, unsigned threads = 0,
                         const std::atomic<bool>* cancel = nullptr) noexcept;

}  // namespace kernel_width
