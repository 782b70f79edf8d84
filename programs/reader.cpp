#include "reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "gzip_source.h"
#include "number_scan.h"

namespace {

// The whitespace of the "C" locale: blank, \t, \n, \v, \f, \r.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Whitespace other than the delimiter: the blanks around a field.
bool is_blank(char c, char delimiter) { return c != delimiter && is_space(c); }

// Keeps what the warning about ignored text needs: the first line that has
// some, its text, the numbers before it, and the count of such lines.
void note_ignored(std::string_view rest, std::size_t values, std::size_t line,
                  ignored_text& ignored) {
  if (rest.empty()) return;
  for (std::size_t k = 0; k < sizeof separators - 1; ++k)
    ignored.separated[k] += rest[0] == separators[k];
  if (++ignored.lines > 1) return;
  std::size_t size = rest.size();
  while (is_space(rest[size - 1])) --size;  // rest starts with a non-space
  ignored.line = line;
  ignored.text = rest.substr(0, std::min(size, ignored_cut + 1));
  ignored.values = values;
  ignored.out_of_range = out_of_range(rest.data(), rest.data() + rest.size());
}

// Whether a carriage return on the line has more than whitespace after it:
// the line is several whose ends are a carriage return alone. One before
// the line feed is whitespace like any other.
bool lone_carriage_return(std::string_view line) {
  std::size_t k = line.find('\r');
  if (k == std::string_view::npos) return false;
  while (++k < line.size())
    if (!is_space(line[k])) return true;
  return false;
}

// The lines of a file as they arrive, each parsed into a new last row.
struct line_parser {
  read_options options;
  read_result& out;
  std::size_t line = 0;
  Row row;
  std::string rest;  // a line without its label token
  bool carriage_returns = false;  // whether the lines may hold one

  // Puts the label's place at the front of the row (found or not, so that
  // row lengths compare the values alone), and notes a line without it.
  // A blank line's row stays empty.
  void label(bool found, bool blank) {
    if (!blank) row.insert(row.begin(), 0.0);
    if (!found && out.unlabelled == 0) out.unlabelled = line;
  }

  // The row goes into the result, or to the sink when there is one.
  void keep(bool blank) {
    if (options.sink) {
      options.sink(row, blank);
      ++out.streamed;
      return;
    }
    out.rows.emplace_back(row.begin(), row.end());
    out.blank.push_back(blank);
  }

  // False once a bad field or a lone carriage return has stopped reading.
  bool add(std::string_view text) {
    if (++line == 1 && text.starts_with(byte_order_mark))
      text.remove_prefix(byte_order_mark.size());
    if (carriage_returns && lone_carriage_return(text)) {
      out.carriage_return = line;
      return false;
    }
    if (line <= options.skip) return true;
    row.clear();
    if (options.delimiter) return add_fields(text);
    bool found = false;
    if (options.label) {
      found = without_token(text, options.label, rest);
      if (found) text = rest;
    }
    const std::size_t stop = parse_line(text, row);
    const std::size_t values = row.size();
    const bool blank = !found && values == 0 && stop == text.size();
    if (options.label) label(found, blank);
    keep(blank);
    note_ignored(text.substr(stop), values, line, out.ignored);
    return true;
  }

  bool add_fields(std::string_view text) {
    bool found = false;
    const field_check check =
        parse_fields(text, options.delimiter, row, options.label, &found);
    if (check.position != 0) {
      out.bad = {line, check.position,
                 std::string(check.text.substr(0, ignored_cut + 1)),
                 check.out_of_range};
      return false;
    }
    const bool blank = row.empty() && !found;  // a line of blanks: no fields
    if (options.label) label(found, blank);
    keep(blank);
    return true;
  }

  // The last line, without a line feed. A file of nothing but a byte-order
  // mark has no line, as an empty one has none.
  void add_last(std::string_view text) {
    if (line == 0 && text == byte_order_mark) return;
    add(text);
  }
};

// The field from start to end without the blanks around it.
std::string_view trimmed(std::string_view line, std::size_t start,
                         std::size_t end, char delimiter) {
  while (start < end && is_blank(line[start], delimiter)) ++start;
  while (end > start && is_blank(line[end - 1], delimiter)) --end;
  return line.substr(start, end - start);
}

// Appends the field to row when it is exactly one number.
bool add_field(std::string_view field, Row& row) {
  const char* const end = field.data() + field.size();
  double value = 0.0;
  const char* const stop =
      field.empty() ? nullptr : scan_value(field.data(), end, value);
  if (stop != end) return false;
  row.push_back(value);
  return true;
}

// The bytes as they are on every system: Windows' text mode would turn
// "\r\n" into "\n" and garble compressed files.
#if defined(_WIN32)
constexpr int read_only = O_RDONLY | O_BINARY;
#else
constexpr int read_only = O_RDONLY | O_CLOEXEC;
#endif

read_result read_path(const std::string& path, read_options options) {
  const int fd = ::open(path.c_str(), read_only);
  if (fd < 0) {
    read_result result;
    result.error = std::strerror(errno);
    return result;
  }
  const std::size_t block = std::size_t{1} << 20;
  read_result result = is_gzip_name(path) ? read_gzip_fd(fd, block, options)
                                          : read_fd(fd, block, options);
  ::close(fd);
  return result;
}

}  // namespace

std::size_t parse_line(std::string_view line, Row& row) {
  const char* const begin = line.data();
  const char* const end = begin + line.size();
  const char* p = begin;
  for (;;) {
    while (p != end && is_space(*p)) ++p;
    double value = 0.0;
    const char* next = p == end ? nullptr : scan_value(p, end, value);
    if (!next) break;
    row.push_back(value);
    p = next;
  }
  return static_cast<std::size_t>(p - begin);
}

field_check parse_fields(std::string_view line, char delimiter, Row& row,
                         std::size_t label, bool* label_found) {
  if (label_found) *label_found = false;
  bool blank = true;
  for (const char c : line) blank = blank && is_blank(c, delimiter);
  if (blank) return {};
  std::size_t start = 0;
  for (std::size_t position = 1;; ++position) {
    std::size_t end = line.find(delimiter, start);
    if (end == std::string_view::npos) end = line.size();
    const bool last = end == line.size();
    if (position == label || (last && label == last_column)) {
      if (label_found) *label_found = true;
    } else {
      const std::string_view field = trimmed(line, start, end, delimiter);
      if (!add_field(field, row))
        return {position, field,
                !field.empty() &&
                    out_of_range(field.data(), field.data() + field.size()) ==
                        field.data() + field.size()};
    }
    if (last) return {};
    start = end + 1;
  }
}

bool without_token(std::string_view line, std::size_t label,
                   std::string& rest) {
  std::size_t begin = std::string_view::npos;
  std::size_t end = 0;
  std::size_t p = 0;
  for (std::size_t column = 1; column <= label; ++column) {
    while (p < line.size() && is_space(line[p])) ++p;
    if (p == line.size()) break;
    const std::size_t start = p;
    while (p < line.size() && !is_space(line[p])) ++p;
    if (column == label || label == last_column) {
      begin = start;
      end = p;
    }
  }
  if (begin == std::string_view::npos) return false;
  rest.assign(line.substr(0, begin));
  rest.append(line.substr(end));
  return true;
}

// Reads the source in large blocks and parses every line, the last one also
// without a final line feed. A line longer than the buffer grows it.
read_result read_source(const byte_source& source, std::size_t block,
                        read_options options) {
  read_result result;
  result.first_line = options.skip + 1;
  line_parser lines{options, result, 0, {}, {}, false};
  std::vector<char> buf(std::max(block, std::size_t{1}));
  std::size_t have = 0;
  for (;;) {
    if (have == buf.size()) buf.resize(buf.size() * 2);
    const std::size_t got =
        source(buf.data() + have, buf.size() - have, result.error);
    if (!result.error.empty()) return result;
    if (got == 0) break;
    // Lines are searched for a lone carriage return from the first block
    // that holds one on: plain text with line feeds pays one memchr.
    lines.carriage_returns =
        lines.carriage_returns || std::memchr(buf.data() + have, '\r', got);
    const char* base = buf.data();
    const std::size_t size = have + got;
    std::size_t start = 0;
    std::size_t from = have;  // the carried-over part holds no line feed
    while (const void* hit = std::memchr(base + from, '\n', size - from)) {
      const std::size_t nl = static_cast<const char*>(hit) - base;
      if (!lines.add(std::string_view(base + start, nl - start))) return result;
      start = from = nl + 1;
    }
    have = size - start;
    std::memmove(buf.data(), buf.data() + start, have);
  }
  if (have > 0) lines.add_last(std::string_view(buf.data(), have));
  return result;
}

read_result read_fd(int fd, std::size_t block, read_options options) {
  const auto from_fd = [fd](char* to, std::size_t size,
                            std::string& error) -> std::size_t {
    for (;;) {
      const ssize_t got = ::read(fd, to, size);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      return 0;
    }
  };
  return read_source(from_fd, block, options);
}

read_result read_table(const std::string& path, read_options options) {
  if (path == "-") return read_fd(STDIN_FILENO, std::size_t{1} << 20, options);
  return read_path(path, options);
}

Table input(std::string path) { return read_path(path, {}).rows; }
