// form's pieces (engine_sums.h): each step over two blocks of rows, or over
// the units of a packed set, and the exact merge of their partial results.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <limits>
#include <mutex>

#include "cpu.h"
#include "engine_form.h"
#include "engine_pieces.h"
#include "form_passes.h"
#include "threads.h"

namespace kernel_width {

namespace {

using namespace detail;

// Rows' estimates from the step's samples: the ratio of the mean distance
// to the root mean square distance to them, times sqrt(n Q_i), Q_i the
// row's squared sums estimated about the samples' centre (form_passes.h).
template <class Value>
void estimate_row(const form_step& s, Value value, double& estimate,
                  double& q) {
  const std::size_t m = s.samples.size() / s.cols;
  double sum = 0.0, squares = 0.0, centred = 0.0;
  for (std::size_t j = 0; j < m; ++j) {
    double d = 0.0;
    for (std::size_t c = 0; c < s.cols; ++c)
      d += square(value(c) - s.samples[j * s.cols + c]);
    sum += std::sqrt(d);
    squares += d;
  }
  for (std::size_t c = 0; c < s.cols; ++c)
    centred += square(value(c) - s.centre[c]);
  const auto n = static_cast<double>(s.n);
  q = n * centred + s.spread;
  const double root = std::sqrt(n * q);
  estimate = squares > 0.0
                 ? root * sum / std::sqrt(static_cast<double>(m) * squares)
                 : root;
}

// The moments of `count` rows from global row `first`, value(k, c) giving
// column c of the k-th: each column's sum, and its squares about the
// rows' own mean, which merge exactly enough for an estimate.
template <class Value>
form_segment moments_of(std::uint64_t first, std::size_t count,
                        std::size_t cols, Value value) {
  form_segment m;
  m.row = first;
  m.col = count;
  m.x.assign(cols, 0.0);
  m.y.assign(cols, 0.0);
  for (std::size_t k = 0; k < count; ++k)
    for (std::size_t c = 0; c < cols; ++c) m.x[c] += value(k, c);
  for (std::size_t k = 0; k < count; ++k)
    for (std::size_t c = 0; c < cols; ++c)
      m.y[c] += square(value(k, c) - m.x[c] / static_cast<double>(count));
  return m;
}

// Units handed out on w's threads, each thread with its own state.
template <class State, class Work>
void on_threads(unsigned threads, const unit_source& next,
                const piece_workers& w, std::vector<State>& states,
                Work work) {
  run_threads(threads, [&](unsigned k) {
    for (std::size_t u; !w.control.cancelled() && next(u);) work(states[k], u);
  });
}

unit_source counting(std::size_t units, std::atomic<std::size_t>& at) {
  return [&at, units](std::size_t& u) {
    u = at.fetch_add(1);
    return u < units;
  };
}

// Rounding: the rows' grids in a packed set's order, padded with 1s.
row_sums round_set(const form_step& s, const packed& p,
                   const std::vector<double>& grids, std::size_t first,
                   const unit_source& next, const piece_workers& w) {
  const unsigned threads = form_threads(p, w.threads);
  std::vector<row_sums> partial = pair_sums(p, threads);
  const isa set = selected_isa().chosen;
  on_threads(threads, next, w, partial, [&](row_sums& mine, std::size_t b) {
    kernels_for(set).form(p, b, std::max(b, first), s.t,
                          {grids.data(), mine.sum.data(), mine.off.data()});
    w.control.add(first > b ? (std::min(p.n, 8 * b + 8) - 8 * b) * (p.n - 8 * first)
                            : band_pairs(p, b));
  });
  for (std::size_t k = 1; k < partial.size(); ++k) combine(partial[0], partial[k]);
  return std::move(partial[0]);
}

form_segment segment_of(std::uint64_t row, const row_sums& r, std::size_t at,
                        std::size_t count) {
  form_segment s;
  s.row = row;
  s.x.assign(r.sum.begin() + at, r.sum.begin() + at + count);
  s.y.assign(r.off.begin() + at, r.off.begin() + at + count);
  return s;
}

// The piece's samples: a alone, or a's rows then b's (a holds whole
// bands when b follows it).
packed stacked(const row_block& a, const row_block* b) {
  if (!b) return pack_view(a.rows);
  const auto at = [](const matrix_view& m, std::size_t k) {
    return m.data + k * (m.stride == 0 ? m.cols : m.stride);
  };
  const std::size_t na = a.rows.rows;
  return pack_rows(na + b->rows.rows, a.rows.cols, [&](std::size_t k) {
    return k < na ? at(a.rows, k) : at(b->rows, k - na);
  });
}

// Global row g as a row of the stacked samples, or none.
bool local_row(const row_block& a, const row_block* b, std::uint64_t g,
               std::size_t& local) {
  if (g >= a.first && g - a.first < a.rows.rows) {
    local = g - a.first;
    return true;
  }
  if (b && g >= b->first && g - b->first < b->rows.rows) {
    local = a.rows.rows + (g - b->first);
    return true;
  }
  return false;
}

// Row k of a block.
const double* row_at(const matrix_view& m, std::size_t k) {
  return m.data + k * (m.stride == 0 ? m.cols : m.stride);
}

// The terms of the given rows of `own` (local numbers) against every row
// of `other` (own itself when null), each handed to use(k, terms, count)
// for the k-th row as soon as it is made: the rows are packed ahead of
// other's, so that no term outside the piece is computed.
template <class Use>
void terms_against(const form_step& s, const row_block& own,
                   const row_block* other, const std::vector<std::size_t>& rows,
                   const piece_workers& w, Use use) {
  if (rows.empty()) return;
  const matrix_view& o = other ? other->rows : own.rows;
  const std::size_t ahead = other ? rows.size() : 0;
  const packed p = other ? pack_rows(ahead + o.rows, o.cols, [&](std::size_t k) {
    return k < ahead ? row_at(own.rows, rows[k]) : row_at(o, k - ahead);
  }) : pack_view(own.rows);
  std::vector<std::vector<double>> buffers(engine_threads(w.threads));
  std::atomic<std::size_t> next{0};
  const isa set = selected_isa().chosen;
  on_threads(engine_threads(w.threads), counting(rows.size(), next), w,
             buffers, [&](std::vector<double>& row, std::size_t u) {
               row.resize(p.padded());
               kernels_for(set).rows(p, {other ? u : rows[u], 1}, s.t,
                                     row.data(), p.padded());
               use(u, row.data() + ahead, o.rows);
             });
}

// The step's rows that lie in a, and in b, by their local numbers.
void rows_in(const form_step& s, const row_block& a, const row_block* b,
             std::vector<std::size_t>& in_a, std::vector<std::size_t>& in_b) {
  for (const std::uint64_t g : s.rows) {
    if (g >= a.first && g - a.first < a.rows.rows) in_a.push_back(g - a.first);
    if (b && g >= b->first && g - b->first < b->rows.rows)
      in_b.push_back(g - b->first);
  }
}

// Each requested row's terms within the piece (a's against b, b's against
// a, or a's against a itself on the diagonal), given to
// visit(slot, row, col, terms, count) with the slots numbered from 0 in
// slots, sized to the rows first.
template <class Slots, class Visit>
void each_row(const form_step& s, const row_block& a, const row_block* b,
              const piece_workers& w, Slots& slots, Visit visit) {
  std::vector<std::size_t> in_a, in_b;
  rows_in(s, a, b, in_a, in_b);
  slots.resize(in_a.size() + in_b.size());
  for (const bool own_a : {true, false}) {
    if (!own_a && !b) break;
    const row_block& own = own_a ? a : *b;
    const row_block* other = own_a ? b : &a;
    const std::vector<std::size_t>& rows = own_a ? in_a : in_b;
    const std::size_t at = own_a ? 0 : in_a.size();
    const std::uint64_t col = other ? other->first : own.first;
    terms_against(s, own, other, rows, w,
                  [&](std::size_t k, const double* x, std::size_t count) {
                    visit(at + k, own.first + rows[k], col, x, count);
                  });
  }
}

// The requested rows' terms within the piece.
void piece_terms(const form_step& s, const row_block& a, const row_block* b,
                 const piece_workers& w, form_partial& out) {
  each_row(s, a, b, w, out.segments,
           [&](std::size_t slot, std::uint64_t row, std::uint64_t col,
               const double* x, std::size_t count) {
             form_segment& seg = out.segments[slot];
             seg.row = row;
             seg.col = col;
             seg.x.assign(x, x + count);
           });
}

// Half a unit of grid, where ties lie; none on the grids of 2^-1022.
double tie_of(double grid) {
  return grid > 0x1p-1022 ? grid * 0x1p-52 * 0.5
                          : std::numeric_limits<double>::infinity();
}

// The requested rows' runs within the piece, each summed on its row's
// grid as soon as its terms are made: a piece sends a few numbers per
// row, not its terms, and holds one row's terms per thread.
void piece_runs(const form_step& s, const row_block& a, const row_block* b,
                const piece_workers& w, form_partial& out) {
  std::vector<std::pair<std::uint64_t, double>> grids;  // by row
  for (std::size_t k = 0; k < s.rows.size(); ++k)
    grids.emplace_back(s.rows[k], s.grids[k]);
  std::sort(grids.begin(), grids.end());
  each_row(s, a, b, w, out.runs,
           [&](std::size_t slot, std::uint64_t row, std::uint64_t col,
               const double* x, std::size_t count) {
             const double grid =
                 std::lower_bound(
                     grids.begin(), grids.end(),
                     std::make_pair(row, -std::numeric_limits<double>::infinity()))
                     ->second;
             form_run& r = out.runs[slot];
             r = run_of_terms(grid, x, count);
             r.row = row;
             r.col = col;
           });
}

// Whether the piece holds any of the step's rows.
bool holds_rows(const form_step& s, const row_block& a, const row_block* b) {
  const auto held = [&](std::uint64_t g) {
    std::size_t l;
    return local_row(a, b, g, l);
  };
  return std::any_of(s.rows.begin(), s.rows.end(), held) ||
         std::any_of(s.replays.begin(), s.replays.end(), held);
}

error piece_of(const form_step& s, const row_block& a, const row_block* b,
               const piece_workers& w, form_partial& out) {
  // Only the diagonals estimate; only the pieces of a row give its terms.
  const bool diagonal = s.type == form_step_type::estimates ||
                        s.type == form_step_type::moments;
  if (diagonal ? b != nullptr
               : s.type != form_step_type::round && !holds_rows(s, a, b))
    return error::none;
  if (s.type == form_step_type::moments) {
    out.segments.push_back(moments_of(
        a.first, a.rows.rows, a.rows.cols,
        [&](std::size_t k, std::size_t c) { return row_at(a.rows, k)[c]; }));
    return error::none;
  }
  if (s.type == form_step_type::records) {
    piece_runs(s, a, b, w, out);
    form_step replays;
    replays.t = s.t;
    replays.rows = s.replays;
    piece_terms(replays, a, b, w, out);
    return w.control.cancelled() ? error::cancelled : error::none;
  }
  if (s.type == form_step_type::terms) {
    piece_terms(s, a, b, w, out);
    return w.control.cancelled() ? error::cancelled : error::none;
  }
  const packed p = stacked(a, b);
  const std::size_t na = a.rows.rows;
  if (s.type == form_step_type::estimates) {
    form_segment seg;
    seg.row = a.first;
    seg.x.resize(na);
    seg.y.resize(na);
    std::atomic<std::size_t> at{0};
    std::vector<char> none(engine_threads(w.threads));
    on_threads(engine_threads(w.threads), counting(na, at), w, none,
               [&](char&, std::size_t i) {
                 estimate_row(s, [&](std::size_t c) { return value(p, i, c); },
                              seg.x[i], seg.y[i]);
               });
    out.segments.push_back(std::move(seg));
  } else if (s.type == form_step_type::round) {
    std::vector<double> grids(p.padded(), 1.0);
    for (std::size_t k = 0; k < p.n; ++k)
      grids[k] = s.grids[k < na ? a.first + k : b->first + (k - na)];
    std::atomic<std::size_t> at{0};
    const std::size_t first = b ? na / panel_width : 0;
    const row_sums r = round_set(s, p, grids, first,
                                 counting((na + 7) / panel_width, at), w);
    out.segments.push_back(segment_of(a.first, r, 0, na));
    if (b) out.segments.push_back(segment_of(b->first, r, na, p.n - na));
  }
  return w.control.cancelled() ? error::cancelled : error::none;
}

error check_piece(const form_step& s, const row_block& a, const row_block* b) {
  if (a.first % panel_width != 0 || a.first + a.rows.rows > s.n)
    return error::bad_buffer;
  if ((s.type == form_step_type::estimates ||
       s.type == form_step_type::moments) &&
      a.rows.cols != s.cols)
    return error::columns_differ;
  if (!b) return error::none;
  if (b->first % panel_width != 0 || a.rows.rows % panel_width != 0 ||
      b->first < a.first + a.rows.rows || b->first + b->rows.rows > s.n)
    return error::bad_buffer;
  return a.rows.cols == b->rows.cols ? error::none : error::columns_differ;
}

// Packed: the units next hands out, each thread's results kept apart.
void packed_units(const form_step& f, const packed& s, const unit_source& next,
                  const piece_workers& w, form_partial& out) {
  const unsigned threads = engine_threads(w.threads);
  struct mine {
    std::vector<form_segment> segments;
    std::vector<form_record> records;
    std::vector<double> row;
  };
  std::vector<mine> got(threads);
  const isa set = selected_isa().chosen;
  on_threads(threads, next, w, got, [&](mine& m, std::size_t u) {
    form_segment seg;
    if (f.type == form_step_type::moments) {
      const std::size_t first = u * panel_width;
      seg = moments_of(first, std::min(panel_width, s.n - first), s.cols,
                       [&](std::size_t k, std::size_t c) {
                         return value(s, first + k, c);
                       });
    } else if (f.type == form_step_type::estimates) {
      seg.row = u * panel_width;
      const std::size_t rows = std::min(panel_width, s.n - seg.row);
      seg.x.resize(rows);
      seg.y.resize(rows);
      for (std::size_t r = 0; r < rows; ++r)
        estimate_row(
            f, [&](std::size_t c) { return value(s, seg.row + r, c); },
            seg.x[r], seg.y[r]);
    } else if (f.type == form_step_type::records && u < f.rows.size()) {
      doubtful_row d{f.rows[u], {f.grids[u], 0.0, 0.0}};
      m.row.resize(s.padded());
      recompute(set, s, f.t, d, m.row);
      m.records.push_back({d.row, d.record});
      return;
    } else {
      // terms, or a records step's replays after its rows
      const std::uint64_t row = f.type == form_step_type::records
                                    ? f.replays[u - f.rows.size()]
                                    : f.rows[u];
      m.row.resize(s.padded());
      kernels_for(set).rows(s, {row, 1}, f.t, m.row.data(), s.padded());
      seg.row = row;
      seg.x.assign(m.row.begin(), m.row.begin() + s.n);
    }
    m.segments.push_back(std::move(seg));
  });
  for (mine& m : got) {
    for (form_segment& seg : m.segments) out.segments.push_back(std::move(seg));
    out.records.insert(out.records.end(), m.records.begin(), m.records.end());
  }
}

}  // namespace

namespace detail {

form_run run_of_terms(double grid, const double* terms, std::size_t count) {
  form_run r;
  r.count = count;
  // Most runs have no tie: the kernels' record says so (a tie makes its
  // odd +-u), and gives their total, whose units' parity is the parity
  // after the run. An infinite record may hide ties: walked, as are runs
  // with ties.
  const grid_record fast =
      kernels_for(selected_isa().chosen).record(grid, terms, count);
  if (fast.sum < grid && fast.odd == 0.0) {
    r.total = fast.sum;
    r.trail = grid > 0x1p-1022 &&
              (static_cast<std::uint64_t>(fast.sum / (grid * 0x1p-52)) & 1);
    return r;
  }
  walk_run(grid, terms, r);
  return r;
}

void walk_run(double grid, const double* terms, form_run& r) {
  const std::size_t count = r.count;
  const double half = tie_of(grid);
  bool parity = false;
  for (std::size_t k = 0; k < count; ++k) {
    const double d = terms[k];
    const double z = d + grid;  // the rounding's parity in its last bit
    const double a = z - grid;
    const double f = d - a;
    r.total += a;
    const double off = std::fabs(f);
    r.most = off > r.most ? off : r.most;  // a NaN never taken
    if (off != half) {
      parity ^= (std::bit_cast<std::uint64_t>(z) & 1) != 0;
      continue;
    }
    const int move = f > 0.0 ? 1 : -1;
    if (!r.seen) {
      r.seen = true;
      r.pre = parity;
      r.first = move;
    } else if (parity) {
      r.moves += move;
    }
    parity = false;  // after a tie the count is even
  }
  r.trail = parity;
}

bool record_of_runs(double grid, std::size_t n,
                    const std::vector<const form_run*>& runs,
                    grid_record& out) {
  const double inf = std::numeric_limits<double>::infinity();
  double total = 0.0, most = 0.0;
  std::uint64_t col = 0;
  for (const form_run* r : runs) {
    if (r->col != col || r->count > n - col) return false;
    col += r->count;
    total += r->total;  // exact below grid, and at or above it either way
    most = r->most > most ? r->most : most;
  }
  if (col != n) return false;
  const double u = grid * 0x1p-52;
  out = {grid, inf, 0.0};
  if (!(total < grid)) return true;
  out.sum = total;
  if (!(most >= tie_of(grid))) return true;
  // The ties walked from an even start, run after run.
  bool parity = false, seen = false;
  int first = 0;
  std::int64_t moves = 0;
  for (const form_run* r : runs) {
    if (!r->seen) {
      parity ^= r->trail;
      continue;
    }
    const bool odd = parity != r->pre;
    if (!seen) first = odd ? -r->first : r->first;
    seen = true;
    if (odd) moves += r->first;
    moves += r->moves;
    parity = r->trail;
  }
  const double even = total + static_cast<double>(moves) * u;
  if (!(even < grid)) {
    out.sum = inf;
    return true;
  }
  out = {grid, even, first * u};
  return true;
}

}  // namespace detail

error form_bands(const engine_bytes& step, const packed_samples& s,
                 const unit_source& next, const piece_workers& w,
                 engine_bytes& out) noexcept {
  if (engine_ready() != error::none) return error::unsupported_isa;
  return engine_guarded([&] {
    form_step f;
    if (!read_step(step, f) || f.n != s.n) return error::bad_buffer;
    form_partial p;
    p.type = f.type;
    if (f.type == form_step_type::round) {
      std::vector<double> grids(s.padded(), 1.0);
      std::copy(f.grids.begin(), f.grids.end(), grids.begin());
      p.segments.push_back(
          segment_of(0, round_set(f, s, grids, 0, next, w), 0, s.n));
    } else {
      if (f.cols != s.cols && (f.type == form_step_type::estimates ||
                               f.type == form_step_type::moments))
        return error::columns_differ;
      packed_units(f, s, next, w, p);
    }
    if (w.control.cancelled()) return error::cancelled;
    out = write_partial(p);
    return error::none;
  });
}

error form_piece(const engine_bytes& step, const row_block& a,
                 const row_block* b, const piece_workers& w,
                 engine_bytes& out) noexcept {
  if (engine_ready() != error::none) return error::unsupported_isa;
  return engine_guarded([&] {
    form_step s;
    if (!read_step(step, s)) return error::bad_buffer;
    if (const error e = check_piece(s, a, b); e != error::none) return e;
    form_partial p;
    p.type = s.type;
    const error e = piece_of(s, a, b, w, p);
    if (e == error::none) out = write_partial(p);
    return e;
  });
}

form_units form_step_units(const engine_bytes& step,
                           const packed_samples& s) noexcept {
  form_units u;
  u.status = engine_guarded([&] {
    form_step f;
    if (!read_step(step, f) || f.n != s.n) return error::bad_buffer;
    const bool bands = f.type == form_step_type::estimates ||
                       f.type == form_step_type::moments ||
                       f.type == form_step_type::round;
    if (bands && f.type != form_step_type::round && f.cols != s.cols)
      return error::columns_differ;
    u.units = bands ? s.count() : f.rows.size() + f.replays.size();
    u.pairs = f.type == form_step_type::round;
    return error::none;
  });
  return u;
}

}  // namespace kernel_width
