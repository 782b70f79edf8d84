#include "median_sample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <new>

#include "kernels.h"
#include "threads.h"

namespace kernel_width::detail {

namespace {

// A fixed stream of random numbers (splitmix64): the same windows, and
// passes, on every run.
std::uint64_t next_random(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
  z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
  return z ^ (z >> 31);
}

// Tiles per block of the sample: each block draws its own random stream,
// so that any thread may draw it.
constexpr std::uint64_t block_tiles = 256;

// The part of the sample to keep, the value whose share under it is
// watched tile by tile, and the first block's random stream.
struct sample_range {
  double low = 0.0;
  double high = 0.0;
  double middle = 0.0;
  std::uint64_t seed = 0;
};

// What a block of random tiles found: its values from low to high, how
// many lay under low and in all, and the shares of its tiles' values under
// the middle, added up with their squares.
struct sample_block {
  std::vector<double> kept;
  std::uint64_t under = 0;
  std::uint64_t count = 0;
  std::uint64_t tiles = 0;
  double shares = 0.0;
  double squares = 0.0;
};

// Block `block`: random tiles of 8 x 8 pairs, each between the samples of
// two different bands. A tile costs two panels from memory.
void draw_block(const kernels& k, const packed& s, std::uint64_t block,
                const sample_range& range, sample_block& out) {
  double tile[panel_width * panel_width];
  std::uint64_t state = range.seed + block;
  for (std::uint64_t t = 0; t < block_tiles; ++t) {
    const std::size_t b = next_random(state) % s.count();
    const std::size_t q = next_random(state) % s.count();
    if (b == q) continue;
    k.pairs(s, b, {q, q + 1}, tile, panel_width);
    const std::size_t rows = std::min(panel_width, s.n - b * panel_width);
    const std::size_t cols = std::min(panel_width, s.n - q * panel_width);
    std::uint64_t count = 0;
    std::uint64_t middle = 0;
    for (std::size_t r = 0; r < rows; ++r)
      for (std::size_t c = 0; c < cols; ++c) {
        const double d = tile[r * panel_width + c];
        if (d != d) continue;
        ++count;
        middle += d < range.middle;
        if (d < range.low)
          ++out.under;
        else if (d <= range.high)
          out.kept.push_back(d);
      }
    const double share =
        static_cast<double>(middle) / static_cast<double>(count);
    out.count += count, ++out.tiles;
    out.shares += share, out.squares += share * share;
  }
}

// The blocks, drawn on threads; out of memory in any thread is thrown
// once they are done.
std::vector<sample_block> draw_blocks(const packed& s, isa set,
                                      unsigned threads, std::uint64_t blocks,
                                      const sample_range& range) {
  std::vector<sample_block> parts(blocks);
  std::atomic<std::uint64_t> next{0};
  std::atomic<bool> failed{false};
  run_threads(threads, [&](unsigned) {
    try {
      for (std::uint64_t b; (b = next.fetch_add(1)) < blocks;)
        draw_block(kernels_for(set), s, b, range, parts[b]);
    } catch (const std::bad_alloc&) {
      failed = true;
    }
  });
  if (failed) throw std::bad_alloc();
  return parts;
}

// The sample's values from low to high (in no order), and how many lay under
// and in all; error: the standard error of a share of the sample, from
// the spread of its tiles' shares under the middle.
struct sample {
  std::vector<double> kept;
  std::uint64_t under = 0;
  std::uint64_t count = 0;
  double error = 0.0;
};

sample draw_sample(const packed& s, isa set, unsigned threads,
                   std::uint64_t tiles, const sample_range& range) {
  const std::uint64_t blocks = (tiles + block_tiles - 1) / block_tiles;
  std::vector<sample_block> parts = draw_blocks(s, set, threads, blocks, range);
  sample out;
  double tiles_done = 0.0;
  double shares = 0.0;
  double squares = 0.0;
  for (sample_block& part : parts) {  // in block order: the same sums
    out.kept.insert(out.kept.end(), part.kept.begin(), part.kept.end());
    part.kept = {};
    out.under += part.under, out.count += part.count;
    tiles_done += static_cast<double>(part.tiles);
    shares += part.shares, squares += part.squares;
  }
  tiles_done = std::max(tiles_done, 1.0);
  const double spread =
      std::max(0.0, squares / tiles_done - square(shares / tiles_done));
  out.error = std::max(std::sqrt(spread / tiles_done),
                       0.5 / std::sqrt(static_cast<double>(
                                 std::max<std::uint64_t>(out.count, 1))));
  return out;
}

// The value at a share of the sample's distances: its bounds outside the
// part it kept.
double share_of(sample& x, double share, double low, double high) {
  const double rank = share * static_cast<double>(x.count - 1);
  if (rank < static_cast<double>(x.under)) return low;
  const auto r = static_cast<std::size_t>(rank - static_cast<double>(x.under));
  if (r >= x.kept.size()) return high;
  const auto at = x.kept.begin() + static_cast<std::ptrdiff_t>(r);
  std::nth_element(x.kept.begin(), at, x.kept.end());
  return *at;
}

// The first window: a rough sample places the middle 8% of the distances,
// a larger one the middle within them; the window reaches 6 of its
// standard errors either side, and keeps the values within 3 of them (as
// many as are expected to fit): the middle lies outside once in 400 runs,
// and costs a pass more. Nothing when every distance fits at once.
}  // namespace

std::optional<first_window> sampled_window(const packed& s, isa set,
                                           unsigned threads,
                                           std::uint64_t pairs,
                                           const select_limits& limits) {
  if (pairs <= limits.at_once || s.count() < 2) return std::nullopt;
  const double inf = std::numeric_limits<double>::infinity();
  sample rough =
      draw_sample(s, set, threads, limits.rough_tiles, {0, inf, inf});
  if (rough.count == 0) return std::nullopt;
  const double low = share_of(rough, 0.46, 0, inf);
  const double high = share_of(rough, 0.54, 0, inf);
  const std::uint64_t tiles = std::clamp(
      pairs / limits.sample_share, limits.rough_tiles, limits.sample_tiles);
  sample fine = draw_sample(
      s, set, threads, tiles,
      {low, high, share_of(rough, 0.5, 0, inf), std::uint64_t{1} << 40});
  const auto at = [&](double share) {
    return bits_of(share_of(fine, std::clamp(share, 0.0, 1.0), low, high));
  };
  const double keep =
      std::min(3 * fine.error, 0.45 * static_cast<double>(limits.keep) /
                                   static_cast<double>(pairs));
  const double reach = std::max(6 * fine.error, keep);
  first_window f{
      window_over(at(0.5 - reach), at(0.5 + reach), unknown_count, limits),
      limits.keep};
  f.w.keep_first = bucket_of(f.w, at(0.5 - keep));
  f.w.keep_last = bucket_of(f.w, at(0.5 + keep));
  return f;
}

}  // namespace kernel_width::detail
