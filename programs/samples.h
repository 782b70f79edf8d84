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
// quiet leaves the warning unsaid (a second pass over the same file).
loaded load(const char* program, const std::string& path, read_options options,
            bool strict = false, bool quiet = false);

// What check_samples needs of a table, gathered row by row (add_row) as a
// file streams past: its rows, row 0's length, the first row whose length
// differs from it (`unequal`; rows when none) and its length, which of the
// two are blank lines, whether every row after `unequal` is one, and
// whether blank lines are known at all.
struct table_shape {
  std::size_t rows = 0;
  std::size_t width = 0;
  bool blank_first = false;
  std::size_t unequal = 0;
  std::size_t unequal_width = 0;
  bool blank_unequal = false;
  bool blank_after = true;
  bool known = true;
};

// Adds the next row, of size values, to the shape.
void add_row(table_shape& shape, std::size_t size, bool blank);

// check_samples on a table's shape: the same messages.
std::string check_shape(const table_shape& shape, std::size_t first,
                        const std::string& name, std::size_t first_line = 1,
                        bool labels = false);

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

// After load: the message `why` (from check_samples or check_shape), or
// that a line lacks the label column; then the warning for fewer than two
// samples (rows) of one data file (an error under --strict). False once an
// error has been printed.
bool accept_samples(const char* program, const options& opts,
                    const loaded& data, std::string why, std::size_t rows);

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
