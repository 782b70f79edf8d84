// The kernels compiled for AVX512 (x86-64 only).
#if defined(__x86_64__)
#include "kernel_set.h"

namespace kernel_width::detail {

KERNEL_WIDTH_KERNELS(avx512, __attribute__((target("avx512f"), flatten)),
                     __m512d)

}  // namespace kernel_width::detail
#endif
