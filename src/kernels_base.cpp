// The portable kernels: plain x86-64 (SSE2) there, GCC's generic vectors of
// two doubles on any other architecture.
#include "kernel_set.h"

namespace kernel_width::detail {

KERNEL_WIDTH_KERNELS(base, __attribute__((flatten)), base_vector)

}  // namespace kernel_width::detail
