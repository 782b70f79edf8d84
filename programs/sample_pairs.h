// The data files of a median or quantiles: one, or two whose samples are
// pooled or paired across, read, checked and packed as the pairs need
// them.
#pragma once

#include <cstddef>
#include <optional>

#include "command_line.h"
#include "packed.h"
#include "pair_set.h"

struct sample_pairs_read {
  kernel_width::detail::packed x;  // pooled: the first file's, then the second's
  kernel_width::detail::packed y;  // across: the second file's
  std::size_t n_y = 0;             // the second file's samples
  bool across = false;
  kernel_width::detail::pair_set pairs() const {
    return {&x, across ? &y : nullptr};
  }
};

// A data file's samples and their columns (those that count).
struct file_size {
  std::size_t n = 0;
  std::size_t cols = 0;
};

// Whether the two files opts names can be paired, as their samples and
// columns tell; prints why not: the files must have as many columns, an
// empty file is an error across and a warning pooled, as is one sample in
// all (warnings are errors under --strict).
bool pairable(const char* program, const options& opts, file_size x,
              file_size y);

// Reads opts.file and, when given, opts.second, the columns from `first`
// on, with the messages the programs give: the files must have as many
// columns, an empty file is an error across and a warning pooled, as is
// one sample in all (warnings are errors under --strict). Nothing once an
// error, out of memory included, has been printed.
std::optional<sample_pairs_read> read_sample_pairs(const char* program,
                                                   const options& opts,
                                                   std::size_t first);
