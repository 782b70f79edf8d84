#include "reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "number_scan.h"

namespace {

// The whitespace of the "C" locale: blank, \t, \n, \v, \f, \r.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Whitespace other than the delimiter: the blanks around a field.
bool is_blank(char c, char delimiter) { return c != delimiter && is_space(c); }

// Keeps what the warning about ignored text needs: the first line that has
// some, its text, and the count of such lines.
void note_ignored(std::string_view rest, std::size_t line,
                  ignored_text& ignored) {
  if (rest.empty()) return;
  for (std::size_t k = 0; k < sizeof separators - 1; ++k)
    ignored.separated[k] += rest[0] == separators[k];
  if (++ignored.lines > 1) return;
  std::size_t size = rest.size();
  while (is_space(rest[size - 1])) --size;  // rest starts with a non-space
  ignored.line = line;
  ignored.text = rest.substr(0, std::min(size, ignored_cut + 1));
  ignored.out_of_range = out_of_range(rest.data(), rest.data() + rest.size());
}

// The lines of a file as they arrive, each parsed into a new last row.
struct line_parser {
  read_options options;
  read_result& out;
  std::size_t line = 0;
  Row row;

  // False once a bad field has stopped reading.
  bool add(std::string_view text) {
    if (++line == 1 && text.starts_with(byte_order_mark))
      text.remove_prefix(byte_order_mark.size());
    if (line == 1 && options.header) {
      out.first_line = 2;
      return true;
    }
    row.clear();
    if (options.delimiter) {
      const field_check check = parse_fields(text, options.delimiter, row);
      if (check.position != 0) {
        out.bad = {line, check.position,
                   std::string(check.text.substr(0, ignored_cut + 1)),
                   check.out_of_range};
        return false;
      }
      out.rows.emplace_back(row.begin(), row.end());
      out.blank.push_back(row.empty());  // a line of blanks has no fields
      return true;
    }
    const std::size_t stop = parse_line(text, row);
    out.rows.emplace_back(row.begin(), row.end());
    out.blank.push_back(row.empty() && stop == text.size());
    note_ignored(text.substr(stop), line, out.ignored);
    return true;
  }

  // The last line, without a line feed. A file of nothing but a byte-order
  // mark has no line, as an empty one has none.
  void add_last(std::string_view text) {
    if (line == 0 && text == byte_order_mark) return;
    add(text);
  }
};

read_result read_path(const std::string& path, read_options options) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    read_result result;
    result.error = std::strerror(errno);
    return result;
  }
  read_result result = read_fd(fd, std::size_t{1} << 20, options);
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

field_check parse_fields(std::string_view line, char delimiter, Row& row) {
  std::size_t start = 0;
  bool blank = true;
  for (const char c : line) blank = blank && is_blank(c, delimiter);
  if (blank) return {};
  for (std::size_t position = 1;; ++position) {
    std::size_t end = line.find(delimiter, start);
    if (end == std::string_view::npos) end = line.size();
    std::size_t first = start;
    std::size_t last = end;
    while (first < last && is_blank(line[first], delimiter)) ++first;
    while (last > first && is_blank(line[last - 1], delimiter)) --last;
    double value = 0.0;
    const char* stop = first == last ? nullptr
                                     : scan_value(line.data() + first,
                                                  line.data() + last, value);
    if (stop != line.data() + last)
      return {position, line.substr(first, last - first),
              first != last &&
                  out_of_range(line.data() + first, line.data() + last) ==
                      line.data() + last};
    row.push_back(value);
    if (end == line.size()) return {};
    start = end + 1;
  }
}

// Reads fd in large blocks and parses every line, the last one also without a
// final line feed. A line longer than the buffer grows it.
read_result read_fd(int fd, std::size_t block, read_options options) {
  read_result result;
  line_parser lines{options, result, 0, {}};
  std::vector<char> buf(std::max(block, std::size_t{1}));
  std::size_t have = 0;
  for (;;) {
    if (have == buf.size()) buf.resize(buf.size() * 2);
    const ssize_t got = ::read(fd, buf.data() + have, buf.size() - have);
    if (got < 0) {
      if (errno == EINTR) continue;
      result.error = std::strerror(errno);
      return result;
    }
    if (got == 0) break;
    const char* base = buf.data();
    const std::size_t size = have + static_cast<std::size_t>(got);
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

read_result read_table(const std::string& path, read_options options) {
  if (path == "-") return read_fd(STDIN_FILENO, std::size_t{1} << 20, options);
  return read_path(path, options);
}

Table input(std::string path) { return read_path(path, {}).rows; }
