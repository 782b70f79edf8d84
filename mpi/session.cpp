#include "session.h"

#include <mpi.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <optional>
#include <utility>

#include "early_read.h"
#include "messages.h"
#include "program_main.h"
#include "progress.h"
#include "ranks.h"
#include "spread_samples.h"

namespace {

using kernel_width::packed_samples;

// Every rank runs the instruction set KERNEL_WIDTH_ISA names, or its best;
// the first rank that cannot says why.
int check_isa_everywhere(const char* program) {
  const int first = first_failing(kernel_width::engine_ready() != kernel_width::error::none);
  if (first == ranks()) return step_ok;
  if (rank() == first) {
    speak();
    check_isa(program);
  }
  return step_failed;
}

// Whether the launcher started this process as the only rank (Open MPI's
// mpirun, and the PMI of others' launchers). Without one, MPI_Init decides.
bool launched_alone() {
  for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMI_SIZE"})
    if (const char* value = std::getenv(name))
      return std::strcmp(value, "1") == 0;
  return false;
}

// The pairs a pass runs over, for the progress line.
std::uint64_t pairs_in(const packed_samples& s, const sample_layout& layout) {
  if (layout.across) return layout.n_x * layout.n_y;
  return s.n * (s.n - (s.n > 0)) / 2;
}

// The MPI programs take no --sample: the plain program draws its pairs on
// one machine in seconds. A usage error, status 2.
int refuse_sample(const char* program) {
  std::cerr << program
            << ": option '--sample' is not taken by the MPI programs: a "
               "sample of pairs takes seconds on one machine (run "
            << program << ")\n";
  return 2;
}

// The program a launch of one rank runs: the plain one, without --sample.
const mpi_program* alone_program = nullptr;

int alone_without_sample(options opts) {
  if (opts.sample) return refuse_sample(alone_program->name);
  return alone_program->alone(std::move(opts));
}

int compute(const mpi_program& p, options opts, early_read& early) {
  shared_samples shared;
  packed_samples s;  // may view shared's memory
  const std::size_t first = p.reading(opts);
  std::optional<packed_samples> read;
  sample_layout layout;
  if (root())
    read = p.read_pairs && !opts.second.empty()
               ? p.read_pairs(opts, first, layout)
               : read_on_root(early, p, opts, first);
  if (spread_samples(p.name, opts, std::move(read), s, shared) != step_ok)
    return 1;
  broadcast(layout);
  if (opts.second.empty()) layout.n_x = s.n;
  progress line(p.name, root() ? opts.progress : progress_mode::off,
                p.passes * pairs_in(s, layout));
  const kernel_width::piece_workers w{opts.threads, {line.counter(), nullptr}};
  return p.run(s, layout, shared, w, opts, line);
}

int run(int argc, char** argv, const mpi_program& p, early_read& early) {
  silence_others();
  const command cmd = command_line(argc, argv, p.name, p.help, p.kind);
  // The same arguments on every rank: only writing help can go otherwise.
  int status = cmd.status;
  broadcast(status);
  if (!cmd.run) return status;
  if (cmd.opts.sample) {  // every rank read the same command line
    if (root()) refuse_sample(p.name);
    return 2;
  }
  if (check_isa_everywhere(p.name) != step_ok) return 1;
  status = compute(p, cmd.opts, early);
  broadcast(status);  // rank 0's, after it printed
  report_bytes(p.name);
  return status;
}

}  // namespace

int run_mpi_program(int argc, char** argv, const mpi_program& program) {
  if (launched_alone()) {
    alone_program = &program;
    return program_main(argc, argv, program.name, program.help, program.kind,
                        alone_without_sample);
  }
  early_read early;
  start_early_read(early, argc, argv, program);
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  if (!root()) end_early_read(early);  // the launcher was wrong
  const int status = run(argc, argv, program, early);
  end_early_read(early);
  MPI_Finalize();
  return status;
}
