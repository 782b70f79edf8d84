// labelled_kernel_width: a kernel width from the mean distance between
// labelled samples, measured over their features.
#include "labelled_width.h"
#include "program_main.h"

int main(int argc, char** argv) {
  return program_main(argc, argv, labelled_program, labelled_help,
                      program_kind::labelled,
                      run_labelled);
}
