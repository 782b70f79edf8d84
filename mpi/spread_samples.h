// The data file read once, on rank 0, and its packed samples sent to every
// machine: its ranks share one copy (shared_samples.h), or each holds its
// own, O(n d).
#pragma once

#include <optional>

#include "command_line.h"
#include "kernel_width/engine.h"
#include "shared_samples.h"

// Sends rank 0's samples, as read_packed gave them (its warnings and
// errors printed there; nothing once one was), to the other ranks: s views
// the machine's shared copy when every machine could have one. A step
// status agreed by every rank: step_failed once the message is printed,
// out of memory on any rank included.
int spread_samples(const char* program, const options& opts,
                   std::optional<kernel_width::packed_samples> read,
                   kernel_width::packed_samples& s, shared_samples& shared);
