#include "labelled_ranks.h"

#include <algorithm>
#include <vector>

#include "deal_bands.h"
#include "kernels.h"
#include "labelled_total.h"
#include "packed_statistics.h"
#include "ranks.h"

namespace {

namespace detail = kernel_width::detail;
using detail::packed;

// The rows of a range of bands.
std::size_t first_row(const band_range& r) {
  return r.first * detail::panel_width;
}
std::size_t rows_in(const packed& s, const band_range& r) {
  return std::min((r.first + r.count) * detail::panel_width, s.n) -
         first_row(r);
}

// Rank p's rows in the order it was dealt them.
std::size_t rows_of(const packed& s, const std::vector<band_range>& ranges) {
  std::size_t rows = 0;
  for (const band_range& r : ranges) rows += rows_in(s, r);
  return rows;
}

// The other ranks' rows to rank 0, in rank order, each put back in place.
int gather_rows(const packed& s, const dealt& d, std::vector<double>& sums) {
  std::vector<double> mine, all;
  std::vector<std::size_t> sizes;
  const std::vector<band_range>& own =
      d.ranges[static_cast<std::size_t>(rank())];
  const int status = agree(guarded([&] {
    mine.reserve(rows_of(s, own));
    for (const band_range& r : own)
      mine.insert(mine.end(), sums.begin() + first_row(r),
                  sums.begin() + first_row(r) + rows_in(s, r));
    if (!root()) return;
    for (const std::vector<band_range>& ranges : d.ranges)
      sizes.push_back(rows_of(s, ranges) * sizeof(double));
    all.resize(s.n);  // at most every row
  }));
  if (status != step_ok) return status;
  gather_to_root(mine.data(), mine.size() * sizeof(double), all.data(),
                 sizes.data());
  if (!root()) return step_ok;
  std::size_t next = 0;
  for (const std::vector<band_range>& ranges : d.ranges)
    for (const band_range& r : ranges)
      for (std::size_t k = 0; k < rows_in(s, r); ++k)
        sums[first_row(r) + k] = all[next++];
  return step_ok;
}

// Rank p's sums, zero but for the rows of the bands it took: each row is
// set on one rank only, and x + 0 is x, so the sum over the ranks, in any
// order, is that row's sum (never -0: a sum of distances from +0 on).
void add_rows(double* total, const double* partial, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) total[k] += partial[k];
}

// Every rank on one machine: the threads of all take the bands from the
// counter they share, with no messages; the other ranks' pairs reach
// rank 0's progress line through a counter there too.
int take_shared(const packed& s, const shared_samples& shared,
                const detail::workers& w, std::vector<double>& sums) {
  shared_header& h = shared.header();
  detail::workers mine = w;
  if (!root()) mine.control.done = &h.pairs;
  const detail::unit_source next = [&](std::size_t& band) {
    if (root()) w.control.add(h.pairs.exchange(0, std::memory_order_relaxed));
    band = h.next_band.fetch_add(1, std::memory_order_relaxed);
    return band < s.count();
  };
  int status =
      guarded([&] { detail::labelled_rows(s, next, mine, sums.data()); });
  // where a rank that is done early waits, idle
  if ((status = agree(status)) != step_ok) return status;
  reduce_to_root(sums.data(), sums.size(), add_rows);
  return step_ok;
}

// The bands dealt by rank 0, and the rows gathered by the ranges dealt.
int take_dealt(const packed& s, const detail::workers& w,
               std::vector<double>& sums) {
  const unsigned threads =
      w.threads == 0 ? detail::available_threads() : w.threads;
  const dealt d = deal_bands(
      s.count(), [&](std::size_t b) { return detail::band_pairs(s, b); },
      threads,
      [&](const detail::unit_source& next) {
        detail::labelled_rows(s, next, w, sums.data());
      },
      w.control);
  // where a rank that is done early waits, idle
  const int status = agree(d.status);
  return status != step_ok ? status : gather_rows(s, d, sums);
}

}  // namespace

int labelled_on_ranks(const packed& s, const shared_samples& shared,
                      const kernel_width::piece_workers& given,
                      kernel_width::labelled_statistics& statistics) {
  const detail::workers w{detail::selected_isa().chosen, given.threads,
                          given.control};
  stage("total");
  std::vector<double> sums;
  // Memory first, agreed on before any pair is computed.
  int status = agree(guarded([&] { sums.resize(s.n); }));
  if (status != step_ok) return status;
  status = shared.one_machine ? take_shared(s, shared, w, sums)
                              : take_dealt(s, w, sums);
  if (status != step_ok || !root()) return status;
  statistics = detail::labelled_of(s.n, s.cols, detail::labelled_combine(sums));
  return step_ok;
}
