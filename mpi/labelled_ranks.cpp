#include "labelled_ranks.h"

#include <algorithm>
#include <vector>

#include "deal_bands.h"
#include "ranks.h"

namespace {

namespace kw = kernel_width;
using packed = kw::packed_samples;

// The rows of a range of bands.
std::size_t first_row(const band_range& r) {
  return r.first * kw::panel_width;
}
std::size_t rows_in(const packed& s, const band_range& r) {
  return std::min((r.first + r.count) * kw::panel_width, s.n) -
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

// The row sums of the bands next hands out; step_no_memory when memory
// ran out.
int labelled_rows(const packed& s, const kw::unit_source& next,
                  const kw::piece_workers& w, std::vector<double>& sums) {
  const kw::error e = kw::labelled_bands(s, next, w, sums.data());
  return e == kw::error::out_of_memory ? step_no_memory : step_ok;
}

// Every rank on one machine: the threads of all take the bands from the
// counter they share, with no messages; the other ranks' pairs reach
// rank 0's progress line through a counter there too.
int take_shared(const packed& s, const shared_samples& shared,
                const kw::piece_workers& w, std::vector<double>& sums) {
  shared_header& h = shared.header();
  kw::piece_workers mine = w;
  if (!root()) mine.control.done = &h.pairs;
  const kw::unit_source next = [&](std::size_t& band) {
    if (root()) w.control.add(h.pairs.exchange(0, std::memory_order_relaxed));
    band = h.next_band.fetch_add(1, std::memory_order_relaxed);
    return band < s.count();
  };
  int status = labelled_rows(s, next, mine, sums);
  // where a rank that is done early waits, idle
  if ((status = agree(status)) != step_ok) return status;
  reduce_to_root(sums.data(), sums.size(), add_rows);
  return step_ok;
}

// The bands dealt by rank 0, and the rows gathered by the ranges dealt.
int take_dealt(const packed& s, const kw::piece_workers& w,
               std::vector<double>& sums) {
  int status = step_ok;
  const dealt d = deal_bands(
      s.count(), [&](std::size_t b) { return kw::band_pair_count(s, b); },
      kw::engine_threads(w.threads),
      [&](const kw::unit_source& next) {
        status = labelled_rows(s, next, w, sums);
      },
      w.control);
  // where a rank that is done early waits, idle
  status = agree(std::max(status, d.status));
  return status != step_ok ? status : gather_rows(s, d, sums);
}

}  // namespace

int labelled_on_ranks(const packed& s, const shared_samples& shared,
                      const kw::piece_workers& w,
                      kw::labelled_statistics& statistics) {
  stage("total");
  std::vector<double> sums;
  // Memory first, agreed on before any pair is computed.
  int status = agree(guarded([&] { sums.resize(s.n); }));
  if (status != step_ok) return status;
  status = shared.one_machine ? take_shared(s, shared, w, sums)
                              : take_dealt(s, w, sums);
  if (status != step_ok || !root()) return status;
  statistics = kw::labelled_from_rows(sums.data(), s.n, s.cols);
  return step_ok;
}
