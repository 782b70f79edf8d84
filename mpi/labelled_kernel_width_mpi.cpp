// labelled_kernel_width over MPI ranks: the same width, bit for bit.
#include "labelled_ranks.h"
#include "labelled_width.h"
#include "session.h"

namespace {

int run(const kernel_width::packed_samples& s, const sample_layout&,
        const shared_samples& shared,
        const kernel_width::piece_workers& w, const options& opts, progress& line) {
  kernel_width::labelled_statistics statistics;
  const int status = labelled_on_ranks(s, shared, w, statistics);
  return finish_on_root(status, statistics, line, finish_labelled, opts);
}

}  // namespace

int main(int argc, char** argv) {
  return run_mpi_program(argc, argv,
                         {labelled_program, labelled_help, program_kind::labelled,
                          labelled_reading, run, 1, run_labelled});
}
