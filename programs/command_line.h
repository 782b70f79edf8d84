// The command line that the programs share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "reader.h"

enum class progress_mode { automatic, on, off };

// Which parameter of the kernel to print: the width w of exp(-d^2 / w),
// sigma = sqrt(w / 2) of exp(-d^2 / (2 sigma^2)), or gamma = 1 / w of
// exp(-gamma d^2).
enum class output_kind { width, sigma, gamma };

// The options a program takes beyond the shared ones: form_kernel_width's
// --table, median_kernel_width's quantiles and second data file.
enum class program_kind { form, labelled, median };

// The seed of --sample without --seed: a fixed one, so that two runs agree.
constexpr std::uint64_t default_seed = 0;

// The largest --sample: 2^63 pairs.
constexpr std::uint64_t most_draws = std::uint64_t{1} << 63;

// The most quantiles one run prints.
constexpr std::size_t most_quantiles = 64;

// What the command line asks for.
struct options {
  std::string file;      // the data file; "-" is standard input
  std::string second;    // median: a second data file ("": none)
  bool cross = false;    // median: only the pairs across the two files
  std::vector<double> quantiles;  // median: -q, in the order given
  output_kind output = output_kind::width;
  unsigned threads = 0;  // 0: as many as the process may use
  bool verbose = false;
  read_options reading;  // how to read the data file
  progress_mode progress = progress_mode::automatic;
  bool strict = false;  // every warning ends the run with status 1
  std::string table = "form_of_relationship.txt";  // for programs with one
  // median and labelled: --sample M draws M pairs at random (0: every pair,
  // the exact run), with the seed (random_seed: --seed random, drawn when
  // the command line is read) and the interval's confidence.
  std::uint64_t sample = 0;
  std::uint64_t seed = default_seed;
  bool random_seed = false;
  double confidence = 0.99;
};

// The parsed command line: run with opts, or end at once with status, once
// help, the version or a usage error has been printed.
struct command {
  bool run = false;
  int status = 0;
  options opts;
};

// Reads the command line of the programs (the usage line in
// command_line.cpp). Options stand before the data file (and, for the
// median, a second one); later arguments draw a warning each and are
// ignored (under --strict they are a usage error). For -h and --help,
// `help` (the program's own description) goes between the usage line and
// the options. --table is form's option, -q and --cross the median's.
command command_line(int argc, char** argv, const char* program,
                     const char* help,
                     program_kind kind = program_kind::labelled);
