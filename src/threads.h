// Work shared out over threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "cpu.h"
#include "kernel_width/engine.h"

namespace kernel_width::detail {

// Pairs computed so far, for a progress report.
using pair_counter = std::atomic<std::uint64_t>;

using kernel_width::run_control;

// How a computation runs on this machine: its kernels, how many threads
// (0: available_threads()), and what the caller watches.
struct workers {
  isa set = isa::base;
  unsigned threads = 0;
  run_control control;
};

// The units of work (bands of pairs, rows) that part `part` of `parts`
// takes, in increasing order: dealt out 0, 1, .., parts-1, parts-1, .., 0,
// 0, 1, .., so that the parts get about as much work when the units' cost
// falls steadily, as band b's pairs do. For units dealt out once and for
// all, such as the doubtful rows over the ranks of a cluster; bands go to
// whichever thread or rank asks first (unit_source).
std::vector<std::size_t> share(std::size_t units, unsigned parts,
                               unsigned part);

using kernel_width::unit_source;

// The given units in order, to whichever thread asks first; next counts
// the units taken and must outlive the source.
unit_source in_order(const std::vector<std::size_t>& units,
                     std::atomic<std::size_t>& next);

// Runs work(t) for t = 0..threads-1, each on its own thread (0 on the
// calling thread). A thread that cannot be started is left out, so the
// work must be shared out as the threads ask for it; the calling thread
// always runs.
void run_threads(unsigned threads, const std::function<void(unsigned)>& work);

}  // namespace kernel_width::detail
