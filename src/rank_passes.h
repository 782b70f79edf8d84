// The distances at chosen ranks of a pair set (pair_set.h), found in a few
// passes over the pairs on all threads (rank_select.h), without storing the
// distances. The passes tally squared distances; the values found are
// their correctly rounded roots, the distances bit for bit.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "cpu.h"
#include "pair_set.h"
#include "rank_select.h"
#include "threads.h"

namespace kernel_width::detail {

// What a selection found: the distance at each rank asked for, in the
// order asked; how many distances are NaN (the values are then not set);
// and whether it was cancelled or stopped narrowing (a fault of ours).
struct ranks_found {
  std::vector<double> values;
  std::uint64_t nan = 0;
  unsigned passes = 0;
  bool cancelled = false;
  bool stalled = false;
};

// ranks: increasing, each below pairs.count(). The control counts the
// pairs of the first pass (most data need no other).
ranks_found pair_ranks(const pair_set& pairs,
                       const std::vector<std::uint64_t>& ranks,
                       unsigned threads, isa set,
                       const run_control& control = {},
                       const select_limits& limits = {});

// How many of the distances are 0, in one pass; nothing when cancelled.
std::uint64_t zero_pairs(const pair_set& pairs, unsigned threads, isa set,
                         const run_control& control, bool& cancelled);

// The same with the passes run by `pass`, as an engine that shares them
// out over machines runs them: the first plan from a sample on this
// machine's threads, then the selection, the values' roots.
ranks_found find_ranks(const pair_set& pairs,
                       const std::vector<std::uint64_t>& ranks,
                       unsigned threads, isa set, const pass_function& pass,
                       const select_limits& limits = {});

// A selection over squared distances as the distances: each value's
// correctly rounded root.
ranks_found distances_of(const ranks_result& r);

// The plan of a pass that counts the distances at 0 (its window's inside).
pass_plan zero_plan();

// How a selection's passes run: on this machine's threads, or shared out
// over the machines of a cluster.
struct rank_engine {
  // The distances at ranks (increasing, each below the pairs' count).
  std::function<ranks_found(const std::vector<std::uint64_t>& ranks)> find;
  // How many of the distances are 0; false when cancelled.
  std::function<bool(std::uint64_t& zeros)> zeros;
};

// The engine of this machine's threads; pairs must outlive it.
rank_engine local_engine(const pair_set& pairs, unsigned threads, isa set,
                         const run_control& control);

// One pass's share of the work, for an engine that deals the bands itself:
// the bands `next` hands out, on w.threads threads (at least 1), tallied
// against the plan into out (its tally reset for the plan and its kept
// values sized, as select_ranks hands it over). False when cancelled.
bool tally_bands(const pair_set& pairs, const pass_plan& plan,
                 const unit_source& next, const workers& w, pass_result& out);

// The threads a pass runs on: at most w.threads (0: every core), never
// more than bands, and as many as keep their buckets in 32 MiB.
unsigned pass_threads(const pair_set& pairs, unsigned threads,
                      const select_limits& limits = {});

}  // namespace kernel_width::detail
