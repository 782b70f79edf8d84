// labelled_kernel_width: a kernel width from the mean distance between
// labelled samples, measured over their features.
#include "block.h"
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
    "separated by whitespace.\n"
    "\n"
    "Exit status: 0 width printed, 1 bad input or I/O error, 2 usage error.\n";

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
  if (!read_table(file, data, why)) return fail(program, file + ": " + why);
  why = check_samples(data, 1, file);
  if (!why.empty()) return fail(program, why);
  if (data.size() < 2)
    fail(program, file + ": warning: " +
                      (data.empty() ? "no samples" : "one sample"));

  const auto n = static_cast<std::int64_t>(data.size());
  const std::size_t cols = n == 0 ? 0 : data[0].size() - 1;
  const std::vector<double> panels = pack(data, 1);
  Table().swap(data);  // the packed copy is all that is needed from here
  const double total = pair_total(panels, static_cast<std::size_t>(n), cols,
                                  threads, best_isa());
  const double mean = total / static_cast<double>(n * n - n);
  const double width = mean * mean * 2;
  return print_width(program, width);
}
