// labelled_kernel_width: a kernel width from the mean distance between
// labelled samples, measured over their features.
#include <cstdint>
#include <new>
#include <optional>
#include <string>

#include "cli.h"
#include "library.h"
#include "progress.h"
#include "table.h"

namespace {

const char* const program = "labelled_kernel_width";

const char* const help =
    "Prints the width of a distance-based kernel for the labelled samples in\n"
    "DATAFILE: 2 * m^2, where m is the mean Euclidean distance between\n"
    "different samples over the feature columns (the label is left out).\n"
    "\n"
    "DATAFILE: one sample per line, the label (a number) then the features,\n"
    "separated by whitespace; text after the last number of a line is\n"
    "ignored, with a warning. \"-\" reads standard input.\n"
    "\n";

}  // namespace

int main(int argc, char** argv) {
  const command cmd = command_line(argc, argv, program, help);
  if (!cmd.run) return cmd.status;
  const options& opts = cmd.opts;
  try {
    const std::optional<packed> samples = read_packed(program, opts, 1);
    if (!samples) return 1;
    const auto n = static_cast<std::int64_t>(samples->n);
    progress line(program, opts.progress,
                  static_cast<std::uint64_t>(n * (n - (n > 0)) / 2));
    const kernel_width::labelled_statistics l =
        kernel_width::labelled(*samples, opts.threads, line.counter());
    line.finish();
    const int status = print_width(program, l.width);
    if (opts.verbose && status == 0)
      report({{"n", std::to_string(n)},
              {"columns", std::to_string(samples->cols)},
              {"total", exact(l.total)},
              {"pairs", std::to_string(l.pairs)},
              {"mean", exact(l.mean)}});
    return status;
  } catch (const std::bad_alloc&) {
    return out_of_memory(program, shown_name(opts.file));
  }
}
