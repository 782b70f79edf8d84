#include "rank_tally.h"

#include <numeric>

namespace kernel_width::detail {

void plan_hulls(pass_plan& plan) {
  const std::size_t count = plan.windows.size();
  plan.buckets = 0;
  for (window& w : plan.windows) {
    w.base = plan.buckets;
    plan.buckets += w.count();
  }
  // The widest gaps, in patterns, split the windows into hulls.
  std::vector<std::size_t> order(count > 0 ? count - 1 : 0);
  std::iota(order.begin(), order.end(), std::size_t{0});
  const auto gap = [&](std::size_t j) {
    return plan.windows[j + 1].first - bits_of(plan.windows[j].hi);
  };
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return gap(a) > gap(b); });
  order.resize(std::min(order.size(), max_hulls - 1));
  std::sort(order.begin(), order.end());
  plan.hulls.clear();
  std::size_t first = 0;
  for (std::size_t k = 0; k <= order.size() && count > 0; ++k) {
    const std::size_t end = k < order.size() ? order[k] + 1 : count;
    plan.hulls.push_back(
        {plan.windows[first].lo, plan.windows[end - 1].hi, first, end});
    first = end;
  }
}

void tally::reset(const pass_plan& plan) {
  under.assign(plan.hulls.size(), 0);
  inside.assign(plan.windows.size(), 0);
  after.assign(plan.windows.size(), 0);
  buckets.assign(plan.buckets, {});
  values = nan = nan_bits = 0;
  kept.resize(plan.windows.size());
  for (kept_vector& k : kept) k.clear();
  keeping.assign(plan.windows.size(), 1);
}

void tally::merge(const tally& other) {
  values += other.values;
  for (std::size_t h = 0; h < under.size(); ++h) under[h] += other.under[h];
  for (std::size_t j = 0; j < inside.size(); ++j) {
    inside[j] += other.inside[j];
    after[j] += other.after[j];
  }
  for (std::size_t k = 0; k < buckets.size(); ++k) {
    bucket& b = buckets[k];
    const bucket& o = other.buckets[k];
    b.count += o.count;
    b.low = std::min(b.low, o.low);
    b.high = std::max(b.high, o.high);
  }
  nan += other.nan;
  nan_bits = std::max(nan_bits, other.nan_bits);
}

std::uint64_t below(const pass_plan& plan, const tally& t, std::size_t j) {
  std::size_t h = 0;
  while (plan.hulls[h].end <= j) ++h;
  std::uint64_t count = t.under[h];
  for (std::size_t k = plan.hulls[h].first; k < j; ++k)
    count += t.inside[k] + t.after[k];
  return count;
}

}  // namespace kernel_width::detail
