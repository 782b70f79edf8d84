// The public sampled quantiles and mean: the checks, the pairs drawn from
// samples in memory or given by a program, and D for samples in memory.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "cpu.h"
#include "kernel_width/kernel_width.h"
#include "sampled_estimates.h"
#include "same_nan.h"
#include "threads.h"

namespace kernel_width {

namespace detail {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// Per column over one set of samples: the range, and how many samples hold
// each infinity.
struct column_tally {
  std::vector<double> low, high;
  std::vector<std::uint64_t> plus, minus;
  bool nan = false;
};

// Rows begin..end of m.
column_tally tally_rows(const matrix_view& m, std::size_t first,
                        std::size_t begin, std::size_t end) {
  const std::size_t cols = m.cols > first ? m.cols - first : 0;
  column_tally t{std::vector<double>(cols, inf), std::vector<double>(cols, -inf),
                 std::vector<std::uint64_t>(cols), std::vector<std::uint64_t>(cols)};
  const std::size_t stride = m.stride == 0 ? m.cols : m.stride;
  bool nan = false, infinite = false;
  for (std::size_t r = begin; r < end; ++r) {
    const double* row = m.data + r * stride + first;
    for (std::size_t c = 0; c < cols; ++c) {
      const double v = row[c];
      nan |= v != v;
      t.low[c] = v < t.low[c] ? v : t.low[c];
      t.high[c] = v > t.high[c] ? v : t.high[c];
    }
  }
  for (std::size_t c = 0; c < cols; ++c)
    infinite = infinite || t.low[c] == -inf || t.high[c] == inf;
  t.nan = nan;
  // Infinities are rare: counted in a second pass, only when present.
  for (std::size_t r = begin; infinite && r < end; ++r) {
    const double* row = m.data + r * stride + first;
    for (std::size_t c = 0; c < cols; ++c) {
      t.plus[c] += row[c] == inf;
      t.minus[c] += row[c] == -inf;
    }
  }
  return t;
}

// The rows in equal runs, taken by whichever thread asks; minima, maxima,
// counts and the NaN flag combine in any order.
column_tally tally(const matrix_view& m, std::size_t first, unsigned threads) {
  if (threads == 0) threads = available_threads();
  const std::size_t parts = std::clamp<std::size_t>(m.rows / 4096, 1, threads);
  std::vector<column_tally> part(parts);
  std::atomic<std::size_t> next{0};
  run_threads(static_cast<unsigned>(parts), [&](unsigned) {
    for (std::size_t k; (k = next.fetch_add(1)) < parts;)
      part[k] = tally_rows(m, first, m.rows * k / parts, m.rows * (k + 1) / parts);
  });
  column_tally all = std::move(part[0]);
  for (std::size_t k = 1; k < parts; ++k) {
    const column_tally& o = part[k];
    all.nan = all.nan || o.nan;
    for (std::size_t c = 0; c < all.low.size(); ++c) {
      all.low[c] = std::min(all.low[c], o.low[c]);
      all.high[c] = std::max(all.high[c], o.high[c]);
      all.plus[c] += o.plus[c];
      all.minus[c] += o.minus[c];
    }
  }
  return all;
}

}  // namespace

double bound_of(const sample_pairs& samples, std::size_t first,
                unsigned threads) {
  column_tally t = tally(samples.x, first, threads);
  if (samples.kind != pairing::within) {
    const column_tally y = tally(samples.y, first, threads);
    t.nan = t.nan || y.nan;
    for (std::size_t c = 0; c < t.low.size(); ++c) {
      const bool across = samples.kind == pairing::cross;
      // Across, only a pair of one sample of each set meets.
      if (across && ((t.plus[c] > 0 && y.plus[c] > 0) ||
                     (t.minus[c] > 0 && y.minus[c] > 0)))
        t.nan = true;
      t.plus[c] = across ? 0 : t.plus[c] + y.plus[c];
      t.minus[c] = across ? 0 : t.minus[c] + y.minus[c];
      t.low[c] = std::min(t.low[c], y.low[c]);
      t.high[c] = std::max(t.high[c], y.high[c]);
    }
  }
  for (std::size_t c = 0; c < t.low.size(); ++c)
    t.nan = t.nan || t.plus[c] > 1 || t.minus[c] > 1;
  if (t.nan) return std::numeric_limits<double>::quiet_NaN();
  return distance_bound(t.low.data(), t.high.data(), t.low.size());
}

}  // namespace detail

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

bool valid(const sampling& how) {
  return how.draws >= 1 && how.draws <= (std::uint64_t{1} << 63) &&
         how.confidence > 0 && how.confidence < 1;
}

// The checks before anything is drawn; none, or the error.
error refused(const sample_pairs& s, const sampling& how, const double* p,
              std::size_t count) {
  const bool two = s.kind != pairing::within;
  if (two && s.x.cols != s.y.cols) return error::columns_differ;
  if ((s.x.rows > 0 || (two && s.y.rows > 0)) && s.x.cols == 0)
    return error::no_features;
  for (std::size_t k = 0; k < count; ++k)
    if (!(p[k] >= 0 && p[k] <= 1)) return error::bad_probability;
  if (!valid(how)) return error::bad_sampling;
  if (!detail::selected_isa().ok) return error::unsupported_isa;
  return error::none;
}

// A run that computes nothing: every value v (NaN, or -NaN for no pairs).
sampled_selection nothing(const detail::sample_source& s, const double* p,
                          std::size_t count, sampled_quantile* out, double v,
                          error status) {
  for (std::size_t k = 0; k < count; ++k) {
    out[k] = sampled_quantile{};
    out[k].estimate.p = p[k];
    out[k].estimate.lower = out[k].estimate.upper = out[k].estimate.value =
        out[k].low.value = out[k].high.value = v;
    out[k].estimate.width = v * v * 2;
    out[k].estimate.sigma = v;
    out[k].estimate.gamma = gamma_of(out[k].estimate.width);
    out[k].low.width = out[k].high.width = out[k].estimate.width;
    out[k].low.sigma = out[k].high.sigma = v;
    out[k].low.gamma = out[k].high.gamma = out[k].estimate.gamma;
  }
  sampled_selection r;
  r.n = s.n;
  r.n_y = s.n_y;
  r.columns = s.x.cols;
  r.population = s.population;
  r.draws = s.how.draws;
  r.seed = s.how.seed;
  r.confidence = s.how.confidence;
  r.bound = s.bound;
  r.status = status;
  return r;
}

}  // namespace

sampled_selection sampled_quantiles(const sampled_pairs& drawn, const double* p,
                                    std::size_t count, sampled_quantile* out,
                                    unsigned threads,
                                    const std::atomic<bool>* cancel) noexcept {
  const sample_pairs& samples = drawn.samples;
  const sampling& how = drawn.how;
  detail::sample_source s;
  s.x = samples.x;
  s.how = how;
  s.n = samples.x.rows;
  if (samples.kind != pairing::within) {
    s.y = samples.y;
    s.n_y = samples.y.rows;
  }
  if (const error e = refused(samples, how, p, count); e != error::none)
    return nothing(s, p, count, out, nan, e);
  bool over = false;
  s.population = pair_count(s.n, s.n_y, samples.kind, &over);
  if (over) return nothing(s, p, count, out, nan, error::too_many_pairs);
  const bool empty = samples.kind == pairing::cross ? s.n == 0 || s.n_y == 0
                                                    : s.n + s.n_y == 0;
  if (s.population == 0)
    return nothing(s, p, count, out, detail::x86_default_nan,
                   empty ? error::no_samples : error::none);
  try {
    s.bound = detail::bound_of(samples, 0, threads);
    std::vector<pair_index> pairs(how.draws);
    draw_pairs(s.n, s.n_y, samples.kind, how, pairs.data(), threads);
    s.pairs = pairs.data();
    return detail::quantiles_from(s, p, count, out, threads, cancel);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return nothing(s, p, count, out, nan, error::out_of_memory);
}

sampled_selection sampled_quantiles_of(
    const drawn_sample& sample, const double* p, std::size_t count,
    sampled_quantile* out, unsigned threads,
    const std::atomic<bool>* cancel) noexcept {
  detail::sample_source s;
  s.x = sample.rows;
  s.pairs = sample.pairs;
  s.how = sample.how;
  s.population = sample.population;
  s.bound = sample.bound;
  s.n = sample.n;
  s.n_y = sample.n_y;
  if (const error e = refused(sample_pairs(sample.rows), sample.how, p, count);
      e != error::none)
    return nothing(s, p, count, out, nan, e);
  if (s.population == 0)
    return nothing(s, p, count, out, detail::x86_default_nan,
                   s.n + s.n_y == 0 ? error::no_samples : error::none);
  return detail::quantiles_from(s, p, count, out, threads, cancel);
}

namespace {

// A mean that computes nothing: every value v.
sampled_labelled no_mean(const detail::sample_source& s, double v,
                         error status) {
  sampled_labelled r;
  r.n = s.n;
  r.columns = s.x.cols > s.first ? s.x.cols - s.first : 0;
  r.population = s.population;
  r.draws = s.how.draws;
  r.seed = s.how.seed;
  r.confidence = s.how.confidence;
  r.bound = s.bound;
  r.mean = r.sigma = r.low.value = r.high.value = v;
  r.width = r.low.width = r.high.width = v * v * 2;
  r.low.sigma = r.high.sigma = v;
  r.gamma = r.low.gamma = r.high.gamma = gamma_of(r.width);
  r.status = status;
  return r;
}

error refused_mean(const matrix_view& m, std::size_t first,
                   const sampling& how) {
  if (m.rows > 0 && m.cols <= first) return error::no_features;
  if (!valid(how)) return error::bad_sampling;
  if (!detail::selected_isa().ok) return error::unsupported_isa;
  return error::none;
}

}  // namespace

sampled_labelled sampled_mean(matrix_view samples, std::size_t first_column,
                              const sampling& how, unsigned threads,
                              const std::atomic<bool>* cancel) noexcept {
  detail::sample_source s;
  s.x = samples;
  s.first = first_column;
  s.how = how;
  s.n = samples.rows;
  if (const error e = refused_mean(samples, first_column, how); e != error::none)
    return no_mean(s, nan, e);
  s.population = pair_count(s.n, 0, pairing::within);
  if (s.population == 0)
    return no_mean(s, detail::x86_default_nan,
                   s.n == 0 ? error::no_samples : error::none);
  try {
    s.bound = detail::bound_of(sample_pairs(samples), first_column, threads);
    std::vector<pair_index> pairs(how.draws);
    draw_pairs(s.n, 0, pairing::within, how, pairs.data(), threads);
    s.pairs = pairs.data();
    return detail::mean_from(s, threads, cancel);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return no_mean(s, nan, error::out_of_memory);
}

sampled_labelled sampled_mean_of(const drawn_sample& sample,
                                 std::size_t first_column, unsigned threads,
                                 const std::atomic<bool>* cancel) noexcept {
  detail::sample_source s;
  s.x = sample.rows;
  s.first = first_column;
  s.pairs = sample.pairs;
  s.how = sample.how;
  s.population = sample.population;
  s.bound = sample.bound;
  s.n = sample.n;
  if (const error e = refused_mean(sample.rows, first_column, sample.how);
      e != error::none)
    return no_mean(s, nan, e);
  if (s.population == 0)
    return no_mean(s, detail::x86_default_nan,
                   s.n == 0 ? error::no_samples : error::none);
  return detail::mean_from(s, threads, cancel);
}

namespace {

detail::sample_source source_of(const computed_distances& sample) {
  detail::sample_source s;
  s.x = {nullptr, 0, sample.columns, 0};
  s.how = sample.how;
  s.population = sample.population;
  s.bound = sample.bound;
  s.n = sample.n;
  s.n_y = sample.n_y;
  return s;
}

}  // namespace

sampled_selection sampled_quantiles_from(const computed_distances& sample,
                                         const double* p, std::size_t count,
                                         sampled_quantile* out) noexcept {
  const detail::sample_source s = source_of(sample);
  const matrix_view shape{nullptr, 0, sample.columns, 0};
  if (const error e = refused(sample_pairs(shape), sample.how, p, count);
      e != error::none)
    return nothing(s, p, count, out, nan, e);
  if (s.population == 0)
    return nothing(s, p, count, out, detail::x86_default_nan,
                   s.n + s.n_y == 0 ? error::no_samples : error::none);
  return detail::quantiles_given(s, sample.distances, p, count, out);
}

sampled_labelled sampled_mean_from(const computed_distances& sample) noexcept {
  const detail::sample_source s = source_of(sample);
  if (const error e = refused_mean({nullptr, 0, sample.columns, 0}, 0,
                                   sample.how);
      e != error::none)
    return no_mean(s, nan, e);
  if (s.population == 0)
    return no_mean(s, detail::x86_default_nan,
                   s.n == 0 ? error::no_samples : error::none);
  return detail::mean_given(s, sample.distances);
}

}  // namespace kernel_width
