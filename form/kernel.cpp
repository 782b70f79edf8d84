// form_kernel_width: a kernel width from the spread of the pairwise distances
// between unlabelled samples.
#include <string>

#include "moments.h"
#include "table.h"

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
    "DATAFILE: one sample per line, numbers separated by whitespace; text\n"
    "after the last number of a line is ignored, with a warning. \"-\" reads\n"
    "standard input.\n"
    "-v, --verbose: the statistics behind the width on standard error.\n"
    "form_of_relationship.txt: one row per line, a key (spread ratio) and its "
    "divisor.\n"
    "\n"
    "Exit status: 0 width printed, 1 bad input or I/O error, 2 usage error.\n";

// Looks up the divisor for ratio in the relationship-form table, and the
// index of its row; false with a message when the table cannot serve the
// search.
bool table_divisor(double ratio, double& divisor, std::size_t& chosen,
                   std::string& why) {
  const std::string name = table_name;
  Table table;
  if (!read_input(program, name, table, why)) return false;
  if (table.empty()) {
    why = name + ": no rows to search";
    return false;
  }
  for (std::size_t r = 0; r < table.size(); ++r)
    if (table[r].empty()) {
      why = name + ":" + std::to_string(r + 1) + ": no key on the line";
      return false;
    }
  chosen = nearest_row(table, ratio);
  if (table[chosen].size() < 2) {
    why =
        name + ":" + std::to_string(chosen + 1) + ": no divisor after the key";
    return false;
  }
  divisor = table[chosen][1];
  return true;
}

// The --verbose report: the statistics behind the width, and the rule that
// decided.
void explain(std::size_t n, std::size_t cols, double mean, double variance,
             double ratio, const std::string& rule) {
  report({{"n", std::to_string(n)},
          {"columns", std::to_string(cols)},
          {"mean", exact(mean)},
          {"variance", exact(variance)},
          {"ratio", exact(ratio)},
          {"rule", rule}});
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
  if (!read_samples(program, file, 0, data)) return 1;

  const std::size_t n = data.size();
  const std::size_t cols = n == 0 ? 0 : data[0].size();
  const packed samples = pack(data, 0);
  Table().swap(data);  // the packed copy is all that is needed from here
  const moments m = form_moments(samples, threads, best_isa());
  const double mean = m.mean;
  const double variance = m.variance;
  const double ratio = square(mean) / variance;
  double width = 0.0;
  std::string rule;
  if (ratio < 0.01) {
    width = variance / 2.6;
    rule = "ratio < 0.01";
  } else if (ratio > 100) {
    width = variance * ratio;
    rule = "ratio > 100";
  } else {
    double divisor = 0.0;
    std::size_t chosen = 0;
    std::string why;
    if (!table_divisor(ratio, divisor, chosen, why)) return fail(program, why);
    width = variance / divisor;
    rule = "table line " + std::to_string(chosen + 1);
  }
  status = print_width(program, width);
  if (verbose && status == 0) explain(n, cols, mean, variance, ratio, rule);
  return status;
}
