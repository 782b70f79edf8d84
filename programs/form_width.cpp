#include "form_width.h"

#include <optional>
#include <string>
#include <vector>

#include "messages.h"
#include "samples.h"

const char* const form_program = "form_kernel_width";

const char* const form_help =
    "Prints the width of a distance-based kernel for the samples in DATAFILE.\n"
    "The mean m and variance v of the n*n Euclidean distances between samples\n"
    "give the spread ratio r = m^2 / v; the width is v / 2.6 when r < 0.01,\n"
    "v * r when r > 100, and otherwise v divided by the divisor of the row of\n"
    "./form_of_relationship.txt whose key lies nearest to r.\n"
    "\n"
    "DATAFILE: one sample per line, numbers separated by whitespace; text\n"
    "after the last number of a line is ignored, with a warning. \"-\" reads\n"
    "standard input.\n"
    "form_of_relationship.txt: one row per line, a key (spread ratio) and its "
    "divisor.\n"
    "\n";

namespace {

const char* const program = form_program;
const char* const table_name = "form_of_relationship.txt";

// The relationship-form table as rows of (key, divisor), the divisor NaN
// where a row holds only a key; or why it cannot serve the search.
struct form_table {
  std::vector<double> values;
  std::vector<bool> divisor;  // whether row r holds one
  std::string error;
};

form_table read_form_table() {
  const std::string name = table_name;
  const loaded table = load(program, name, {});
  form_table t;
  t.error = table.error;
  for (std::size_t r = 0; r < table.rows.size() && t.error.empty(); ++r) {
    const Row& row = table.rows[r];
    if (row.empty())
      t.error = name + ":" + std::to_string(r + 1) + ": no key on the line";
    else {
      t.values.push_back(row[0]);
      t.values.push_back(row.size() > 1 ? row[1] : 0.0);
      t.divisor.push_back(row.size() > 1);
    }
  }
  return t;
}

const char* rule_name(kernel_width::form_rule rule) {
  return rule == kernel_width::form_rule::low_ratio    ? "ratio < 0.01"
         : rule == kernel_width::form_rule::high_ratio ? "ratio > 100"
                                                       : "table line ";
}

// The width from the statistics, reading the table only when the search
// needs it. Nothing once an error has been printed.
std::optional<kernel_width::form_width_result> width_of(
    const kernel_width::form_statistics& statistics) {
  namespace kw = kernel_width;
  kw::form_width_result r = kw::form_width(statistics, {});
  if (r.status != kw::error::no_rows_to_search) return r;
  const form_table table = read_form_table();
  if (!table.error.empty()) {
    fail(program, table.error);
    return std::nullopt;
  }
  r = kw::form_width(statistics,
                     {table.values.data(), table.divisor.size(), 2, 2});
  std::string error;
  if (r.status == kw::error::no_rows_to_search)
    error = std::string(table_name) + ": no rows to search";
  else if (!table.divisor[r.row])
    error = std::string(table_name) + ":" + std::to_string(r.row + 1) +
            ": no divisor after the key";
  if (error.empty()) return r;
  fail(program, error);
  return std::nullopt;
}

void report_form(const kernel_width::form_width_result& r) {
  std::string rule = rule_name(r.rule);
  if (r.rule == kernel_width::form_rule::table)
    rule += std::to_string(r.row + 1);
  report({{"n", std::to_string(r.n)},
          {"columns", std::to_string(r.columns)},
          {"mean", exact(r.mean)},
          {"variance", exact(r.variance)},
          {"ratio", exact(r.ratio)},
          {"rule", rule}});
}

}  // namespace

int finish_form(const kernel_width::form_statistics& statistics,
                const options& opts) {
  if (statistics.status == kernel_width::error::out_of_memory)
    return out_of_memory(program, shown_name(opts.file));
  const auto r = width_of(statistics);
  if (!r) return 1;
  const int status = print_width(program, r->width);
  if (opts.verbose && status == 0) report_form(*r);
  return status;
}
