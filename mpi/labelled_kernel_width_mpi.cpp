// labelled_kernel_width over MPI ranks: the same width, bit for bit.
#include "kernels.h"
#include "labelled_ranks.h"
#include "labelled_width.h"
#include "ranks.h"
#include "session.h"

namespace {

namespace detail = kernel_width::detail;

int run(const detail::packed& s, const detail::workers& w, const options& opts,
        progress& line) {
  kernel_width::labelled_statistics statistics;
  const int status = labelled_on_ranks(s, w, statistics);
  line.finish();
  if (!root()) return 0;
  if (status == step_no_memory)
    statistics.status = kernel_width::error::out_of_memory;
  else if (status != step_ok)
    return 1;
  return finish_labelled(statistics, opts);
}

}  // namespace

int main(int argc, char** argv) {
  return run_mpi_program(
      argc, argv,
      {labelled_program, labelled_help, false, labelled_reading, run, 1});
}
