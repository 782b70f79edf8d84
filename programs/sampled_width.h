// The median, quantiles and labelled mean from a sample of pairs
// (--sample M): the estimate on standard output as the exact run prints
// it, and with --verbose the interval that holds the exact value with
// probability at least the confidence. A regular file is read to count
// its samples, then again for the drawn pairs' distances (once per block
// of rows that fits the budget), so that memory does not grow with it;
// standard input and pipes are held as the exact run holds them. Both give
// the same bytes.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "command_line.h"
#include "kernel_width/kernel_width.h"

// The --verbose lines after each width: line: low and high in the chosen
// output, the confidence, M, N, the seed and, for a quantile (quantile
// set), the ranks of the ends among the M drawn distances ("none" for an
// end that is the trivial bound, and for no pairs).
std::vector<std::pair<std::string, std::string>> interval_lines(
    const kernel_width::interval_end& low,
    const kernel_width::interval_end& high, output_kind output,
    const kernel_width::sampling& how, std::uint64_t population,
    bool quantile);

// median_kernel_width --sample: reads the data files named in opts (the
// columns from `first` on), draws, computes and prints. Returns the exit
// status.
int run_sampled_median(const options& opts, std::size_t first);

// labelled_kernel_width --sample, as run_sampled_median.
int run_sampled_labelled(const options& opts, std::size_t first);
