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

// A block of rows of the data set: the view, and the global row of its
// first row.
struct row_block {
  matrix_view rows;
  std::uint64_t first = 0;
};

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

}  // namespace kernel_width
