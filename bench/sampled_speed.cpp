// The sampling itself, the data in memory: sampled_quantiles() for the
// median on n x cols clustered samples made here (deterministic), M draws,
// on THREADS threads (0: all). Prints "seconds S" (the best of RUNS),
// "cpu_seconds C" (the CPU time of all threads in that run) and the
// median's interval: "ranks LOW HIGH" among the M.
//   sampled_speed N COLS M THREADS RUNS
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "kernel_width/kernel_width.h"

namespace {

namespace kw = kernel_width;

std::uint64_t next(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}

double uniform(std::uint64_t& state) {
  return static_cast<double>(next(state) >> 11) * 0x1p-53;
}

// Five clusters, spread 3 about centres in [-10, 10], as bench/run's files.
std::vector<double> clustered(std::size_t n, std::size_t cols) {
  std::uint64_t state = 1;
  std::vector<double> centres(5 * cols);
  for (double& c : centres) c = 20 * uniform(state) - 10;
  std::vector<double> x(n * cols);
  for (std::size_t r = 0; r < n; ++r) {
    const double* centre = centres.data() + next(state) % 5 * cols;
    for (std::size_t c = 0; c < cols; ++c) {
      // Box-Muller: a normal from two uniforms.
      const double u = 1 - uniform(state), v = uniform(state);
      x[r * cols + c] =
          centre[c] + 3 * std::sqrt(-2 * std::log(u)) * std::cos(6.283185307179586 * v);
    }
  }
  return x;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: sampled_speed N COLS M THREADS RUNS\n");
    return 2;
  }
  const std::size_t n = std::strtoull(argv[1], nullptr, 10);
  const std::size_t cols = std::strtoull(argv[2], nullptr, 10);
  const kw::sampling how{std::strtoull(argv[3], nullptr, 10), 0, 0.99};
  const auto threads = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
  const int runs = std::atoi(argv[5]);
  const std::vector<double> x = clustered(n, cols);
  const double p = 0.5;
  kw::sampled_quantile out;
  double best = 1e300, best_cpu = 0;
  for (int k = 0; k < runs; ++k) {
    const std::clock_t cpu = std::clock();
    const auto start = std::chrono::steady_clock::now();
    const kw::sampled_selection s = kw::sampled_quantiles(
        {kw::matrix_view{x.data(), n, cols, 0}, how}, &p, 1, &out, threads);
    const std::chrono::duration<double> took =
        std::chrono::steady_clock::now() - start;
    if (s.status != kw::error::none) {
      std::fprintf(stderr, "sampled_speed: %s\n", kw::describe(s.status));
      return 1;
    }
    if (took.count() < best) {
      best = took.count();
      best_cpu = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    }
  }
  std::printf("seconds %.6f\ncpu_seconds %.6f\nranks %llu %llu\n", best,
              best_cpu,
              static_cast<unsigned long long>(out.low.rank),
              static_cast<unsigned long long>(out.high.rank));
  return 0;
}
