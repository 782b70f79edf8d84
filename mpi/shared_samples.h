// One copy of the samples for the ranks of a machine, in memory they share:
// two copies would compete for the caches that the cores share, and a
// machine of many ranks would hold as many copies. Each machine's first
// rank receives the samples and the others map its copy. When one machine
// holds every rank, a counter there hands the bands out with no messages.
#pragma once

#include <mpi.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

// The start of the shared memory; the samples follow it.
struct shared_header {
  std::atomic<std::uint64_t> next_band{0};  // the next band to compute
  std::atomic<std::uint64_t> pairs{0};  // computed off rank 0, not yet counted
};

struct shared_samples {
  MPI_Comm machine = MPI_COMM_NULL;  // the ranks that share this copy
  MPI_Comm firsts = MPI_COMM_NULL;   // each copy's first rank, on those
  void* base = nullptr;              // the mapping; nullptr: own copies
  std::size_t bytes = 0;
  bool one_machine = false;  // every rank shares this copy

  shared_samples() = default;
  shared_samples(const shared_samples&) = delete;
  shared_samples& operator=(const shared_samples&) = delete;
  ~shared_samples();

  shared_header& header() const { return *static_cast<shared_header*>(base); }
  double* values() const;
};

// Maps shared memory for `values` doubles on the ranks of each machine (at
// most KERNEL_WIDTH_MPI_SHARE consecutive ranks of it, when set; 1 shares
// none). Every rank takes part; true on every rank, or false on every rank
// and nothing mapped when some machine could not have it: those ranks keep
// copies of their own.
bool share_on_machines(std::size_t values, shared_samples& shared);
