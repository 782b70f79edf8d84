#include "rank_sample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>

#include "kernels.h"
#include "threads.h"

namespace kernel_width::detail {

namespace {

// A tile: a band's 8 rows against the samples of tile_panels panels. The
// sample is drawn in `groups` groups of tiles, each from its own random
// stream, so that any thread may draw any group and the spread of the
// groups' shares gives each share's standard error.
constexpr std::size_t tile_panels = 1;

// How a sample is drawn: `tiles` tiles of the pairs on `threads` threads,
// from the stream `seed`, a window keeping at most `most` values in all.
struct sample_draw {
  const pair_set& pairs;
  isa set;
  unsigned threads = 1;
  std::uint64_t tiles = 0;
  std::uint64_t seed = 0;
  std::uint64_t most = 0;
};

constexpr std::uint64_t groups = sample_groups;

// Group g's random tiles into t, against the plan; within a set, a tile
// that holds the band's own panel is left out. A window stops keeping its
// values past its share of d.most (ties can fill one): false then.
bool draw_group(const kernels& k, const sample_draw& d, std::uint64_t g,
                const pass_plan& plan, tally& t) {
  t.reset(plan);
  bool whole = true;
  std::uint64_t state = d.seed + g * 0x100000000;
  const std::size_t panels = d.pairs.others().count();
  for (std::uint64_t u = 0; u < (d.tiles + groups - 1) / groups; ++u) {
    const std::size_t b = next_random(state) % d.pairs.bands();
    const std::size_t q = next_random(state) % panels;
    const std::size_t end = std::min(panels, q + tile_panels);
    if (!d.pairs.across() && b >= q && b < end) continue;
    k.tally(d.pairs, b, {q, end}, plan, t);
    for (std::size_t j = 0; j < t.kept.size(); ++j)
      if (t.kept[j].size() > d.most / groups) t.keeping[j] = 0, whole = false;
  }
  return whole;
}

// What a sample found: the plan it kept every value of the windows of,
// its groups' tallies (their kept values still in them), the counts of
// them all, and the values of each window.
struct sample {
  pass_plan plan;
  std::vector<tally> parts;
  tally all;
  std::uint64_t count = 0;  // NaN aside
  std::vector<kept_vector> kept;
  // Per window: the positions of kept whose values are in place, each
  // with the smaller values before it and the larger after it.
  std::vector<std::vector<std::size_t>> placed;
  bool whole = true;  // every value of the windows kept
  // Given middles: each group's count under each (its kept values then
  // moved out of it).
  std::vector<std::vector<std::uint64_t>> under;
};

// The window of plan that holds `value`.
std::size_t window_of(const pass_plan& plan, double value) {
  std::size_t j = 0;
  while (j + 1 < plan.windows.size() && plan.windows[j].hi < value) ++j;
  return j;
}

// A group's values under each middle.
std::vector<std::uint64_t> under_middles(const pass_plan& plan, const tally& t,
                                         const std::vector<double>& middles) {
  std::vector<std::uint64_t> out;
  for (const double middle : middles) {
    const std::size_t j = window_of(plan, middle);
    std::uint64_t under = below(plan, t, j);
    for (const double x : t.kept[j]) under += x < middle;
    out.push_back(under);
  }
  return out;
}

// The groups of `tiles` random tiles of the pairs on threads.
bool draw_groups(const pair_set& pairs, isa set, unsigned threads,
                 const sample_request& q, std::vector<tally>& parts) {
  const sample_draw d{pairs, set, threads, q.tiles, q.seed, q.most};
  std::atomic<std::uint64_t> next{0};
  std::atomic<bool> failed{false}, whole{true};
  run_threads(d.threads, [&](unsigned) {
    try {
      for (std::uint64_t g; (g = next.fetch_add(1)) < groups;)
        if (!draw_group(kernels_for(d.set), d, g, *q.plan, parts[g]))
          whole = false;
    } catch (const std::bad_alloc&) {
      failed = true;
    }
  });
  if (failed) throw std::bad_alloc();
  return whole;
}

// `tiles` random tiles, every value in the plan's windows kept, up to
// `most` in all; with middles, each group's count under them, and the
// groups' own copies of the kept values freed.
sample draw_sample(const sample_drawer& draw, const sample_request& q,
                   pass_plan plan, const std::vector<double>& middles) {
  for (window& w : plan.windows) {
    w.keep_first = 0;
    w.keep_last = w.count() - 1;
  }
  plan_hulls(plan);
  sample s;
  s.plan = std::move(plan);
  s.parts.resize(groups);
  s.whole = draw({&s.plan, q.tiles, q.seed, q.most}, s.parts);
  s.all.reset(s.plan);
  s.kept.resize(s.plan.windows.size());
  for (std::size_t j = 0; j < s.kept.size(); ++j) {
    std::size_t size = 0;
    for (const tally& t : s.parts) size += t.kept[j].size();
    s.kept[j].reserve(size);
  }
  for (tally& t : s.parts) {  // in group order: the same values
    s.all.merge(t);
    if (!middles.empty()) s.under.push_back(under_middles(s.plan, t, middles));
    for (std::size_t j = 0; j < t.kept.size(); ++j) {
      s.kept[j].insert(s.kept[j].end(), t.kept[j].begin(), t.kept[j].end());
      if (!middles.empty()) t.kept[j] = {};
    }
  }
  s.placed.resize(s.kept.size());
  s.count = s.all.values - s.all.nan;
  return s;
}

// The value at a share of the sample's values: from window j's values, or
// its bounds when the share lies outside them.
double share_of(sample& s, std::size_t j, double share) {
  const window& w = s.plan.windows[j];
  const double rank = share * static_cast<double>(s.count - 1);
  const std::uint64_t under = below(s.plan, s.all, j);
  if (rank < static_cast<double>(under)) return w.lo;
  const auto r = static_cast<std::size_t>(rank - static_cast<double>(under));
  kept_vector& kept = s.kept[j];
  if (r >= kept.size()) return w.hi;
  // A plan looks up several shares in each window: each selects only
  // between the values already in place either side.
  std::vector<std::size_t>& placed = s.placed[j];
  const auto next = std::lower_bound(placed.begin(), placed.end(), r);
  if (next != placed.end() && *next == r) return kept[r];
  const std::size_t from = next == placed.begin() ? 0 : *std::prev(next) + 1;
  const std::size_t to = next == placed.end() ? kept.size() : *next;
  const auto at = [&](std::size_t k) {
    return kept.begin() + static_cast<std::ptrdiff_t>(k);
  };
  std::nth_element(at(from), at(r), at(to));
  placed.insert(next, r);
  return kept[r];
}

// The standard error of the sample's share under `middle` (in window j),
// from the spread of its groups' shares.
double error_of(const sample& s, std::size_t m, double middle) {
  double sum = 0.0;
  double squares = 0.0;
  double used = 0.0;
  for (std::size_t g = 0; g < s.parts.size(); ++g) {
    const tally& t = s.parts[g];
    const std::uint64_t count = t.values - t.nan;
    if (count == 0) continue;
    const std::uint64_t under = s.under.empty()
                                    ? under_middles(s.plan, t, {middle})[0]
                                    : s.under[g][m];
    const double share =
        static_cast<double>(under) / static_cast<double>(count);
    sum += share;
    squares += share * share;
    used += 1.0;
  }
  if (used < 2) return 0.5;
  const double mean = sum / used;
  const double spread = std::max(0.0, squares / used - mean * mean);
  return std::sqrt(spread / (used - 1));
}

std::size_t window_of(const sample& s, double value) {
  return window_of(s.plan, value);
}

// One window per share: the part of the values the first pass keeps,
// `keep` either side of the share, and the part it counts in buckets,
// `reach` either side.
struct wanted {
  std::uint64_t low, high, keep_low, keep_high;
  double from, to;  // the shares it keeps, about
};

// The windows apart: those that meet are merged.
std::vector<wanted> merged(std::vector<wanted> ws) {
  std::sort(ws.begin(), ws.end(),
            [](const wanted& a, const wanted& b) { return a.low < b.low; });
  std::vector<wanted> out;
  for (const wanted& w : ws) {
    if (!out.empty() && w.low <= out.back().high) {
      wanted& last = out.back();
      last.high = std::max(last.high, w.high);
      last.keep_low = std::min(last.keep_low, w.keep_low);
      last.keep_high = std::max(last.keep_high, w.keep_high);
      last.from = std::min(last.from, w.from);
      last.to = std::max(last.to, w.to);
    } else {
      out.push_back(w);
    }
  }
  return out;
}

// A window of patterns from low to high (values), with 2 buckets: all a
// sample needs.
window sample_window(double low, double high) {
  return window_over(bits_of(low), bits_of(high), unknown_count, 1);
}

// The shares' ranges, from the rough sample: `half` either side, merged
// where they meet.
pass_plan ranges_around(sample& rough, const std::vector<double>& shares,
                        const std::vector<double>& half) {
  const auto at = [&](double share) {
    if (share <= 0) return 0.0;
    if (share >= 1) return value_of(top_pattern);
    return share_of(rough, 0, share);
  };
  pass_plan plan;
  for (std::size_t k = 0; k < shares.size(); ++k) {
    const double low = at(shares[k] - half[k]);
    const double high = at(shares[k] + half[k]);
    if (!plan.windows.empty() && bits_of(low) <= bits_of(plan.windows.back().hi))
      plan.windows.back() =
          sample_window(plan.windows.back().lo, std::max(high, plan.windows.back().hi));
    else
      plan.windows.push_back(sample_window(low, high));
  }
  return plan;
}

// Whether the rough sample holds one value in each of the ranges, or two
// with none between: ties (a grid), whose windows keep no values. The fine
// sample would place the same windows of one pattern (its ranges hold
// theirs), so it is not drawn.
bool ties_only(const sample& rough, const pass_plan& ranges) {
  for (const window& w : ranges.windows) {
    const std::uint64_t high = bits_of(w.hi);
    if (w.first == high) continue;
    for (const double x : rough.kept[0])
      if (bits_of(x) > w.first && bits_of(x) < high) return false;
  }
  return true;
}

// Each share's window from the fine sample: `keep` standard errors either
// side kept, `reach` counted in buckets.
std::vector<wanted> windows_for(sample& fine, const std::vector<double>& shares,
                                const std::vector<double>& middles,
                                const std::vector<double>& errors,
                                double keep, double reach) {
  std::vector<wanted> ws;
  for (std::size_t k = 0; k < shares.size(); ++k) {
    const std::size_t j = window_of(fine, middles[k]);
    const auto at = [&](double p) {
      if (p <= 0) return std::uint64_t{0};
      if (p >= 1) return top_pattern;
      return bits_of(share_of(fine, j, p));
    };
    const double e = errors[k];
    ws.push_back({at(shares[k] - reach * e), at(shares[k] + reach * e),
                  at(shares[k] - keep * e), at(shares[k] + keep * e),
                  shares[k] - keep * e, shares[k] + keep * e});
  }
  return merged(std::move(ws));
}

// Whether the sample holds no value strictly between w's two ends, which
// differ: on tied data (a grid) such a window is two ties, each counted in
// the vector loop as a window of its own, where one window over both
// would take every value one by one. A rank between them in the data
// costs a pass more, exact all the same.
bool two_ties(const sample& fine, const wanted& w) {
  if (w.low == w.high || !fine.whole) return false;
  const std::size_t j = window_of(fine.plan, value_of(w.low));
  const window& v = fine.plan.windows[j];
  if (bits_of(v.lo) > w.low || bits_of(v.hi) < w.high) return false;
  for (const double x : fine.kept[j])
    if (bits_of(x) > w.low && bits_of(x) < w.high) return false;
  return true;
}

// A window of one pattern: its values counted, none kept.
void add_tie(pass_plan& plan, std::uint64_t pattern) {
  window v = window_over(pattern, pattern, unknown_count, 0);
  v.keep_first = 1;
  v.keep_last = 0;
  plan.windows.push_back(v);
}

// The first plan from the fine sample: each share's window keeps the
// values within 3.5 of its standard errors either side, as long as the
// kept values of all fit (a rank outside costs a pass more, about once in
// 2,000 runs); otherwise it keeps what fits and counts 3 either side in
// buckets, so that a rank outside the kept part takes one pass more.
pass_plan first_plan(sample& fine, const std::vector<double>& shares,
                     const std::vector<double>& middles, std::uint64_t count,
                     const select_limits& limits) {
  std::vector<double> errors;
  for (std::size_t k = 0; k < shares.size(); ++k)
    errors.push_back(error_of(fine, k, middles[k]));
  std::vector<wanted> ws =
      windows_for(fine, shares, middles, errors, 3.5, 3.5);
  const auto kept = [&] {
    double shares_kept = 0.0;
    for (const wanted& w : ws) shares_kept += w.to - w.from;
    return shares_kept * static_cast<double>(count);
  };
  double expected = kept();
  const double fits = 0.9 * static_cast<double>(limits.keep) / expected;
  if (fits < 1) {
    ws = windows_for(fine, shares, middles, errors, 3.5 * fits, 3);
    expected = kept();
  }
  pass_plan plan;
  const int bits = bucket_bits_for(ws.size(), limits);
  for (const wanted& w : ws) {
    if (two_ties(fine, w)) {
      add_tie(plan, w.low);
      add_tie(plan, w.high);
      continue;
    }
    window v = window_over(w.low, w.high, unknown_count, bits);
    v.keep_first = bucket_of(v, w.keep_low);
    v.keep_last = bucket_of(v, w.keep_high);
    v.room = static_cast<std::uint64_t>(
        static_cast<double>(limits.keep) * (w.to - w.from) *
        static_cast<double>(count) / std::max(expected, 1.0));
    plan.windows.push_back(v);
  }
  plan_hulls(plan);
  return plan;
}

// Where the rough sample places the shares: each one's middle, its
// standard error, and the spread of one value's share summed over the
// windows (the shares of one window spread as its widest).
struct placing {
  std::vector<double> middles, errors;
  double spreads = 0.0;
};

placing place_shares(sample& rough, const std::vector<double>& shares) {
  placing p;
  double spread = 0.0;
  const double values = std::sqrt(static_cast<double>(rough.count));
  for (std::size_t k = 0; k < shares.size(); ++k) {
    p.middles.push_back(share_of(rough, 0, shares[k]));
    p.errors.push_back(error_of(rough, k, p.middles.back()));
    const double own = p.errors.back() * values;
    if (k > 0 && p.middles[k] == p.middles[k - 1]) {
      p.spreads += std::max(0.0, own - spread);
      spread = std::max(spread, own);
    } else {
      p.spreads += own;
      spread = own;
    }
  }
  return p;
}

// The fine sample's tiles: enough that every window's kept values fit, and
// as many as cost least in all: a sampled value costs about an eighth of a
// value counted one by one in the pass, whose number falls as the square
// root of the sample grows. Within a share of the pairs, and of the
// memory: it keeps the values 6 rough errors either side of each share.
std::uint64_t fine_tiles(const placing& p, std::uint64_t rough_count,
                         std::uint64_t count, const select_limits& limits) {
  const double kept = 7 * p.spreads * static_cast<double>(count);
  const double fit = kept / (0.7 * static_cast<double>(limits.keep));
  const double per_tile = 8.0 * panel_width * tile_panels;
  const double wanted_values =
      std::max(fit * fit, std::pow(kept / 2 * 8, 2.0 / 3.0));
  const double ranges =
      12 * 1.2 * p.spreads / std::sqrt(static_cast<double>(rough_count));
  const double most = std::min(
      {static_cast<double>(limits.sample_tiles),
       static_cast<double>(count) /
           (static_cast<double>(limits.sample_share) * per_tile),
       static_cast<double>(limits.sample_keep) / (ranges * per_tile)});
  return static_cast<std::uint64_t>(std::clamp(
      wanted_values / per_tile, static_cast<double>(limits.rough_tiles),
      std::max(most, static_cast<double>(limits.rough_tiles))));
}

}  // namespace

sample_drawer tile_drawer(const pair_set& pairs, isa set, unsigned threads) {
  return [&pairs, set, threads](const sample_request& q,
                                std::vector<tally>& parts) {
    return draw_groups(pairs, set, threads, q, parts);
  };
}

std::optional<pass_plan> sampled_plan(const pair_set& pairs, isa set,
                                      unsigned threads,
                                      const std::vector<std::uint64_t>& ranks,
                                      const select_limits& limits) {
  if (!pairs.across() && pairs.bands() < 2) return std::nullopt;
  return sampled_plan(pairs.count(), tile_drawer(pairs, set, threads), ranks,
                      limits);
}

std::optional<pass_plan> sampled_plan(std::uint64_t count,
                                      const sample_drawer& draw,
                                      const std::vector<std::uint64_t>& ranks,
                                      const select_limits& limits) {
  if (count <= limits.at_once || ranks.empty()) return std::nullopt;
  std::vector<double> shares;
  for (const std::uint64_t r : ranks)
    shares.push_back(static_cast<double>(r) / static_cast<double>(count - 1));
  // A rough sample of every value places the shares and tells how much the
  // groups spread.
  pass_plan all;
  all.windows.push_back(sample_window(0.0, value_of(top_pattern)));
  sample rough =
      draw_sample(draw, {nullptr, limits.rough_tiles, 1, ~std::uint64_t{0}}, all, {});
  if (rough.count < 2) return std::nullopt;
  const placing p = place_shares(rough, shares);
  const std::uint64_t tiles = fine_tiles(p, rough.count, count, limits);
  const double fine_values =
      static_cast<double>(tiles) * 8.0 * panel_width * tile_panels;
  std::vector<double> half;
  for (const double e : p.errors)
    half.push_back(6 * e + 8 * e * std::sqrt(static_cast<double>(rough.count) /
                                             fine_values));
  pass_plan ranges = ranges_around(rough, shares, half);
  if (ties_only(rough, ranges))
    return first_plan(rough, shares, p.middles, count, limits);
  sample fine =
      draw_sample(draw, {nullptr, tiles, 1 << 20, 2 * limits.sample_keep},
                  std::move(ranges), p.middles);
  if (fine.count < 2) return std::nullopt;
  // Ties can hold far more of the fine sample's values than its ranges'
  // shares: then the rough sample places the windows.
  if (!fine.whole) {
    fine = {};
    return first_plan(rough, shares, p.middles, count, limits);
  }
  rough = {};
  return first_plan(fine, shares, p.middles, count, limits);
}

}  // namespace kernel_width::detail
