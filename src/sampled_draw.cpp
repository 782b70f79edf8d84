// Drawing the pairs of a sampled width, counting them, and the rows they
// need.
#include "sampled_draw.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <new>
#include <vector>

#include "cpu.h"
#include "threads.h"

namespace kernel_width {

namespace detail {

namespace {

__extension__ typedef unsigned __int128 wide;

constexpr std::uint64_t golden = 0x9e3779b97f4a7c15u;

// Pairs per chunk of work: large enough that threads rarely meet at the
// counter, small enough to share out 10^6 draws.
constexpr std::uint64_t chunk = 1u << 14;

}  // namespace

std::uint64_t splitmix_mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}

pair_stream::pair_stream(std::uint64_t seed, std::uint64_t k)
    : state(splitmix_mix(splitmix_mix(seed) ^ k)) {}

std::uint64_t pair_stream::next() {
  state += golden;
  return splitmix_mix(state);
}

std::uint64_t bounded(pair_stream& s, std::uint64_t range) {
  wide m = static_cast<wide>(s.next()) * range;
  auto low = static_cast<std::uint64_t>(m);
  if (low < range) {
    const std::uint64_t threshold = (0 - range) % range;  // 2^64 mod range
    while (low < threshold) {
      m = static_cast<wide>(s.next()) * range;
      low = static_cast<std::uint64_t>(m);
    }
  }
  return static_cast<std::uint64_t>(m >> 64);
}

pair_index draw_pair(std::size_t n, std::size_t n_y, pairing kind,
                     std::uint64_t seed, std::uint64_t k) {
  pair_stream s(seed, k);
  if (kind == pairing::cross) {
    const std::uint64_t i = bounded(s, n);
    return {i, n + bounded(s, n_y)};
  }
  // An ordered pair of different samples, each unordered pair twice.
  const std::uint64_t total = kind == pairing::pooled ? n + n_y : n;
  const std::uint64_t i = bounded(s, total);
  std::uint64_t l = bounded(s, total - 1);
  if (l >= i) ++l;
  return {std::min(i, l), std::max(i, l)};
}

bool for_chunks(std::uint64_t count, unsigned threads,
                const std::atomic<bool>* cancel,
                const std::function<void(std::uint64_t, std::uint64_t)>& work) {
  const run_control control{nullptr, cancel};
  const std::uint64_t chunks = (count + chunk - 1) / chunk;
  if (threads == 0) threads = available_threads();
  threads = static_cast<unsigned>(
      std::min<std::uint64_t>(std::max(threads, 1u), std::max<std::uint64_t>(chunks, 1)));
  std::atomic<std::uint64_t> next{0};
  std::atomic<bool> stopped{false};
  run_threads(threads, [&](unsigned) {
    for (;;) {
      if (control.cancelled()) {
        stopped = true;
        return;
      }
      const std::uint64_t c = next.fetch_add(1, std::memory_order_relaxed);
      if (c >= chunks) return;
      work(c * chunk, std::min(count, (c + 1) * chunk));
    }
  });
  return !stopped;
}

}  // namespace detail

std::uint64_t pair_count(std::size_t n, std::size_t n_y, pairing kind,
                         bool* overflow) noexcept {
  using detail::wide;
  wide pairs = 0;
  if (kind == pairing::cross) {
    pairs = static_cast<wide>(n) * n_y;
  } else {
    const wide total = static_cast<wide>(n) + (kind == pairing::pooled ? n_y : 0);
    pairs = total < 2 ? 0 : total * (total - 1) / 2;
  }
  const bool over = pairs > static_cast<wide>(UINT64_MAX);
  if (overflow) *overflow = over;
  return over ? 0 : static_cast<std::uint64_t>(pairs);
}

error draw_pairs(std::size_t n, std::size_t n_y, pairing kind,
                 const sampling& how, pair_index* out,
                 unsigned threads) noexcept {
  const std::uint64_t seed = how.seed;
  bool over = false;
  if (pair_count(n, n_y, kind, &over) == 0)
    return over ? error::too_many_pairs : error::no_samples;
  try {
    detail::for_chunks(how.draws, threads, nullptr,
                       [&](std::uint64_t begin, std::uint64_t end) {
                         for (std::uint64_t k = begin; k < end; ++k)
                           out[k] = detail::draw_pair(n, n_y, kind, seed, k);
                       });
  } catch (const std::bad_alloc&) {
    return error::out_of_memory;
  }
  return error::none;
}

namespace {

// The sparse case, indices far more than the pairs: sort, then search.
void keep_sorted(pair_index* pairs, std::uint64_t count, std::uint64_t* rows,
                 std::uint64_t* kept) {
  for (std::uint64_t k = 0; k < count; ++k) {
    rows[2 * k] = pairs[k].first;
    rows[2 * k + 1] = pairs[k].second;
  }
  std::sort(rows, rows + 2 * count);
  std::uint64_t* const end = std::unique(rows, rows + 2 * count);
  *kept = static_cast<std::uint64_t>(end - rows);
  const auto position = [&](std::uint64_t index) {
    return static_cast<std::uint64_t>(std::lower_bound(rows, end, index) - rows);
  };
  for (std::uint64_t k = 0; k < count; ++k)
    pairs[k] = {position(pairs[k].first), position(pairs[k].second)};
}

// The dense case: a bit per index and the set bits before each word, so
// that a position is one popcount, in a table small enough for the cache.
void keep_marked(pair_index* pairs, std::uint64_t count, std::uint64_t top,
                 std::uint64_t* rows, std::uint64_t* kept) {
  const std::uint64_t words = top / 64 + 1;
  std::vector<std::uint64_t> bits(words), before(words);
  for (std::uint64_t k = 0; k < count; ++k) {
    bits[pairs[k].first / 64] |= std::uint64_t{1} << (pairs[k].first % 64);
    bits[pairs[k].second / 64] |= std::uint64_t{1} << (pairs[k].second % 64);
  }
  std::uint64_t total = 0;
  for (std::uint64_t w = 0; w < words; ++w) {
    before[w] = total;
    for (std::uint64_t b = bits[w]; b != 0; b &= b - 1)
      rows[total++] = w * 64 + static_cast<std::uint64_t>(std::countr_zero(b));
  }
  *kept = total;
  const auto position = [&](std::uint64_t index) {
    const std::uint64_t below = (std::uint64_t{1} << (index % 64)) - 1;
    return before[index / 64] +
           static_cast<std::uint64_t>(std::popcount(bits[index / 64] & below));
  };
  for (std::uint64_t k = 0; k < count; ++k)
    pairs[k] = {position(pairs[k].first), position(pairs[k].second)};
}

}  // namespace

error keep_rows(pair_index* pairs, std::uint64_t count, std::uint64_t* rows,
                std::uint64_t* kept) noexcept {
  std::uint64_t top = 0;
  for (std::uint64_t k = 0; k < count; ++k)
    top = std::max({top, pairs[k].first, pairs[k].second});
  // The table takes top / 4 bytes: used while that is at most the 16
  // bytes per pair that rows already takes.
  try {
    if (count > 0 && top / 64 <= 2 * count)
      keep_marked(pairs, count, top, rows, kept);
    else
      keep_sorted(pairs, count, rows, kept);
  } catch (const std::bad_alloc&) {
    return error::out_of_memory;
  }
  return error::none;
}

}  // namespace kernel_width
