// The sums' engine: labelled's total and form's mean and variance over
// pieces of the pairs (see engine.h).
//
// Pieces come in two forms. Packed: one packed set that every process
// holds, its bands of 8 rows handed out by a unit_source, as the MPI
// programs do. Blocks: two blocks of rows of the data set, each a view
// with the global row of its first row; a block's first row is a multiple
// of 8, every block but the last holds a multiple of 8 rows, and a piece is
// the pairs within one block (the diagonal) or every row of one block with
// every row of a later one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "kernel_width/engine.h"

namespace kernel_width {

// error::unsupported_isa when KERNEL_WIDTH_ISA names an instruction set
// this CPU cannot run (every engine function then gives that error), else
// error::none: for an engine that checks once before it deals out work.
error engine_ready() noexcept;

// The threads a piece runs on for `threads` (0: every core the process may
// use); at least 1.
unsigned engine_threads(unsigned threads) noexcept;

// The pairs i < l of s with i in band b, for an engine that deals bands
// by their work.
std::uint64_t band_pair_count(const packed_samples& s,
                              std::size_t b) noexcept;

// ---- labelled: the total over ordered pairs of different samples ----
//
// Row i keeps 8 lane sums, lane k adding the distances to the samples
// l > i with l % 8 == k in increasing l; the row's sum adds lanes 0..7 in
// order; the total adds the row sums in row order and doubles it. So a
// row's lanes run over the later blocks in order, and rows of different
// blocks never meet until the end.

// Packed: the row sums of the bands that next hands out, on w's threads,
// into row_sums[8b ..] (s.n entries; the other rows are left as they
// are). error::cancelled when w.control stopped it, with some bands
// missing.
error labelled_bands(const packed_samples& s, const unit_source& next,
                     const piece_workers& w, double* row_sums) noexcept;

// The statistics from all n row sums; columns is echoed. The same as
// labelled() on the samples.
labelled_statistics labelled_from_rows(const double* row_sums, std::size_t n,
                                       std::size_t columns) noexcept;

// Blocks: one piece of block a's chain into out. The first piece is the
// diagonal (b and state null); each later one takes the state the one
// before gave and the next block after a in order (b->first where the
// state's rows stopped). The state after the last block is a's partial
// result. Errors: error::bad_buffer for a state that is not a labelled
// partial result of a's rows stopped at b's first row, or blocks that are
// not aligned as above; error::columns_differ; out_of_memory; cancelled.
error labelled_piece(const engine_bytes* state, const row_block& a,
                     const row_block* b, const piece_workers& w,
                     engine_bytes& out) noexcept;

// The partial results of disjoint rows as one, in any order and grouping;
// error::bad_buffer when a buffer is not one, or their rows overlap.
error labelled_merge(const engine_bytes& a, const engine_bytes& b,
                     engine_bytes& out) noexcept;

// The statistics of n samples from the merge of every block's partial
// result: bit for bit labelled()'s. error::bad_buffer when the buffer is
// not one, or its rows are not 0..n-1 each run to the end.
labelled_statistics labelled_final(const engine_bytes& merged, std::size_t n,
                                   std::size_t columns) noexcept;

// ---- form: the mean and variance of the n*n distances ----
//
// A pass adds its n*n terms in row order, one chain, bit for bit: the
// driver below predicts each row's grid from estimates of the row sums,
// has every pair rounded to its two rows' grids (exact sums per row, in
// any order), has the rows that a tie or a wrong grid leaves in doubt
// summed again in order, and settles the rows in order, summing a row
// again from its terms when the running sum leaves its binade. Each of
// these steps goes to every piece as bytes; the merge of the pieces'
// partial results comes back. The estimates only decide how fast it goes.

// Runs step over every piece: the merge of their partial results into
// merged. An error (error::cancelled for any failure of the caller's own)
// stops the driver, which returns it.
using form_step_runner =
    std::function<error(const engine_bytes& step, engine_bytes& merged)>;

// The given global rows' values, row-major (rows.size() * columns), into
// out: the 64 rows from which the first estimates are made.
using form_row_fetcher = std::function<error(
    const std::vector<std::uint64_t>& rows, std::vector<double>& out)>;

// form()'s statistics, bit for bit, of n samples of `columns` values over
// the pieces that run_step reaches; w.control is watched between steps.
// An engine whose driver holds every sample (the MPI programs) passes them
// as all: the first estimates are then made from them, as form() makes
// them, and the driver sums the doubtful rows again itself, with no step;
// otherwise the estimates come from the blocks' moments (a step) and the
// rows fetch_rows gives, and the rows' terms from the pieces. Only the
// speed differs.
form_statistics form_drive(std::size_t n, std::size_t columns,
                           const form_step_runner& run_step,
                           const form_row_fetcher& fetch_rows,
                           const piece_workers& w,
                           const packed_samples* all = nullptr) noexcept;

// Blocks: a step's partial result over block a's pairs (b null: the pairs
// within a, and its diagonal) or a's rows with b's. Errors:
// error::bad_buffer for a step that is not one or blocks not aligned as
// above; columns_differ; out_of_memory; cancelled.
error form_piece(const engine_bytes& step, const row_block& a,
                 const row_block* b, const piece_workers& w,
                 engine_bytes& out) noexcept;

// Packed: the units of a step over s, for a unit_source to hand out: the
// bands of s, their pairs counted (pairs true: the rounding of every pair)
// or not, or the rows the step names. error::bad_buffer for a step that is
// not one or not of s.
struct form_units {
  std::size_t units = 0;
  bool pairs = false;
  error status = error::none;
};
form_units form_step_units(const engine_bytes& step,
                           const packed_samples& s) noexcept;

// Packed: the step's partial result over the units next hands out, on w's
// threads; the partial results of all units merged are the step's.
error form_bands(const engine_bytes& step, const packed_samples& s,
                 const unit_source& next, const piece_workers& w,
                 engine_bytes& out) noexcept;

// Two partial results of one step as one, in any order and grouping.
error form_merge(const engine_bytes& a, const engine_bytes& b,
                 engine_bytes& out) noexcept;

// The same for any number of partial results at once, each value copied
// once (rows' terms run to megabytes); error::bad_buffer as form_merge,
// or for none at all.
error form_merge_all(const std::vector<engine_span>& parts,
                     engine_bytes& out) noexcept;

// form_width() of the statistics form() gives for n samples of `columns`
// values with this mean and variance.
form_width_result form_width_from(std::size_t n, std::size_t columns,
                                  double mean, double variance,
                                  matrix_view table) noexcept;

}  // namespace kernel_width
