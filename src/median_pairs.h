// The median of the distances d(i, l), i < l, of packed samples
// (median_select.h), each pass computing every pair once on all threads.
// The first window, and the values it keeps, come from the distances of
// random tiles of pairs; the middle is nearly always among them, so most
// data need one pass.
#pragma once

#include "cpu.h"
#include "median_select.h"
#include "packed.h"
#include "threads.h"

namespace kernel_width::detail {

// On threads (0: available_threads()), with the kernels of set. The control
// counts the n(n-1)/2 pairs of the first pass (most data need no other),
// and a cancelled run gives NaN with cancelled set. Fewer than two samples
// give -NaN.
median_result pair_median(const packed& s, unsigned threads, isa set,
                          const run_control& control = {},
                          const select_limits& limits = {});

}  // namespace kernel_width::detail
