// labelled_kernel_width: a kernel width from the mean distance between
// labelled samples, measured over their features.
#include <cstdint>
#include <new>
#include <optional>
#include <string>

#include "command_line.h"
#include "messages.h"
#include "packed_statistics.h"
#include "progress.h"
#include "samples.h"
#include "width_warning.h"

namespace {

const char* const program = "labelled_kernel_width";

const char* const help =
    "Prints the width of a distance-based kernel for the labelled samples in\n"
    "DATAFILE: 2 * m^2, where m is the mean Euclidean distance between\n"
    "different samples over the feature columns (the label is left out).\n"
    "\n"
    "DATAFILE: one sample per line, the label (a number) then the features,\n"
    "separated by whitespace; text after the last number of a line is\n"
    "ignored, with a warning. With -d or --label the label may be any text.\n"
    "\"-\" reads standard input; a name ending in .gz is decompressed.\n"
    "\n";

int run(options opts) {
  // Delimited fields are read as they stand: the label is text there.
  if (opts.reading.delimiter && opts.reading.label == 0) opts.reading.label = 1;
  const auto samples = read_packed(program, opts, 1);
  if (!samples) return 1;
  const auto n = static_cast<std::int64_t>(samples->n);
  progress line(program, opts.progress,
                static_cast<std::uint64_t>(n * (n - (n > 0)) / 2));
  const kernel_width::labelled_statistics l = kernel_width::detail::labelled(
      *samples, opts.threads, {line.counter(), nullptr});
  line.finish();
  if (l.status == kernel_width::error::out_of_memory)
    return out_of_memory(program, shown_name(opts.file));
  if (!check_width(program, opts, l.width, labelled_width_doubt(l))) return 1;
  const int status = print_width(program, l.width);
  if (opts.verbose && status == 0)
    report({{"n", std::to_string(n)},
            {"columns", std::to_string(samples->cols)},
            {"total", exact(l.total)},
            {"pairs", std::to_string(l.pairs)},
            {"mean", exact(l.mean)},
            {"width", exact(l.width)}});
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const command cmd = command_line(argc, argv, program, help);
  if (!cmd.run) return cmd.status;
  if (check_isa(program) != 0) return 1;
  try {
    return run(cmd.opts);
  } catch (const std::bad_alloc&) {
    return out_of_memory(program, shown_name(cmd.opts.file));
  }
}
