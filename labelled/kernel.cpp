// labelled_kernel_width: a kernel width from the mean distance between
// labelled samples, measured over their features.
#include <cstdint>
#include <string>

#include "block.h"
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
    "-v, --verbose: the statistics behind the width on standard error.\n"
    "\n"
    "Exit status: 0 width printed, 1 bad input or I/O error, 2 usage error.\n";

// The --verbose report: the statistics behind the width.
void explain(std::int64_t n, std::size_t cols, double total, double mean) {
  report({{"n", std::to_string(n)},
          {"columns", std::to_string(cols)},
          {"total", exact(total)},
          {"pairs", std::to_string(n * n - n)},
          {"mean", exact(mean)}});
}

}  // namespace

int main(int argc, char** argv) {
  std::string file;
  unsigned threads = 0;
  bool verbose = false;
  int status = 0;
  if (!command_line(argc, argv, program, help, file, threads, verbose, status))
    return status;

  Table data;
  if (!read_samples(program, file, 1, data)) return 1;

  const auto n = static_cast<std::int64_t>(data.size());
  const std::size_t cols = n == 0 ? 0 : data[0].size() - 1;
  const packed samples = pack(data, 1);
  Table().swap(data);  // the packed copy is all that is needed from here
  const double total = pair_total(samples, threads, best_isa());
  const double mean = total / static_cast<double>(n * n - n);
  const double width = mean * mean * 2;
  status = print_width(program, width);
  if (verbose && status == 0) explain(n, cols, total, mean);
  return status;
}
