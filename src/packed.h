// Samples packed in panels of 8, the layout every kernel reads.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace kernel_width::detail {

// Samples per panel of the packed layout.
constexpr std::size_t panel_width = 8;

// Panel p holds samples 8p..8p+7, column by column, 8 values per column.
// The last panel is padded with copies of the last sample; panels is never
// empty. The values are panels' own or, when view is set, the same layout
// held elsewhere (memory that processes share), which must outlive them.
struct packed {
  std::vector<double> panels;
  const double* view = nullptr;
  std::size_t n = 0;     // samples
  std::size_t cols = 0;  // columns of each sample
  std::size_t count() const { return (n + panel_width - 1) / panel_width; }
  std::size_t padded() const { return count() * panel_width; }
  // The values held, never none, so that row pointers stay valid without
  // columns.
  std::size_t stored() const { return std::max(padded() * cols, panel_width); }
  const double* values() const { return view ? view : panels.data(); }
};

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
