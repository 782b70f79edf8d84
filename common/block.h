// Fast exact distance statistics: a vectorised distance kernel over samples
// packed in panels, and the thread pipelines of both programs. Every result
// equals bit for bit the scalar reference functions of table.h.
#pragma once

#include <cstddef>
#include <vector>

#include "table.h"

// Instruction set levels of the distance kernel, chosen at run time.
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

// Copies columns from `first` on into panels of 8 samples: panel p holds
// samples 8p..8p+7, column by column, 8 values per column. The last panel is
// padded with copies of the last sample. Every row must hold as many values
// as row 0.
std::vector<double> pack(const Table& data, std::size_t first);

// Distances from samples i..i+rows-1 to samples 0..8P-1 (P panels, padding
// included): out[r * stride + l] = distance(i + r, l), each sum taken in
// column order exactly as distance_row takes it. stride >= 8P. When centred,
// stores square(distance - mean) instead.
void distance_rows(int isa, const double* panels, std::size_t n,
                   std::size_t cols, std::size_t i, std::size_t rows,
                   double* out, std::size_t stride, bool centred = false,
                   double mean = 0.0);

// Bytes the form pipeline's ring of units may take.
std::size_t ring_budget(std::size_t n, std::size_t cols);

// Rows computed together by the form pipeline: wide samples need more, so
// that each cached chunk of panels serves more rows; many samples fewer, to
// bound the ring's memory.
std::size_t unit_rows(std::size_t n, std::size_t cols);

// The sum of all n*n distances (centred: of square(distance - mean)), added
// one by one row by row and entry by entry from 0.0, as distance_mean and
// distance_variance add them. threads 0 means available_threads(); the
// result is the same for every thread count.
double chain_sum(const std::vector<double>& panels, std::size_t n,
                 std::size_t cols, unsigned threads, int isa, bool centred,
                 double mean);

// The sum of the distances over all ordered pairs of different samples, in
// the order that distance_total documents; the same for every thread count.
double pair_total(const std::vector<double>& panels, std::size_t n,
                  std::size_t cols, unsigned threads, int isa);

// form_kernel_width's mean and variance of all n*n distances, bit for bit as
// distance_mean and distance_variance give them.
void form_moments(const std::vector<double>& panels, std::size_t n,
                  std::size_t cols, unsigned threads, int isa, double& mean,
                  double& variance);
