#include "rank_passes.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "kernels.h"
#include "rank_sample.h"

namespace kernel_width::detail {

namespace {

// Panels per chunk: a chunk of the samples stays in cache while the rows
// of a band pass over it.
std::size_t chunk_panels(const packed& s) {
  return std::clamp<std::size_t>(4096 / std::max<std::size_t>(s.cols, 1), 1,
                                 128);
}

// How many values the threads have kept of each window, so that each
// stops keeping once they pass the window's room.
struct kept_count {
  const pass_plan& plan;
  std::vector<std::atomic<std::uint64_t>> used;
  std::size_t threads = 1;
};

// What one chunk of a band may add to a window's kept values, at most: a
// band's 8 rows against 128 panels of 8.
constexpr std::size_t chunk_values = 8 * 128 * 8;

// A thread's kept values of each window: the full blocks, and the one it
// fills. A block is never grown (a copy would hold the values twice for a
// while): once it nears its end, a new one starts.
struct thread_kept {
  std::vector<std::vector<kept_vector>> full;

  // A new block for window j of t, as large as the thread's share of the
  // window's room (less once that is used up).
  void start(tally& t, std::size_t j, const kept_count& all) {
    const std::uint64_t room = all.plan.windows[j].room;
    t.kept[j] = kept_vector();
    t.kept[j].reserve(
        std::max<std::uint64_t>(room / all.threads / (full[j].empty() ? 1 : 4),
                                4 * chunk_values));
  }
};

// One thread's share of a pass: its tally, how many of its kept values
// are counted in the totals, and its full blocks.
struct thread_pass {
  tally& t;
  std::vector<std::uint64_t> counted;  // per window
  thread_kept& mine;
};

// A thread's newly kept values counted.
void account(thread_pass& p, kept_count& all) {
  tally& t = p.t;
  for (std::size_t j = 0; j < t.kept.size(); ++j) {
    const std::uint64_t now = t.kept[j].size();
    if (now == p.counted[j]) continue;
    const std::uint64_t total = all.used[j].fetch_add(now - p.counted[j]) +
                                (now - p.counted[j]);
    p.counted[j] = now;
    if (total > all.plan.windows[j].room) t.keeping[j] = 0;
    if (t.keeping[j] && t.kept[j].capacity() - now < chunk_values) {
      p.mine.full[j].push_back(std::move(t.kept[j]));
      p.mine.start(t, j, all);
      p.counted[j] = 0;
    }
  }
}

void tally_band(const kernels& k, const pair_set& pairs, std::size_t b,
                kept_count& all, thread_pass& p) {
  const packed& o = pairs.others();
  const std::size_t chunk = chunk_panels(o);
  for (std::size_t p0 = pairs.first_panel(b); p0 < o.count(); p0 += chunk) {
    k.tally(pairs, b, {p0, std::min(o.count(), p0 + chunk)}, all.plan, p.t);
    account(p, all);
  }
}

// The source that hands out every band in order.
struct all_bands {
  std::vector<std::size_t> bands;
  std::atomic<std::size_t> next{0};
  unit_source source;
  explicit all_bands(std::size_t count) : bands(count) {
    for (std::size_t b = 0; b < count; ++b) bands[b] = b;
    source = in_order(bands, next);
  }
};

// Whether every value of the samples is finite: then no distance is NaN
// (a difference may overflow to infinity, never to NaN).
bool finite_samples(const pair_set& pairs) {
  const auto finite = [](const packed& s) {
    return std::all_of(s.values(), s.values() + s.stored(),
                       [](double x) { return std::isfinite(x); });
  };
  return finite(*pairs.rows) && (!pairs.across() || finite(pairs.others()));
}

bool run_pass(const pair_set& pairs, const pass_plan& plan, const workers& w,
              pass_result& out) {
  all_bands all(pairs.bands());
  return tally_bands(pairs, plan, all.source, w, out);
}

}  // namespace

unsigned pass_threads(const pair_set& pairs, unsigned threads,
                      const select_limits& limits) {
  if (threads == 0) threads = available_threads();
  const std::size_t per_thread = sizeof(bucket) * limits.buckets * 2;
  const std::size_t budget = std::size_t{32} << 20;
  return static_cast<unsigned>(std::clamp<std::size_t>(
      std::min<std::size_t>({threads, pairs.bands(), budget / per_thread}), 1,
      threads));
}

bool tally_bands(const pair_set& pairs, const pass_plan& given,
                 const unit_source& next, const workers& w, pass_result& out) {
  const kernels& k = kernels_for(w.set);
  pass_plan plan = given;
  plan.finite = finite_samples(pairs);
  std::vector<tally> tallies(std::max(w.threads, 1u));
  kept_count all{plan,
                 std::vector<std::atomic<std::uint64_t>>(plan.windows.size()),
                 tallies.size()};
  std::vector<thread_kept> kept(tallies.size());
  for (std::size_t id = 0; id < tallies.size(); ++id) {
    tallies[id].reset(plan);
    kept[id].full.resize(plan.windows.size());
    for (std::size_t j = 0; j < plan.windows.size(); ++j)
      if (plan.windows[j].room > 0) kept[id].start(tallies[id], j, all);
  }
  run_threads(static_cast<unsigned>(tallies.size()), [&](unsigned id) {
    thread_pass mine{tallies[id],
                     std::vector<std::uint64_t>(plan.windows.size()),
                     kept[id]};
    for (std::size_t b; next(b);) {
      if (w.control.cancelled()) return;
      tally_band(k, pairs, b, all, mine);
      w.control.add(pairs.band_pairs(b));
    }
  });
  if (w.control.cancelled()) return false;
  out.kept.resize(plan.windows.size());
  for (std::size_t id = 0; id < tallies.size(); ++id) {
    tally& t = tallies[id];
    out.t.merge(t);
    for (std::size_t j = 0; j < plan.windows.size(); ++j) {
      for (kept_vector& block : kept[id].full[j])
        out.kept[j].push_back(std::move(block));
      if (!t.kept[j].empty()) out.kept[j].push_back(std::move(t.kept[j]));
    }
  }
  return true;
}

ranks_found distances_of(const ranks_result& r) {
  ranks_found f;
  f.nan = r.nan;
  f.passes = r.passes;
  f.cancelled = r.cancelled;
  f.stalled = r.stalled;
  for (const double v : r.values) f.values.push_back(std::sqrt(v));
  return f;
}

ranks_found find_ranks(const pair_set& pairs,
                       const std::vector<std::uint64_t>& ranks,
                       unsigned threads, isa set, const pass_function& pass,
                       const select_limits& limits) {
  const std::optional<pass_plan> first =
      sampled_plan(pairs, set, pass_threads(pairs, threads, limits), ranks,
                   limits);
  return distances_of(select_ranks(pairs.count(), ranks, pass, first, limits));
}

ranks_found pair_ranks(const pair_set& pairs,
                       const std::vector<std::uint64_t>& ranks,
                       unsigned threads, isa set, const run_control& control,
                       const select_limits& limits) {
  // The progress counts the first pass: most data need no other.
  workers w{set, pass_threads(pairs, threads, limits), control};
  return find_ranks(
      pairs, ranks, threads, set,
      [&](const pass_plan& plan, pass_result& out) {
        const bool done = run_pass(pairs, plan, w, out);
        w.control.done = nullptr;
        return done;
      },
      limits);
}

pass_plan zero_plan() {
  pass_plan plan;
  plan.windows.push_back(window_over(0, 0, unknown_count, 0));
  plan_hulls(plan);
  return plan;
}

std::uint64_t zero_pairs(const pair_set& pairs, unsigned threads, isa set,
                         const run_control& control, bool& cancelled) {
  const pass_plan plan = zero_plan();
  pass_result out;
  out.t.reset(plan);
  const workers w{set, pass_threads(pairs, threads), control};
  cancelled = !run_pass(pairs, plan, w, out);
  return cancelled ? 0 : out.t.inside[0];
}

rank_engine local_engine(const pair_set& pairs, unsigned threads, isa set,
                         const run_control& control) {
  return {[=](const std::vector<std::uint64_t>& ranks) {
            return pair_ranks(pairs, ranks, threads, set, control);
          },
          [=](std::uint64_t& zeros) {
            bool cancelled = false;
            zeros = zero_pairs(pairs, threads, set, {nullptr, control.cancel},
                               cancelled);
            return !cancelled;
          }};
}

}  // namespace kernel_width::detail
