#include "session.h"

#include <mpi.h>

#include <new>

#include "messages.h"
#include "progress.h"
#include "ranks.h"
#include "spread_samples.h"

namespace {

namespace detail = kernel_width::detail;

// Every rank runs the instruction set KERNEL_WIDTH_ISA names, or its best;
// the first rank that cannot says why.
int check_isa_everywhere(const char* program) {
  const int first = first_failing(!detail::selected_isa().ok);
  if (first == ranks()) return step_ok;
  if (rank() == first) {
    speak();
    check_isa(program);
  }
  return step_failed;
}

int compute(const mpi_program& p, options opts) {
  detail::packed s;
  const std::size_t first = p.reading(opts);
  if (spread_samples(p.name, opts, first, s) != step_ok) return 1;
  progress line(p.name, root() ? opts.progress : progress_mode::off,
                p.pairs(s));
  const detail::workers w{
      detail::selected_isa().chosen, opts.threads, {line.counter(), nullptr}};
  return p.run(s, w, opts, line);
}

int run(int argc, char** argv, const mpi_program& p) {
  silence_others();
  const command cmd = command_line(argc, argv, p.name, p.help, p.table);
  // The same arguments on every rank: only writing help can go otherwise.
  int status = cmd.status;
  broadcast(status);
  if (!cmd.run) return status;
  if (check_isa_everywhere(p.name) != step_ok) return 1;
  status = compute(p, cmd.opts);
  broadcast(status);  // rank 0's, after it printed
  report_bytes(p.name);
  return status;
}

}  // namespace

int run_mpi_program(int argc, char** argv, const mpi_program& program) {
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  const int status = run(argc, argv, program);
  MPI_Finalize();
  return status;
}
