// labelled_kernel_width's total over the ranks, each rank on its threads:
// every rank computes the row sums of the bands it takes (labelled_total.h)
// and sends them to rank 0, which adds them in row order.
#pragma once

#include "kernel_width/engine.h"
#include "shared_samples.h"

// The statistics, on rank 0, equal bit for bit to labelled()'s on one
// machine; w.threads per rank. The bands come from the counter the ranks
// share when one machine holds them all, from rank 0 otherwise. A step
// status agreed by every rank.
int labelled_on_ranks(const kernel_width::packed_samples& s,
                      const shared_samples& shared,
                      const kernel_width::piece_workers& w,
                      kernel_width::labelled_statistics& statistics);
