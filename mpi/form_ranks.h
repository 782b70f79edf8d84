// form_kernel_width's two passes over the ranks, each rank on its threads:
// the library's steps (form_passes.h), with only samples' grids, partial
// row sums, doubtful rows and the mean moving between ranks.
#pragma once

#include "kernel_width/kernel_width.h"
#include "packed.h"
#include "threads.h"

// The statistics, on rank 0, equal bit for bit to detail::form's on one
// machine; w.threads per rank (0: the cores
// the rank may run on), as form_threads() allows. A step status agreed by every
// rank.
int form_on_ranks(const kernel_width::detail::packed& s,
                  const kernel_width::piece_workers& w,
                  kernel_width::form_statistics& statistics);
