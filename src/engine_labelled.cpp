// labelled's total over pieces (engine_sums.h): the row sums of bands of
// a packed set, and the lane sums of blocks carried from piece to piece.
#include <algorithm>
#include <atomic>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "cpu.h"
#include "engine_bytes.h"
#include "engine_pieces.h"
#include "kernel_width/engine_sums.h"
#include "kernels.h"
#include "labelled_total.h"
#include "packed_statistics.h"

namespace kernel_width {

namespace {

using detail::byte_reader;
using detail::frame_kind;
using detail::packed;

// Rows first.. of one block, each with its 8 lane sums, carried over the
// samples before `next`.
struct lane_block {
  std::uint64_t first = 0;
  std::uint64_t next = 0;
  std::vector<double> lanes;
  std::uint64_t rows() const { return lanes.size() / panel_width; }
};

engine_bytes write_blocks(const std::vector<lane_block>& blocks) {
  detail::byte_writer w;
  w.begin(frame_kind::labelled_partial);
  w.u64(blocks.size());
  for (const lane_block& b : blocks) {
    w.u64(b.first);
    w.u64(b.next);
    w.u64(b.rows());
    w.f64s(b.lanes.data(), b.lanes.size());
  }
  return w.finish();
}

// The blocks of a labelled partial result, in row order and disjoint, each
// aligned and run no further than its own rows; false for any other buffer.
bool read_blocks(const engine_bytes& bytes, std::vector<lane_block>& out) {
  byte_reader r =
      detail::open_frame(bytes.data(), bytes.size(), frame_kind::labelled_partial);
  const std::uint64_t count = r.count(3 * 8);
  out.assign(count, {});
  std::uint64_t end = 0;
  for (lane_block& b : out) {
    b.first = r.u64();
    b.next = r.u64();
    const std::uint64_t rows = r.count(panel_width * 8);
    if (!r.ok || b.first % panel_width != 0 || b.first < end ||
        b.next - b.first < rows || b.next < b.first)
      return false;
    b.lanes.resize(rows * panel_width);
    r.f64s(b.lanes.data(), b.lanes.size());
    end = b.first + rows;
  }
  return r.done();
}

labelled_statistics labelled_failed(std::size_t n, error status) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  labelled_statistics l;
  l.n = n;
  l.total = l.mean = l.width = l.sigma = l.gamma = nan;
  l.status = status;
  return l;
}

// The blocks a piece may take: aligned, b after a, a whole bands when a
// block follows it, the same columns.
error check_blocks(const row_block& a, const row_block* b) {
  if (a.first % panel_width != 0) return error::bad_buffer;
  if (!b) return error::none;
  if (b->first % panel_width != 0 || a.rows.rows % panel_width != 0 ||
      b->first < a.first + a.rows.rows)
    return error::bad_buffer;
  return a.rows.cols == b->rows.cols ? error::none : error::columns_differ;
}

// The lane sums a piece starts from: zeros on the diagonal, else the
// state's, which must be a's rows stopped where b starts.
bool start_lanes(const engine_bytes* state, const row_block& a,
                 const row_block* b, lane_block& out) {
  out.first = a.first;
  if (!state) {
    out.lanes.assign(a.rows.rows * panel_width, 0.0);
    return true;
  }
  std::vector<lane_block> got;
  if (!read_blocks(*state, got) || got.size() != 1) return false;
  out = std::move(got[0]);
  return out.first == a.first && out.rows() == a.rows.rows &&
         out.next == b->first;
}

// The piece's kernels over a's bands on w's threads.
void run_lanes(const packed& sa, const packed* sb, const piece_workers& w,
               lane_block& block) {
  const detail::kernels& k = detail::kernels_for(detail::selected_isa().chosen);
  std::atomic<std::size_t> next{0};
  detail::run_threads(engine_threads(w.threads), [&](unsigned) {
    double lanes[panel_width * panel_width];
    for (std::size_t b; !w.control.cancelled() &&
                        (b = next.fetch_add(1)) < sa.count();) {
      double* at = block.lanes.data() + b * panel_width * panel_width;
      const std::size_t rows = std::min(panel_width, sa.n - b * panel_width);
      std::copy(at, at + rows * panel_width, lanes);
      if (sb)
        k.lanes(sa, b, *sb, 0, lanes);
      else
        k.band(sa, b, lanes);
      std::copy(lanes, lanes + rows * panel_width, at);
      w.control.add(sb ? rows * sb->n : detail::band_pairs(sa, b));
    }
  });
}

}  // namespace

error engine_ready() noexcept {
  return detail::selected_isa().ok ? error::none : error::unsupported_isa;
}

unsigned engine_threads(unsigned threads) noexcept {
  return threads == 0 ? detail::available_threads() : threads;
}

std::uint64_t band_pair_count(const packed_samples& s,
                              std::size_t b) noexcept {
  return detail::band_pairs(s, b);
}

error labelled_bands(const packed_samples& s, const unit_source& next,
                     const piece_workers& w, double* row_sums) noexcept {
  if (engine_ready() != error::none) return error::unsupported_isa;
  return detail::engine_guarded([&] {
    detail::labelled_rows(s, next, {detail::selected_isa().chosen, w.threads,
                                    w.control},
                          row_sums);
    return w.control.cancelled() ? error::cancelled : error::none;
  });
}

labelled_statistics labelled_from_rows(const double* row_sums, std::size_t n,
                                       std::size_t columns) noexcept {
  if (n > 0 && columns == 0) return labelled_failed(n, error::no_features);
  return detail::labelled_of(n, columns,
                             detail::labelled_combine(row_sums, n));
}

error labelled_piece(const engine_bytes* state, const row_block& a,
                     const row_block* b, const piece_workers& w,
                     engine_bytes& out) noexcept {
  if (engine_ready() != error::none) return error::unsupported_isa;
  if (const error e = check_blocks(a, b); e != error::none) return e;
  if (!state != !b) return error::bad_buffer;
  return detail::engine_guarded([&] {
    lane_block block;
    if (!start_lanes(state, a, b, block)) return error::bad_buffer;
    const packed sa = detail::pack_view(a.rows);
    if (b) {
      const packed sb = detail::pack_view(b->rows);
      run_lanes(sa, &sb, w, block);
      block.next = b->first + b->rows.rows;
    } else {
      run_lanes(sa, nullptr, w, block);
      block.next = a.first + a.rows.rows;
    }
    if (w.control.cancelled()) return error::cancelled;
    out = write_blocks({std::move(block)});
    return error::none;
  });
}

error labelled_merge(const engine_bytes& a, const engine_bytes& b,
                     engine_bytes& out) noexcept {
  return detail::engine_guarded([&] {
    std::vector<lane_block> x, y;
    if (!read_blocks(a, x) || !read_blocks(b, y)) return error::bad_buffer;
    std::vector<lane_block> both;
    both.reserve(x.size() + y.size());
    std::merge(std::make_move_iterator(x.begin()),
               std::make_move_iterator(x.end()),
               std::make_move_iterator(y.begin()),
               std::make_move_iterator(y.end()), std::back_inserter(both),
               [](const lane_block& l, const lane_block& r) {
                 return l.first < r.first;
               });
    for (std::size_t k = 1; k < both.size(); ++k)
      if (both[k - 1].first + both[k - 1].rows() > both[k].first)
        return error::bad_buffer;
    out = write_blocks(both);
    return error::none;
  });
}

labelled_statistics labelled_final(const engine_bytes& merged, std::size_t n,
                                   std::size_t columns) noexcept {
  try {
    std::vector<lane_block> blocks;
    if (!read_blocks(merged, blocks)) return labelled_failed(n, error::bad_buffer);
    std::vector<double> row_sums;
    row_sums.reserve(n);
    for (const lane_block& b : blocks) {
      if (b.rows() == 0) continue;
      if (b.first != row_sums.size() || b.next != n || b.first + b.rows() > n)
        return labelled_failed(n, error::bad_buffer);
      for (std::size_t i = 0; i < b.rows(); ++i)
        row_sums.push_back(detail::labelled_row(b.lanes.data() + i * panel_width));
    }
    if (row_sums.size() != n) return labelled_failed(n, error::bad_buffer);
    return labelled_from_rows(row_sums.data(), n, columns);
  } catch (const std::bad_alloc&) {
    return labelled_failed(n, error::out_of_memory);
  } catch (const std::length_error&) {
    return labelled_failed(n, error::out_of_memory);
  }
}

}  // namespace kernel_width
