#include "command_line.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <iostream>
#include <optional>
#include <random>

#include "kernel_width/kernel_width.h"
#include "messages.h"
#include "number_scan.h"

namespace {

// The licence's SPDX identifier, which --version names beside the version.
const char* const licence = "BSD-3-Clause";

// The options, after each program's own description.
const char* const options_help =
    "-j, --threads N: compute on N threads, 1 to 1024 (0 or by default: every\n"
    "  CPU allowed).\n"
    "-v, --verbose: the statistics behind the width on standard error.\n"
    "-d, --delimiter CHAR: fields separated by CHAR (one byte, or \"tab\"),\n"
    "  each one number, blanks around it allowed.\n"
    "-l, --label N: the label is column N (from 1, or \"last\"), any text;\n"
    "  labelled_kernel_width: default 1; form_kernel_width and\n"
    "  median_kernel_width: the column is left out (default: none).\n"
    "--skip-lines N: skip the first N lines of DATAFILE.\n"
    "--header: skip line 1 of DATAFILE (--skip-lines 1).\n"
    "--progress, --no-progress: a progress line on standard error (by\n"
    "  default on a terminal, for 10^9 distances or more).\n"
    "--strict: every warning is an error (\"error\" in place of \"warning\"):\n"
    "  status 1, nothing on standard output; extra arguments a usage error.\n"
    "--output KIND: print the kernel's parameter KIND: width (w of\n"
    "  exp(-d^2/w), the default), sigma (sqrt(w/2), of exp(-d^2/(2 sigma^2)))\n"
    "  or gamma (1/w, of exp(-gamma d^2)).\n";

const char* const table_help =
    "--table FILE: read the table from FILE instead of\n"
    "  ./form_of_relationship.txt.\n";

const char* const median_help =
    "-q, --quantile P[,P...]: the quantiles P (each from 0 to 1, at most 64)\n"
    "  of the distances, as numpy.quantile gives them, one width per line in\n"
    "  the order given, instead of the median.\n"
    "--cross: with YFILE, only the distances between a sample of DATAFILE\n"
    "  and a sample of YFILE.\n";

const char* const sample_help =
    "--sample M: M pairs (1 to 2^63) drawn at random, with replacement, in\n"
    "  place of every pair: the estimate from them in seconds at any n, and\n"
    "  with -v an interval that holds the exact width with probability at\n"
    "  least C (low: and high: after each width: line).\n"
    "--seed S: the draws' seed, 0 to 2^64-1 (default 0, so that two runs\n"
    "  agree), or \"random\" (shown with -v); with --sample only.\n"
    "--confidence C: the interval's probability, between 0 and 1 (default\n"
    "  0.99); with --sample only.\n";

const char* const status_help =
    "\n"
    "Exit status: 0 width printed, 1 bad input or I/O error, 2 usage error.\n";

std::string usage_of(const char* program, program_kind kind) {
  const bool median = kind == program_kind::median;
  const char* const sample = "[--sample M [--seed S] [--confidence C]]";
  return std::string("usage: ") + program +
         " [-h | --help | --version] [-j N | --threads N] [-v | --verbose]\n"
         "       [-d CHAR | --delimiter CHAR] [-l N | --label N]"
         " [--skip-lines N | --header]\n"
         "       [--progress | --no-progress] [--strict] [--output KIND]\n"
         "       " +
         (kind == program_kind::form ? "[--table FILE] DATAFILE\n"
          : median ? std::string("[-q P[,P...] | --quantile P[,P...]] "
                                 "[--cross]\n       ") +
                         sample + " DATAFILE [YFILE]\n"
                   : std::string(sample) + " DATAFILE\n");
}

// A thread count from 0 (every core) to 1024; nothing for anything else.
std::optional<unsigned> thread_count(const std::string& text) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || stop != end || value > 1024) return std::nullopt;
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

// A probability from 0 to 1, as a whole field written as the data files
// write numbers: "0.5", "+0.5", "1", ".25", "1e-3"; "-0" is 0.
std::optional<double> probability(const std::string& text) {
  double value = 0;
  const char* end = text.data() + text.size();
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) ||
      scan_value(text.data(), end, value) != end ||
      !(value >= 0 && value <= 1))
    return std::nullopt;
  return value + 0.0;  // -0 + 0 is +0
}

// The quantiles of a -q list, added to those before; what is wrong with
// the list, or nothing.
std::optional<std::string> take_quantiles(const std::string& list,
                                          std::vector<double>& into) {
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = std::min(list.find(',', from), list.size());
    const std::string item = list.substr(from, comma - from);
    const auto p = probability(item);
    if (!p)
      return item.empty() ? "bad quantile list '" + visible(list) +
                                "' (an empty value)"
                          : "bad quantile '" + visible(item) +
                                "' (a number from 0 to 1)";
    into.push_back(*p);
    if (into.size() > most_quantiles)
      return "too many quantiles (at most " + std::to_string(most_quantiles) +
             ")";
    if (comma == list.size()) return std::nullopt;
    from = comma + 1;
  }
}

// A count of draws: a whole number from 1 to 2^63, digits only.
std::optional<std::uint64_t> draw_count(const std::string& text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || stop != end || value == 0 || value > most_draws)
    return std::nullopt;
  return value;
}

// A seed: any unsigned 64-bit whole number, digits only.
std::optional<std::uint64_t> seed_of(const std::string& text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || stop != end) return std::nullopt;
  return value;
}

// A fresh seed from the system's entropy, for --seed random.
std::uint64_t random_seed() {
  std::random_device device;
  return std::uint64_t{device()} << 32 ^ device();
}

std::optional<output_kind> output_of(const std::string& text) {
  if (text == "width") return output_kind::width;
  if (text == "sigma") return output_kind::sigma;
  if (text == "gamma") return output_kind::gamma;
  return std::nullopt;
}

// The arguments, and the one being read.
struct arguments {
  int argc;
  char** argv;
  int i;
  bool files_only = false;  // after "--": even "-x" names a file
  std::string needs_sample;  // the first --seed or --confidence given
  std::string arg() const { return argv[i]; }
};

// Whether the data file argument k is an option put after the data files.
bool misplaced_option(const arguments& a, int k) {
  const std::string arg = a.argv[k];
  return !a.files_only && arg.size() > 1 && arg[0] == '-';
}

// The usage error for an option after the data files, or nothing.
std::optional<std::string> option_after_files(const arguments& a, int from) {
  for (int k = from; k < a.argc; ++k)
    if (misplaced_option(a, k))
      return "option '" + visible(a.argv[k]) +
             "' after the data files: options go before the data files";
  return std::nullopt;
}

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
  if ((*shorter && arg == shorter) || arg == longer) {
    if (a.i + 1 == a.argc) return std::nullopt;
    return std::string(a.argv[++a.i]);
  }
  if (arg.rfind(l, 0) == 0) return arg.substr(l.size());
  return arg.substr(std::strlen(shorter));
}

// What is wrong with a delimiter that is not one: `-d '\t'` is a tab
// written as in C.
std::string bad_delimiter(const std::string& text) {
  return "bad delimiter '" + visible(text) + "'" +
         (text == "\\t" ? " (a tab? try -d tab)" : "");
}

// The options of one program only: form's --table, the median's -q and
// --cross. Whether the argument was one, and what is wrong with it.
std::optional<std::string> take_own_option(arguments& a, options& o,
                                           program_kind kind, bool& taken) {
  const std::string arg = a.arg();
  taken = true;
  if (kind == program_kind::form && is(arg, "", "--table")) {
    const auto text = value(a, "", "--table");
    if (!text || text->empty()) return "option '--table' needs a file name";
    o.table = *text;
  } else if (kind == program_kind::median && is(arg, "-q", "--quantile")) {
    const auto text = value(a, "-q", "--quantile");
    if (!text || text->empty())
      return "option '" + arg + "' needs a number from 0 to 1";
    return take_quantiles(*text, o.quantiles);
  } else if (kind == program_kind::median && arg == "--cross") {
    o.cross = true;
  } else {
    taken = false;
  }
  return std::nullopt;
}

// Why form_kernel_width takes no sample of pairs.
const char* const form_sample_refusal =
    "this width follows a rule that jumps at thresholds of the spread ratio, "
    "so a sampled ratio gives no meaningful interval of widths (the median "
    "and labelled programs take --sample)";

std::optional<std::string> take_sample(const std::optional<std::string>& text,
                                       options& o) {
  if (!text) return "option '--sample' needs a number of pairs";
  const auto count = draw_count(*text);
  if (!count)
    return "bad sample size '" + visible(*text) +
           "' (a whole number of pairs from 1 to 2^63)";
  o.sample = *count;
  return std::nullopt;
}

std::optional<std::string> take_seed(const std::optional<std::string>& text,
                                     options& o) {
  if (!text) return "option '--seed' needs a number or \"random\"";
  o.random_seed = *text == "random";
  const auto seed =
      o.random_seed ? std::optional<std::uint64_t>(0) : seed_of(*text);
  if (!seed)
    return "bad seed '" + visible(*text) +
           "' (a whole number from 0 to 2^64-1, or \"random\")";
  o.seed = *seed;
  return std::nullopt;
}

// The confidence: strictly between 0 and 1, where an interval means
// something.
std::optional<std::string> take_confidence(
    const std::optional<std::string>& text, options& o) {
  if (!text) return "option '--confidence' needs a number between 0 and 1";
  const auto c = probability(*text);
  if (!c || *c == 0 || *c == 1)
    return "bad confidence '" + visible(*text) +
           "' (a number between 0 and 1, both excluded)";
  o.confidence = *c;
  return std::nullopt;
}

// --sample, --seed and --confidence (median and labelled; form refuses
// them). Whether the argument was one, and what is wrong with it.
std::optional<std::string> take_sampling_option(arguments& a, options& o,
                                                program_kind kind,
                                                bool& taken) {
  const std::string arg = a.arg();
  std::string name;
  for (const char* option : {"--sample", "--seed", "--confidence"})
    if (is(arg, "", option)) name = option;
  taken = !name.empty();
  if (!taken) return std::nullopt;
  if (kind == program_kind::form)
    return "option '" + name + "' is not taken: " + form_sample_refusal;
  const auto text = value(a, "", name.c_str());
  if (name == "--sample") return take_sample(text, o);
  if (a.needs_sample.empty()) a.needs_sample = name;
  return name == "--seed" ? take_seed(text, o) : take_confidence(text, o);
}

// Takes the option at a.i (and its value) into o; what is wrong with it,
// or nothing.
std::optional<std::string> take_option(arguments& a, options& o,
                                       program_kind kind) {
  const std::string arg = a.arg();
  bool taken = false;
  if (auto wrong = take_own_option(a, o, kind, taken); taken) return wrong;
  if (auto wrong = take_sampling_option(a, o, kind, taken); taken)
    return wrong;
  if (arg == "-v" || arg == "--verbose") {
    o.verbose = true;
  } else if (arg == "--strict") {
    o.strict = true;
  } else if (is(arg, "", "--output")) {
    const auto text = value(a, "", "--output");
    if (!text) return "option '--output' needs width, sigma or gamma";
    const auto kind_of = output_of(*text);
    if (!kind_of)
      return "bad output '" + visible(*text) + "' (width, sigma or gamma)";
    o.output = *kind_of;
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
    if (!byte) return bad_delimiter(*text);
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
    return "unknown option '" + visible(arg) + "'";
  }
  return std::nullopt;
}

// Help or the version on standard output: status 0, or 1 after a message
// when it could not be written.
command info(const char* program, const std::string& text) {
  return {false, print_out(program, text), {}};
}

// A usage error: its message and the usage line, status 2.
command usage_error(const char* program, const std::string& wrong,
                    const std::string& usage) {
  std::cerr << program << ": " << wrong << '\n' << usage;
  return {false, 2, {}};
}

// The arguments after the data file: a warning each, or under --strict a
// usage error. Returns the exit status, 0 to go on.
int extra_arguments(const arguments& a, const options& o,
                    const std::string& usage, const char* program) {
  for (int i = a.i + 1; i < a.argc; ++i) {
    const std::string quoted = "'" + visible(a.argv[i]) + "'";
    if (o.strict)
      return usage_error(program, "extra argument " + quoted, usage).status;
    std::cerr << program << ": warning: ignored extra argument " << quoted
              << '\n';
  }
  return 0;
}

// The data files after the options: the first, and for the median a
// second one. Returns the exit status, 0 to go on.
int data_files(arguments& a, options& o, program_kind kind,
               const std::string& usage, const char* program) {
  if (a.i >= a.argc) {
    std::cerr << usage;
    return 2;
  }
  if (const auto wrong = option_after_files(a, a.i + 1))
    return usage_error(program, *wrong, usage).status;
  o.file = a.argv[a.i];
  if (kind == program_kind::median && a.i + 1 < a.argc)
    o.second = a.argv[++a.i];
  if (o.cross && o.second.empty())
    return usage_error(program, "--cross needs a second data file, YFILE",
                       usage)
        .status;
  if (o.file == "-" && o.second == "-")
    return usage_error(program, "standard input cannot hold both data files",
                       usage)
        .status;
  if ((o.file == "-" || o.second == "-") && o.table == "-")
    return usage_error(program,
                       "standard input cannot hold both the data and the table",
                       usage)
        .status;
  return 0;
}

}  // namespace

command command_line(int argc, char** argv, const char* program,
                     const char* help, program_kind kind) {
  const std::string usage = usage_of(program, kind);
  command c;
  arguments a{argc, argv, 1, false, ""};
  for (; a.i < argc; ++a.i) {
    const std::string arg = a.arg();
    if (arg == "--") {
      ++a.i;
      a.files_only = true;
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') break;  // "-" is a file name
    if (arg == "-h" || arg == "--help")
      return info(program,
                  usage + help + options_help +
                      (kind == program_kind::form ? table_help : "") +
                      (kind == program_kind::median ? median_help : "") +
                      (kind != program_kind::form ? sample_help : "") +
                      status_help);
    if (arg == "--version")
      return info(program, std::string(program) + ' ' +
                               kernel_width::version() + " (" + licence +
                               ")\n");
    if (const auto wrong = take_option(a, c.opts, kind))
      return usage_error(program, *wrong, usage);
  }
  if (!a.needs_sample.empty() && c.opts.sample == 0)
    return usage_error(program,
                       "option '" + a.needs_sample + "' needs --sample M", usage);
  if (c.opts.random_seed) c.opts.seed = random_seed();
  if (const int status = data_files(a, c.opts, kind, usage, program))
    return {false, status, {}};
  if (const int status = extra_arguments(a, c.opts, usage, program))
    return {false, status, {}};
  c.run = true;
  return c;
}
