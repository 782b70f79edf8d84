#include "form_width.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "messages.h"
#include "packed_statistics.h"
#include "progress.h"
#include "samples.h"
#include "width_warning.h"

const char* const form_program = "form_kernel_width";

const char* const form_help =
    "Prints the width of a distance-based kernel for the samples in DATAFILE.\n"
    "The mean m and variance v of the n*n Euclidean distances between samples\n"
    "give the spread ratio r = m^2 / v; the width is v / 2.6 when r < 0.01,\n"
    "v * r when r > 100, and otherwise v divided by the divisor of the row of\n"
    "the table (./form_of_relationship.txt, or --table FILE) whose key lies\n"
    "nearest to r.\n"
    "\n"
    "DATAFILE: one sample per line, numbers separated by whitespace; text\n"
    "after the last number of a line is ignored, with a warning. \"-\" reads\n"
    "standard input; a name ending in .gz is decompressed. --label leaves a\n"
    "column out.\n"
    "The table: one row per line, a key (spread ratio) and its divisor.\n"
    "\n";

namespace {

const char* const program = form_program;

// The relationship-form table as rows of (key, divisor), the divisor NaN
// where a row holds only a key; or why it cannot serve the search.
struct form_table {
  std::vector<double> values;
  std::vector<bool> divisor;  // whether row r holds one
  std::string error;
};

form_table read_form_table(const options& opts) {
  const std::string name = shown_name(opts.table);
  const loaded table = load(program, opts.table, {}, opts.strict);
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

// The width, and where the table's divisor came from when the search chose
// one ("t.txt:2").
struct form_outcome {
  kernel_width::form_width_result r;
  std::string place;
  double divisor = 0.0;
};

// The width from the statistics, reading the table only when the search
// needs it. Nothing once an error has been printed.
std::optional<form_outcome> width_of(
    const kernel_width::form_statistics& statistics, const options& opts) {
  namespace kw = kernel_width;
  kw::form_width_result r = kw::form_width(statistics, {});
  if (r.status != kw::error::no_rows_to_search) return form_outcome{r, "", 0.0};
  const form_table table = read_form_table(opts);
  if (!table.error.empty()) {
    fail(program, table.error);
    return std::nullopt;
  }
  r = kw::form_width(statistics,
                     {table.values.data(), table.divisor.size(), 2, 2});
  const std::string name = shown_name(opts.table);
  if (r.status == kw::error::no_rows_to_search) {
    fail(program, name + ": no rows to search");
    return std::nullopt;
  }
  const std::string place = name + ":" + std::to_string(r.row + 1);
  if (!table.divisor[r.row]) {
    fail(program, place + ": no divisor after the key");
    return std::nullopt;
  }
  return form_outcome{r, place, table.values[2 * r.row + 1]};
}

void report_form(const kernel_width::form_width_result& r) {
  std::string rule = rule_name(r.rule);
  if (r.rule == kernel_width::form_rule::table)
    rule += std::to_string(r.row + 1);
  auto lines = std::vector<std::pair<std::string, std::string>>{
      {"n", std::to_string(r.n)},
      {"columns", std::to_string(r.columns)},
      {"mean", exact(r.mean)},
      {"variance", exact(r.variance)},
      {"ratio", exact(r.ratio)},
      {"rule", rule}};
  for (auto& line : parameter_lines(r.width, r.sigma, r.gamma))
    lines.push_back(line);
  report(lines);
}

}  // namespace

std::size_t form_reading(options& opts) { return opts.reading.label ? 1 : 0; }

int finish_form(const kernel_width::form_statistics& statistics,
                const options& opts) {
  if (statistics.status == kernel_width::error::out_of_memory)
    return out_of_memory(program, shown_name(opts.file));
  const auto w = width_of(statistics, opts);
  if (!w) return 1;
  if (!check_width(program, opts, w->r.width,
                   form_width_doubt(w->r, w->place, w->divisor)))
    return 1;
  const kernel_width::form_width_result& r = w->r;
  const int status =
      print_width(program, parameter(opts.output, r.width, r.sigma, r.gamma));
  if (opts.verbose && status == 0) report_form(r);
  return status;
}

int run_form(options opts) {
  const std::size_t first = form_reading(opts);
  const auto samples = read_packed(form_program, opts, first);
  if (!samples) return 1;
  const std::size_t n = samples->n;
  progress line(form_program, opts.progress, std::uint64_t{n} * (n - (n > 0)));
  const kernel_width::form_statistics statistics = kernel_width::detail::form(
      *samples, opts.threads, {line.counter(), nullptr});
  line.finish();
  return finish_form(statistics, opts);
}
