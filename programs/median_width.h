// What median_kernel_width makes of the distances, whichever engine found
// them: the median or the quantiles asked for, each as the width, sigma or
// gamma the options ask for, the warnings for a width that is not finite
// or is 0, and the --verbose report.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "command_line.h"
#include "kernel_width/kernel_width.h"

extern const char* const median_program;
extern const char* const median_help;

// How the median reads its data files: the first column that counts (1
// when --label names a column to leave out, which then stands first).
std::size_t median_reading(options& opts);

// The files messages about the widths name: "x.txt", "x.txt and y.txt".
std::string files_of(const options& opts);

// What the program prints from: the median, or with -q the quantiles.
struct median_findings {
  kernel_width::median_statistics median;
  kernel_width::selection selection;  // with -q
  std::vector<kernel_width::quantile> quantiles;
};

// Prints the median's or the quantiles' parameters and, with --verbose, the
// statistics behind them; or the message for an error. Returns the exit
// status.
int finish_median(const median_findings& f, const options& opts);

// The plain program on this machine's threads: reads the data files named
// in opts, computes and prints. Returns the exit status.
int run_median(options opts);
