// Rank 0 reads its data file while MPI starts: MPI_Init takes a tenth of a
// second or more (seconds on a large cluster), and reading a large file
// about as long. Before MPI_Init only the launcher's environment says
// which rank a process is to be, so a child process forked then reads, and
// hands rank 0 the packed samples and its messages once MPI has started.
// A process of its own, not a thread: MPI_Init rewrites memory functions
// in place, which a thread in the middle of one would not survive.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>

#include "command_line.h"
#include "kernel_width/engine.h"
#include "session.h"

struct early_read {
  pid_t child = -1;  // none started
  int from = -1;     // the pipe's end that the samples come through
};

// Forks the reading child when this process is to be rank 0 and its
// command line runs, before MPI_Init; writes nothing. Standard input, and
// two data files (the median's, read by the program), are left to rank 0
// itself.
void start_early_read(early_read& e, int argc, char** argv,
                      const mpi_program& p);

// Rank 0's samples as read_packed gives them, its messages written now,
// where the plain program writes them: from the child when it read them,
// read here otherwise. When the child fails (killed, out of memory) on a
// file that is not a regular one (a FIFO, a pipe, /dev/stdin), what it
// took of the stream is gone: nothing, after a message saying so, rather
// than the rest of the stream taken for the whole.
std::optional<kernel_width::packed_samples> read_on_root(
    early_read& e, const mpi_program& p, const options& opts,
    std::size_t first);

// Ends the child, if any is left: on a rank other than 0, or when the run
// ends before rank 0 reads (a usage error, an instruction set missing).
void end_early_read(early_read& e);
