// The kernels compiled for plain x86-64 (SSE2).
#include "kernel_set.h"

namespace kernel_width::detail {

KERNEL_WIDTH_KERNELS(base, __attribute__((flatten)),
                     __m128d)

}  // namespace kernel_width::detail
