// What labelled_kernel_width makes of its statistics, whichever engine
// computed them: the width and the --verbose report.
#pragma once

#include "command_line.h"
#include "kernel_width/kernel_width.h"

extern const char* const labelled_program;
extern const char* const labelled_help;

// Prints the width and, with --verbose, the statistics behind it; or the
// message for an error. Returns the exit status.
int finish_labelled(const kernel_width::labelled_statistics& statistics,
                    const options& opts);
