#include "median_width.h"

#include <cmath>
#include <string>
#include <utility>

#include "messages.h"
#include "packed_statistics.h"
#include "progress.h"
#include "sampled_width.h"
#include "sample_pairs.h"
#include "width_warning.h"

const char* const median_program = "median_kernel_width";

const char* const median_help =
    "Prints the width of a distance-based kernel for the samples in DATAFILE:\n"
    "2 * m^2, where m is the median of the n(n-1)/2 Euclidean distances\n"
    "between different samples (the middle one, or the mean of the middle\n"
    "two), exactly as numpy's median of them, found without storing them;\n"
    "with -q, 2 * q^2 for each quantile q of them, as numpy.quantile gives\n"
    "it. With YFILE, the distances between every pair of the samples of both\n"
    "files (as one file holding both), or with --cross those between a sample\n"
    "of DATAFILE and a sample of YFILE.\n"
    "\n"
    "DATAFILE, YFILE: one sample per line, numbers separated by whitespace;\n"
    "text after the last number of a line is ignored, with a warning. \"-\"\n"
    "reads standard input; a name ending in .gz is decompressed. --label\n"
    "leaves a column out.\n"
    "\n";

namespace {

namespace kw = kernel_width;
using lines = std::vector<std::pair<std::string, std::string>>;

const char* const program = median_program;

// The warnings about the widths; false when one is an error (--strict).
bool check_widths(const median_findings& f, const options& opts) {
  if (opts.quantiles.empty()) {
    options named = opts;
    named.file = opts.second.empty() ? opts.file : files_of(opts);
    return check_width(program, named, f.median.width,
                       median_width_doubt(f.median));
  }
  bool ok = true;
  for (const kw::quantile& q : f.quantiles) {
    const std::string why = quantile_width_doubt(f.selection, q);
    if (why.empty()) continue;
    warn(program, width_warning(files_of(opts), q.width, why, opts.strict,
                                "the width for p = " + width_text(q.p)));
    ok = ok && !opts.strict;
  }
  return ok;
}

// What the counts of a run are: n, n_y with two files, columns, pairs.
lines counts(std::size_t n, std::size_t n_y, std::size_t columns,
             std::uint64_t pairs, const options& opts) {
  lines out{{"n", std::to_string(n)}};
  if (!opts.second.empty()) out.push_back({"n_y", std::to_string(n_y)});
  out.push_back({"columns", std::to_string(columns)});
  out.push_back({"pairs", std::to_string(pairs)});
  return out;
}

int print_findings(const median_findings& f, const options& opts) {
  if (opts.quantiles.empty()) {
    const kw::median_statistics& m = f.median;
    const int status = print_width(
        program, parameter(opts.output, m.width, m.sigma, m.gamma));
    if (!opts.verbose || status != 0) return status;
    lines report_lines = counts(m.n, m.n_y, m.columns, m.pairs, opts);
    report_lines.push_back({"median", exact(m.median)});
    for (auto& line : parameter_lines(m.width, m.sigma, m.gamma))
      report_lines.push_back(line);
    report(report_lines);
    return status;
  }
  std::string text;
  for (const kw::quantile& q : f.quantiles)
    text += width_text(parameter(opts.output, q.width, q.sigma, q.gamma)) + '\n';
  const int status = print_out(program, text);
  if (!opts.verbose || status != 0) return status;
  const kw::selection& s = f.selection;
  lines report_lines = counts(s.n, s.n_y, s.columns, s.pairs, opts);
  for (const kw::quantile& q : f.quantiles) {
    report_lines.push_back({"p", exact(q.p)});
    report_lines.push_back({"quantile", exact(q.value)});
    for (auto& line : parameter_lines(q.width, q.sigma, q.gamma))
      report_lines.push_back(line);
  }
  report(report_lines);
  return status;
}

}  // namespace

std::string files_of(const options& opts) {
  std::string name = shown_name(opts.file);
  if (!opts.second.empty()) name += " and " + shown_name(opts.second);
  return name;
}

std::size_t median_reading(options& opts) { return opts.reading.label ? 1 : 0; }

int finish_median(const median_findings& f, const options& opts) {
  const kw::error status =
      opts.quantiles.empty() ? f.median.status : f.selection.status;
  if (status == kw::error::out_of_memory)
    return out_of_memory(program, files_of(opts));
  if (status == kw::error::internal)
    return fail(program, files_of(opts) + ": " + kw::describe(status));
  if (!check_widths(f, opts)) return 1;
  return print_findings(f, opts);
}

int run_median(options opts) {
  const std::size_t first = median_reading(opts);
  if (opts.sample) return run_sampled_median(opts, first);
  const auto samples = read_sample_pairs(program, opts, first);
  if (!samples) return 1;
  const kw::detail::pair_set pairs = samples->pairs();
  // The first pass over the pairs; most data need no other.
  progress line(program, opts.progress, pairs.count(), true);
  const kw::detail::rank_engine engine = kw::detail::local_engine(
      pairs, opts.threads, kw::detail::selected_isa().chosen,
      {line.counter(), nullptr});
  median_findings f;
  if (opts.quantiles.empty()) {
    f.median = kw::detail::median(pairs, samples->n_y, engine);
  } else {
    f.quantiles.resize(opts.quantiles.size());
    f.selection = kw::detail::quantiles(
        pairs, samples->n_y, opts.quantiles.data(), opts.quantiles.size(),
        f.quantiles.data(), engine);
  }
  line.finish();
  return finish_median(f, opts);
}
