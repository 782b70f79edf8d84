// The floor of this machine for the benchmark: the time of one distance
// with the project's best kernel on one core. Prints "t_dist_ns COLS VALUE"
// lines.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "kernels.h"
#include "reference.h"
#include "samples.h"

namespace {

namespace detail = kernel_width::detail;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

// Distances from groups of rows to all n samples of cols columns, through
// the rows kernel on packed panels.
double dist_ns(std::size_t n, std::size_t cols) {
  std::mt19937_64 gen(cols);
  std::uniform_real_distribution<double> real(-1.0, 1.0);
  Table data(n, Row(cols));
  for (Row& row : data)
    for (double& x : row) x = real(gen);
  const detail::packed s = pack(data, 0);
  const std::size_t stride = s.padded();
  // Few enough rows that the output stays in cache: the floor is the
  // kernel's, not the memory's.
  const std::size_t rows = cols >= 64 ? 16 : cols >= 16 ? 8 : 4;
  std::vector<double> out(rows * stride);
  const detail::kernels& k = detail::kernels_for(detail::best_isa());
  double best = 1e9;
  const std::size_t units =
      std::max<std::size_t>(4, 2000000000 / (n * cols * 40 + 1) / rows);
  for (int run = 0; run < 3; ++run) {
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t u = 0; u < units; ++u)
      k.rows(s, {(u * rows) % (n - rows + 1), rows}, {}, out.data(), stride);
    const double t = seconds_since(start);
    best = std::min(best, t * 1e9 / (static_cast<double>(units * rows) * n));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
  for (const std::size_t cols : {4, 16, 128})
    std::printf("t_dist_ns %zu %.4f\n", cols, dist_ns(n, cols));
}
