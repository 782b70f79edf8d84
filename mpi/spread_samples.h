// The data file read once, on rank 0, and its packed samples sent to every
// rank: each holds O(n d) for them.
#pragma once

#include <cstddef>

#include "command_line.h"
#include "packed.h"

// Reads and packs the data file on rank 0 (its warnings and errors printed
// there), then sends the samples to the others. A step status agreed by
// every rank: step_failed once the message is printed, out of memory on
// any rank included.
int spread_samples(const char* program, const options& opts, std::size_t first,
                   kernel_width::detail::packed& s);
