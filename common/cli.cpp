#include "cli.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>

namespace {

std::string values(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " value" : " values");
}

// A thread count from 1 to 1024; nothing for anything else.
std::optional<unsigned> thread_count(const std::string& text) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || stop != end || value < 1 || value > 1024)
    return std::nullopt;
  return value;
}

// One byte, or "tab"; never a byte that a number or a blank is made of.
std::optional<char> delimiter(const std::string& text) {
  if (text == "tab") return '\t';
  if (text.size() != 1 || text[0] == '\0' ||
      std::strchr("0123456789+-.eE \n", text[0]))
    return std::nullopt;
  return text[0];
}

// The options, after each program's own description.
const char* const options_help =
    "-j, --threads N: compute on N threads (default: every CPU allowed).\n"
    "-v, --verbose: the statistics behind the width on standard error.\n"
    "-d, --delimiter CHAR: fields separated by CHAR (one byte, or \"tab\"),\n"
    "  each one number, blanks around it allowed.\n"
    "--header: skip line 1 of DATAFILE.\n"
    "--progress, --no-progress: a progress line on standard error (by\n"
    "  default on a terminal, for 10^9 distances or more).\n"
    "\n"
    "Exit status: 0 width printed, 1 bad input or I/O error, 2 usage error.\n";

// What to type for each of separators, and what to call it.
const char* const separator_hints[] = {"comma-separated? try -d ,",
                                       "semicolon-separated? try -d ';'",
                                       "pipe-separated? try -d '|'"};

}  // namespace

command command_line(int argc, char** argv, const char* program,
                     const char* help) {
  const std::string usage =
      std::string("usage: ") + program +
      " [-h | --help | --version] [-j N | --threads N] [-v | --verbose]\n"
      "       [-d CHAR | --delimiter CHAR] [--header]"
      " [--progress | --no-progress] DATAFILE\n";
  command c;
  auto misuse = [&](const std::string& message) {
    std::cerr << program << ": " << message << '\n' << usage;
    c.status = 2;
    return c;
  };
  auto done = [&](std::ostream& out) {
    c.status = out.fail() ? 1 : 0;
    return c;
  };
  options& o = c.opts;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') break;  // "-" is a file name
    // An option's value: the next argument, or what follows "-j" or "=".
    auto value = [&](const char* shorter,
                     const char* longer) -> std::optional<std::string> {
      const std::string s = shorter;
      const std::string l = std::string(longer) + "=";
      if (arg == shorter || arg == longer) {
        if (i + 1 == argc) return std::nullopt;
        return std::string(argv[++i]);
      }
      if (arg.rfind(l, 0) == 0) return arg.substr(l.size());
      return arg.substr(s.size());
    };
    auto is = [&](const char* shorter, const char* longer) {
      return arg == longer || arg.rfind(std::string(longer) + "=", 0) == 0 ||
             arg.rfind(shorter, 0) == 0;
    };
    if (arg == "-h" || arg == "--help") {
      std::cout << usage << help << options_help << std::flush;
      return done(std::cout);
    }
    if (arg == "--version") {
      std::cout << program << ' ' << KERNEL_WIDTH_VERSION << std::endl;
      return done(std::cout);
    }
    if (arg == "-v" || arg == "--verbose") {
      o.verbose = true;
    } else if (arg == "--header") {
      o.reading.header = true;
    } else if (arg == "--progress") {
      o.progress = progress_mode::on;
    } else if (arg == "--no-progress") {
      o.progress = progress_mode::off;
    } else if (is("-j", "--threads")) {
      const auto text = value("-j", "--threads");
      if (!text) return misuse("option '" + arg + "' needs a number");
      const auto count = thread_count(*text);
      if (!count) return misuse("bad thread count '" + *text + "'");
      o.threads = *count;
    } else if (is("-d", "--delimiter")) {
      const auto text = value("-d", "--delimiter");
      if (!text) return misuse("option '" + arg + "' needs a character");
      const auto byte = delimiter(*text);
      if (!byte) return misuse("bad delimiter '" + visible(*text) + "'");
      o.reading.delimiter = *byte;
    } else {
      return misuse("unknown option '" + arg + "'");
    }
  }
  if (i >= argc) {
    std::cerr << usage;
    c.status = 2;
    return c;
  }
  o.file = argv[i];
  c.run = true;
  return c;
}

std::string shown_name(const std::string& path) {
  return path == "-" ? "<stdin>" : path;
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

namespace {

// "text" cut at ignored_cut bytes and escaped; "..." after it when cut.
std::string quoted(std::string_view text) {
  return "\"" + visible(text.substr(0, ignored_cut)) + "\"" +
         (text.size() > ignored_cut ? "..." : "");
}

}  // namespace

std::string ignored_warning(const std::string& name, const read_result& read) {
  const ignored_text& ignored = read.ignored;
  if (ignored.line == 0) return "";
  std::string message =
      name + ":" + std::to_string(ignored.line) + ": warning: ignored " +
      quoted(ignored.text) + " after " +
      values(read.rows[ignored.line - read.first_line].size());
  const std::size_t more = ignored.lines - 1;
  if (more > 0)
    message += " (and on " + std::to_string(more) +
               (more == 1 ? " more line)" : " more lines)");
  for (std::size_t k = 0; k < std::size(separator_hints); ++k)
    if (2 * ignored.separated[k] > read.rows.size())
      return message + "; " + separator_hints[k];
  return message;
}

loaded load(const char* program, const std::string& path,
            read_options options) {
  const std::string name = shown_name(path);
  read_result read = read_table(path, options);
  if (!read.error.empty()) return {{}, 1, name + ": " + read.error};
  if (read.bad.position != 0) {
    const bad_field& bad = read.bad;
    std::string message =
        name + ":" + std::to_string(bad.line) + ": field " +
        std::to_string(bad.position) +
        (bad.text.empty() ? " is empty"
                          : ": " + quoted(bad.text) + " is not a number");
    if (bad.line == 1) message += " (a header? try --header)";
    return {{}, 1, message};
  }
  warn(program, ignored_warning(name, read));
  return {std::move(read.rows), read.first_line, ""};
}

std::string check_samples(const Table& data, std::size_t first,
                          const std::string& name, std::size_t first_line) {
  if (data.empty()) return "";
  const std::size_t width = data[0].size();
  for (std::size_t r = 1; r < data.size(); ++r)
    if (data[r].size() != width) {
      std::string message = name + ":" + std::to_string(first_line + r) + ": " +
                            values(data[r].size()) + ", expected " +
                            std::to_string(width) + " as on line " +
                            std::to_string(first_line);
      if (r == 1 && width == 0 && first_line == 1)
        message += " (a header on line 1? try --header)";
      return message;
    }
  if (width == 0) return name + ": no values on any line";
  if (width <= first) return name + ": only labels, no feature values";
  return "";
}

std::optional<Table> read_samples(const char* program, const options& opts,
                                  std::size_t first) {
  loaded data = load(program, opts.file, opts.reading);
  if (!data.error.empty()) {
    fail(program, data.error);
    return std::nullopt;
  }
  const std::string name = shown_name(opts.file);
  const std::string why =
      check_samples(data.rows, first, name, data.first_line);
  if (!why.empty()) {
    fail(program, why);
    return std::nullopt;
  }
  if (data.rows.size() < 2)
    warn(program, name + ": warning: " +
                      (data.rows.empty() ? "no samples" : "one sample"));
  return std::move(data.rows);
}

std::optional<packed> read_packed(const char* program, const options& opts,
                                  std::size_t first) {
  std::size_t needed = 0;  // what the allocation under way asks for
  try {
    std::optional<Table> data = read_samples(program, opts, first);
    if (!data) return std::nullopt;
    const std::size_t n = data->size();
    const std::size_t cols = n == 0 ? 0 : data->front().size() - first;
    needed = (n + panel_width - 1) / panel_width * panel_width * cols *
             sizeof(double);
    return pack(*data, first);
  } catch (const std::bad_alloc&) {
    out_of_memory(program, shown_name(opts.file), needed);
    return std::nullopt;
  }
}

int print_width(const char* program, double width) {
  errno = 0;
  std::cout << width << '\n';
  std::cout.flush();
  if (!std::cout.fail()) return 0;
  return fail(program, std::string("standard output: ") +
                           (errno ? std::strerror(errno) : "write error"));
}

int fail(const char* program, const std::string& message) {
  std::cerr << program << ": " << message << '\n';
  return 1;
}

void warn(const char* program, const std::string& message) {
  if (!message.empty()) fail(program, message);
}

int out_of_memory(const char* program, const std::string& name,
                  std::size_t bytes) {
  std::string message = name + ": out of memory";
  if (bytes > 0) {
    char size[64];
    std::snprintf(size, sizeof size, " (%.1f MiB needed)",
                  static_cast<double>(bytes) / (1 << 20));
    message += size;
  }
  return fail(program, message);
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
