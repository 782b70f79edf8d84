// form_kernel_width: a kernel width from the spread of the pairwise distances
// between unlabelled samples.
#include <cstdint>

#include "command_line.h"
#include "form_width.h"
#include "messages.h"
#include "packed_statistics.h"
#include "program_main.h"
#include "progress.h"
#include "samples.h"

namespace {

const char* const program = form_program;

int run(options opts) {
  const std::size_t first = form_reading(opts);
  const auto samples = read_packed(program, opts, first);
  if (!samples) return 1;
  const std::size_t n = samples->n;
  progress line(program, opts.progress, std::uint64_t{n} * (n - (n > 0)));
  const kernel_width::form_statistics statistics = kernel_width::detail::form(
      *samples, opts.threads, {line.counter(), nullptr});
  line.finish();
  return finish_form(statistics, opts);
}

}  // namespace

int main(int argc, char** argv) {
  return program_main(argc, argv, program, form_help, true, run);
}
