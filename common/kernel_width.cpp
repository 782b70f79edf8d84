#include "kernel_width/kernel_width.h"

#include <limits>

#include "library.h"
#include "table.h"

namespace kernel_width {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

std::size_t stride_of(const matrix_view& m) {
  return m.stride == 0 ? m.cols : m.stride;
}

packed pack_view(const matrix_view& m, std::size_t first) {
  return pack(m.data, m.rows, m.cols, stride_of(m), first);
}

}  // namespace

const char* describe(error e) {
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
  }
  return "";
}

form_statistics form(const packed& s, unsigned threads, pair_counter* done) {
  form_statistics f;
  f.n = s.n;
  f.columns = s.cols;
  const moments m = form_moments(s, threads, best_isa(), done);
  f.mean = m.mean;
  f.variance = m.variance;
  f.ratio = square(m.mean) / m.variance;
  if (s.n == 0) f.status = error::no_samples;
  return f;
}

form_statistics form(matrix_view samples, unsigned threads) {
  if (samples.rows > 0 && samples.cols == 0)
    return {samples.rows, 0, nan, nan, nan, error::no_features};
  return form(pack_view(samples, 0), threads, nullptr);
}

form_width_result form_width(const form_statistics& statistics,
                             matrix_view table) {
  form_width_result r;
  r.statistics = statistics;
  r.status = statistics.status;
  if (r.status == error::no_features) {
    r.width = nan;
    return r;
  }
  const double ratio = statistics.ratio;
  const double variance = statistics.variance;
  if (ratio < 0.01) {
    r.rule = form_rule::low_ratio;
    r.width = variance / 2.6;
  } else if (ratio > 100) {
    r.rule = form_rule::high_ratio;
    r.width = variance * ratio;
  } else if (table.rows == 0) {
    r.status = error::no_rows_to_search;
  } else if (table.cols == 0) {
    r.status = error::no_key;
  } else {
    const std::size_t stride = stride_of(table);
    r.row = nearest(table.rows, ratio,
                    [&](std::size_t k) { return table.data[k * stride]; });
    if (table.cols < 2)
      r.status = error::no_divisor;
    else
      r.width = variance / table.data[r.row * stride + 1];
  }
  return r;
}

form_width_result form_width(matrix_view samples, matrix_view table,
                             unsigned threads) {
  return form_width(form(samples, threads), table);
}

labelled_statistics labelled(const packed& s, unsigned threads,
                             pair_counter* done) {
  labelled_statistics l;
  l.n = s.n;
  l.columns = s.cols;
  const auto n = static_cast<std::int64_t>(s.n);
  l.pairs = n * n - n;
  l.total = pair_total(s, threads, best_isa(), done);
  l.mean = l.total / static_cast<double>(l.pairs);
  l.width = l.mean * l.mean * 2;
  if (s.n == 0) l.status = error::no_samples;
  return l;
}

labelled_statistics labelled(matrix_view samples, std::size_t first_column,
                             unsigned threads) {
  if (samples.rows > 0 && samples.cols <= first_column) {
    labelled_statistics l;
    l.n = samples.rows;
    l.total = l.mean = l.width = nan;
    l.status = error::no_features;
    return l;
  }
  return labelled(pack_view(samples, first_column), threads, nullptr);
}

}  // namespace kernel_width
