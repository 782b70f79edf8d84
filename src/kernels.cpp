#include "kernels.h"

#include <algorithm>

namespace kernel_width::detail {

const kernels& kernels_for(isa set) {
#if defined(__x86_64__)
  const bool wide = set == isa::avx512 || set == isa::avx2;
  if (set == isa::avx512 && isa_supported(isa::avx512)) return avx512_kernels();
  if (wide && isa_supported(isa::avx2)) return avx2_kernels();
#elif defined(__aarch64__)
  if (set == isa::neon) return neon_kernels();
#endif
  return base_kernels();
}

std::uint64_t band_pairs(const packed& s, std::size_t b) {
  std::uint64_t pairs = 0;
  for (std::size_t i = b * panel_width;
       i < std::min(s.n, (b + 1) * panel_width); ++i)
    pairs += s.n - 1 - i;
  return pairs;
}

}  // namespace kernel_width::detail
