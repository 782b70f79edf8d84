// The command line, the messages and the output that both programs share.
// Messages go to standard error as "program: FILE:LINE: what is wrong".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "block.h"
#include "table.h"

enum class progress_mode { automatic, on, off };

// What the command line asks for.
struct options {
  std::string file;      // the data file; "-" is standard input
  unsigned threads = 0;  // 0: as many as the process may use
  bool verbose = false;
  read_options reading;  // how to read the data file
  progress_mode progress = progress_mode::automatic;
};

// The parsed command line: run with opts, or end at once with status, once
// help, the version or a usage error has been printed.
struct command {
  bool run = false;
  int status = 0;
  options opts;
};

// Reads the command line of both programs (the usage line in cli.cpp).
// Options stand before the data file; later arguments are ignored. For -h
// and --help, `help` (the program's own description) goes between the usage
// line and the options.
command command_line(int argc, char** argv, const char* program,
                     const char* help);

// The name messages give a data file: "<stdin>" for "-".
std::string shown_name(const std::string& path);

// text with every byte that is not printable ASCII, and '"' and '\\', in
// C escapes (\t, \r, \x00, \xef), so that it cannot garble a terminal.
std::string visible(std::string_view text);

// The warning about ignored text, or "" when there is none:
// `name:3: warning: ignored ",2.5" after 1 value (and on 9 more lines)`,
// with a hint at -d when most lines go on with ',', ';' or '|'. The text is
// cut at ignored_cut bytes and escaped as by visible().
std::string ignored_warning(const std::string& name, const read_result& read);

// Reads path as the options say and warns about ignored text on standard
// error. Empty rows and "name: reason" or "name:line: ..." in error when the
// file could not be read.
struct loaded {
  Table rows;
  std::size_t first_line = 1;
  std::string error;
};
loaded load(const char* program, const std::string& path, read_options options);

// Checks that data is a set of samples: every row as long as the first,
// with values beyond column `first`. Returns "" or a message naming
// name:line (the first row on first_line).
std::string check_samples(const Table& data, std::size_t first,
                          const std::string& name, std::size_t first_line = 1);

// How both programs read their data file: load, then check_samples, with a
// warning for fewer than two samples. Nothing once the error is printed.
std::optional<Table> read_samples(const char* program, const options& opts,
                                  std::size_t first);

// read_samples, then the samples packed from column `first` on, the rows
// freed. Nothing once an error, out of memory included, has been printed.
std::optional<packed> read_packed(const char* program, const options& opts,
                                  std::size_t first);

// Writes width to standard output as one line in the stream's default
// notation and flushes. Returns the exit status: 0, or 1 after a message
// when the write failed.
int print_width(const char* program, double width);

// Prints "program: message" on standard error; returns 1, the exit status
// for bad input.
int fail(const char* program, const std::string& message);

// Prints "program: message" on standard error unless message is empty.
void warn(const char* program, const std::string& message);

// "program: name: out of memory", with what was asked for when known
// (bytes > 0); returns 1.
int out_of_memory(const char* program, const std::string& name,
                  std::size_t bytes = 0);

// A value as the --verbose report gives it: 17 significant digits (%.17g).
std::string exact(double value);

// Writes the --verbose report to standard error, one "name: value" a line.
void report(const std::vector<std::pair<std::string, std::string>>& lines);
