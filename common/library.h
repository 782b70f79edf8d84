// The library's entry points for samples already packed, as the programs
// hold them, with an optional progress counter.
#pragma once

#include "block.h"
#include "kernel_width/kernel_width.h"
#include "moments.h"

namespace kernel_width {

form_statistics form(const packed& s, unsigned threads, pair_counter* done);

labelled_statistics labelled(const packed& s, unsigned threads,
                             pair_counter* done);

}  // namespace kernel_width
