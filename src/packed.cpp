#include "packed.h"

namespace kernel_width::detail {

std::size_t packed_bytes(std::size_t n, std::size_t cols) {
  const std::size_t padded = (n + panel_width - 1) / panel_width * panel_width;
  return padded * cols * sizeof(double);
}

packed pack(const double* data, std::size_t n, std::size_t width,
            std::size_t stride, std::size_t first) {
  return pack_rows(n, width > first ? width - first : 0,
                   [&](std::size_t k) { return data + k * stride + first; });
}

}  // namespace kernel_width::detail
