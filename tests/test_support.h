// What the unit tests share: bit patterns, the instruction sets this CPU
// runs, and deterministic samples.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cpu.h"
#include "reference.h"
#include "samples.h"
#include "threads.h"

namespace test_support {

using isa = kernel_width::detail::isa;

// Deterministic samples mixing fractions of several magnitudes, repeated
// values (zero distances) and small integers (exact ties). Drawn from the
// engine's own numbers, which the standard fixes, and not through its
// distributions, which differ between standard libraries: the same
// samples, and so the same pass counts, with libstdc++ and libc++.
inline Table samples(std::size_t n, std::size_t cols, unsigned seed) {
  std::mt19937_64 gen(seed);
  const auto real = [&gen] {
    return static_cast<double>(gen() >> 11) * 0x1p-52 - 1.0;
  };
  const auto pick = [&gen] { return static_cast<int>(gen() % 10); };
  Table data(n, Row(cols));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t c = 0; c < cols; ++c) {
      const int kind = pick();
      if (kind == 0 && i > 0)
        data[i][c] = data[i - 1][c];
      else if (kind == 1)
        data[i][c] = static_cast<double>(pick());
      else
        data[i][c] = real() * std::pow(10.0, pick() - 4);
    }
  return data;
}

inline std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// The instruction sets this CPU runs.
inline std::vector<isa> isas() {
  std::vector<isa> out;
  for (const isa set : kernel_width::detail::all_isas)
    if (kernel_width::detail::isa_supported(set)) out.push_back(set);
  return out;
}

inline std::string name(isa set) { return kernel_width::detail::isa_name(set); }

struct Shape {
  std::size_t n;
  std::size_t cols;
};

// n around the panel width and the register blocks.
inline const Shape shapes[] = {{1, 1},   {2, 3},    {3, 17},   {7, 1},  {8, 3},
                               {9, 17},  {13, 128}, {16, 4},   {17, 1}, {33, 3},
                               {41, 17}, {64, 2},   {70, 128}, {100, 5}};

// Runs work(part) for every part at once, each on its own thread: the
// ranks of a cluster taking bands from one dealer as they come.
template <class Work>
void run_parts(unsigned parts, Work work) {
  std::vector<std::thread> running;
  for (unsigned part = 0; part < parts; ++part)
    running.emplace_back(work, part);
  for (std::thread& t : running) t.join();
}

// Bands 0..count-1 in a scrambled order, handed to whoever asks first.
struct scrambled_bands {
  std::vector<std::size_t> order;
  std::atomic<std::size_t> next{0};
  scrambled_bands(std::size_t count, unsigned seed) : order(count) {
    for (std::size_t b = 0; b < count; ++b) order[b] = b;
    std::mt19937_64 gen(seed);
    std::shuffle(order.begin(), order.end(), gen);
  }
  kernel_width::detail::unit_source source() {
    return kernel_width::detail::in_order(order, next);
  }
};

}  // namespace test_support
