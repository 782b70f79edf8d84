// The bands of pairs handed out to the ranks as they ask for them, so that
// a rank on a slower or busier core takes fewer, as the threads of one
// machine do. Rank 0's main thread deals; another rank's main thread asks
// for more when its threads are about to run out; every rank's threads
// compute. Which rank computes a band never changes a result: the band
// results are put back in band order (labelled) or added exactly in any
// order (form).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "kernel_width/engine.h"

// Bands first .. first + count - 1.
struct band_range {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
};

// What one dealing left: on rank 0, the ranges each other rank computed,
// in the order they were dealt; on another rank, its own (at its rank).
// Rank 0's own bands are not recorded: it computes them in place.
struct dealt {
  std::vector<std::vector<band_range>> ranges;  // by rank
  int status = 0;                               // a step of this rank's
};

// Deals bands 0 .. bands - 1 over the ranks, band b holding band_pairs(b)
// pairs: runs compute(next) on a thread of this rank's own, with `threads`
// threads of its own to give the bands next hands out, while the main
// thread fetches (or, on rank 0, deals) them. Every rank takes part, and
// calls compute once. control.done counts, on rank 0, the pairs of the
// bands dealt to the other ranks, as they are dealt (compute counts its
// own). status is step_no_memory when compute ran out of memory on this
// rank.
dealt deal_bands(
    std::size_t bands,
    const std::function<std::uint64_t(std::size_t band)>& band_pairs,
    unsigned threads,
    const std::function<void(const kernel_width::unit_source&)>& compute,
    const kernel_width::run_control& control);
