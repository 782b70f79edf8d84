// median_kernel_width: a kernel width from the median of the distances
// between samples, the median heuristic, exact; or from their quantiles.
#include "median_width.h"
#include "program_main.h"

int main(int argc, char** argv) {
  return program_main(argc, argv, median_program, median_help,
                      program_kind::median, run_median);
}
