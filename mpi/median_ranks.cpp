#include "median_ranks.h"

#include <mpi.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "deal_bands.h"
#include "packed_statistics.h"
#include "rank_passes.h"
#include "ranks.h"

namespace {

namespace detail = kernel_width::detail;
using detail::pair_set;
using detail::pass_plan;
using detail::pass_result;
using detail::tally;

// Rank 0's plan to every rank: its windows (plain values), the hulls made
// again from them; an empty plan ends the passes.
void spread_plan(pass_plan& plan) {
  std::uint64_t count = plan.windows.size();
  broadcast(count);
  plan.windows.resize(count);
  broadcast(plan.windows.data(), count * sizeof(detail::window));
  if (!root() && count > 0) detail::plan_hulls(plan);
}

// Adds count values at data over the ranks onto rank 0's, by op.
void reduce(void* data, int count, MPI_Datatype type, MPI_Op op) {
  if (count == 0) return;
  if (root())
    MPI_Reduce(MPI_IN_PLACE, data, count, type, op, 0, MPI_COMM_WORLD);
  else
    MPI_Reduce(data, nullptr, count, type, op, 0, MPI_COMM_WORLD);
  if (!root()) count_sent(static_cast<std::uint64_t>(count) * 8);
}

// The ranks' tallies added up on rank 0: counts by sum, the largest NaN
// pattern and the buckets' largest values by max, their smallest by min.
void reduce_tally(tally& t) {
  std::vector<std::uint64_t> counts{t.values, t.nan};
  for (const auto* v : {&t.under, &t.inside, &t.after})
    counts.insert(counts.end(), v->begin(), v->end());
  std::vector<double> low, high;
  for (const detail::bucket& b : t.buckets) {
    counts.push_back(b.count);
    low.push_back(b.low);
    high.push_back(b.high);
  }
  reduce(counts.data(), static_cast<int>(counts.size()), MPI_UINT64_T,
         MPI_SUM);
  reduce(&t.nan_bits, 1, MPI_UINT64_T, MPI_MAX);
  reduce(low.data(), static_cast<int>(low.size()), MPI_DOUBLE, MPI_MIN);
  reduce(high.data(), static_cast<int>(high.size()), MPI_DOUBLE, MPI_MAX);
  if (!root()) return;
  std::size_t k = 0;
  t.values = counts[k++];
  t.nan = counts[k++];
  for (auto* v : {&t.under, &t.inside, &t.after})
    for (std::uint64_t& x : *v) x = counts[k++];
  for (std::size_t j = 0; j < t.buckets.size(); ++j)
    t.buckets[j] = {counts[k++], low[j], high[j]};
}

// How many values of window j's kept buckets there are in all.
std::uint64_t wanted(const pass_plan& plan, const tally& t, std::size_t j) {
  const detail::window& w = plan.windows[j];
  const std::uint64_t last = std::min(w.keep_last, w.count() - 1);
  std::uint64_t count = 0;
  for (std::uint64_t x = w.keep_first; x <= last; ++x)
    count += t.buckets[w.base + x].count;
  return count;
}

std::uint64_t held(const pass_result& r, std::size_t j) {
  std::uint64_t count = 0;
  for (const detail::kept_vector& part : r.kept[j]) count += part.size();
  return count;
}

// The kept values of every window that holds all its kept buckets' values
// over the ranks, and no more than its room, to rank 0's r; the others
// are left without (so that rank 0 picks from none of them).
int gather_kept(const pass_plan& plan, pass_result& r) {
  const std::size_t windows = plan.windows.size();
  std::vector<std::uint64_t> mine(windows), all;
  for (std::size_t j = 0; j < windows; ++j) mine[j] = held(r, j);
  std::vector<std::size_t> sizes(static_cast<std::size_t>(ranks()),
                                 windows * sizeof(std::uint64_t));
  all.resize(root() ? windows * sizes.size() : 0);
  gather_to_root(mine.data(), windows * sizeof(std::uint64_t), all.data(),
                 sizes.data());
  std::vector<char> take(windows, 0);
  if (root())
    for (std::size_t j = 0; j < windows; ++j) {
      std::uint64_t total = 0;
      for (std::size_t p = 0; p < sizes.size(); ++p) total += all[p * windows + j];
      take[j] = total == wanted(plan, r.t, j) && total <= plan.windows[j].room;
    }
  broadcast(take.data(), windows);
  std::vector<double> values, received;
  int status = agree(guarded([&] {
    for (std::size_t j = 0; j < windows; ++j)
      for (const detail::kept_vector& part : r.kept[j])
        if (take[j]) values.insert(values.end(), part.begin(), part.end());
    if (!root()) return;
    std::uint64_t total = 0;
    for (std::size_t p = 0; p < sizes.size(); ++p) {
      sizes[p] = 0;
      for (std::size_t j = 0; j < windows; ++j)
        if (take[j]) sizes[p] += all[p * windows + j] * sizeof(double);
      total += sizes[p] / sizeof(double);
    }
    received.resize(total);
  }));
  if (status != step_ok) return status;
  gather_to_root(values.data(), values.size() * sizeof(double), received.data(),
                 sizes.data());
  if (!root()) return agree(step_ok);
  return agree(guarded([&] {
    std::size_t at = 0;
    for (std::size_t j = 0; j < windows; ++j) r.kept[j].clear();
    for (std::size_t p = 0; p < sizes.size(); ++p)
      for (std::size_t j = 0; j < windows; ++j) {
        if (!take[j]) continue;
        const std::uint64_t count = all[p * windows + j];
        r.kept[j].emplace_back(received.begin() + static_cast<std::ptrdiff_t>(at),
                               received.begin() +
                                   static_cast<std::ptrdiff_t>(at + count));
        at += count;
      }
  }));
}

// One pass, every rank's share of it: the bands dealt to this rank on its
// threads, then the tallies and kept values onto rank 0.
int pass_on_ranks(const pair_set& pairs, const pass_plan& plan,
                  const detail::workers& w, pass_result& r) {
  int status = agree(guarded([&] {
    r.t.reset(plan);
    r.kept.assign(plan.windows.size(), {});
  }));
  if (status != step_ok) return status;
  const dealt d = deal_bands(
      pairs.bands(), [&](std::size_t b) { return pairs.band_pairs(b); },
      w.threads,
      [&](const detail::unit_source& next) {
        detail::tally_bands(pairs, plan, next, w, r);
      },
      w.control);
  if ((status = agree(d.status)) != step_ok) return status;
  reduce_tally(r.t);
  return gather_kept(plan, r);
}

// Another rank's part: the passes rank 0 asks for, until it asks for none
// or one fails.
int serve_passes(const pair_set& pairs, const detail::workers& w) {
  detail::workers mine = w;
  for (;;) {
    pass_plan plan;
    spread_plan(plan);
    if (plan.windows.empty()) return step_ok;
    pass_result r;
    const int status = pass_on_ranks(pairs, plan, mine, r);
    if (status != step_ok) return status;
  }
}

// Rank 0's selection, its passes taken by every rank; the progress counts
// the first.
int select_on_root(const pair_set& pairs, std::size_t n_y,
                   const detail::workers& w, const options& opts,
                   median_findings& out) {
  int failed = step_ok;
  detail::workers watched = w;
  const detail::pass_function pass = [&](const pass_plan& plan,
                                         pass_result& r) {
    pass_plan sent = plan;
    spread_plan(sent);
    failed = pass_on_ranks(pairs, plan, watched, r);
    watched.control.done = nullptr;
    return failed == step_ok;
  };
  const detail::rank_engine engine{
      [&](const std::vector<std::uint64_t>& ranks) {
        return detail::find_ranks(pairs, ranks, w.threads, w.set, pass);
      },
      [&](std::uint64_t& zeros) {
        const pass_plan plan = detail::zero_plan();
        pass_result r;
        if (!pass(plan, r)) return false;
        zeros = r.t.inside[0];
        return true;
      }};
  if (opts.quantiles.empty()) {
    out.median = detail::median(pairs, n_y, engine);
  } else {
    out.quantiles.resize(opts.quantiles.size());
    out.selection =
        detail::quantiles(pairs, n_y, opts.quantiles.data(),
                          opts.quantiles.size(), out.quantiles.data(), engine);
  }
  if (failed == step_ok) {
    pass_plan none;
    spread_plan(none);  // the other ranks' passes end
  }
  return failed;
}

}  // namespace

int median_on_ranks(const pair_set& pairs, std::size_t n_y,
                    const kernel_width::piece_workers& given,
                    const options& opts, median_findings& out) {
  stage("passes");
  const detail::workers w{detail::selected_isa().chosen,
                          detail::pass_threads(pairs, given.threads),
                          given.control};
  if (!root()) return serve_passes(pairs, w);
  return select_on_root(pairs, n_y, w, opts, out);
}
