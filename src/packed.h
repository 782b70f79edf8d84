// Samples packed in panels of 8, the layout every kernel reads.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "kernel_width/engine.h"

namespace kernel_width::detail {

// The public layout (engine.h), by the names the library uses.
using kernel_width::panel_width;
using packed = kernel_width::packed_samples;

// The bytes of the packed values of n samples of cols columns.
std::size_t packed_bytes(std::size_t n, std::size_t cols);

// Packs n samples of cols columns; row(k) points at sample k's first value.
template <class Row>
packed pack_rows(std::size_t n, std::size_t cols, Row row) {
  packed s;
  s.n = n;
  s.cols = cols;
  s.panels.assign(s.stored(), 0.0);
  for (std::size_t k = 0; k < s.padded() && s.cols > 0; ++k) {
    const double* values = row(std::min(k, n - 1));
    double* out = s.panels.data() + k / panel_width * s.cols * panel_width +
                  k % panel_width;
    for (std::size_t c = 0; c < s.cols; ++c) out[c * panel_width] = values[c];
  }
  return s;
}

// Packs columns first..width-1 of n rows of a row-major array whose row r
// starts at data + r * stride.
packed pack(const double* data, std::size_t n, std::size_t width,
            std::size_t stride, std::size_t first);

// Value c of sample i.
inline double value(const packed& s, std::size_t i, std::size_t c) {
  return s.values()[i / panel_width * s.cols * panel_width + c * panel_width +
                    i % panel_width];
}

}  // namespace kernel_width::detail
