// The vectorised distance kernel over samples packed in panels. Every
// distance equals bit for bit what distance_row (table.h) computes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "table.h"

// Instruction set levels of the kernel, chosen at run time.
constexpr int isa_base = 0;    // plain x86-64 (SSE2)
constexpr int isa_avx2 = 1;    // AVX2
constexpr int isa_avx512 = 2;  // AVX-512F

// True when this CPU runs kernel level isa.
bool isa_supported(int isa);

// The best level this CPU runs.
int best_isa();

// Threads the process may run on (its CPU affinity), at least 1.
unsigned available_threads();

// Samples per panel of the packed layout.
constexpr std::size_t panel_width = 8;

// Samples packed in panels of 8: panel p holds samples 8p..8p+7, column by
// column, 8 values per column. The last panel is padded with copies of the
// last sample; panels is never empty.
struct packed {
  std::vector<double> panels;
  std::size_t n = 0;     // samples
  std::size_t cols = 0;  // columns of each sample
  std::size_t count() const { return (n + panel_width - 1) / panel_width; }
  std::size_t padded() const { return count() * panel_width; }
};

// Packs the columns from `first` on. Every row must hold as many values as
// row 0.
packed pack(const Table& data, std::size_t first);

// Packs columns first..width-1 of n rows of a row-major array whose row r
// starts at data + r * stride.
packed pack(const double* data, std::size_t n, std::size_t width,
            std::size_t stride, std::size_t first);

// The terms a pass adds up: distances, or square(distance - mean).
struct terms {
  bool centred = false;
  double mean = 0.0;
};

// Rows first..first+count-1.
struct row_span {
  std::size_t first = 0;
  std::size_t count = 0;
};

// The terms of the given rows against samples 0..padded()-1:
// out[r * stride + l] for row first + r and sample l, each distance's sum
// taken in column order. stride >= padded().
void distance_rows(int isa, const packed& s, row_span rows, terms t,
                   double* out, std::size_t stride);

// Where form_band puts the terms it rounds, one array pair per thread,
// indexed by row (padded() entries each).
struct grid_sums {
  const double* grids;  // the grid (grid.h) each row's terms are rounded to
  double* sum;          // the rounded terms added up, exactly
  double* off;          // the largest |term - rounded term|: u/2 on a tie
};

// For each pair i < l with i in band b (samples 8b..8b+7): the term of
// (i, l), which is also that of (l, i), rounded to row i's grid into
// sums[i] and to row l's grid into sums[l].
void form_band(int isa, const packed& s, std::size_t b, terms t,
               grid_sums sums);

// Pairs computed so far, for a progress report; nullptr for none.
using pair_counter = std::atomic<std::uint64_t>;

// The pairs i < l with i in band b.
std::uint64_t band_pairs(const packed& s, std::size_t b);

// The sum of the distances over all ordered pairs of different samples, in
// the order that distance_total documents; the same for every thread
// count. threads 0 means available_threads().
double pair_total(const packed& s, unsigned threads, int isa,
                  pair_counter* done = nullptr);

// Runs work(t) for t = 0..threads-1, each on its own thread (0 on the
// calling thread). A thread that cannot be started is left out, so the
// work must be shared out as the threads ask for it; the calling thread
// always runs.
void run_threads(unsigned threads, const std::function<void(unsigned)>& work);
