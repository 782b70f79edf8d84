// form_kernel_width: a kernel width from the spread of the pairwise distances
// between unlabelled samples.
#include <cstdint>
#include <new>
#include <optional>
#include <string>

#include "cli.h"
#include "moments.h"
#include "progress.h"
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
    "-j, --threads N: compute on N threads (default: every CPU allowed).\n"
    "-v, --verbose: the statistics behind the width on standard error.\n"
    "-d, --delimiter CHAR: fields separated by CHAR (one byte, or \"tab\"),\n"
    "  each one number, blanks around it allowed.\n"
    "--header: skip line 1 of DATAFILE.\n"
    "--progress, --no-progress: a progress line on standard error (by\n"
    "  default on a terminal, for 10^9 distances or more).\n"
    "form_of_relationship.txt: one row per line, a key (spread ratio) and its "
    "divisor.\n"
    "\n"
    "Exit status: 0 width printed, 1 bad input or I/O error, 2 usage error.\n";

// The divisor for ratio in the relationship-form table and its row, or why
// the table cannot serve the search.
struct lookup {
  double divisor = 0.0;
  std::size_t row = 0;
  std::string error;
};

lookup table_divisor(double ratio) {
  const std::string name = table_name;
  const loaded table = load(program, name, {});
  if (!table.error.empty()) return {0.0, 0, table.error};
  if (table.rows.empty()) return {0.0, 0, name + ": no rows to search"};
  for (std::size_t r = 0; r < table.rows.size(); ++r)
    if (table.rows[r].empty())
      return {0.0, 0,
              name + ":" + std::to_string(r + 1) + ": no key on the line"};
  const std::size_t row = nearest_row(table.rows, ratio);
  if (table.rows[row].size() < 2)
    return {
        0.0, 0,
        name + ":" + std::to_string(row + 1) + ": no divisor after the key"};
  return {table.rows[row][1], row, ""};
}

// The width for the distances' mean and variance, and the rule that chose
// it; or why the table could not serve the search.
struct choice {
  double ratio = 0.0;
  double width = 0.0;
  std::string rule;
  std::string error;
};

choice choose(double mean, double variance) {
  const double ratio = square(mean) / variance;
  if (ratio < 0.01) return {ratio, variance / 2.6, "ratio < 0.01", ""};
  if (ratio > 100) return {ratio, variance * ratio, "ratio > 100", ""};
  const lookup found = table_divisor(ratio);
  if (!found.error.empty()) return {ratio, 0.0, "", found.error};
  return {ratio, variance / found.divisor,
          "table line " + std::to_string(found.row + 1), ""};
}

}  // namespace

int main(int argc, char** argv) {
  const command cmd = command_line(argc, argv, program, help);
  if (!cmd.run) return cmd.status;
  const options& opts = cmd.opts;
  std::size_t needed = 0;  // what the allocation under way asks for, if known
  try {
    std::optional<Table> data = read_samples(program, opts, 0);
    if (!data) return 1;
    const std::size_t n = data->size();
    const std::size_t cols = n == 0 ? 0 : data->front().size();
    needed = (n + panel_width - 1) / panel_width * panel_width * cols * 8;
    const packed samples = pack(*data, 0);
    data.reset();  // the packed copy is all that is needed from here
    needed = 0;

    progress line(program, opts.progress, std::uint64_t{n} * (n - (n > 0)));
    const moments m =
        form_moments(samples, opts.threads, best_isa(), line.counter());
    line.finish();
    const choice c = choose(m.mean, m.variance);
    if (!c.error.empty()) return fail(program, c.error);
    const int status = print_width(program, c.width);
    if (opts.verbose && status == 0)
      report({{"n", std::to_string(n)},
              {"columns", std::to_string(cols)},
              {"mean", exact(m.mean)},
              {"variance", exact(m.variance)},
              {"ratio", exact(c.ratio)},
              {"rule", c.rule}});
    return status;
  } catch (const std::bad_alloc&) {
    return out_of_memory(program, shown_name(opts.file), needed);
  }
}
