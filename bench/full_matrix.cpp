// The simple design, for comparison: the whole n x n distance matrix from
// distance_matrix, then the sums over it in the fixed order (or the middle
// of its upper triangle, sorted). Prints the same width as
// form_kernel_width (mode "form"), labelled_kernel_width (mode "labelled")
// or median_kernel_width (mode "median").
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "reference.h"

namespace {

using namespace reference;

double form_width(const Table& data) {
  const Table distances = distance_matrix(data, 0);
  const auto n = static_cast<std::int64_t>(distances.size());
  const double count = static_cast<double>(n * n);
  double sum = 0.0;
  for (const Row& row : distances)
    for (const double d : row) sum += d;
  const double mean = sum / count;
  sum = 0.0;
  for (const Row& row : distances)
    for (const double d : row) sum += square(d - mean);
  const double variance = sum / count;
  const double ratio = square(mean) / variance;
  if (ratio < 0.01) return variance / 2.6;
  if (ratio > 100) return variance * ratio;
  const Table table = input("form_of_relationship.txt");
  return variance / table.at(nearest_row(table, ratio)).at(1);
}

double labelled_width(const Table& data) {
  const Table distances = distance_matrix(data, 1);
  const auto n = static_cast<std::int64_t>(distances.size());
  double total = 0.0;
  for (const Row& row : distances)
    for (const double d : row) total += d;
  const double mean = total / static_cast<double>(n * n - n);
  return mean * mean * 2;
}

double median_width(const Table& data) {
  const Table distances = distance_matrix(data, 0);
  std::vector<double> upper;
  for (std::size_t i = 0; i < distances.size(); ++i)
    upper.insert(upper.end(), distances[i].begin() + i + 1, distances[i].end());
  std::sort(upper.begin(), upper.end());
  const std::size_t m = upper.size() / 2;
  const double median =
      upper.size() % 2 ? upper[m] : (upper[m - 1] + upper[m]) / 2;
  return median * median * 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: full_matrix form|labelled|median DATAFILE\n";
    return 2;
  }
  const Table data = input(argv[2]);
  const std::string mode = argv[1];
  std::cout << (mode == "form"       ? form_width(data)
                : mode == "labelled" ? labelled_width(data)
                                     : median_width(data))
            << std::endl;
  return 0;
}
