// form_kernel_width's mean and variance of all n*n distances, bit for bit
// as distance_mean and distance_variance (table.h) give them, with each
// pair's distance computed once per pass and every thread busy.
#pragma once

#include <cstddef>

#include "block.h"

// How a pass settled its rows: most add up on their predicted grid; these
// were summed again in order.
struct pass_rows {
  std::size_t again = 0;     // on all threads: a tie, or a wrong grid
  std::size_t replayed = 0;  // from the exact sum: the row left its binade
};

struct moments {
  double mean = 0.0;
  double variance = 0.0;
  pass_rows mean_rows;
  pass_rows variance_rows;
};

// threads 0 means available_threads(); the result is the same for every
// thread count. No samples give NaN for both. done counts 2 n(n-1)/2 pairs.
moments form_moments(const packed& s, unsigned threads, int isa,
                     pair_counter* done = nullptr);
