#include "median_select.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace kernel_width::detail {

namespace {

constexpr std::uint64_t unknown = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t top = 0x7ff0000000000000;  // +inf
constexpr double none = -std::numeric_limits<double>::quiet_NaN();

// A middle rank and what is known of its value: it lies in the patterns
// low..high, under which lie `base` values and in which lie `room` (either
// may be unknown).
struct target {
  std::uint64_t rank = 0;
  std::uint64_t low = 0;
  std::uint64_t high = top;
  std::uint64_t base = 0;
  std::uint64_t room = unknown;
  std::optional<double> value;
};

// The bucket of a counted window that holds k's rank: its first or last
// value, its only value, or its patterns.
void into_bucket(target& k, const window& w, const pass_result& r) {
  std::uint64_t before = r.t.below;
  std::size_t j = 0;
  while (k.rank >= before + r.buckets[j].count) before += r.buckets[j++].count;
  const bucket& b = r.buckets[j];
  if (k.rank == before || b.low == b.high) {
    k.value = b.low;
  } else if (k.rank + 1 == before + b.count) {
    k.value = b.high;
  } else {
    k.low = std::max(bits_of(b.low), w.first + (std::uint64_t{j} << w.shift));
    k.high = bits_of(b.high);
    k.base = before;
    k.room = b.count;
  }
}

// Narrows k down with what a pass over window w found: its value, or the
// patterns that hold it.
void locate(target& k, const window& w, pass_result& r) {
  const std::uint64_t under = r.t.below;
  const std::uint64_t end = under + r.t.inside;
  if (k.rank < under) {
    k.high = std::min(k.high, w.first - 1);
    k.room = k.base == unknown ? unknown : under - k.base;
  } else if (k.rank >= end) {
    const bool known = k.base != unknown && k.room != unknown;
    k.room = known ? k.base + k.room - end : unknown;
    k.low = std::max(k.low, bits_of(w.hi) + 1);
    k.base = end;
  } else if (w.collect) {
    const auto first = r.values.begin();
    const auto middle = first + static_cast<std::ptrdiff_t>(k.rank - under);
    std::nth_element(first, middle,
                     first + static_cast<std::ptrdiff_t>(r.t.kept));
    k.value = *middle;
  } else {
    into_bucket(k, w, r);
  }
  if (!k.value && k.low == k.high) k.value = value_of(k.low);
}

// Sizes out for a pass over w that collects `room` values at most.
void prepare(pass_result& out, const window& w, std::uint64_t room) {
  out.t = {};
  if (w.collect) {
    out.buckets = {};
    out.values.assign(room, 0.0);
  } else {
    out.values = {};
    out.buckets.assign(((bits_of(w.hi) - w.first) >> w.shift) + 1, {});
  }
}

}  // namespace

window window_over(std::uint64_t low, std::uint64_t high, std::uint64_t room,
                   const select_limits& limits) {
  window w;
  w.first = low;
  w.lo = value_of(low);
  w.hi = value_of(high);
  w.shift = std::max(0, static_cast<int>(std::bit_width(high - low)) -
                            limits.bucket_bits);
  w.collect = room != unknown && room <= limits.collect;
  return w;
}

median_result select_median(std::uint64_t count, const pass_function& pass,
                            std::optional<window> first,
                            const select_limits& limits) {
  median_result m;
  m.median = none;
  if (count == 0) return m;
  std::vector<target> ks(count % 2 == 0 ? 2 : 1);
  ks.front().rank = (count - 1) / 2;
  ks.back().rank = count / 2;
  ks.front().room = ks.back().room = count;  // NaNs aside: all in +0..+inf
  window w = first ? *first : window_over(0, top, count, limits);
  std::uint64_t room = count;
  pass_result r;
  for (;;) {
    prepare(r, w, room);
    ++m.passes;
    if (!pass(w, r)) {
      m.cancelled = true;
      return m;
    }
    if (r.t.nan > 0) {
      m.median = value_of(r.t.nan_bits);
      return m;
    }
    for (target& k : ks)
      if (!k.value) locate(k, w, r);
    const auto open = std::find_if(ks.begin(), ks.end(),
                                   [](const target& k) { return !k.value; });
    if (open == ks.end()) break;
    w = window_over(open->low, open->high, open->room, limits);
    room = open->room;
  }
  const double a = *ks.front().value;
  const double b = *ks.back().value;
  m.median = ks.size() == 1 ? a : (a + b) / 2;
  return m;
}

}  // namespace kernel_width::detail
