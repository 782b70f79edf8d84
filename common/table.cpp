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

// Keeps what the warning about ignored text needs: the first line that has
// some, its text, and the count of such lines.
void note_ignored(std::string_view rest, std::size_t line,
                  std::size_t& ignored_line, std::string& ignored_text,
                  std::size_t& ignored_lines) {
  if (rest.empty()) return;
  if (++ignored_lines > 1) return;
  std::size_t size = rest.size();
  while (is_space(rest[size - 1])) --size;  // rest starts with a non-space
  ignored_line = line;
  ignored_text = rest.substr(0, std::min(size, ignored_cut + 1));
}

// Parses one line into a new last row of table.
void add_row(std::string_view line, Row& row, Table& table,
             std::size_t& ignored_line, std::string& ignored_text,
             std::size_t& ignored_lines) {
  row.clear();
  const std::size_t stop = parse_line(line, row);
  table.emplace_back(row.begin(), row.end());
  note_ignored(line.substr(stop), table.size(), ignored_line, ignored_text,
               ignored_lines);
}

bool read_path(const std::string& path, Table& table, std::string& why,
               std::size_t& ignored_line, std::string& ignored_text,
               std::size_t& ignored_lines) {
  table.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  const bool ok = read_fd(fd, std::size_t{1} << 20, table, why, ignored_line,
                          ignored_text, ignored_lines);
  ::close(fd);
  return ok;
}

double entry_count(std::size_t n) {
  return static_cast<double>(static_cast<std::int64_t>(n) *
                             static_cast<std::int64_t>(n));
}

std::string values(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " value" : " values");
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

// Reads fd in large blocks and parses every line, the last one also without a
// final line feed. A line longer than the buffer grows it.
bool read_fd(int fd, std::size_t block, Table& table, std::string& why,
             std::size_t& ignored_line, std::string& ignored_text,
             std::size_t& ignored_lines) {
  table.clear();
  ignored_line = ignored_lines = 0;
  ignored_text.clear();
  std::vector<char> buf(std::max(block, std::size_t{1}));
  std::size_t have = 0;
  Row row;
  for (;;) {
    if (have == buf.size()) buf.resize(buf.size() * 2);
    const ssize_t got = ::read(fd, buf.data() + have, buf.size() - have);
    if (got < 0) {
      if (errno == EINTR) continue;
      why = std::strerror(errno);
      return false;
    }
    if (got == 0) break;
    const char* base = buf.data();
    const std::size_t size = have + static_cast<std::size_t>(got);
    std::size_t start = 0;
    std::size_t from = have;  // the carried-over part holds no line feed
    while (const void* hit = std::memchr(base + from, '\n', size - from)) {
      const std::size_t nl = static_cast<const char*>(hit) - base;
      add_row(std::string_view(base + start, nl - start), row, table,
              ignored_line, ignored_text, ignored_lines);
      start = from = nl + 1;
    }
    have = size - start;
    std::memmove(buf.data(), buf.data() + start, have);
  }
  if (have > 0)
    add_row(std::string_view(buf.data(), have), row, table, ignored_line,
            ignored_text, ignored_lines);
  return true;
}

bool read_table(const std::string& path, Table& table, std::string& why) {
  std::size_t line = 0;
  std::size_t lines = 0;
  std::string text;
  return read_path(path, table, why, line, text, lines);
}

bool read_table(const std::string& path, Table& table, std::string& why,
                std::size_t& ignored_line, std::string& ignored_text,
                std::size_t& ignored_lines) {
  if (path == "-")
    return read_fd(STDIN_FILENO, std::size_t{1} << 20, table, why, ignored_line,
                   ignored_text, ignored_lines);
  return read_path(path, table, why, ignored_line, ignored_text, ignored_lines);
}

std::string shown_name(const std::string& path) {
  return path == "-" ? "<stdin>" : path;
}

bool read_input(const char* program, const std::string& path, Table& table,
                std::string& why) {
  std::size_t line = 0;
  std::size_t lines = 0;
  std::string text;
  const std::string name = shown_name(path);
  if (!read_table(path, table, why, line, text, lines)) {
    why = name + ": " + why;
    return false;
  }
  warn(program, ignored_warning(name, table, line, text, lines));
  return true;
}

std::string visible(std::string_view text) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte >= 0x20 && byte < 0x7f) {
      out += c;
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\v') {
      out += "\\v";
    } else if (c == '\f') {
      out += "\\f";
    } else {
      out += "\\x";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    }
  }
  return out;
}

std::string ignored_warning(const std::string& name, const Table& table,
                            std::size_t ignored_line,
                            const std::string& ignored_text,
                            std::size_t ignored_lines) {
  if (ignored_line == 0) return "";
  const std::string_view text = ignored_text;
  std::string message = name + ":" + std::to_string(ignored_line) +
                        ": warning: ignored \"" +
                        visible(text.substr(0, ignored_cut)) + "\"" +
                        (text.size() > ignored_cut ? "..." : "") + " after " +
                        values(table[ignored_line - 1].size());
  const std::size_t more = ignored_lines - 1;
  if (more > 0)
    message += " (and on " + std::to_string(more) +
               (more == 1 ? " more line)" : " more lines)");
  return message;
}

Table input(std::string path) {
  Table table;
  std::string why;
  read_table(path, table, why);
  return table;
}

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
  double best = 1000000.0;
  std::size_t chosen = 0;
  for (std::size_t r = 0; r < table.size(); ++r) {
    const double d = square(ratio - table[r][0]);
    if (d < best) {
      best = d;
      chosen = r;
    }
  }
  return chosen;
}

std::string check_samples(const Table& data, std::size_t first,
                          const std::string& name) {
  if (data.empty()) return "";
  const std::size_t width = data[0].size();
  for (std::size_t r = 1; r < data.size(); ++r)
    if (data[r].size() != width)
      return name + ":" + std::to_string(r + 1) + ": " +
             values(data[r].size()) + ", expected " + std::to_string(width) +
             " as on line 1";
  if (width == 0) return name + ": no values on any line";
  if (width <= first) return name + ": only labels, no feature values";
  return "";
}

bool read_samples(const char* program, const std::string& path,
                  std::size_t first, Table& data) {
  std::string why;
  if (!read_input(program, path, data, why)) {
    fail(program, why);
    return false;
  }
  const std::string name = shown_name(path);
  why = check_samples(data, first, name);
  if (!why.empty()) {
    fail(program, why);
    return false;
  }
  if (data.size() < 2)
    warn(program,
         name + ": warning: " + (data.empty() ? "no samples" : "one sample"));
  return true;
}

int print_width(const char* program, double width) {
  errno = 0;
  std::cout << width << '\n';
  std::cout.flush();
  if (!std::cout.fail()) return 0;
  return fail(program, std::string("standard output: ") +
                           (errno ? std::strerror(errno) : "write error"));
}

namespace {

// A thread count from 1 to 1024; false for anything else.
bool parse_threads(const std::string& text, unsigned& threads) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || stop != end || value < 1 || value > 1024)
    return false;
  threads = value;
  return true;
}

}  // namespace

bool command_line(int argc, char** argv, const char* program, const char* help,
                  std::string& file, unsigned& threads, bool& verbose,
                  int& status) {
  const std::string usage =
      std::string("usage: ") + program +
      " [-h | --help | --version] [-j N | --threads N] [-v | --verbose] "
      "DATAFILE\n";
  auto misuse = [&](const std::string& message) {
    std::cerr << program << ": " << message << '\n' << usage;
    status = 2;
    return false;
  };
  threads = 0;
  verbose = false;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') break;  // "-" is a file name
    if (arg == "-h" || arg == "--help") {
      std::cout << usage << help << std::flush;
      status = std::cout.fail() ? 1 : 0;
      return false;
    }
    if (arg == "--version") {
      std::cout << program << ' ' << KERNEL_WIDTH_VERSION << std::endl;
      status = std::cout.fail() ? 1 : 0;
      return false;
    }
    if (arg == "-v" || arg == "--verbose") {
      verbose = true;
    } else if (arg == "-j" || arg == "--threads") {
      if (++i == argc) return misuse("option '" + arg + "' needs a number");
      if (!parse_threads(argv[i], threads))
        return misuse("bad thread count '" + std::string(argv[i]) + "'");
    } else if (arg.rfind("--threads=", 0) == 0 || arg.rfind("-j", 0) == 0) {
      const std::string value = arg.substr(arg[1] == 'j' ? 2 : 10);
      if (!parse_threads(value, threads))
        return misuse("bad thread count '" + value + "'");
    } else {
      return misuse("unknown option '" + arg + "'");
    }
  }
  if (i >= argc) {
    std::cerr << usage;
    status = 2;
    return false;
  }
  file = argv[i];
  return true;
}

int fail(const char* program, const std::string& message) {
  std::cerr << program << ": " << message << '\n';
  return 1;
}

void warn(const char* program, const std::string& message) {
  if (!message.empty()) fail(program, message);
}

std::string exact(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

void report(const std::vector<std::pair<std::string, std::string>>& lines) {
  for (const auto& [name, value] : lines)
    std::cerr << name << ": " << value << '\n';
  std::cerr.flush();
}
