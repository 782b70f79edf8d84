#include "form_ranks.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "deal_bands.h"
#include "form_passes.h"
#include "packed_statistics.h"
#include "ranks.h"

namespace {

namespace detail = kernel_width::detail;
using detail::doubtful_row;
using detail::packed;
using detail::row_sums;
using detail::terms;
using detail::workers;

// What a pass leaves on rank 0.
struct pass_result {
  double sum = 0.0;
  std::vector<double> totals;  // each row's, approximately
};

// Step 1's grids, made on rank 0 with status, to every rank.
int spread_grids(const packed& s, std::vector<double>& grids, int status) {
  status = agree(std::max(status, guarded([&] { grids.resize(s.padded()); })));
  if (status == step_ok) broadcast(grids.data(), grids.size() * sizeof(double));
  return status;
}

// Step 2: the ranks round the bands dealt to them; the partial row sums
// are combined onto rank 0's. Memory is agreed on before any pair is
// computed.
int round_on_ranks(const packed& s, terms t, const std::vector<double>& grids,
                   const workers& w, row_sums& total) {
  std::vector<row_sums> partial;
  int status =
      agree(guarded([&] { partial = detail::pair_sums(s, w.threads); }));
  if (status != step_ok) return status;
  const auto threads = static_cast<unsigned>(partial.size());
  const dealt d = deal_bands(
      s.count(), [&](std::size_t b) { return detail::band_pairs(s, b); },
      threads,
      [&](const detail::unit_source& next) {
        total = detail::round_pairs(s, t, grids, next, w, std::move(partial));
      },
      w.control);
  if ((status = agree(d.status)) != step_ok) return status;
  reduce_to_root(total.sum.data(), total.sum.size(), detail::combine_sums);
  reduce_to_root(total.off.data(), total.off.size(), detail::combine_offs);
  return step_ok;
}

// Rank p's share of the doubtful rows.
std::vector<std::size_t> rows_of(std::size_t count, int p) {
  return detail::share(count, static_cast<unsigned>(ranks()),
                       static_cast<unsigned>(p));
}

// Step 3: rank 0's doubtful rows recomputed, shared out over the ranks,
// and their records back on rank 0.
int recompute_on_ranks(const packed& s, terms t, const workers& w,
                       std::vector<doubtful_row>& redo) {
  std::uint64_t count = redo.size();
  broadcast(count);
  std::vector<doubtful_row> mine, back;
  std::vector<std::size_t> sizes;
  int status = agree(guarded([&] {
    redo.resize(count);
    if (root())
      for (int p = 0; p < ranks(); ++p)
        sizes.push_back(rows_of(count, p).size() * sizeof(doubtful_row));
    back.resize(root() ? count : 0);
  }));
  if (status != step_ok) return status;
  broadcast(redo.data(), count * sizeof(doubtful_row));
  status = agree(guarded([&] {
    for (const std::size_t k : rows_of(count, rank())) mine.push_back(redo[k]);
    detail::recompute_all(s, t, mine, w);
  }));
  if (status != step_ok) return status;
  gather_to_root(mine.data(), mine.size() * sizeof(doubtful_row), back.data(),
                 sizes.data());
  std::size_t next = 0;
  for (int p = 0; p < ranks() && root(); ++p)
    for (const std::size_t k : rows_of(count, p)) redo[k] = back[next++];
  return step_ok;
}

// One pass over the ranks from the grids rank 0 made (status: how that
// went); the sum and row totals on rank 0.
int pass_on_ranks(const packed& s, terms t, const workers& w,
                  std::vector<double>& grids, int status, pass_result& out) {
  if ((status = spread_grids(s, grids, status)) != step_ok) return status;
  row_sums total;
  if ((status = round_on_ranks(s, t, grids, w, total)) != step_ok)
    return status;
  std::vector<doubtful_row> redo;
  if (root())
    status = guarded([&] { redo = detail::doubtful_rows(grids, total, s.n); });
  if ((status = agree(status)) != step_ok) return status;
  if ((status = recompute_on_ranks(s, t, w, redo)) != step_ok) return status;
  if (root())
    status = guarded([&] {
      out.sum = detail::settle(w, s, t, grids, total, redo).sum;
      out.totals = std::move(total.sum);
      out.totals.resize(s.n);
    });
  return agree(status);
}

}  // namespace

int form_on_ranks(const packed& s, const kernel_width::piece_workers& given,
                  kernel_width::form_statistics& statistics) {
  if (s.n == 0) {
    statistics = detail::form_of(0, s.cols, detail::per_pair(0.0, 0),
                                 detail::per_pair(0.0, 0));
    return step_ok;
  }
  const workers w{detail::selected_isa().chosen, detail::form_threads(s, given.threads),
                  given.control};
  std::vector<double> q, grids;
  int status = step_ok;
  stage("mean pass");
  if (root())
    status = guarded([&] {
      q = detail::squared_sums(s);
      grids = detail::predict_grids(s, detail::distance_estimates(s, q, w));
    });
  pass_result pass;
  if ((status = pass_on_ranks(s, {}, w, grids, status, pass)) != step_ok)
    return status;
  double mean = detail::per_pair(pass.sum, s.n);
  broadcast(mean);
  stage("variance pass");
  if (root())
    status = guarded([&] {
      grids = detail::predict_grids(
          s, detail::centred_estimates(q, pass.totals, mean));
    });
  if ((status = pass_on_ranks(s, {true, mean}, w, grids, status, pass)) !=
      step_ok)
    return status;
  statistics =
      detail::form_of(s.n, s.cols, mean, detail::per_pair(pass.sum, s.n));
  return step_ok;
}
