// The median of the distances d(i, l), i < l, of packed samples
// (median_select.h), each pass computing every pair once on all threads.
// The first window comes from the distances of a few rows spread over the
// data, so most data need two passes: one to count, one to collect.
#pragma once

#include "cpu.h"
#include "median_select.h"
#include "packed.h"
#include "threads.h"

namespace kernel_width::detail {

// On threads (0: available_threads()), with the kernels of set. The control
// counts n(n-1)/2 pairs per pass; a cancelled run gives NaN with cancelled
// set. Fewer than two samples give -NaN.
median_result pair_median(const packed& s, unsigned threads, isa set,
                          const run_control& control = {},
                          const select_limits& limits = {});

}  // namespace kernel_width::detail
