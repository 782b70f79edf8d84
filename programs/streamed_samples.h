// A data file read in passes, for a sample of pairs: the first counts the
// samples and gathers each column's range, the others keep only the rows
// the drawn pairs need, so that memory does not grow with the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "command_line.h"

// Whether path can be read twice: a regular file (plain or gzip), not
// standard input nor a pipe.
bool readable_twice(const std::string& path);

// What the first pass found: the samples, their columns from `first` on,
// and each column's least and greatest value (+inf and -inf when there are
// no samples). The reader takes numbers as a stream does, never NaN nor
// infinity, but a NaN would make its column's range NaN.
struct scanned {
  std::size_t n = 0;
  std::size_t cols = 0;
  std::vector<double> min;
  std::vector<double> max;
  bool nan = false;  // a value is NaN
};

// The first pass over opts.file: the same warnings and errors, FILE:LINE,
// as read_samples gives, without holding the rows. Nothing once an error
// has been printed.
std::optional<scanned> scan_samples(const char* program, const options& opts,
                                    std::size_t first);

// A later pass over opts.file: visit(index, values) for each sample in
// order, values its cols values from column `first` on (valid during the
// call). False, once the error has been printed, when the file no longer
// holds n samples of that shape (changed between the passes) or cannot be
// read.
bool visit_samples(const char* program, const options& opts,
                   std::size_t first, const scanned& shape,
                   const std::function<void(std::uint64_t, const double*)>& visit);

// The message for a file that changed between the passes.
void changed(const char* program, const options& opts);

// The second pass over opts.file: appends to `into` the values from column
// `first` on (cols of them) of the samples at the indices `wanted`
// (increasing, distinct), row after row. The file must still hold n samples
// of that shape; false, once the error has been printed, when it does not
// (changed between the passes) or cannot be read.
bool keep_samples(const char* program, const options& opts, std::size_t first,
                  const scanned& shape, std::span<const std::uint64_t> wanted,
                  std::vector<double>& into);
