// Floors of this machine for the benchmark: the time of one dependent double
// addition, and of one distance with the project's best kernel on one core.
// Prints "t_add_ns VALUE" and "t_dist_ns COLS VALUE" lines.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "block.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

// The chain as form_kernel_width runs it: one addition after another over a
// cached buffer. Best of several runs.
double add_ns() {
  std::vector<double> buffer(4096);
  for (std::size_t k = 0; k < buffer.size(); ++k) buffer[k] = 1.0 / (k + 1);
  const std::size_t rounds = 20000;
  double best = 1e9;
  double sink = 0.0;
  for (int run = 0; run < 5; ++run) {
    const auto start = std::chrono::steady_clock::now();
    double sum = 0.0;
    for (std::size_t r = 0; r < rounds; ++r)
      for (const double x : buffer) sum += x;
    const double t = seconds_since(start);
    sink += sum;
    best = std::min(best, t * 1e9 / (rounds * buffer.size()));
  }
  if (sink == 0.0) std::puts("");
  return best;
}

// Distances from a few units of rows to all n samples of cols columns,
// through distance_rows on packed panels as form_kernel_width uses it.
double dist_ns(std::size_t n, std::size_t cols) {
  std::mt19937_64 gen(cols);
  std::uniform_real_distribution<double> real(-1.0, 1.0);
  Table data(n, Row(cols));
  for (Row& row : data)
    for (double& x : row) x = real(gen);
  const packed s = pack(data, 0);
  const std::size_t stride = s.padded();
  const std::size_t rows = 8;
  std::vector<double> out(rows * stride);
  const int isa = best_isa();
  double best = 1e9;
  const std::size_t units =
      std::max<std::size_t>(4, 2000000000 / (n * cols * 40 + 1) / rows);
  for (int run = 0; run < 3; ++run) {
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t u = 0; u < units; ++u)
      distance_rows(isa, s, {(u * rows) % (n - rows + 1), rows}, {},
                    out.data(), stride);
    const double t = seconds_since(start);
    best = std::min(best, t * 1e9 / (static_cast<double>(units * rows) * n));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
  std::printf("t_add_ns %.4f\n", add_ns());
  for (const std::size_t cols : {4, 16, 128})
    std::printf("t_dist_ns %zu %.4f\n", cols, dist_ns(n, cols));
}
