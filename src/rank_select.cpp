#include "rank_select.h"

#include <algorithm>
#include <bit>

namespace kernel_width::detail {

namespace {

// A rank and what is known of its value: it lies in the patterns
// low..high, under which lie `base` values and in which lie `inside`.
// (Every pass counts all values, so both stay known.)
struct target {
  std::uint64_t rank = 0;
  std::uint64_t low = 0;
  std::uint64_t high = top_pattern;
  std::uint64_t base = 0;
  std::uint64_t inside = 0;
  std::optional<double> value;
  // To pick from kept values: the window's index + 1 (0: none), the bucket,
  // and the rank among the bucket's values.
  std::size_t pick_in = 0;
  std::uint64_t pick_bucket = 0;
  std::uint64_t pick_rank = 0;
};

// Two open targets share a window when they share their patterns; the
// patterns of any two are the same or apart, as every pass splits them
// along the same buckets and gaps.
bool same_range(const target& a, const target& b) {
  return a.low == b.low && a.high == b.high;
}

// A window for each run of open targets that share their patterns; every
// value kept in the windows that hold fewest, as far as they fit.
pass_plan plan_for(const std::vector<target>& ks, const select_limits& limits) {
  std::vector<const target*> runs;
  for (const target& k : ks)
    if (!k.value && (runs.empty() || !same_range(*runs.back(), k)))
      runs.push_back(&k);
  pass_plan plan;
  const int bits = bucket_bits_for(runs.size(), limits);
  for (const target* k : runs)
    plan.windows.push_back(window_over(k->low, k->high, unknown_count, bits));
  std::vector<std::size_t> order(runs.size());
  for (std::size_t j = 0; j < order.size(); ++j) order[j] = j;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return runs[a]->inside < runs[b]->inside;
  });
  std::uint64_t budget = limits.keep;
  for (const std::size_t j : order) {
    const std::uint64_t inside = runs[j]->inside;
    if (inside > budget) break;
    window& w = plan.windows[j];
    w.keep_first = 0;
    w.keep_last = w.count() - 1;
    w.room = inside;
    budget -= inside;
  }
  plan_hulls(plan);
  return plan;
}

void prepare(pass_result& out, const pass_plan& plan) {
  out.t.reset(plan);
  out.kept.clear();
  out.kept.resize(plan.windows.size());
}

// Whether window j's parts hold every value of its kept buckets.
bool complete(const pass_plan& plan, const pass_result& r, std::size_t j) {
  const window& w = plan.windows[j];
  const std::uint64_t last = std::min(w.keep_last, w.count() - 1);
  if (w.keep_first > last) return false;
  std::uint64_t wanted = 0;
  for (std::uint64_t x = w.keep_first; x <= last; ++x)
    wanted += r.t.buckets[w.base + x].count;
  std::uint64_t held = 0;
  for (const kept_vector& part : r.kept[j]) held += part.size();
  return held == wanted;
}

// The bucket of window j that holds k's rank: its first or last value, its
// only value, a kept value (to pick), or its patterns.
void into_bucket(target& k, const pass_plan& plan, std::size_t j,
                 std::uint64_t under, const pass_result& r, bool kept) {
  const window& w = plan.windows[j];
  const bucket* b = r.t.buckets.data() + w.base;
  std::uint64_t before = under;
  std::uint64_t x = 0;
  while (k.rank >= before + b[x].count) before += b[x++].count;
  if (k.rank == before || b[x].low == b[x].high) {
    k.value = b[x].low;
  } else if (k.rank + 1 == before + b[x].count) {
    k.value = b[x].high;
  } else if (kept && w.keeps(x)) {
    k.pick_in = j + 1;
    k.pick_bucket = x;
    k.pick_rank = k.rank - before;
  } else {
    k.low = bits_of(b[x].low);
    k.high = bits_of(b[x].high);
    k.base = before;
    k.inside = b[x].count;
  }
}

// Narrows k down with what a pass found: its value, a kept value to pick,
// or the patterns that hold it: a bucket, or the gap between two windows.
void locate(target& k, const pass_plan& plan, const pass_result& r,
            const std::vector<std::uint64_t>& under,
            const std::vector<char>& kept, std::uint64_t count) {
  const std::vector<window>& ws = plan.windows;
  std::size_t j = 0;
  while (j < ws.size() && under[j] + r.t.inside[j] <= k.rank) ++j;
  if (j < ws.size() && under[j] <= k.rank) {
    into_bucket(k, plan, j, under[j], r, kept[j]);
  } else {
    const std::uint64_t low = j > 0 ? bits_of(ws[j - 1].hi) + 1 : 0;
    const std::uint64_t high = j < ws.size() ? ws[j].first - 1 : top_pattern;
    std::uint64_t end = k.base + k.inside;
    if (low > k.low) {
      k.low = low;
      k.base = under[j - 1] + r.t.inside[j - 1];
    }
    if (high < k.high) {
      k.high = high;
      end = j < ws.size() ? under[j] : count;
    }
    k.inside = end - k.base;
  }
  if (!k.value && !k.pick_in && k.low == k.high) k.value = value_of(k.low);
}

// The targets to pick from window j's kept values: each from its bucket's
// values alone, the targets of one bucket in increasing rank (each pick
// leaves the smaller values before it, so the next looks after it).
void pick(std::vector<target>& ks, const pass_plan& plan, std::size_t j,
          const pass_result& r) {
  const window& w = plan.windows[j];
  std::vector<double> in;
  std::uint64_t filled = ~std::uint64_t{0};  // the bucket `in` holds
  std::size_t from = 0;
  for (target& k : ks) {  // in increasing rank, so by bucket
    if (k.pick_in != j + 1) continue;
    if (k.pick_bucket != filled) {
      in.clear();
      for (const kept_vector& part : r.kept[j])
        for (const double v : part)
          if (((bits_of(v) - w.first) >> w.shift) == k.pick_bucket)
            in.push_back(v);
      filled = k.pick_bucket;
      from = 0;
    }
    const auto at = in.begin() + static_cast<std::ptrdiff_t>(k.pick_rank);
    std::nth_element(in.begin() + static_cast<std::ptrdiff_t>(from), at,
                     in.end());
    k.value = *at;
    k.pick_in = 0;
    from = k.pick_rank + 1;
  }
}

// Whether a pass narrowed k: fewer values, or as many in fewer patterns (a
// pass over those patterns then splits them).
bool narrowed(const target& before, const target& after) {
  if (after.value || after.pick_in) return true;
  return after.inside < before.inside ||
         (after.inside == before.inside &&
          after.high - after.low < before.high - before.low);
}

}  // namespace

std::uint64_t bucket_of(const window& w, std::uint64_t bits) {
  const std::uint64_t last = (bits_of(w.hi) - w.first) >> w.shift;
  return bits < w.first ? 0 : std::min(last, (bits - w.first) >> w.shift);
}

window window_over(std::uint64_t low, std::uint64_t high, std::uint64_t room,
                   int bucket_bits) {
  window w;
  w.first = low;
  w.lo = value_of(low);
  w.hi = value_of(high);
  w.shift =
      std::max(0, static_cast<int>(std::bit_width(high - low)) - bucket_bits);
  if (room != unknown_count) {
    w.keep_first = 0;
    w.keep_last = bucket_of(w, high);
    w.room = room;
  }
  return w;
}

int bucket_bits_for(std::size_t windows, const select_limits& limits) {
  const int most = std::bit_width(limits.buckets) - 1 -
                   (std::bit_width(std::max<std::size_t>(windows, 1)) - 1);
  return std::clamp(most, std::min(4, limits.bucket_bits),
                    limits.bucket_bits);
}

ranks_result select_ranks(std::uint64_t count,
                          const std::vector<std::uint64_t>& ranks,
                          const pass_function& pass,
                          const std::optional<pass_plan>& first,
                          const select_limits& limits) {
  ranks_result out;
  std::vector<target> ks(ranks.size());
  for (std::size_t k = 0; k < ranks.size(); ++k) {
    ks[k].rank = ranks[k];
    ks[k].inside = count;  // NaNs aside: all in +0..+inf
  }
  pass_result r;
  std::optional<pass_plan> next = first;
  while (std::any_of(ks.begin(), ks.end(),
                     [](const target& k) { return !k.value; })) {
    const pass_plan plan = next ? std::move(*next) : plan_for(ks, limits);
    next.reset();
    prepare(r, plan);
    ++out.passes;
    if (!pass(plan, r)) {
      out.cancelled = true;
      return out;
    }
    if (r.t.nan > 0) {
      out.nan = r.t.nan;
      return out;
    }
    std::vector<std::uint64_t> under(plan.windows.size());
    std::vector<char> kept(plan.windows.size());
    for (std::size_t j = 0; j < under.size(); ++j) {
      under[j] = below(plan, r.t, j);
      kept[j] = complete(plan, r, j);
    }
    for (target& k : ks) {
      if (k.value) continue;
      const target before = k;
      locate(k, plan, r, under, kept, count);
      if (!narrowed(before, k)) {
        out.stalled = true;
        return out;
      }
    }
    for (std::size_t j = 0; j < plan.windows.size(); ++j) pick(ks, plan, j, r);
  }
  for (const target& k : ks) out.values.push_back(*k.value);
  return out;
}

}  // namespace kernel_width::detail
