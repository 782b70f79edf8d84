// The data file read, checked and packed as the programs use it, with the
// warnings and errors that reading it may bring.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "command_line.h"
#include "packed.h"
#include "reader.h"

// The warning about ignored text, or "" when there is none:
// `name:3: warning: ignored ",2.5" after 1 value (and on 9 more lines)`,
// with a hint at -d when most lines go on with ',', ';' or '|'. The text is
// cut at ignored_cut bytes and escaped as by visible().
std::string ignored_warning(const std::string& name, const read_result& read);

// Reads path as the options say and warns about ignored text on standard
// error. Empty rows and "name: reason" or "name:line: ..." in error when the
// file could not be read; unlabelled is the first line without the label
// column (0: none).
struct loaded {
  Table rows;
  std::size_t first_line = 1;
  std::string error;
  std::size_t unlabelled = 0;
};
loaded load(const char* program, const std::string& path, read_options options);

// Checks that data is a set of samples: every row as long as the first,
// with values beyond column `first`. Returns "" or a message naming
// name:line (the first row on first_line).
std::string check_samples(const Table& data, std::size_t first,
                          const std::string& name, std::size_t first_line = 1);

// How both programs read their data file: load, then check_samples and that
// every line has the label column, with a warning for fewer than two
// samples. Nothing once the error is printed.
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
