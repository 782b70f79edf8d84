// The selection's engine: the median and the quantiles of the distances
// over pieces of the pairs (see engine.h).
//
// The driver (selection_median, selection_quantiles) runs on one process
// and sends each pass's plan out through a callback; the engine computes a
// partial result for every piece of the pairs against the plan
// (selection_piece, or selection_bands for the bands of packed samples),
// merges them (selection_merge, exact in any order and grouping) and
// hands the merge back. A plan either tallies every pair against a few
// windows of values, or draws a sample of the pairs (an engine that does
// not hold the samples where the driver runs gets one first, so that most
// data need a single full pass after it). A partial result carries its
// plan, its counts, and the values it kept of the windows that keep them,
// as a multiset: their order in the bytes is of no meaning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "kernel_width/engine.h"

namespace kernel_width {

// The pairs a selection runs over, by their sizes: n samples of x and n_y
// of y (pooled and cross; else 0), `columns` columns each, paired as kind
// says. Global row numbers: x's rows 0..n-1; pooled, y's row j is n + j;
// across, x and y number their rows each from 0.
struct selection_shape {
  std::size_t n = 0;
  std::size_t n_y = 0;
  std::size_t columns = 0;
  pairing kind = pairing::within;
};

// One piece's partial result for the plan: the pairs i < l of a's rows
// (b null: a block on the diagonal), or every row of a with every row of
// b (two blocks of one set, a's before b's, or x's block with y's across),
// on w.threads threads. error::bad_buffer for a plan that is not one;
// error::cancelled when w.control stops it; error::out_of_memory.
error selection_piece(const engine_bytes& plan, const row_block& a,
                      const row_block* b, const piece_workers& w,
                      engine_bytes& out) noexcept;

// The same for packed samples, over the bands of rows that `next` hands
// out (band k: rows 8k..8k+7): within rows (x, or x then y pooled), or
// against cols across (y). Its threads take bands as they go, so an
// engine may deal the bands to processes as it likes. w.control counts
// the pairs of every band done.
error selection_bands(const engine_bytes& plan, const packed_samples& rows,
                      const packed_samples* cols, const unit_source& next,
                      const piece_workers& w, engine_bytes& out) noexcept;

// The bands of rows (rows.count()) and the pairs of band k.
std::uint64_t selection_band_pairs(const packed_samples& rows,
                                   const packed_samples* cols,
                                   std::size_t band) noexcept;

// The threads a pass over rows (and cols) runs on best: at most `threads`
// (0: every core), no more than the bands, and as many as keep their
// tallies in cache.
unsigned selection_threads(const packed_samples& rows,
                           const packed_samples* cols,
                           unsigned threads) noexcept;

// Two partial results of the same plan, merged into out (which may be
// either); error::bad_buffer when either is not one, or their plans
// differ.
error selection_merge(const engine_bytes& a, const engine_bytes& b,
                      engine_bytes& out) noexcept;

// Any number of partial results of the same plan merged at once into
// out, as merging them two at a time would (but with each value copied
// once, not once per level); error::bad_buffer as selection_merge, or for
// none at all.
error selection_merge_all(const std::vector<engine_span>& parts,
                          engine_bytes& out) noexcept;

// For an engine that moves kept values only where the merge keeps them
// (the MPI programs): a tally pass's partial result as its counts alone
// (selection_counts; counts merge as partial results do); the windows
// whose values a merge of counts keeps (take, one byte per window, 1 to
// take); the values of a partial result in those windows
// (selection_kept, a multiset); and the merged counts with every piece's
// values of those windows put in (selection_fill), which gives the merged
// partial result. error::bad_buffer for a buffer that is not one, values
// that are not those of the kept windows' buckets, or a sampling pass's.
error selection_counts(const engine_bytes& partial,
                       engine_bytes& counts) noexcept;
error selection_windows(const engine_bytes& counts,
                        std::vector<std::uint8_t>& take) noexcept;
error selection_kept(const engine_bytes& partial,
                     const std::vector<std::uint8_t>& take,
                     std::vector<double>& values) noexcept;
error selection_fill(const engine_bytes& counts,
                     const std::vector<double>& values,
                     engine_bytes& out) noexcept;

// selection_bands's result of a tally pass already apart: its counts
// (selection_counts) and the values it kept, window j's in kept[j] (those
// of the windows it does not keep empty), without a trip through bytes.
struct selection_apart {
  engine_bytes counts;
  std::vector<std::vector<double>> kept;
};
error selection_bands_apart(const engine_bytes& plan,
                            const packed_samples& rows,
                            const packed_samples* cols,
                            const unit_source& next, const piece_workers& w,
                            selection_apart& out) noexcept;

// A pass run by the engine: the merge of every piece's partial result for
// `plan` into `merged`. False stops the selection (error::cancelled).
using selection_pass =
    std::function<bool(const engine_bytes& plan, engine_bytes& merged)>;

// How the driver runs: the pairs, the passes, and its own threads. When
// this process holds every sample (rows and cols as selection_bands takes
// them), the first plan comes from a sample drawn here; otherwise from a
// sampling pass through `pass`.
struct selection_run {
  selection_shape shape;
  selection_pass pass;
  unsigned threads = 0;
  const packed_samples* rows = nullptr;
  const packed_samples* cols = nullptr;
};

// median() and quantiles() (kernel_width.h) of the pairs, bit for bit,
// the count of zero distances included; status error::cancelled when a
// pass returned false, error::bad_buffer when a merged result was not one
// of its plan, or a tally's did not count every pair once.
median_statistics selection_median(const selection_run& run) noexcept;
selection selection_quantiles(const selection_run& run, const double* p,
                              std::size_t count, quantile* out) noexcept;

}  // namespace kernel_width
