// form_kernel_width: a kernel width from the spread of the pairwise distances
// between unlabelled samples.
#include "form_width.h"
#include "program_main.h"

int main(int argc, char** argv) {
  return program_main(argc, argv, form_program, form_help, program_kind::form,
                      run_form);
}
