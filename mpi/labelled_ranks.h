// labelled_kernel_width's total over the ranks, each rank on its threads:
// every rank computes the row sums of its share of the bands
// (labelled_total.h) and sends them to rank 0, which adds them in row order.
#pragma once

#include "kernel_width/kernel_width.h"
#include "packed.h"
#include "threads.h"

// The statistics, on rank 0, equal bit for bit to detail::labelled's on one
// machine; w.threads per rank. A step status agreed by every rank.
int labelled_on_ranks(const kernel_width::detail::packed& s,
                      const kernel_width::detail::workers& w,
                      kernel_width::labelled_statistics& statistics);
