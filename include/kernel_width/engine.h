// Spreading the work over processes and machines: what an engine (the MPI
// programs, the Dask module, or one of your own) needs to deal out the
// pairs and put the results together, bit for bit those of one machine.
//
// The pairs are cut into pieces by row indices only, so any engine may hand
// them out in any order and compute a piece again anywhere (a lost worker).
// Each estimator gives a partial result per piece, an exact merge of two
// partial results that does not depend on order or grouping, and its final
// result from the merged whole; the selection (median, quantiles) runs in
// passes, each a plan sent out and tallies coming back.
//
// Plans and partial results cross process and machine boundaries as plain
// bytes: a frame of the four bytes "KWEB", a 16-bit layout version, a
// 16-bit kind and a 64-bit payload length, then the payload; every integer
// little-endian, every double its IEEE 754 bits as a little-endian 64-bit
// integer. A buffer that is truncated, of another kind or version, or
// inconsistent inside gives error::bad_buffer, never a crash.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "kernel_width/kernel_width.h"

namespace kernel_width {

// The version of the byte layout; a buffer of another one is refused.
constexpr std::uint16_t engine_layout_version = 1;

// A plan or partial result as bytes.
using engine_bytes = std::vector<std::uint8_t>;

// Bytes held elsewhere (a partial result received as it lies), read
// without a copy.
struct engine_span {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

// Samples per panel of the packed layout that every kernel reads.
constexpr std::size_t panel_width = 8;

// Samples packed for the kernels: panel p holds samples 8p..8p+7, column by
// column, 8 values per column; the last panel is padded with copies of the
// last sample, and panels is never empty. The values are panels' own or,
// when view is set, the same layout held elsewhere (memory that processes
// share), which must outlive them.
struct packed_samples {
  std::vector<double> panels;
  const double* view = nullptr;
  std::size_t n = 0;     // samples
  std::size_t cols = 0;  // columns of each sample
  std::size_t count() const { return (n + panel_width - 1) / panel_width; }
  std::size_t padded() const { return count() * panel_width; }
  // The values held, never none, so that row pointers stay valid without
  // columns.
  std::size_t stored() const { return std::max(padded() * cols, panel_width); }
  const double* values() const { return view ? view : panels.data(); }
};

// What a caller may watch and stop: the pairs computed so far, and a flag
// that, once set (from any thread), stops the computation between bands of
// pairs. Either may be null.
struct run_control {
  std::atomic<std::uint64_t>* done = nullptr;
  const std::atomic<bool>* cancel = nullptr;

  bool cancelled() const {
    return cancel && cancel->load(std::memory_order_relaxed);
  }
  void add(std::uint64_t pairs) const {
    if (done) done->fetch_add(pairs, std::memory_order_relaxed);
  }
};

// Where a computation's threads take their units of work (bands of 8 rows),
// one at a time, from any thread: true with the next unit in `unit`, false
// once none is left. The results never depend on which thread, or which
// machine, computes a unit, so an engine may hand them out as it likes.
using unit_source = std::function<bool(std::size_t& unit)>;

// How a piece runs in this process: on `threads` threads (0: every core
// the process may use), watched and stopped through control. The kernels
// are those KERNEL_WIDTH_ISA chooses (kernel_width.h).
struct piece_workers {
  unsigned threads = 0;
  run_control control;
};

// A block of rows of a set and the global number of its first row. A
// piece's blocks start at a multiple of 8 (panel_width), so that they are
// whole bands of the global layout, except y's blocks across (whose rows
// are numbered from 0).
struct row_block {
  matrix_view rows;
  std::uint64_t first = 0;
};

}  // namespace kernel_width

#include "kernel_width/engine_selection.h"
#include "kernel_width/engine_sums.h"
