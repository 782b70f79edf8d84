#include "command_line.h"

#include <charconv>
#include <cstring>
#include <iostream>
#include <optional>

#include "kernel_width/kernel_width.h"
#include "messages.h"

namespace {

// The options, after each program's own description.
const char* const options_help =
    "-j, --threads N: compute on N threads (default: every CPU allowed).\n"
    "-v, --verbose: the statistics behind the width on standard error.\n"
    "-d, --delimiter CHAR: fields separated by CHAR (one byte, or \"tab\"),\n"
    "  each one number, blanks around it allowed.\n"
    "-l, --label N: the label is column N (from 1, or \"last\"), any text;\n"
    "  labelled_kernel_width: default 1; form_kernel_width: the column is\n"
    "  left out (default: none).\n"
    "--skip-lines N: skip the first N lines of DATAFILE.\n"
    "--header: skip line 1 of DATAFILE (--skip-lines 1).\n"
    "--progress, --no-progress: a progress line on standard error (by\n"
    "  default on a terminal, for 10^9 distances or more).\n"
    "\n"
    "Exit status: 0 width printed, 1 bad input or I/O error, 2 usage error.\n";

std::string usage_of(const char* program) {
  return std::string("usage: ") + program +
         " [-h | --help | --version] [-j N | --threads N] [-v | --verbose]\n"
         "       [-d CHAR | --delimiter CHAR] [-l N | --label N]"
         " [--skip-lines N | --header]\n"
         "       [--progress | --no-progress] DATAFILE\n";
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

// A count of lines: any whole number from 0.
std::optional<std::size_t> line_count(const std::string& text) {
  std::size_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || stop != end) return std::nullopt;
  return value;
}

// A column from 1, or "last".
std::optional<std::size_t> label_column(const std::string& text) {
  if (text == "last") return last_column;
  const auto column = line_count(text);
  if (!column || *column == 0 || *column == last_column) return std::nullopt;
  return column;
}

// One byte, or "tab"; never a byte that a number or a blank is made of.
std::optional<char> delimiter(const std::string& text) {
  if (text == "tab") return '\t';
  if (text.size() != 1 || text[0] == '\0' ||
      std::strchr("0123456789+-.eE \n", text[0]))
    return std::nullopt;
  return text[0];
}

// The arguments, and the one being read.
struct arguments {
  int argc;
  char** argv;
  int i;
  std::string arg() const { return argv[i]; }
};

// Whether the argument is the option: "-j", "-j4", "--threads",
// "--threads=4". An option without a short form has shorter "".
bool is(const std::string& arg, const char* shorter, const char* longer) {
  return arg == longer || arg.rfind(std::string(longer) + "=", 0) == 0 ||
         (*shorter && arg.rfind(shorter, 0) == 0);
}

// An option's value: the next argument, or what follows "-j" or "=".
std::optional<std::string> value(arguments& a, const char* shorter,
                                 const char* longer) {
  const std::string arg = a.arg();
  const std::string l = std::string(longer) + "=";
  if (arg == shorter || arg == longer) {
    if (a.i + 1 == a.argc) return std::nullopt;
    return std::string(a.argv[++a.i]);
  }
  if (arg.rfind(l, 0) == 0) return arg.substr(l.size());
  return arg.substr(std::strlen(shorter));
}

// Takes the option at a.i (and its value) into o; what is wrong with it,
// or nothing.
std::optional<std::string> take_option(arguments& a, options& o) {
  const std::string arg = a.arg();
  if (arg == "-v" || arg == "--verbose") {
    o.verbose = true;
  } else if (arg == "--header") {
    o.reading.skip = 1;
  } else if (arg == "--progress") {
    o.progress = progress_mode::on;
  } else if (arg == "--no-progress") {
    o.progress = progress_mode::off;
  } else if (is(arg, "-j", "--threads")) {
    const auto text = value(a, "-j", "--threads");
    if (!text) return "option '" + arg + "' needs a number";
    const auto count = thread_count(*text);
    if (!count) return "bad thread count '" + *text + "'";
    o.threads = *count;
  } else if (is(arg, "-d", "--delimiter")) {
    const auto text = value(a, "-d", "--delimiter");
    if (!text) return "option '" + arg + "' needs a character";
    const auto byte = delimiter(*text);
    if (!byte) return "bad delimiter '" + visible(*text) + "'";
    o.reading.delimiter = *byte;
  } else if (is(arg, "-l", "--label")) {
    const auto text = value(a, "-l", "--label");
    if (!text) return "option '" + arg + "' needs a column";
    const auto column = label_column(*text);
    if (!column) return "bad label column '" + visible(*text) + "'";
    o.reading.label = *column;
  } else if (is(arg, "", "--skip-lines")) {
    const auto text = value(a, "", "--skip-lines");
    if (!text) return "option '" + arg + "' needs a number";
    const auto count = line_count(*text);
    if (!count) return "bad line count '" + visible(*text) + "'";
    o.reading.skip = *count;
  } else {
    return "unknown option '" + arg + "'";
  }
  return std::nullopt;
}

// Help or the version on standard output: status 0, or 1 when it could not
// be written.
command info(const std::string& text) {
  std::cout << text << std::flush;
  return {false, std::cout.fail() ? 1 : 0, {}};
}

}  // namespace

command command_line(int argc, char** argv, const char* program,
                     const char* help) {
  const std::string usage = usage_of(program);
  command c;
  arguments a{argc, argv, 1};
  for (; a.i < argc; ++a.i) {
    const std::string arg = a.arg();
    if (arg == "--") {
      ++a.i;
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') break;  // "-" is a file name
    if (arg == "-h" || arg == "--help")
      return info(usage + help + options_help);
    if (arg == "--version")
      return info(std::string(program) + ' ' + kernel_width::version() + '\n');
    if (const auto wrong = take_option(a, c.opts)) {
      std::cerr << program << ": " << *wrong << '\n' << usage;
      return {false, 2, {}};
    }
  }
  if (a.i >= argc) {
    std::cerr << usage;
    return {false, 2, {}};
  }
  c.opts.file = argv[a.i];
  c.run = true;
  return c;
}
