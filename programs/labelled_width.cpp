#include "labelled_width.h"

#include <string>

#include "messages.h"

const char* const labelled_program = "labelled_kernel_width";

const char* const labelled_help =
    "Prints the width of a distance-based kernel for the labelled samples in\n"
    "DATAFILE: 2 * m^2, where m is the mean Euclidean distance between\n"
    "different samples over the feature columns (the label is left out).\n"
    "\n"
    "DATAFILE: one sample per line, the label (a number) then the features,\n"
    "separated by whitespace; text after the last number of a line is\n"
    "ignored, with a warning. \"-\" reads standard input.\n"
    "\n";

int finish_labelled(const kernel_width::labelled_statistics& statistics,
                    const options& opts) {
  const char* const program = labelled_program;
  if (statistics.status == kernel_width::error::out_of_memory)
    return out_of_memory(program, shown_name(opts.file));
  const int status = print_width(program, statistics.width);
  if (opts.verbose && status == 0)
    report({{"n", std::to_string(statistics.n)},
            {"columns", std::to_string(statistics.columns)},
            {"total", exact(statistics.total)},
            {"pairs", std::to_string(statistics.pairs)},
            {"mean", exact(statistics.mean)}});
  return status;
}
