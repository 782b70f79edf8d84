// What labelled_kernel_width makes of its statistics, whichever engine
// computed them: the width, the warning for a width that is not finite,
// and the --verbose report.
#pragma once

#include <cstddef>

#include "command_line.h"
#include "kernel_width/kernel_width.h"

extern const char* const labelled_program;
extern const char* const labelled_help;

// How labelled reads its data file: with -d the label column (1 unless
// --label names another) is text as it stands. Returns the first column
// that counts, 1: the label stands first.
std::size_t labelled_reading(options& opts);

// Prints the width and, with --verbose, the statistics behind it; or the
// message for an error. Returns the exit status.
int finish_labelled(const kernel_width::labelled_statistics& statistics,
                    const options& opts);

// The plain program on this machine's threads: reads the data file named
// in opts, computes and prints. Returns the exit status.
int run_labelled(options opts);
