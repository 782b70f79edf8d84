// The scalar reference: the reader's and the arithmetic's meaning written
// the plain way (a stream, one dependent sum after another), for the tests,
// the fuzzer and the benchmark to compare the library and the reader with.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <istream>
#include <sstream>
#include <string>

#include "reader.h"

namespace reference {

// Line by line, `stream >> double` until an extraction fails.
inline Table reference_read(std::istream& in) {
  Table table;
  std::string line;
  std::istringstream stream;
  Row row;
  while (std::getline(in, line)) {
    stream.str(line);
    stream.clear();
    for (double v; stream >> v;) row.push_back(v);
    table.push_back(row);
    row.clear();
  }
  return table;
}

// Equal bit for bit, so that -0 and 0 differ.
inline bool same(const Row& a, const Row& b) {
  return a.size() == b.size() &&
         (a.empty() ||
          std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

inline bool same(const Table& a, const Table& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t r = 0; r < a.size(); ++r)
    if (!same(a[r], b[r])) return false;
  return true;
}

inline double square(double x) { return x * x; }

inline double entry_count(std::size_t n) {
  return static_cast<double>(static_cast<std::int64_t>(n) *
                             static_cast<std::int64_t>(n));
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

// out[l] = distance from sample i to sample l over the columns from `first`
// on, each sum taken column by column. Only columns both rows hold count.
inline void distance_row(const Table& data, std::size_t i, std::size_t first,
                         double* out) {
  const Row& a = data[i];
  for (std::size_t l = 0; l < data.size(); ++l) {
    const Row& b = data[l];
    const std::size_t end = std::min(a.size(), b.size());
    double sum = 0.0;
    for (std::size_t c = first; c < end; ++c) sum += square(a[c] - b[c]);
    out[l] = std::sqrt(sum);
  }
}

// The n x n matrix of distances between the rows of data.
inline Table distance_matrix(const Table& data, std::size_t first_column) {
  Table matrix(data.size(), Row(data.size()));
  for (std::size_t i = 0; i < data.size(); ++i)
    distance_row(data, i, first_column, matrix[i].data());
  return matrix;
}

// Mean of all n*n distances, diagonal included, summed row by row.
inline double distance_mean(const Table& data, std::size_t first) {
  Row row(data.size());
  double sum = 0.0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    distance_row(data, i, first, row.data());
    for (const double d : row) sum += d;
  }
  return sum / entry_count(data.size());
}

// Mean of square(d - mean) over all n*n distances, summed row by row.
inline double distance_variance(const Table& data, std::size_t first,
                                double mean) {
  Row row(data.size());
  double sum = 0.0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    distance_row(data, i, first, row.data());
    for (const double d : row) sum += square(d - mean);
  }
  return sum / entry_count(data.size());
}

// Summation order of the labelled total, shared with pair_total
// (labelled_total.h): only pairs i < l, doubled at the end. Row i keeps 8 lane
// sums, lane k adding the distances to the l > i with l % 8 == k in increasing
// l; the row's sum adds its lanes 0..7 in order; the total adds the row sums in
// row order. Every row is a fixed block, so no thread count changes the result.
inline double distance_total(const Table& data, std::size_t first) {
  Row row(data.size());
  double total = 0.0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    distance_row(data, i, first, row.data());
    double lanes[8] = {};
    for (std::size_t l = i + 1; l < data.size(); ++l) lanes[l % 8] += row[l];
    double sum = 0.0;
    for (const double s : lanes) sum += s;
    total += sum;
  }
  return 2.0 * total;
}

// nearest() over the keys (value 0) of the rows of table.
inline std::size_t nearest_row(const Table& table, double ratio) {
  return nearest(table.size(), ratio,
                 [&](std::size_t r) { return table[r][0]; });
}

}  // namespace reference
