// One run of an MPI program, the same options, output, messages and exit
// status as the plain program: every rank parses the command line, rank 0
// reads the data file and prints, every rank computes its share, and every
// rank ends with the same status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "command_line.h"
#include "kernel_width/engine.h"
#include "progress.h"
#include "ranks.h"
#include "shared_samples.h"

// How the samples of a run lie in the packed copy every rank holds: one
// data file's (n_y 0); or, with the median's two files, the first file's
// n_x samples then the second's n_y, pooled, or across (the second file's
// panels after the first's).
struct sample_layout {
  std::uint64_t n_x = 0;
  std::uint64_t n_y = 0;
  bool across = false;
};

struct mpi_program {
  const char* name;  // as the plain program names itself
  const char* help;  // the plain program's
  program_kind kind;  // which program's options
  // Adjusts the options as the plain program reads its data file; returns
  // the first column that counts.
  std::size_t (*reading)(options& opts);
  // Computes on every rank and, on rank 0, ends the progress line and
  // prints the width; returns the exit status (rank 0's counts), every
  // rank taking part in every collective.
  int (*run)(const kernel_width::packed_samples& s,
             const sample_layout& layout, const shared_samples& shared,
             const kernel_width::piece_workers& w, const options& opts,
             progress& line);
  // Passes over the n(n-1)/2 pairs, for rank 0's progress line: it counts
  // its own pairs as they are computed and the other ranks' as they are
  // dealt to them.
  unsigned passes;
  // The plain program's run, for a launch of one rank: with no other rank
  // to talk to, it does without MPI.
  int (*alone)(options opts);
  // Rank 0's reading of two data files (the median's), in one packed copy
  // as `layout` says; null, or one data file: the plain program's reading
  // of one, while MPI starts.
  std::optional<kernel_width::packed_samples> (*read_pairs)(
      const options& opts, std::size_t first, sample_layout& layout) = nullptr;
};

// The end of an mpi_program's run: ends the progress line and, on rank 0,
// prints the statistics with finish (the plain program's), out of memory
// on any rank included; status is the ranks' agreed step.
template <class Statistics>
int finish_on_root(int status, Statistics statistics, progress& line,
                   int (*finish)(const Statistics&, const options&),
                   const options& opts) {
  line.finish();
  if (!root()) return 0;
  if (status == step_no_memory)
    statistics.status = kernel_width::error::out_of_memory;
  else if (status != step_ok)
    return 1;
  return finish(statistics, opts);
}

// MPI_Init to MPI_Finalize; returns the exit status.
int run_mpi_program(int argc, char** argv, const mpi_program& program);
