// form_kernel_width: a kernel width from the spread of the pairwise distances
// between unlabelled samples.
#include "block.h"
#include "table.h"

#include <string>

namespace {

const char* const program = "form_kernel_width";
const char* const table_name = "form_of_relationship.txt";

const char* const help =
    "Prints the width of a distance-based kernel for the samples in DATAFILE.\n"
    "The mean m and variance v of the n*n Euclidean distances between samples\n"
    "give the spread ratio r = m^2 / v; the width is v / 2.6 when r < 0.01,\n"
    "v * r when r > 100, and otherwise v divided by the divisor of the row of\n"
    "./form_of_relationship.txt whose key lies nearest to r.\n"
    "\n"
    "DATAFILE: one sample per line, numbers separated by whitespace.\n"
    "form_of_relationship.txt: one row per line, a key (spread ratio) and its "
    "divisor.\n"
    "\n"
    "Exit status: 0 width printed, 1 bad input or I/O error, 2 usage error.\n";

// Looks up the divisor for ratio in the relationship-form table; false with
// a message when the table cannot serve the search.
bool table_divisor(double ratio, double& divisor, std::string& why) {
  const std::string name = table_name;
  Table table;
  if (!read_table(name, table, why)) {
    why = name + ": " + why;
    return false;
  }
  if (table.empty()) {
    why = name + ": no rows to search";
    return false;
  }
  for (std::size_t r = 0; r < table.size(); ++r)
    if (table[r].empty()) {
      why = name + ":" + std::to_string(r + 1) + ": no key on the line";
      return false;
    }
  const std::size_t chosen = nearest_row(table, ratio);
  if (table[chosen].size() < 2) {
    why = name + ":" + std::to_string(chosen + 1) +
          ": no divisor after the key";
    return false;
  }
  divisor = table[chosen][1];
  return true;
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
  if (!read_table(file, data, why)) return fail(program, file + ": " + why);
  why = check_samples(data, 0, file);
  if (!why.empty()) return fail(program, why);
  if (data.size() < 2)
    fail(program, file + ": warning: " +
                      (data.empty() ? "no samples" : "one sample"));

  const std::size_t n = data.size();
  const std::size_t cols = n == 0 ? 0 : data[0].size();
  const std::vector<double> panels = pack(data, 0);
  Table().swap(data);  // the packed copy is all that is needed from here
  double mean = 0.0;
  double variance = 0.0;
  form_moments(panels, n, cols, threads, best_isa(), mean, variance);
  const double ratio = square(mean) / variance;
  double width = 0.0;
  if (ratio < 0.01) {
    width = variance / 2.6;
  } else if (ratio > 100) {
    width = variance * ratio;
  } else {
    double divisor = 0.0;
    if (!table_divisor(ratio, divisor, why)) return fail(program, why);
    width = variance / divisor;
  }
  return print_width(program, width);
}
