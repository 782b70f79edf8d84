// The median's and the quantiles' passes over the ranks: rank 0 runs the
// library's selection, as on one machine, and sends each pass's plan to
// every rank; every rank tallies the bands dealt to it on its threads; the
// tallies are added up on rank 0 (counts add, bucket bounds take their
// minimum and maximum: exact in any order), and the kept values of the
// windows that rank 0 can pick from are gathered there.
#pragma once

#include <cstddef>

#include "median_width.h"
#include "pair_set.h"
#include "threads.h"

// The median or the quantiles the options ask for, on rank 0, equal bit for
// bit to the plain program's; the other ranks take part in every pass. A
// step status agreed by every rank.
int median_on_ranks(const kernel_width::detail::pair_set& pairs,
                    std::size_t n_y, const kernel_width::piece_workers& w,
                    const options& opts, median_findings& out);
