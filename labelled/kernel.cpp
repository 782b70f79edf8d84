// labelled_kernel_width: a kernel width from the mean distance between
// labelled samples, measured over their features.
#include "table.h"

#include <cstdint>
#include <string>

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
void explain(const Table& data, double total, std::int64_t pairs,
             double mean) {
  report({{"n", std::to_string(data.size())},
          {"columns", std::to_string(data.empty() ? 0 : data[0].size() - 1)},
          {"total", exact(total)},
          {"pairs", std::to_string(pairs)},
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
  std::string why;
  if (!read_input(program, file, data, why)) return fail(program, why);
  const std::string name = shown_name(file);
  why = check_samples(data, 1, name);
  if (!why.empty()) return fail(program, why);
  if (data.size() < 2)
    fail(program, name + ": warning: " +
                      (data.empty() ? "no samples" : "one sample"));

  const auto n = static_cast<std::int64_t>(data.size());
  const double total = distance_total(data, 1);
  const double mean = total / static_cast<double>(n * n - n);
  const double width = mean * mean * 2;
  status = print_width(program, width);
  if (verbose && status == 0)
    explain(data, total, n * n - n, mean);
  return status;
}
