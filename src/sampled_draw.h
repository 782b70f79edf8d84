// The pairs of a sampled width: drawn uniformly with replacement, each from
// its own counter-based stream, so that no thread count changes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "kernel_width/kernel_width.h"

namespace kernel_width::detail {

// SplitMix64's finaliser: a bijection of 64-bit words.
std::uint64_t splitmix_mix(std::uint64_t z);

// The words of pair k: SplitMix64 started at mix(mix(seed) ^ k).
struct pair_stream {
  std::uint64_t state = 0;
  pair_stream(std::uint64_t seed, std::uint64_t k);
  std::uint64_t next();
};

// A uniform integer in [0, range), range >= 1, by Lemire's multiply and
// reject: exact, and a function of the stream alone.
std::uint64_t bounded(pair_stream& s, std::uint64_t range);

// Pair k of the N pairs of (n, n_y, kind); N must be at least 1.
pair_index draw_pair(std::size_t n, std::size_t n_y, pairing kind,
                     std::uint64_t seed, std::uint64_t k);

// Runs work(begin, end) over [0, count) in chunks, on threads (0: every
// core); whole chunks, so results that depend only on the index are the
// same for every thread count. False when cancel was set.
bool for_chunks(std::uint64_t count, unsigned threads,
                const std::atomic<bool>* cancel,
                const std::function<void(std::uint64_t, std::uint64_t)>& work);

}  // namespace kernel_width::detail
