// median_kernel_width: a kernel width from the median of the distances
// between samples, the median heuristic, exact.
#include <cstdint>
#include <optional>
#include <string>

#include "command_line.h"
#include "messages.h"
#include "packed_statistics.h"
#include "program_main.h"
#include "progress.h"
#include "samples.h"
#include "width_warning.h"

namespace {

const char* const program = "median_kernel_width";

const char* const help =
    "Prints the width of a distance-based kernel for the samples in DATAFILE:\n"
    "2 * m^2, where m is the median of the n(n-1)/2 Euclidean distances\n"
    "between different samples (the middle one, or the mean of the middle\n"
    "two), exactly as numpy's median of them, found without storing them.\n"
    "\n"
    "DATAFILE: one sample per line, numbers separated by whitespace; text\n"
    "after the last number of a line is ignored, with a warning. \"-\" reads\n"
    "standard input; a name ending in .gz is decompressed. --label leaves a\n"
    "column out.\n"
    "\n";

int run(options opts) {
  // A label column, when there is one, stands first in every row.
  const auto samples = read_packed(program, opts, opts.reading.label ? 1 : 0);
  if (!samples) return 1;
  const std::uint64_t n = samples->n;
  // The first pass over the pairs; most data need no other.
  progress line(program, opts.progress, n * (n - (n > 0)) / 2);
  const kernel_width::median_statistics m = kernel_width::detail::median(
      *samples, opts.threads, {line.counter(), nullptr});
  line.finish();
  if (m.status == kernel_width::error::out_of_memory)
    return out_of_memory(program, shown_name(opts.file));
  if (!check_width(program, opts, m.width, median_width_doubt(m))) return 1;
  const int status = print_width(program, m.width);
  if (opts.verbose && status == 0)
    report({{"n", std::to_string(n)},
            {"columns", std::to_string(samples->cols)},
            {"pairs", std::to_string(m.pairs)},
            {"median", exact(m.median)},
            {"width", exact(m.width)}});
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  return program_main(argc, argv, program, help, false, run);
}
