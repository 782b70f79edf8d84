// The data file read once, on rank 0, and its packed samples sent to every
// rank: each holds O(n d) for them.
#pragma once

#include <optional>

#include "command_line.h"
#include "packed.h"

// Sends rank 0's samples, as read_packed gave them (its warnings and
// errors printed there; nothing once one was), to the other ranks. A step
// status agreed by every rank: step_failed once the message is printed,
// out of memory on any rank included.
int spread_samples(const char* program, const options& opts,
                   std::optional<kernel_width::detail::packed> read,
                   kernel_width::detail::packed& s);
