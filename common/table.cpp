#include "table.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>

namespace {

// The whitespace of the "C" locale: blank, \t, \n, \v, \f, \r.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// strtod's reading of a token from_chars would not take; like the stream, an
// overflow to infinity counts as a failed extraction.
bool convert_slow(const char* first, const char* last, double& value) {
  const std::string token(first, last);
  char* stop = nullptr;
  const double v = std::strtod(token.c_str(), &stop);
  if (stop != token.c_str() + token.size() || std::isinf(v)) return false;
  value = v;
  return true;
}

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
}

// The lines of a file as they arrive, each parsed into a new last row.
struct line_parser {
  read_options options;
  read_result& out;
  std::size_t line = 0;
  Row row;

  // False once a bad field has stopped reading.
  bool add(std::string_view text) {
    if (++line == 1 && options.header) {
      out.first_line = 2;
      return true;
    }
    row.clear();
    if (options.delimiter) {
      const field_check check = parse_fields(text, options.delimiter, row);
      if (check.position != 0) {
        out.bad = {line, check.position,
                   std::string(check.text.substr(0, ignored_cut + 1))};
        return false;
      }
      out.rows.emplace_back(row.begin(), row.end());
      return true;
    }
    const std::size_t stop = parse_line(text, row);
    out.rows.emplace_back(row.begin(), row.end());
    note_ignored(text.substr(stop), line, out.ignored);
    return true;
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

double entry_count(std::size_t n) {
  return static_cast<double>(static_cast<std::int64_t>(n) *
                             static_cast<std::int64_t>(n));
}

}  // namespace

namespace {

// Powers of ten that doubles hold exactly.
constexpr double exact_tens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A token of at most 19 digits, with mantissa m <= 2^53 and decimal exponent
// |e| <= 22, is m * 10^e or m / 10^-e with both operands exact: one correctly
// rounded operation, the value from_chars and strtod give. Others: false.
bool convert_fast(bool negative, std::uint64_t mantissa, int digits,
                  int exponent, double& value) {
  if (digits > 19 || mantissa > (std::uint64_t{1} << 53) || exponent < -22 ||
      exponent > 22)
    return false;
  const double m = static_cast<double>(mantissa);
  const double v =
      exponent < 0 ? m / exact_tens[-exponent] : m * exact_tens[exponent];
  value = negative ? -v : v;
  return true;
}

}  // namespace

// The stream takes an optional sign, digits with at most one point, and an
// exponent only after a digit; it stops at the first character that does not
// fit and then converts what it took. A token without mantissa digits, or
// with an exponent but no exponent digits, fails as a whole.
const char* scan_value(const char* p, const char* end, double& value) {
  const char* token = p;
  const bool negative = p != end && *p == '-';
  if (p != end && (*p == '+' || *p == '-')) ++p;
  if (token != p && *token == '+') ++token;  // from_chars takes no '+'
  std::uint64_t mantissa = 0;
  int digits = 0;    // counted up to 20: more take the slow path
  int fraction = 0;  // digits kept after the point
  bool point = false;
  for (; p != end; ++p) {
    if (is_digit(*p)) {
      if (digits < 20) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
        fraction += point;
      }
      digits += digits < 20;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return nullptr;
  int exponent = 0;
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool down = p != end && *p == '-';
    if (p != end && (*p == '+' || *p == '-')) ++p;
    const char* first = p;
    for (; p != end && is_digit(*p); ++p)
      if (exponent < 10000) exponent = exponent * 10 + (*p - '0');
    if (p == first) return nullptr;
    if (down) exponent = -exponent;
  }
  if (convert_fast(negative, mantissa, digits, exponent - fraction, value))
    return p;
  const auto [stop, ec] = std::from_chars(token, p, value);
  if (ec == std::errc{} && stop == p) return p;
  return convert_slow(token, p, value) ? p : nullptr;
}

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
      return {position, line.substr(first, last - first)};
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
  if (have > 0) lines.add(std::string_view(buf.data(), have));
  return result;
}

read_result read_table(const std::string& path, read_options options) {
  if (path == "-") return read_fd(STDIN_FILENO, std::size_t{1} << 20, options);
  return read_path(path, options);
}

Table input(std::string path) { return read_path(path, {}).rows; }

void distance_row(const Table& data, std::size_t i, std::size_t first,
                  double* out) {
  const Row& a = data[i];
  for (std::size_t l = 0; l < data.size(); ++l) {
    const Row& b = data[l];
    const std::size_t end = std::min(a.size(), b.size());
    double sum = 0.0;
    for (std::size_t c = first; c < end; ++c) sum += square(a[c] - b[c]);
    out[l] = std::sqrt(sum);
  }
}

Table distance_matrix(const Table& data, std::size_t first_column) {
  Table matrix(data.size(), Row(data.size()));
  for (std::size_t i = 0; i < data.size(); ++i)
    distance_row(data, i, first_column, matrix[i].data());
  return matrix;
}

double distance_mean(const Table& data, std::size_t first) {
  Row row(data.size());
  double sum = 0.0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    distance_row(data, i, first, row.data());
    for (const double d : row) sum += d;
  }
  return sum / entry_count(data.size());
}

double distance_variance(const Table& data, std::size_t first, double mean) {
  Row row(data.size());
  double sum = 0.0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    distance_row(data, i, first, row.data());
    for (const double d : row) sum += square(d - mean);
  }
  return sum / entry_count(data.size());
}

// Summation order of the labelled total, shared with pair_total (block.h):
// only pairs i < l, doubled at the end. Row i keeps 8 lane sums, lane k
// adding the distances to the l > i with l % 8 == k in increasing l; the
// row's sum adds its lanes 0..7 in order; the total adds the row sums in row
// order. Every row is a fixed block, so no thread count changes the result.
double distance_total(const Table& data, std::size_t first) {
  Row row(data.size());
  double total = 0.0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    distance_row(data, i, first, row.data());
    double lanes[8] = {};
    for (std::size_t l = i + 1; l < data.size(); ++l) lanes[l % 8] += row[l];
    double sum = 0.0;
    for (const double s : lanes) sum += s;
    total += sum;
  }
  return 2.0 * total;
}

std::size_t nearest_row(const Table& table, double ratio) {
  return nearest(table.size(), ratio,
                 [&](std::size_t r) { return table[r][0]; });
}
