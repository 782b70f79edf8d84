// The selection's engine: the median and the quantiles of the distances
// over pieces of the pairs (see engine.h).
#pragma once

#include "kernel_width/engine.h"

namespace kernel_width {}  // namespace kernel_width
