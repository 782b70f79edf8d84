// The data file read, checked and packed as the programs use it, with the
// warnings and errors that reading it may bring.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "packed.h"
#include "reader.h"

// The warning about ignored text, or "" when there is none:
// `name:3: warning: ignored ",2.5" after 1 value (and on 9 more lines)`,
// with "(out of range)" after the text when it begins with a number too
// large for a double, and a hint at -d when most lines go on with ',', ';'
// or '|'. The text is cut at ignored_cut bytes and escaped as by visible().
// Under strict, "error" stands for "warning".
std::string ignored_warning(const std::string& name, const read_result& read,
                            bool strict = false);

// Reads path as the options say and warns about ignored text on standard
// error. Empty rows and "name: reason" or "name:line: ..." in error when the
// file could not be read, or, under strict, when it holds ignored text;
// unlabelled is the first line without the label column (0: none).
struct loaded {
  Table rows;
  std::vector<bool> blank;  // which rows come from blank lines
  std::size_t first_line = 1;
  std::string error;
  std::size_t unlabelled = 0;
};
loaded load(const char* program, const std::string& path, read_options options,
            bool strict = false);

// Checks that data is a set of samples: every row as long as the first,
// with values beyond column `first`. Returns "" or a message naming
// name:line (the first row on first_line); blank (which rows come from
// blank lines, when known) names a blank line as one, and a first row
// without a number is named rather than counted. With labels (--label),
// every row but a blank line's holds a label's place first, which the
// value counts leave out.
std::string check_samples(const Table& data, std::size_t first,
                          const std::string& name, std::size_t first_line = 1,
                          const std::vector<bool>& blank = {},
                          bool labels = false);

// The warning "WHAT: warning: WHY" for too few samples (an error under
// --strict); false when the run must end.
bool few_samples(const char* program, const options& opts,
                 const std::string& what, const char* why);

// How the programs read their data file: load, then check_samples and that
// every line has the label column, with a warning for fewer than two
// samples (an error under --strict) unless there is a second data file.
// Nothing once the error is printed.
std::optional<Table> read_samples(const char* program, const options& opts,
                                  std::size_t first);

// Packs the columns from `first` on. Every row must hold as many values as
// row 0.
kernel_width::detail::packed pack(const Table& data, std::size_t first);

// read_samples, then the samples packed from column `first` on, the rows
// freed. Nothing once an error, out of memory included, has been printed.
std::optional<kernel_width::detail::packed> read_packed(const char* program,
                                                        const options& opts,
                                                        std::size_t first);
