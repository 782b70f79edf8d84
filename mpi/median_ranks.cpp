#include "median_ranks.h"

#include <mpi.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "deal_bands.h"
#include "ranks.h"

namespace {

namespace kw = kernel_width;

// The pairs of a run: the sets and how each pass runs on this rank.
struct ranks_pairs {
  const kw::packed_samples& rows;
  const kw::packed_samples* cols;
  kw::piece_workers w;
};

// Rank 0's plan to every rank; an empty plan ends the passes.
void spread_plan(kw::engine_bytes& plan) {
  std::uint64_t size = plan.size();
  broadcast(size);
  plan.resize(size);
  broadcast(plan.data(), size);
}

int step_of(kw::error e) {
  if (e == kw::error::out_of_memory) return step_no_memory;
  // A cancelled pass ends as on one machine: the run stops there.
  if (e == kw::error::none || e == kw::error::cancelled) return step_ok;
  return step_failed;
}

// Every rank's `bytes` bytes at data onto rank 0's `all`, rank after rank,
// sizes[p] of rank p's.
int gather_bytes(const void* data, std::uint64_t bytes,
                 std::vector<std::uint8_t>& all,
                 std::vector<std::uint64_t>& sizes) {
  sizes.assign(root() ? static_cast<std::size_t>(ranks()) : 0, 0);
  std::vector<std::size_t> counts(sizes.size(), sizeof bytes);
  gather_to_root(&bytes, sizeof bytes, sizes.data(), counts.data());
  const int status = agree(guarded([&] {
    std::uint64_t total = 0;
    for (std::size_t p = 0; p < sizes.size(); ++p) total += counts[p] = sizes[p];
    all.resize(total);
  }));
  if (status == step_ok) gather_to_root(data, bytes, all.data(), counts.data());
  return status;
}

// Rank 0's merge of the ranks' counts, rank after rank.
kw::error merge_counts(const std::vector<std::uint8_t>& all,
                       const std::vector<std::uint64_t>& sizes,
                       kw::engine_bytes& merged) {
  kw::error e = kw::error::none;
  std::size_t at = 0;
  for (std::size_t p = 0; p < sizes.size() && e == kw::error::none; ++p) {
    const auto from = all.begin() + static_cast<std::ptrdiff_t>(at);
    const kw::engine_bytes part(from, from + static_cast<std::ptrdiff_t>(sizes[p]));
    at += sizes[p];
    if (p == 0)
      merged = part;
    else
      e = kw::selection_merge(merged, part, merged);
  }
  return e;
}

// Every rank's partial result onto rank 0, merged there into `merged`: the
// counts first, added up; then the kept values of the windows whose every
// value the ranks kept, no more than the window's room.
int gather_partials(const kw::engine_bytes& mine, kw::engine_bytes& merged) {
  kw::engine_bytes counts;
  kw::error e = kw::error::none;
  int status = agree(guarded([&] { e = kw::selection_counts(mine, counts); }));
  if (status == step_ok) status = agree(step_of(e));
  if (status != step_ok) return status;
  std::vector<std::uint8_t> all;
  std::vector<std::uint64_t> sizes;
  if ((status = gather_bytes(counts.data(), counts.size(), all, sizes)) !=
      step_ok)
    return status;
  kw::engine_bytes total;
  std::vector<std::uint8_t> take;
  if (root())
    status = guarded([&] {
      e = merge_counts(all, sizes, total);
      if (e == kw::error::none) e = kw::selection_windows(total, take);
    });
  if ((status = agree(status == step_ok ? step_of(e) : status)) != step_ok)
    return status;
  std::uint64_t windows = take.size();
  broadcast(windows);
  take.resize(windows);
  broadcast(take.data(), windows);
  std::vector<double> values;
  status = agree(guarded([&] { e = kw::selection_kept(mine, take, values); }));
  if (status == step_ok) status = agree(step_of(e));
  if (status != step_ok) return status;
  if ((status = gather_bytes(values.data(), values.size() * sizeof(double),
                             all, sizes)) != step_ok)
    return status;
  if (root())
    status = guarded([&] {
      values.resize(all.size() / sizeof(double));
      std::memcpy(values.data(), all.data(), all.size());
      e = kw::selection_fill(total, values, merged);
    });
  return agree(status == step_ok ? step_of(e) : status);
}

// One pass, every rank's share of it: the bands dealt to this rank on its
// threads, then the partial results onto rank 0.
int pass_on_ranks(const ranks_pairs& s, const kw::engine_bytes& plan,
                  kw::engine_bytes& merged) {
  kw::error e = kw::error::none;
  kw::engine_bytes mine;
  const dealt d = deal_bands(
      s.rows.count(),
      [&](std::size_t band) {
        return kw::selection_band_pairs(s.rows, s.cols, band);
      },
      s.w.threads,
      [&](const kw::unit_source& next) {
        e = kw::selection_bands(plan, s.rows, s.cols, next, s.w, mine);
      },
      s.w.control);
  int status = agree(d.status != step_ok ? d.status : step_of(e));
  if (status != step_ok) return status;
  return gather_partials(mine, merged);
}

// Another rank's part: the passes rank 0 asks for, until it asks for none
// or one fails.
int serve_passes(const ranks_pairs& s) {
  for (;;) {
    kw::engine_bytes plan, merged;
    spread_plan(plan);
    if (plan.empty()) return step_ok;
    const int status = pass_on_ranks(s, plan, merged);
    if (status != step_ok) return status;
  }
}

// Rank 0's selection, its passes taken by every rank; the progress counts
// the first.
int select_on_root(const ranks_pairs& s, const kw::selection_shape& shape,
                   const options& opts, median_findings& out) {
  int failed = step_ok;
  ranks_pairs watched = s;
  kw::selection_run run;
  run.shape = shape;
  run.threads = s.w.threads;
  run.rows = &s.rows;
  run.cols = s.cols;
  run.pass = [&](const kw::engine_bytes& plan, kw::engine_bytes& merged) {
    kw::engine_bytes sent = plan;
    spread_plan(sent);
    failed = pass_on_ranks(watched, plan, merged);
    watched.w.control.done = nullptr;
    return failed == step_ok;
  };
  if (opts.quantiles.empty()) {
    out.median = kw::selection_median(run);
  } else {
    out.quantiles.resize(opts.quantiles.size());
    out.selection = kw::selection_quantiles(run, opts.quantiles.data(),
                                            opts.quantiles.size(),
                                            out.quantiles.data());
  }
  if (failed == step_ok) {
    kw::engine_bytes none;
    spread_plan(none);  // the other ranks' passes end
  }
  return failed;
}

}  // namespace

int median_on_ranks(const kw::packed_samples& rows,
                    const kw::packed_samples* cols,
                    const kw::selection_shape& shape,
                    const kw::piece_workers& given, const options& opts,
                    median_findings& out) {
  stage("passes");
  const ranks_pairs s{
      rows, cols,
      {kw::selection_threads(rows, cols, given.threads), given.control}};
  if (!root()) return serve_passes(s);
  return select_on_root(s, shape, opts, out);
}
