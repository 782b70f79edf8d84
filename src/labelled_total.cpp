#include "labelled_total.h"

#include <algorithm>
#include <atomic>
#include <limits>

#include "kernels.h"

namespace kernel_width::detail {

void labelled_band(isa set, const packed& s, std::size_t b, double* row_sums) {
  double lane_sums[panel_width * panel_width];
  kernels_for(set).band(s, b, lane_sums);
  const std::size_t i = b * panel_width;
  for (std::size_t r = 0; r < std::min(panel_width, s.n - i); ++r)
    row_sums[i + r] = labelled_row(lane_sums + r * panel_width);
}

double labelled_row(const double* lanes) {
  double sum = 0.0;
  for (std::size_t k = 0; k < panel_width; ++k) sum += lanes[k];
  return sum;
}

double labelled_combine(const double* row_sums, std::size_t n) {
  double total = 0.0;
  for (std::size_t i = 0; i < n; ++i) total += row_sums[i];
  return 2.0 * total;
}

double labelled_combine(const std::vector<double>& row_sums) {
  return labelled_combine(row_sums.data(), row_sums.size());
}

void labelled_rows(const packed& s, const unit_source& next, const workers& w,
                   double* row_sums) {
  const unsigned threads = w.threads == 0 ? available_threads() : w.threads;
  run_threads(threads, [&](unsigned) {
    for (std::size_t b; !w.control.cancelled() && next(b);) {
      labelled_band(w.set, s, b, row_sums);
      w.control.add(band_pairs(s, b));
    }
  });
}

void labelled_rows(const packed& s, const std::vector<std::size_t>& bands,
                   const workers& w, double* row_sums) {
  std::atomic<std::size_t> next{0};
  labelled_rows(s, in_order(bands, next), w, row_sums);
}

double pair_total(const packed& s, unsigned threads, isa set,
                  const run_control& control) {
  std::vector<double> row_sums(s.n);
  labelled_rows(s, share(s.count(), 1, 0), {set, threads, control},
                row_sums.data());
  if (control.cancelled()) return std::numeric_limits<double>::quiet_NaN();
  return labelled_combine(row_sums);
}

}  // namespace kernel_width::detail
