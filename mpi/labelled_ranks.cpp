#include "labelled_ranks.h"

#include <algorithm>
#include <vector>

#include "labelled_total.h"
#include "packed_statistics.h"
#include "ranks.h"

namespace {

namespace detail = kernel_width::detail;
using detail::packed;

std::vector<std::size_t> bands_of(const packed& s, int p) {
  return detail::share(s.count(), static_cast<unsigned>(ranks()),
                       static_cast<unsigned>(p));
}

// The rows of band b.
std::size_t first_row(std::size_t b) { return b * detail::panel_width; }
std::size_t rows_in(const packed& s, std::size_t b) {
  return std::min(detail::panel_width, s.n - first_row(b));
}

}  // namespace

int labelled_on_ranks(const packed& s, const detail::workers& w,
                      kernel_width::labelled_statistics& statistics) {
  stage("total");
  std::vector<double> sums, mine, all;
  std::vector<std::size_t> bands, sizes;
  // Memory first, agreed on before any pair is computed.
  int status = agree(guarded([&] {
    sums.resize(s.n);
    bands = bands_of(s, rank());
    std::size_t rows = 0;
    for (const std::size_t b : bands) rows += rows_in(s, b);
    mine.reserve(rows);
    if (!root()) return;
    all.resize(s.n);
    for (int p = 0; p < ranks(); ++p) {
      rows = 0;
      for (const std::size_t b : bands_of(s, p)) rows += rows_in(s, b);
      sizes.push_back(rows * sizeof(double));
    }
  }));
  if (status != step_ok) return status;
  detail::labelled_rows(s, bands, w, sums.data());
  for (const std::size_t b : bands)
    mine.insert(mine.end(), sums.begin() + first_row(b),
                sums.begin() + first_row(b) + rows_in(s, b));
  agree(step_ok);  // where a rank that is done early waits, idle
  // In rank order; rank 0 puts each band's rows back in place.
  gather_to_root(mine.data(), mine.size() * sizeof(double), all.data(),
                 sizes.data());
  if (!root()) return step_ok;
  std::vector<double>& row_sums = sums;
  std::size_t next = 0;
  for (int p = 0; p < ranks(); ++p)
    for (const std::size_t b : bands_of(s, p))
      for (std::size_t r = 0; r < rows_in(s, b); ++r)
        row_sums[first_row(b) + r] = all[next++];
  statistics =
      detail::labelled_of(s.n, s.cols, detail::labelled_combine(row_sums));
  return step_ok;
}
