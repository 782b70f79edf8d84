// Where the chosen ranks of the pairwise (squared) distances lie, from a
// sample of them: the first windows of the selection's passes
// (rank_select.h) and the parts of them whose values are kept. A sample of
// random tiles of 8 x 8 pairs, each between a random band and a random
// panel, costs two panels from memory per 64 distances; the same tiles on
// every run and thread count.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "cpu.h"
#include "pair_set.h"
#include "rank_select.h"

namespace kernel_width::detail {

// The groups a sample is drawn in, each from its own random stream, so
// that any thread may draw any group and the spread of the groups' shares
// gives each share's standard error.
constexpr std::uint64_t sample_groups = 64;

// A fixed stream of random numbers (splitmix64): the same windows, and
// passes, on every run.
inline std::uint64_t next_random(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
  z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
  return z ^ (z >> 31);
}

// One sample to draw: `tiles` tiles of 8 x 8 pairs in all, from the stream
// `seed`, tallied against the plan (every value of its windows kept), a
// group keeping at most `most` / sample_groups values of a window.
struct sample_request {
  const pass_plan* plan = nullptr;
  std::uint64_t tiles = 0;
  std::uint64_t seed = 0;
  std::uint64_t most = 0;
};

// Draws a sample into parts (sample_groups tallies, reset for the plan):
// false when a group stopped keeping a window's values. It may throw
// std::bad_alloc.
using sample_drawer =
    std::function<bool(const sample_request& q, std::vector<tally>& parts)>;

// The drawer of random tiles of pairs on this machine's threads (at least
// 1).
sample_drawer tile_drawer(const pair_set& pairs, isa set, unsigned threads);

// The plan for `ranks` (increasing, below pairs.count()), on threads (at
// least 1); nothing for limits.at_once pairs or fewer: the first pass keeps
// them all.
std::optional<pass_plan> sampled_plan(const pair_set& pairs, isa set,
                                      unsigned threads,
                                      const std::vector<std::uint64_t>& ranks,
                                      const select_limits& limits);

// The same for `count` values whose samples draw() draws, wherever they
// are.
std::optional<pass_plan> sampled_plan(std::uint64_t count,
                                      const sample_drawer& draw,
                                      const std::vector<std::uint64_t>& ranks,
                                      const select_limits& limits);

}  // namespace kernel_width::detail
