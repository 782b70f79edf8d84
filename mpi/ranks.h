// The ranks of MPI_COMM_WORLD as the MPI programs use them: rank 0 reads,
// prints and settles; every rank computes its share. The helpers only move
// data; what each rank hands to MPI is counted for the benchmark.
#pragma once

#include <mpi.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>

// What a step ended with on one rank. Every rank takes the worst over the
// ranks (agree) before a collective that a failed rank would skip, so that
// none is left waiting.
enum step : int {
  step_ok = 0,
  step_failed = 1,     // rank 0 has printed why
  step_usage = 2,      // a usage error, printed by rank 0
  step_no_memory = 3,  // some rank ran out of memory; rank 0 says so
};

int rank();
int ranks();
inline bool root() { return rank() == 0; }

// Ranks other than 0 write nothing to standard output or error from here
// on (the command line is parsed on every rank; rank 0 speaks for all).
void silence_others();
// Lets this rank write to standard error again.
void speak();

// The worst status over the ranks.
int agree(int status);
// The lowest rank for which failed holds, or ranks() when none.
int first_failing(bool failed);

// The first rank's bytes at data, to every rank of among.
void broadcast(void* data, std::size_t bytes, MPI_Comm among = MPI_COMM_WORLD);
template <class T>
void broadcast(T& value) {
  broadcast(&value, sizeof value);
}

// Reduces count doubles onto rank 0's data: combine(total, partial, k)
// takes any range of k of them into total, and the result must not depend
// on the order (as adding row sums to zeros does not).
using combining = void (*)(double*, const double*, std::size_t);
void reduce_to_root(double* data, std::size_t count, combining combine);

// Each rank's `bytes` bytes at data, to rank 0's out in rank order;
// counts[p] is rank p's (on rank 0 only).
void gather_to_root(const void* data, std::size_t bytes, void* out,
                    const std::size_t* counts);

// Runs work; step_no_memory when memory runs out.
template <class Work>
int guarded(Work work) {
  try {
    work();
    return step_ok;
  } catch (const std::bad_alloc&) {
    return step_no_memory;
  } catch (const std::length_error&) {
    return step_no_memory;
  }
}

// Counts bytes this rank handed to MPI outside the helpers above.
void count_sent(std::uint64_t bytes);

// Starts a new stage of the byte count; the bytes this rank handed to MPI
// in the one before it are kept under its name.
void stage(const char* name);
// When KERNEL_WIDTH_MPI_BYTES is set: one line per rank on standard error,
// "program: rank R sent: NAME BYTES, ...".
void report_bytes(const char* program);
