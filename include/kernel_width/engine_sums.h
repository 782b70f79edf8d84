// The sums' engine: labelled's total and form's mean and variance over
// pieces of the pairs (see engine.h).
#pragma once

#include "kernel_width/engine.h"

namespace kernel_width {}  // namespace kernel_width
