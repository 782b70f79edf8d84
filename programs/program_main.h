// What every program's main does around its computation.
#pragma once

#include "command_line.h"

// Reads the command line (the options of `kind`), checks KERNEL_WIDTH_ISA,
// then returns run(options); out of memory anywhere in run is its message
// and status 1.
int program_main(int argc, char** argv, const char* program, const char* help,
                 program_kind kind, int (*run)(options));
