#include "kernel_width/kernel_width.h"

#include <limits>
#include <new>
#include <stdexcept>

#include "cpu.h"
#include "form_passes.h"
#include "labelled_total.h"
#include "packed_statistics.h"
#include "same_nan.h"

namespace kernel_width {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

std::size_t stride_of(const matrix_view& m) {
  return m.stride == 0 ? m.cols : m.stride;
}

// Index of the key(r), r < count, that lies nearest to ratio: the earlier
// on ties, 0 when none lies within 1,000 or ratio is not a number.
template <class Key>
std::size_t nearest(std::size_t count, double ratio, Key key) {
  double best = 1000000.0;
  std::size_t chosen = 0;
  for (std::size_t r = 0; r < count; ++r) {
    const double d = (ratio - key(r)) * (ratio - key(r));
    if (d < best) {
      best = d;
      chosen = r;
    }
  }
  return chosen;
}

form_statistics form_failed(std::size_t n, error status) {
  return {n, 0, nan, nan, nan, status};
}

labelled_statistics labelled_failed(std::size_t n, error status) {
  labelled_statistics l;
  l.n = n;
  l.total = l.mean = l.width = l.sigma = l.gamma = nan;
  l.status = status;
  return l;
}

// compute(), or failed() when memory runs out (or a size that no vector
// can hold is asked for): nothing partial escapes.
template <class Compute, class Failed>
auto guarded(Compute compute, Failed failed) noexcept {
  try {
    return compute();
  } catch (const std::bad_alloc&) {
    return failed();
  } catch (const std::length_error&) {
    return failed();
  }
}

}  // namespace

const char* describe(error e) noexcept {
  switch (e) {
    case error::none:
      return "";
    case error::no_samples:
      return "no samples";
    case error::no_features:
      return "no feature values";
    case error::no_rows_to_search:
      return "no rows to search";
    case error::no_key:
      return "no key on the line";
    case error::no_divisor:
      return "no divisor after the key";
    case error::out_of_memory:
      return "out of memory";
    case error::unsupported_isa:
      return "unknown or unsupported instruction set in KERNEL_WIDTH_ISA";
    case error::cancelled:
      return "cancelled";
    case error::columns_differ:
      return "the two sets of samples have different numbers of columns";
    case error::bad_probability:
      return "a probability outside [0, 1]";
    case error::internal:
      return "internal error: the selection did not narrow";
    case error::bad_sampling:
      return "no pairs drawn, more than 2^63, or a confidence outside (0, 1)";
    case error::too_many_pairs:
      return "more pairs than 64 bits count";
    case error::bad_buffer:
      return "a plan or partial result that is truncated, foreign or of "
             "another version";
  }
  return "";
}

const char* version() noexcept { return KERNEL_WIDTH_VERSION; }

namespace detail {

form_statistics form_of(std::size_t n, std::size_t cols, double mean,
                        double variance) noexcept {
  return {n,
          cols,
          mean,
          variance,
          same_nan(square(mean) / variance, mean, variance),
          n == 0 ? error::no_samples : error::none};
}

labelled_statistics labelled_of(std::size_t n, std::size_t cols,
                                double total) noexcept {
  labelled_statistics l;
  l.n = n;
  l.columns = cols;
  const auto count = static_cast<std::int64_t>(n);
  l.pairs = count * count - count;
  l.total = total;
  l.mean = same_nan(l.total / static_cast<double>(l.pairs), l.total);
  l.width = l.mean * l.mean * 2;
  l.sigma = l.mean;
  l.gamma = gamma_of(l.width);
  l.zero_width = l.width == 0;
  if (n == 0) l.status = error::no_samples;
  return l;
}

form_statistics form(const packed& s, unsigned threads,
                     const run_control& control) noexcept {
  if (!selected_isa().ok) return form_failed(s.n, error::unsupported_isa);
  return guarded(
      [&] {
        const moments m =
            form_moments(s, threads, selected_isa().chosen, control);
        if (control.cancelled()) return form_failed(s.n, error::cancelled);
        return form_of(s.n, s.cols, m.mean, m.variance);
      },
      [&] { return form_failed(s.n, error::out_of_memory); });
}

labelled_statistics labelled(const packed& s, unsigned threads,
                             const run_control& control) noexcept {
  if (!selected_isa().ok) return labelled_failed(s.n, error::unsupported_isa);
  return guarded(
      [&] {
        const double total =
            pair_total(s, threads, selected_isa().chosen, control);
        if (control.cancelled()) return labelled_failed(s.n, error::cancelled);
        return labelled_of(s.n, s.cols, total);
      },
      [&] { return labelled_failed(s.n, error::out_of_memory); });
}

}  // namespace detail

form_statistics form(matrix_view samples, unsigned threads,
                     const std::atomic<bool>* cancel) noexcept {
  if (samples.rows > 0 && samples.cols == 0)
    return form_failed(samples.rows, error::no_features);
  return guarded(
      [&] {
        return detail::form(detail::pack(samples.data, samples.rows,
                                         samples.cols, stride_of(samples), 0),
                            threads, {nullptr, cancel});
      },
      [&] { return form_failed(samples.rows, error::out_of_memory); });
}

form_width_result form_width(const form_statistics& statistics,
                             matrix_view table) noexcept {
  form_width_result r;
  r.n = statistics.n;
  r.columns = statistics.columns;
  r.mean = statistics.mean;
  r.variance = statistics.variance;
  r.ratio = statistics.ratio;
  r.status = statistics.status;
  if (r.status != error::none && r.status != error::no_samples) {
    r.width = r.sigma = r.gamma = nan;
    return r;
  }
  if (r.ratio < 0.01) {
    r.rule = form_rule::low_ratio;
    r.width = r.variance / 2.6;
  } else if (r.ratio > 100) {
    r.rule = form_rule::high_ratio;
    r.width = r.variance * r.ratio;
  } else if (table.rows == 0) {
    r.status = error::no_rows_to_search;
  } else if (table.cols == 0) {
    r.status = error::no_key;
  } else {
    const std::size_t stride = stride_of(table);
    r.row = nearest(table.rows, r.ratio,
                    [&](std::size_t k) { return table.data[k * stride]; });
    if (table.cols < 2)
      r.status = error::no_divisor;
    else
      r.width = r.variance / table.data[r.row * stride + 1];
  }
  r.sigma = sigma_of(r.width);
  r.gamma = gamma_of(r.width);
  r.zero_width = r.width == 0;
  return r;
}

form_width_result form_width(matrix_view samples, matrix_view table,
                             unsigned threads,
                             const std::atomic<bool>* cancel) noexcept {
  return form_width(form(samples, threads, cancel), table);
}

labelled_statistics labelled(matrix_view samples, std::size_t first_column,
                             unsigned threads,
                             const std::atomic<bool>* cancel) noexcept {
  if (samples.rows > 0 && samples.cols <= first_column)
    return labelled_failed(samples.rows, error::no_features);
  return guarded(
      [&] {
        return detail::labelled(
            detail::pack(samples.data, samples.rows, samples.cols,
                         stride_of(samples), first_column),
            threads, {nullptr, cancel});
      },
      [&] { return labelled_failed(samples.rows, error::out_of_memory); });
}

}  // namespace kernel_width
