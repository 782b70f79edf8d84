// labelled_kernel_width: a kernel width from the mean distance between
// labelled samples, measured over their features.
#include <cstdint>

#include "command_line.h"
#include "labelled_width.h"
#include "messages.h"
#include "packed_statistics.h"
#include "program_main.h"
#include "progress.h"
#include "samples.h"

namespace {

const char* const program = labelled_program;

int run(options opts) {
  const std::size_t first = labelled_reading(opts);
  const auto samples = read_packed(program, opts, first);
  if (!samples) return 1;
  const auto n = static_cast<std::int64_t>(samples->n);
  progress line(program, opts.progress,
                static_cast<std::uint64_t>(n * (n - (n > 0)) / 2));
  const kernel_width::labelled_statistics l = kernel_width::detail::labelled(
      *samples, opts.threads, {line.counter(), nullptr});
  line.finish();
  return finish_labelled(l, opts);
}

}  // namespace

int main(int argc, char** argv) {
  return program_main(argc, argv, program, labelled_help, false, run);
}
