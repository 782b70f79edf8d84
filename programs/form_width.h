// What form_kernel_width makes of its statistics, whichever engine computed
// them: the width, the table read only when the search needs it, the
// warning for a width that is not finite, and the --verbose report.
#pragma once

#include <cstddef>

#include "command_line.h"
#include "kernel_width/kernel_width.h"

extern const char* const form_program;
extern const char* const form_help;

// How form reads its data file: the first column that counts (1 when
// --label names a column to leave out, which then stands first).
std::size_t form_reading(options& opts);

// Prints the width and, with --verbose, the statistics behind it; or the
// message for an error. Returns the exit status.
int finish_form(const kernel_width::form_statistics& statistics,
                const options& opts);

// The plain program on this machine's threads: reads the data file named
// in opts, computes and prints. Returns the exit status.
int run_form(options opts);
