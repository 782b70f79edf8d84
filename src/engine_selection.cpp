// The selection engine's driver: the library's selection (rank_select.h)
// with every pass sent out through the engine's callback as bytes.
#include "kernel_width/engine_selection.h"

#include <cmath>
#include <limits>
#include <optional>

#include "cpu.h"
#include "engine_selection.h"
#include "packed_statistics.h"
#include "rank_passes.h"
#include "rank_sample.h"

namespace kernel_width {

namespace detail {

namespace {

// The driver's state: how it runs, and why it stopped, if it did.
struct driver {
  const selection_run& run;
  std::uint64_t pairs = 0;
  error failure = error::none;
};

// The merged result of one pass of the plan, checked against it.
bool run_plan(driver& d, selection_plan& p, selection_partial& out) {
  if (d.failure != error::none) return false;
  write_plan(p);
  engine_bytes merged;
  bool done = false;
  try {
    done = d.run.pass(p.bytes, merged);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    done = false;  // the engine's own failure: it stops the selection
  }
  if (!done) {
    d.failure = error::cancelled;
    return false;
  }
  // A tally's merge counts every pair once: a piece left out, or merged
  // twice, would go unseen otherwise.
  if (!read_partial(merged, out) || out.plan.bytes != p.bytes ||
      (!p.sample && out.parts[0].values != d.pairs)) {
    d.failure = error::bad_buffer;
    return false;
  }
  return true;
}

bool tally_pass(driver& d, const pass_plan& plan, pass_result& out) {
  selection_plan p;
  p.plan = plan;
  selection_partial r;
  if (!run_plan(d, p, r)) return false;
  tally& t = r.parts[0];
  out.kept.assign(plan.windows.size(), {});
  for (std::size_t j = 0; j < plan.windows.size(); ++j)
    if (t.keeping[j] && !t.kept[j].empty())
      out.kept[j].push_back(std::move(t.kept[j]));
  out.t = std::move(t);
  return true;
}

// A sample drawn by the engine's pieces: every group's tally, and whether
// every group kept all of its values. Stopped, it leaves the groups empty
// (a sample of no values gives no plan).
sample_drawer engine_drawer(driver& d, std::uint64_t count) {
  return [&d, count](const sample_request& q, std::vector<tally>& parts) {
    selection_plan p;
    p.sample = true;
    p.tiles = q.tiles;
    p.seed = q.seed;
    p.most = q.most;
    p.count = count;
    p.plan = *q.plan;
    selection_partial r;
    for (tally& t : parts) t.reset(*q.plan);
    if (!run_plan(d, p, r)) return true;
    bool whole = true;
    for (std::size_t g = 0; g < parts.size(); ++g) {
      for (const char k : r.parts[g].keeping) whole = whole && k;
      parts[g] = std::move(r.parts[g]);
    }
    return whole;
  };
}

ranks_found stopped() {
  ranks_found f;
  f.cancelled = true;
  return f;
}

ranks_found find(driver& d, const pair_set& pairs,
                 const std::vector<std::uint64_t>& ranks) {
  const pass_function pass = [&d](const pass_plan& plan, pass_result& out) {
    return tally_pass(d, plan, out);
  };
  const select_limits limits;
  if (d.run.rows)
    return find_ranks(pairs, ranks, d.run.threads, selected_isa().chosen,
                      pass, limits);
  const std::optional<pass_plan> first =
      sampled_plan(pairs.count(), engine_drawer(d, pairs.count()), ranks,
                   limits);
  if (d.failure != error::none) return stopped();
  return distances_of(select_ranks(pairs.count(), ranks, pass, first, limits));
}

rank_engine engine_of(driver& d, const pair_set& pairs) {
  return {[&d, &pairs](const std::vector<std::uint64_t>& ranks) {
            return find(d, pairs, ranks);
          },
          [&d](std::uint64_t& zeros) {
            selection_plan p;
            p.plan = zero_plan();
            selection_partial r;
            if (!run_plan(d, p, r)) return false;
            zeros = r.parts[0].inside[0];
            return true;
          }};
}

// The sets as the selection counts them: the run's samples, or stand-ins
// of their sizes alone when the engine holds them elsewhere.
struct shaped {
  packed x, y;
  pair_set pairs;
};

void shape_pairs(const selection_run& run, shaped& s) {
  if (run.rows) {
    s.pairs = {run.rows, run.cols};
    return;
  }
  const selection_shape& e = run.shape;
  s.x.cols = s.y.cols = e.columns;
  s.x.n = e.kind == pairing::pooled ? e.n + e.n_y : e.n;
  s.y.n = e.n_y;
  s.pairs = {&s.x, e.kind == pairing::cross ? &s.y : nullptr};
}

// What the public functions refuse before they compute.
error refused(const selection_shape& e) {
  const bool two = e.kind != pairing::within;
  if ((e.n > 0 || (two && e.n_y > 0)) && e.columns == 0)
    return error::no_features;
  return error::none;
}

std::size_t shape_n_y(const selection_shape& e) {
  return e.kind == pairing::within ? 0 : e.n_y;
}

constexpr double numpy_nan = std::numeric_limits<double>::quiet_NaN();

}  // namespace

}  // namespace detail

median_statistics selection_median(const selection_run& run) noexcept {
  const selection_shape& e = run.shape;
  if (const error why = detail::refused(e); why != error::none) {
    median_statistics m;
    m.n = e.n;
    m.n_y = detail::shape_n_y(e);
    m.median = m.width = m.sigma = m.gamma = detail::numpy_nan;
    m.status = why;
    return m;
  }
  detail::shaped s;
  detail::shape_pairs(run, s);
  detail::driver d{run, s.pairs.count()};
  median_statistics m = detail::median(s.pairs, detail::shape_n_y(e),
                                       detail::engine_of(d, s.pairs));
  if (d.failure == error::bad_buffer) m.status = error::bad_buffer;
  return m;
}

selection selection_quantiles(const selection_run& run, const double* p,
                              std::size_t count, quantile* out) noexcept {
  const selection_shape& e = run.shape;
  error why = detail::refused(e);
  for (std::size_t k = 0; k < count && why == error::none; ++k)
    if (!(p[k] >= 0 && p[k] <= 1)) why = error::bad_probability;
  if (why != error::none) {
    for (std::size_t k = 0; k < count; ++k) {
      out[k] = quantile{};
      out[k].p = p[k];
      out[k].lower = out[k].upper = out[k].value = out[k].width =
          out[k].sigma = out[k].gamma = detail::numpy_nan;
    }
    selection s;
    s.n = e.n;
    s.n_y = detail::shape_n_y(e);
    s.status = why;
    return s;
  }
  detail::shaped s;
  detail::shape_pairs(run, s);
  detail::driver d{run, s.pairs.count()};
  selection r = detail::quantiles(s.pairs, detail::shape_n_y(e), p, count, out,
                                  detail::engine_of(d, s.pairs));
  if (d.failure == error::bad_buffer) r.status = error::bad_buffer;
  return r;
}

}  // namespace kernel_width
