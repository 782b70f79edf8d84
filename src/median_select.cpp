#include "median_select.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace kernel_width::detail {

namespace {

constexpr std::uint64_t top = 0x7ff0000000000000;  // +inf
constexpr double none = -std::numeric_limits<double>::quiet_NaN();

// A middle rank and what is known of its value: it lies in the patterns
// low..high, under which lie `base` values and in which lie `room`. (Every
// pass counts all values, so both stay known.)
struct target {
  std::uint64_t rank = 0;
  std::uint64_t low = 0;
  std::uint64_t high = top;
  std::uint64_t base = 0;
  std::uint64_t room = 0;
  std::optional<double> value;
};

// The rank's value among the kept values.
double pick(const target& k, pass_result& r) {
  double* const first = r.values.get();
  double* const middle = first + (k.rank - r.offset);
  std::nth_element(first, middle, first + r.t.kept);
  return *middle;
}

// The bucket of a window that holds k's rank: its first or last value, its
// only value, a kept value, or its patterns.
void into_bucket(target& k, const window& w, pass_result& r) {
  std::uint64_t before = r.t.below;
  std::uint64_t j = 0;
  while (k.rank >= before + r.buckets[j].count) before += r.buckets[j++].count;
  const bucket& b = r.buckets[j];
  if (k.rank == before || b.low == b.high) {
    k.value = b.low;
  } else if (k.rank + 1 == before + b.count) {
    k.value = b.high;
  } else if (r.complete && j >= w.keep_first && j <= w.keep_last) {
    k.value = pick(k, r);
  } else {
    k.low = bits_of(b.low);
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
    if (w.first - 1 < k.high) {  // else the window lay above k's patterns
      k.high = w.first - 1;
      k.room = under - k.base;
    }
  } else if (k.rank >= end) {
    if (bits_of(w.hi) + 1 > k.low) {
      k.room = k.base + k.room - end;
      k.low = bits_of(w.hi) + 1;
      k.base = end;
    }
  } else {
    into_bucket(k, w, r);
  }
  if (!k.value && k.low == k.high) k.value = value_of(k.low);
}

void prepare(pass_result& out, const window& w, std::uint64_t room) {
  out.t = {};
  out.buckets.assign(bucket_of(w, bits_of(w.hi)) + 1, {});
  out.room = w.keep_first <= w.keep_last ? room : 0;
  out.values.reset(out.room > 0 ? new double[out.room] : nullptr);
}

// Whether every value the window keeps was kept, and how many lie under.
void settle(pass_result& r, const window& w) {
  std::uint64_t wanted = 0;
  r.offset = r.t.below;
  for (std::uint64_t j = 0; j < r.buckets.size(); ++j) {
    if (j < w.keep_first) r.offset += r.buckets[j].count;
    if (j >= w.keep_first && j <= w.keep_last) wanted += r.buckets[j].count;
  }
  r.complete = wanted <= r.room;
}

}  // namespace

std::uint64_t bucket_of(const window& w, std::uint64_t bits) {
  const std::uint64_t last = (bits_of(w.hi) - w.first) >> w.shift;
  return bits < w.first ? 0 : std::min(last, (bits - w.first) >> w.shift);
}

window window_over(std::uint64_t low, std::uint64_t high, std::uint64_t room,
                   const select_limits& limits) {
  window w;
  w.first = low;
  w.lo = value_of(low);
  w.hi = value_of(high);
  w.shift = std::max(
      0, static_cast<int>(std::bit_width(high - low)) - limits.bucket_bits);
  if (room <= limits.keep) {
    w.keep_first = 0;
    w.keep_last = bucket_of(w, high);
  }
  return w;
}

median_result select_median(std::uint64_t count, const pass_function& pass,
                            std::optional<first_window> first,
                            const select_limits& limits) {
  median_result m;
  m.median = none;
  if (count == 0) return m;
  std::vector<target> ks(count % 2 == 0 ? 2 : 1);
  ks.front().rank = (count - 1) / 2;
  ks.back().rank = count / 2;
  ks.front().room = ks.back().room = count;  // NaNs aside: all in +0..+inf
  first_window next =
      first.value_or(first_window{window_over(0, top, count, limits), count});
  pass_result r;
  for (;;) {
    prepare(r, next.w, next.room);
    ++m.passes;
    if (!pass(next.w, r)) {
      m.cancelled = true;
      return m;
    }
    if (r.t.nan > 0) {
      m.median = value_of(r.t.nan_bits);
      return m;
    }
    settle(r, next.w);
    for (target& k : ks)
      if (!k.value) locate(k, next.w, r);
    const auto open = std::find_if(ks.begin(), ks.end(),
                                   [](const target& k) { return !k.value; });
    if (open == ks.end()) break;
    next = {window_over(open->low, open->high, open->room, limits), open->room};
  }
  const double a = *ks.front().value;
  const double b = *ks.back().value;
  m.median = ks.size() == 1 ? a : (a + b) / 2;
  return m;
}

}  // namespace kernel_width::detail
