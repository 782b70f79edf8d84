// One run of an MPI program, the same options, output, messages and exit
// status as the plain program: every rank parses the command line, rank 0
// reads the data file and prints, every rank computes its share, and every
// rank ends with the same status.
#pragma once

#include <cstddef>
#include <cstdint>

#include "command_line.h"
#include "packed.h"
#include "progress.h"
#include "threads.h"

struct mpi_program {
  const char* name;  // as the plain program names itself
  const char* help;  // the plain program's
  bool table;        // whether --table is an option
  // Adjusts the options as the plain program reads its data file; returns
  // the first column that counts.
  std::size_t (*reading)(options& opts);
  // Computes on every rank and, on rank 0, ends the progress line and
  // prints the width; returns the exit status (rank 0's counts), every
  // rank taking part in every collective.
  int (*run)(const kernel_width::detail::packed& s,
             const kernel_width::detail::workers& w, const options& opts,
             progress& line);
  // Passes over the n(n-1)/2 pairs, for rank 0's progress line: it counts
  // its own pairs as they are computed and the other ranks' as they are
  // dealt to them.
  unsigned passes;
};

// MPI_Init to MPI_Finalize; returns the exit status.
int run_mpi_program(int argc, char** argv, const mpi_program& program);
