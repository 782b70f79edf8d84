// The kernels compiled for NEON (aarch64 only, where every CPU has it).
#if defined(__aarch64__)
#include "kernel_set.h"

namespace kernel_width::detail {

KERNEL_WIDTH_KERNELS(neon, __attribute__((flatten)), float64x2_t)

}  // namespace kernel_width::detail
#endif
