// The simple design, for comparison: the whole n x n distance matrix from
// distance_matrix, then the sums over it in the fixed order. Prints the
// same width as form_kernel_width (mode "form") or labelled_kernel_width
// (mode "labelled").
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: full_matrix form|labelled DATAFILE\n";
    return 2;
  }
  const Table data = input(argv[2]);
  const bool form = std::strcmp(argv[1], "form") == 0;
  std::cout << (form ? form_width(data) : labelled_width(data)) << std::endl;
  return 0;
}
