// The data file reader: numeric text, one row per line.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

using Row = std::vector<double>;
using Table = std::vector<Row>;

// Reads a numeric text file, one row per line. Values are taken as
// `stream >> double` takes them in the "C" locale; the first text that does
// not read as a number ends its row. A file that cannot be read gives an
// empty table (or the rows read before a read error).
Table input(std::string path);

// How much of the ignored text, or of a bad field, the reader keeps for a
// message.
constexpr std::size_t ignored_cut = 20;

// The label column `last`: the last field, or the last whitespace-separated
// token, of each line.
constexpr std::size_t last_column = std::numeric_limits<std::size_t>::max();

// How to read a file. By default values are separated by whitespace, and
// the first text that does not read as a number ends its row (the rest of
// the line is ignored, and reported). With a delimiter, fields are separated
// by it, and each must be exactly one number, blanks around it allowed.
// skip lines come before the data. A label column (from 1, or last_column;
// 0 for none) holds any text: its field, or its whitespace-separated token,
// is taken out of the line before the numbers are read, and the row gets a
// 0 in its place at the front, so that every row holds its label first (a
// line without the column too, unless it is blank, so that row lengths
// compare the values alone).
// A row as it is read (its label's place first, as above), and whether it
// comes from a blank line.
using row_sink = std::function<void(const Row& row, bool blank)>;

struct read_options {
  char delimiter = 0;
  std::size_t skip = 0;
  std::size_t label = 0;
  // When set, each row goes to it instead of into the result's rows (and
  // blank), so that a file larger than memory can be read in passes.
  row_sink sink = nullptr;
};

// Lines whose row ended before the line did, on text that is not
// whitespace: the first one (counted from 1; 0 when there is none), that
// text without trailing whitespace, kept to at most ignored_cut + 1 bytes so
// that a longer one shows, the numbers read before it on its line, how many
// lines hold such text, and how many of those begin with each of
// separators; and whether the first one's text begins with a number too
// large for a double.
constexpr char separators[] = ",;|";
struct ignored_text {
  std::size_t line = 0;
  std::string text;
  std::size_t values = 0;
  std::size_t lines = 0;
  std::size_t separated[3] = {};
  bool out_of_range = false;
};

// A field of a delimited line that is not one number: its line, its
// position on the line (from 1; 0 when there is none), its text (kept as
// the ignored text is), and whether it is one number too large for a double.
struct bad_field {
  std::size_t line = 0;
  std::size_t position = 0;
  std::string text;
  bool out_of_range = false;
};

// What reading a file gives: its rows, the line of the first one (after the
// skipped lines), the first line without the label column (0 when every line
// has it), which rows come from blank lines (nothing but whitespace), and
// what was wrong: the system's reason why the file could not be read, a bad
// field, or the first line (skipped ones too) where a carriage return is
// followed by more text, as when lines end in a carriage return alone
// (classic Mac OS text, which would otherwise read as one long line). Rows
// read before an error stay.
struct read_result {
  Table rows;
  std::size_t streamed = 0;  // rows given to read_options' sink instead
  std::size_t first_line = 1;
  std::size_t unlabelled = 0;
  std::vector<bool> blank;
  ignored_text ignored;
  std::string error;
  bad_field bad;
  std::size_t carriage_return = 0;
  bool ok() const {
    return error.empty() && bad.position == 0 && carriage_return == 0;
  }
};

// A UTF-8 byte-order mark, skipped at the start of a file.
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// Reads the file at path; "-" reads standard input (plain text), and a path
// ending in ".gz" is decompressed as it is read (gzip_source.h). A
// byte-order mark at the start is skipped, in either grammar; line numbers
// stay as they are.
read_result read_table(const std::string& path, read_options options = {});

// Where the reader gets its bytes: fills at most `size` bytes at `to` and
// returns how many, 0 at the end; on failure sets `error` and returns 0.
using byte_source =
    std::function<std::size_t(char* to, std::size_t size, std::string& error)>;

// Reads from source to its end as read_table does, with a buffer of `block`
// bytes at first (at least 1).
read_result read_source(const byte_source& source, std::size_t block,
                        read_options options = {});

// Reads the open file fd to its end as read_table does, with a buffer of
// `block` bytes at first (at least 1); does not close fd.
read_result read_fd(int fd, std::size_t block, read_options options = {});

// Appends the values of one line (no line feed) to row; returns the offset of
// the text the extraction stopped at (line.size() when nothing is left).
std::size_t parse_line(std::string_view line, Row& row);

// The first field of a line that is not one number: its position (from 1;
// 0 when every field is one), its text, and whether it is one number too
// large for a double.
struct field_check {
  std::size_t position = 0;
  std::string_view text;
  bool out_of_range = false;
};

// Appends the fields of one line, separated by delimiter, to row, up to the
// first that is not one number with blanks around it. A line of blanks has
// no fields. The field in column `label` (from 1, or last_column; 0 for
// none) may hold any text and is not appended; label_found tells whether
// the line has it.
field_check parse_fields(std::string_view line, char delimiter, Row& row,
                         std::size_t label = 0, bool* label_found = nullptr);

// The line without its whitespace-separated token in column `label` (from 1,
// or last_column): the text before the token, then the text after it, in
// `rest`. False, and rest untouched, when the line has no such token.
bool without_token(std::string_view line, std::size_t label, std::string& rest);
