// How form_kernel_width's passes settled their rows on a data file: prints
// "mean_again N", "mean_replayed N", "variance_again N" and
// "variance_replayed N" (see pass_rows in src/form_passes.h).
#include <cstdio>

#include "form_passes.h"
#include "reader.h"
#include "samples.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: form_rows DATAFILE\n", stderr);
    return 2;
  }
  namespace detail = kernel_width::detail;
  const detail::moments m =
      detail::form_moments(pack(input(argv[1]), 0), 0, detail::best_isa());
  std::printf("mean_again %zu\nmean_replayed %zu\n", m.mean_rows.again,
              m.mean_rows.replayed);
  std::printf("variance_again %zu\nvariance_replayed %zu\n",
              m.variance_rows.again, m.variance_rows.replayed);
}
