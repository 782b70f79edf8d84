// How the selection went on a data file: prints "median_passes N",
// "quantiles_passes N" (0.1, 0.5, 0.9) and each one's seconds (the best of
// RUNS, taken in turn; 1 unless given), all threads; with a third word,
// "median" or "quantiles", only that one (for an instruction count). The passes count the
// first one and any more over all pairs, not the sample before them.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <cstdio>
#include <vector>

#include "rank_passes.h"
#include "reader.h"
#include "samples.h"

namespace {

namespace detail = kernel_width::detail;

struct measured {
  unsigned passes = 0;
  double seconds = 1e300;
};

void run(const detail::pair_set& pairs,
         const std::vector<std::uint64_t>& ranks, measured& m) {
  const auto start = std::chrono::steady_clock::now();
  const detail::ranks_found f =
      detail::pair_ranks(pairs, ranks, 0, detail::best_isa());
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  m.passes = f.passes;
  m.seconds = std::min(m.seconds, took.count());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fputs("usage: selection_passes DATAFILE [RUNS [median|quantiles]]\n",
               stderr);
    return 2;
  }
  const detail::packed p = pack(input(argv[1]), 0);
  const detail::pair_set pairs{&p, nullptr};
  const std::uint64_t m = pairs.count();
  if (m < 2) return 1;
  const int runs = argc >= 3 ? std::atoi(argv[2]) : 1;
  const std::string only = argc == 4 ? argv[3] : "";
  std::vector<std::uint64_t> ranks;
  for (const double q : {0.1, 0.5, 0.9}) {
    const auto low = static_cast<std::uint64_t>(q * static_cast<double>(m - 1));
    if (ranks.empty() || ranks.back() < low) ranks.push_back(low);
    if (low + 1 < m) ranks.push_back(low + 1);
  }
  measured median, quantiles;
  for (int r = 0; r < runs; ++r) {
    if (only != "quantiles") run(pairs, {(m - 1) / 2, m / 2}, median);
    if (only != "median") run(pairs, ranks, quantiles);
  }
  std::printf("median_passes %u\nquantiles_passes %u\n", median.passes,
              quantiles.passes);
  std::printf("median_seconds %.3f\nquantiles_seconds %.3f\n",
              median.seconds, quantiles.seconds);
}
