// The public median, order statistics and quantiles of the distances,
// within one set of samples, of two pooled, or across two.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "cpu.h"
#include "kernel_width/kernel_width.h"
#include "packed_statistics.h"
#include "rank_passes.h"
#include "same_nan.h"

namespace kernel_width {

namespace {

// numpy's NaN for a quantile or median over data with a NaN distance.
constexpr double numpy_nan = std::numeric_limits<double>::quiet_NaN();

// What no pairs give: -NaN, as 0.0 / 0.0 does on x86-64; spelled out, as
// ARM's 0.0 / 0.0 is +NaN.
double no_pairs() { return detail::x86_default_nan; }

std::size_t stride_of(const matrix_view& m) {
  return m.stride == 0 ? m.cols : m.stride;
}

}  // namespace

double sigma_of(double width) noexcept {
  return detail::same_nan(std::sqrt(width / 2), width);
}
double gamma_of(double width) noexcept { return 1 / width; }

namespace detail {

double numpy_lerp(double a, double b, double t) {
  const double diff = b - a;  // inf - inf: NaN
  return same_nan(t >= 0.5 ? b - diff * (1 - t) : a + diff * t, a, b);
}

quantile place(double p, std::uint64_t m) {
  quantile q;
  q.p = p;
  if (m == 0) return q;
  const double last = static_cast<double>(m - 1);
  const double v = last * p;
  if (v >= last) {
    q.lower_rank = q.upper_rank = m - 1;
  } else {
    q.lower_rank = static_cast<std::uint64_t>(std::floor(v));
    q.upper_rank = q.lower_rank + 1;
  }
  return q;
}

// numpy's gamma: the virtual index less the lower neighbour's index, which
// numpy takes as -1 (the last) from the top.
double weight(const quantile& q, std::uint64_t m) {
  const double v = static_cast<double>(m - 1) * q.p;
  if (q.lower_rank == m - 1) return v - -1.0;
  return v - static_cast<double>(q.lower_rank);
}

selection order_statistics(const pair_set& pairs, std::size_t n_y,
                           const std::uint64_t* ranks, std::size_t count,
                           double* values, const rank_engine& engine) noexcept {
  selection s;
  s.n = pairs.rows->n - (pairs.across() ? 0 : n_y);
  s.n_y = n_y;
  s.columns = pairs.rows->cols;
  s.pairs = pairs.count();
  const bool empty =
      pairs.across() ? s.n == 0 || n_y == 0 : pairs.rows->n == 0;
  if (empty) s.status = error::no_samples;
  if (!selected_isa().ok) s.status = error::unsupported_isa;
  std::fill(values, values + count, no_pairs());
  if (s.status == error::unsupported_isa) return s;
  try {
    std::vector<std::uint64_t> wanted;
    for (std::size_t k = 0; k < count; ++k)
      if (ranks[k] < s.pairs) wanted.push_back(ranks[k]);
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    if (s.pairs == 0) return s;
    const ranks_found f = engine.find(wanted);
    if (f.cancelled) {
      std::fill(values, values + count, numpy_nan);
      s.status = error::cancelled;
      return s;
    }
    if (f.stalled) {
      s.status = error::internal;
      return s;
    }
    s.nan_pairs = f.nan;
    bool zero = false;
    for (std::size_t k = 0; k < count; ++k) {
      const auto at = std::lower_bound(wanted.begin(), wanted.end(), ranks[k]);
      values[k] = f.nan > 0 || at == wanted.end() || *at != ranks[k]
                      ? numpy_nan
                      : f.values[static_cast<std::size_t>(at - wanted.begin())];
      zero = zero || values[k] == 0;
    }
    if (zero && !engine.zeros(s.zero_pairs)) s.status = error::cancelled;
  } catch (const std::bad_alloc&) {
    std::fill(values, values + count, numpy_nan);
    s.status = error::out_of_memory;
  }
  return s;
}

selection quantiles(const pair_set& pairs, std::size_t n_y, const double* p,
                    std::size_t count, quantile* out,
                    const rank_engine& engine) noexcept {
  for (std::size_t k = 0; k < count; ++k)
    if (!(p[k] >= 0 && p[k] <= 1)) {
      selection s;
      s.status = error::bad_probability;
      return s;
    }
  if (count == 0) {
    selection s;
    s.n = pairs.rows->n - (pairs.across() ? 0 : n_y);
    s.n_y = n_y;
    s.columns = pairs.rows->cols;
    s.pairs = pairs.count();
    return s;
  }
  try {
    const std::uint64_t m = pairs.count();
    std::vector<std::uint64_t> ranks;
    for (std::size_t k = 0; k < count; ++k) {
      out[k] = place(p[k], m);
      ranks.push_back(out[k].lower_rank);
      ranks.push_back(out[k].upper_rank);
    }
    std::vector<double> values(ranks.size());
    const selection s = order_statistics(pairs, n_y, ranks.data(),
                                         ranks.size(), values.data(), engine);
    for (std::size_t k = 0; k < count; ++k) {
      quantile& q = out[k];
      q.lower = values[2 * k];
      q.upper = values[2 * k + 1];
      if (m == 0 || s.status == error::cancelled ||
          s.status == error::out_of_memory || s.status == error::internal)
        q.value = q.lower;
      else if (s.nan_pairs > 0)
        q.value = numpy_nan;
      else
        q.value = numpy_lerp(q.lower, q.upper, weight(q, m));
      q.width = q.value * q.value * 2;
      q.sigma = q.value;
      q.gamma = gamma_of(q.width);
      q.zero_width = q.width == 0;
    }
    return s;
  } catch (const std::bad_alloc&) {
    selection s;
    s.status = error::out_of_memory;
    return s;
  }
}

median_statistics median(const pair_set& pairs, std::size_t n_y,
                         const rank_engine& engine) noexcept {
  const std::uint64_t m = pairs.count();
  const std::uint64_t ranks[2] = {m == 0 ? 0 : (m - 1) / 2, m / 2};
  double values[2];
  const selection s = order_statistics(pairs, n_y, ranks, m % 2 == 0 ? 2 : 1,
                                       values, engine);
  median_statistics r;
  r.n = s.n;
  r.n_y = s.n_y;
  r.columns = s.columns;
  r.pairs = s.pairs;
  r.status = s.status;
  r.zero_pairs = s.zero_pairs;
  r.median = m % 2 == 0 && m > 0 ? (values[0] + values[1]) / 2 : values[0];
  if (s.nan_pairs > 0) r.median = numpy_nan;
  r.width = r.median * r.median * 2;
  r.sigma = r.median;
  r.gamma = gamma_of(r.width);
  r.zero_width = r.width == 0;
  return r;
}

median_statistics median(const packed& s, unsigned threads,
                         const run_control& control) noexcept {
  const pair_set pairs{&s, nullptr};
  return median(pairs, 0,
                local_engine(pairs, threads, selected_isa().chosen, control));
}

}  // namespace detail

namespace {

// The checks every selection makes before it packs anything.
error refused(const sample_pairs& s) {
  const bool two = s.kind != pairing::within;
  if (two && s.x.cols != s.y.cols) return error::columns_differ;
  if ((s.x.rows > 0 || (two && s.y.rows > 0)) && s.x.cols == 0)
    return error::no_features;
  return error::none;
}

// The samples packed as the pairing wants them: x, x then y (pooled), or
// x and y apart (cross).
struct packed_pair {
  detail::packed x;
  detail::packed y;
  std::size_t n_y = 0;
  bool across = false;
  detail::pair_set pairs() const { return {&x, across ? &y : nullptr}; }
};

packed_pair pack_pair(const sample_pairs& s) {
  packed_pair p;
  p.across = s.kind == pairing::cross;
  if (s.kind == pairing::pooled) {
    const std::size_t nx = s.x.rows;
    p.x = detail::pack_rows(nx + s.y.rows, s.x.cols, [&](std::size_t k) {
      return k < nx ? s.x.data + k * stride_of(s.x)
                    : s.y.data + (k - nx) * stride_of(s.y);
    });
  } else {
    p.x = detail::pack(s.x.data, s.x.rows, s.x.cols, stride_of(s.x), 0);
  }
  if (s.kind != pairing::within) p.n_y = s.y.rows;
  if (p.across)
    p.y = detail::pack(s.y.data, s.y.rows, s.y.cols, stride_of(s.y), 0);
  return p;
}

template <class Compute, class Failed>
auto guarded(Compute compute, Failed failed) noexcept {
  try {
    return compute();
  } catch (const std::bad_alloc&) {
    return failed(error::out_of_memory);
  } catch (const std::length_error&) {
    return failed(error::out_of_memory);
  }
}

selection refusal(const sample_pairs& s, error e) {
  selection r;
  r.n = s.x.rows;
  r.n_y = s.kind == pairing::within ? 0 : s.y.rows;
  r.status = e;
  return r;
}

}  // namespace

selection order_statistics(const sample_pairs& samples,
                           const std::uint64_t* ranks, std::size_t count,
                           double* values, unsigned threads,
                           const std::atomic<bool>* cancel) noexcept {
  const auto failed = [&](error e) {
    std::fill(values, values + count, numpy_nan);
    return refusal(samples, e);
  };
  if (const error e = refused(samples); e != error::none) return failed(e);
  return guarded(
      [&] {
        const packed_pair p = pack_pair(samples);
        const detail::pair_set pairs = p.pairs();
        return detail::order_statistics(
            pairs, p.n_y, ranks, count, values,
            detail::local_engine(pairs, threads, detail::selected_isa().chosen,
                                 {nullptr, cancel}));
      },
      failed);
}

selection quantiles(const sample_pairs& samples, const double* p,
                    std::size_t count, quantile* out, unsigned threads,
                    const std::atomic<bool>* cancel) noexcept {
  const auto failed = [&](error e) {
    for (std::size_t k = 0; k < count; ++k) {
      out[k] = quantile{};
      out[k].p = p[k];
      out[k].lower = out[k].upper = out[k].value = out[k].width =
          out[k].sigma = out[k].gamma = numpy_nan;
    }
    return refusal(samples, e);
  };
  if (const error e = refused(samples); e != error::none) return failed(e);
  for (std::size_t k = 0; k < count; ++k)
    if (!(p[k] >= 0 && p[k] <= 1)) return failed(error::bad_probability);
  return guarded(
      [&] {
        const packed_pair packed = pack_pair(samples);
        const detail::pair_set pairs = packed.pairs();
        return detail::quantiles(
            pairs, packed.n_y, p, count, out,
            detail::local_engine(pairs, threads, detail::selected_isa().chosen,
                                 {nullptr, cancel}));
      },
      failed);
}

median_statistics median(const sample_pairs& samples, unsigned threads,
                         const std::atomic<bool>* cancel) noexcept {
  const auto failed = [&](error e) {
    median_statistics m;
    m.n = samples.x.rows;
    m.n_y = samples.kind == pairing::within ? 0 : samples.y.rows;
    m.median = m.width = m.sigma = m.gamma = numpy_nan;
    m.status = e;
    return m;
  };
  if (const error e = refused(samples); e != error::none) return failed(e);
  return guarded(
      [&] {
        const packed_pair p = pack_pair(samples);
        const detail::pair_set pairs = p.pairs();
        return detail::median(
            pairs, p.n_y,
            detail::local_engine(pairs, threads, detail::selected_isa().chosen,
                                 {nullptr, cancel}));
      },
      failed);
}

median_statistics median(matrix_view samples, unsigned threads,
                         const std::atomic<bool>* cancel) noexcept {
  return median(sample_pairs(samples), threads, cancel);
}

}  // namespace kernel_width
