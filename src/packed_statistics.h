// The statistics of samples already packed, as the programs hold them,
// watched and stopped through a run_control; on the instruction set
// selected_isa() chose. Errors are values, as in the public header.
#pragma once

#include "kernel_width/kernel_width.h"
#include "packed.h"
#include "pair_set.h"
#include "rank_passes.h"
#include "threads.h"

namespace kernel_width::detail {

form_statistics form(const packed& s, unsigned threads,
                     const run_control& control) noexcept;

labelled_statistics labelled(const packed& s, unsigned threads,
                             const run_control& control) noexcept;

// The control counts the pairs of the first pass over the pairs; most data
// need no other. n_y: the samples of a second set, pooled as the last n_y
// of pairs.rows, or across in pairs.cols (for the results' counts).
median_statistics median(const packed& s, unsigned threads,
                         const run_control& control) noexcept;
// The same over a pair set with the passes an engine runs (rank_passes.h:
// this machine's threads, or a cluster's).
median_statistics median(const pair_set& pairs, std::size_t n_y,
                         const rank_engine& engine) noexcept;
selection order_statistics(const pair_set& pairs, std::size_t n_y,
                           const std::uint64_t* ranks, std::size_t count,
                           double* values, const rank_engine& engine) noexcept;
selection quantiles(const pair_set& pairs, std::size_t n_y, const double* p,
                    std::size_t count, quantile* out,
                    const rank_engine& engine) noexcept;
// The statistics from a computation's sums, whichever engine ran it: the
// mean and variance of the n * n distances (form), or the total over the
// ordered pairs of different samples (labelled).
form_statistics form_of(std::size_t n, std::size_t cols, double mean,
                        double variance) noexcept;
labelled_statistics labelled_of(std::size_t n, std::size_t cols,
                                double total) noexcept;

}  // namespace kernel_width::detail
