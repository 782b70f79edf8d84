// The median's and the quantiles' passes over the ranks: rank 0 runs the
// library's selection engine, which makes its first plan from the samples
// as on one machine, and sends each pass's plan to every rank; every rank
// tallies the bands dealt to it on its threads; the partial results come
// back to rank 0 and are merged there (counts add, bucket bounds take their
// minimum and maximum, kept values are those of the windows that every
// rank kept whole: exact in any order).
#pragma once

#include "kernel_width/engine.h"
#include "median_width.h"

// The median or the quantiles the options ask for, on rank 0, equal bit for
// bit to the plain program's; the other ranks take part in every pass.
// rows: x, or x then y pooled; cols: y across, else null. A step status
// agreed by every rank.
int median_on_ranks(const kernel_width::packed_samples& rows,
                    const kernel_width::packed_samples* cols,
                    const kernel_width::selection_shape& shape,
                    const kernel_width::piece_workers& w, const options& opts,
                    median_findings& out);
