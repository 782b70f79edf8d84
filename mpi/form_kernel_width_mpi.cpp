// form_kernel_width over MPI ranks: the same width, bit for bit.
#include "form_ranks.h"
#include "form_width.h"
#include "session.h"

namespace {

int run(const kernel_width::packed_samples& s, const sample_layout&,
        const shared_samples&,
        const kernel_width::piece_workers& w, const options& opts, progress& line) {
  kernel_width::form_statistics statistics;
  const int status = form_on_ranks(s, w, statistics);
  return finish_on_root(status, statistics, line, finish_form, opts);
}

}  // namespace

int main(int argc, char** argv) {
  return run_mpi_program(
      argc, argv,
      {form_program, form_help, program_kind::form, form_reading, run, 2, run_form});
}
