// form_kernel_width over MPI ranks: the same width, bit for bit.
#include "form_ranks.h"
#include "form_width.h"
#include "ranks.h"
#include "session.h"

namespace {

namespace detail = kernel_width::detail;

int run(const detail::packed& s, const detail::workers& w, const options& opts,
        progress& line) {
  kernel_width::form_statistics statistics;
  const int status = form_on_ranks(s, w, statistics);
  line.finish();
  if (!root()) return 0;
  if (status == step_no_memory)
    statistics.status = kernel_width::error::out_of_memory;
  else if (status != step_ok)
    return 1;
  return finish_form(statistics, opts);
}

}  // namespace

int main(int argc, char** argv) {
  return run_mpi_program(argc, argv,
                         {form_program, form_help, true, form_reading, run, 2});
}
