#include "labelled_width.h"

#include <cstdint>
#include <string>

#include "messages.h"
#include "packed_statistics.h"
#include "progress.h"
#include "sampled_width.h"
#include "samples.h"
#include "width_warning.h"

const char* const labelled_program = "labelled_kernel_width";

const char* const labelled_help =
    "Prints the width of a distance-based kernel for the labelled samples in\n"
    "DATAFILE: 2 * m^2, where m is the mean Euclidean distance between\n"
    "different samples over the feature columns (the label is left out).\n"
    "\n"
    "DATAFILE: one sample per line, the label (a number) then the features,\n"
    "separated by whitespace; text after the last number of a line is\n"
    "ignored, with a warning. With -d or --label the label may be any text.\n"
    "\"-\" reads standard input; a name ending in .gz is decompressed.\n"
    "\n";

std::size_t labelled_reading(options& opts) {
  if (opts.reading.delimiter && opts.reading.label == 0) opts.reading.label = 1;
  return 1;
}

int finish_labelled(const kernel_width::labelled_statistics& statistics,
                    const options& opts) {
  const char* const program = labelled_program;
  if (statistics.status == kernel_width::error::out_of_memory)
    return out_of_memory(program, shown_name(opts.file));
  if (!check_width(program, opts, statistics.width,
                   labelled_width_doubt(statistics)))
    return 1;
  const kernel_width::labelled_statistics& l = statistics;
  const int status =
      print_width(program, parameter(opts.output, l.width, l.sigma, l.gamma));
  if (opts.verbose && status == 0) {
    auto lines = std::vector<std::pair<std::string, std::string>>{
        {"n", std::to_string(l.n)},
        {"columns", std::to_string(l.columns)},
        {"total", exact(l.total)},
        {"pairs", std::to_string(l.pairs)},
        {"mean", exact(l.mean)}};
    for (auto& line : parameter_lines(l.width, l.sigma, l.gamma))
      lines.push_back(line);
    report(lines);
  }
  return status;
}

int run_labelled(options opts) {
  const std::size_t first = labelled_reading(opts);
  if (opts.sample) return run_sampled_labelled(opts, first);
  const auto samples = read_packed(labelled_program, opts, first);
  if (!samples) return 1;
  const auto n = static_cast<std::int64_t>(samples->n);
  progress line(labelled_program, opts.progress,
                static_cast<std::uint64_t>(n * (n - (n > 0)) / 2), true);
  const kernel_width::labelled_statistics l = kernel_width::detail::labelled(
      *samples, opts.threads, {line.counter(), nullptr});
  line.finish();
  return finish_labelled(l, opts);
}
