// form_kernel_width's two passes over the ranks, each rank on its threads:
// rank 0 drives the library's steps (engine_sums.h), each sent to every
// rank as bytes; every rank computes the units of the step dealt to it,
// and rank 0 merges what they send back.
#pragma once

#include "kernel_width/engine.h"

// The statistics, on rank 0, equal bit for bit to form()'s on one machine;
// w.threads per rank (0: the cores the rank may run on). A step status
// agreed by every rank.
int form_on_ranks(const kernel_width::packed_samples& s,
                  const kernel_width::piece_workers& w,
                  kernel_width::form_statistics& statistics);
