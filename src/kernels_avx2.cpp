// The kernels compiled for AVX2 (x86-64 only).
#if defined(__x86_64__)
#include "kernel_set.h"

namespace kernel_width::detail {

KERNEL_WIDTH_KERNELS(avx2, __attribute__((target("avx2"), flatten)),
                     __m256d)

}  // namespace kernel_width::detail
#endif
