// What form_kernel_width makes of its statistics, whichever engine computed
// them: the width, the table read only when the search needs it, and the
// --verbose report.
#pragma once

#include "command_line.h"
#include "kernel_width/kernel_width.h"

extern const char* const form_program;
extern const char* const form_help;

// Prints the width and, with --verbose, the statistics behind it; or the
// message for an error. Returns the exit status.
int finish_form(const kernel_width::form_statistics& statistics,
                const options& opts);
