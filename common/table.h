// Numeric text tables and the Euclidean distances between their rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using Row = std::vector<double>;
using Table = std::vector<Row>;

// Reads a numeric text file, one row per line. Values are taken as
// `stream >> double` takes them in the "C" locale; the first text that does
// not read as a number ends its row. A file that cannot be read gives an
// empty table (or the rows read before a read error).
Table input(std::string path);

// As input(), but says why reading failed: returns false, with the system's
// reason in `why`, when the file cannot be opened or a read fails.
bool read_table(const std::string& path, Table& table, std::string& why);

// How much of the ignored text the reader keeps for a warning.
constexpr std::size_t ignored_cut = 20;

// The programs' reader: as above, but a path of "-" reads standard input, and
// it says where a line held text after its last value that is not whitespace
// (the text that ended the row): the first such line (counted from 1; 0 when
// there is none), that text without trailing whitespace, kept to at most
// ignored_cut + 1 bytes so that a longer one shows, and how many lines hold
// such text.
bool read_table(const std::string& path, Table& table, std::string& why,
                std::size_t& ignored_line, std::string& ignored_text,
                std::size_t& ignored_lines);

// Reads the open file fd to its end as read_table does, with a buffer of
// `block` bytes at first (at least 1); does not close fd.
bool read_fd(int fd, std::size_t block, Table& table, std::string& why,
             std::size_t& ignored_line, std::string& ignored_text,
             std::size_t& ignored_lines);

// The name messages give a data file: "<stdin>" for "-".
std::string shown_name(const std::string& path);

// How both programs read a file: as the read_table above, then the warning
// about ignored text on standard error. False with "name: reason" in why.
bool read_input(const char* program, const std::string& path, Table& table,
                std::string& why);

// The warning about ignored text, naming name:line, or "" when ignored_line
// is 0: `name:3: warning: ignored ",2.5" after 1 value (and on 9 more lines)`.
// The text is cut at ignored_cut bytes and escaped as by visible().
std::string ignored_warning(const std::string& name, const Table& table,
                            std::size_t ignored_line,
                            const std::string& ignored_text,
                            std::size_t ignored_lines);

// text with every byte that is not printable ASCII, and '"' and '\\', in
// C escapes (\t, \r, \x00, \xef), so that it cannot garble a terminal.
std::string visible(std::string_view text);

// Scans one value at p exactly as `stream >> double` does after skipping
// whitespace. Returns the end of the text taken, or nullptr when the
// extraction fails (no number there, or one too large for a double).
const char* scan_value(const char* p, const char* end, double& value);

// Appends the values of one line (no line feed) to row; returns the offset of
// the text the extraction stopped at (line.size() when nothing is left).
std::size_t parse_line(std::string_view line, Row& row);

inline double square(double x) { return x * x; }

// out[l] = distance from sample i to sample l over the columns from `first`
// on, each sum taken column by column. Only columns both rows hold count.
void distance_row(const Table& data, std::size_t i, std::size_t first,
                  double* out);

// The n x n matrix of distances between the rows of data.
Table distance_matrix(const Table& data, std::size_t first_column);

// Mean of all n*n distances, diagonal included, summed row by row.
double distance_mean(const Table& data, std::size_t first);

// Mean of square(d - mean) over all n*n distances, summed row by row.
double distance_variance(const Table& data, std::size_t first, double mean);

// Sum of the distances over all ordered pairs of different rows: twice the
// sum over pairs i < l, in the order documented in table.cpp.
double distance_total(const Table& data, std::size_t first);

// Index of the row whose key (value 0) lies nearest to ratio: the earlier row
// on ties, row 0 when no key lies within 1,000 or ratio is not a number.
// Every row must hold a key.
std::size_t nearest_row(const Table& table, double ratio);

// Checks that data is a set of samples: every row as long as row 0, with
// values beyond column `first`. Returns "" or a message naming name:line.
std::string check_samples(const Table& data, std::size_t first,
                          const std::string& name);

// How both programs read their data file: read_input, then check_samples,
// with a warning on standard error for fewer than two samples. False once
// the error has been printed.
bool read_samples(const char* program, const std::string& path,
                  std::size_t first, Table& data);

// Writes width to standard output as one line in the stream's default
// notation and flushes. Returns the exit status: 0, or 1 after a message
// when the write failed.
int print_width(const char* program, double width);

// Reads the command line shared by both programs:
//   [-h | --help | --version] [-j N | --threads N] [-v | --verbose] [--]
//   DATAFILE
// Options stand before the data file; later arguments are ignored. Returns
// true with the data file's name, the thread count (0: as many as the
// process may use) and the verbose flag; or false with the exit status in
// `status` once help, version or a usage error has been printed. `help` is
// printed after the usage line for -h and --help.
bool command_line(int argc, char** argv, const char* program, const char* help,
                  std::string& file, unsigned& threads, bool& verbose,
                  int& status);

// Prints "program: message" on standard error; returns 1, the exit status
// for bad input.
int fail(const char* program, const std::string& message);

// Prints "program: message" on standard error unless message is empty.
void warn(const char* program, const std::string& message);

// A value as the --verbose report gives it: 17 significant digits (%.17g).
std::string exact(double value);

// Writes the --verbose report to standard error, one "name: value" a line.
void report(const std::vector<std::pair<std::string, std::string>>& lines);
