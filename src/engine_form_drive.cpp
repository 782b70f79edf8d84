// form's driver (engine_sums.h): both passes' steps sent to the pieces,
// their merged partial results made into the pass's exact sum, and the
// merge itself.
#include <algorithm>
#include <cmath>
#include <limits>

#include "cpu.h"
#include "engine_form.h"
#include "engine_pieces.h"
#include "form_passes.h"
#include "packed_statistics.h"
#include "same_nan.h"

namespace kernel_width {

namespace {

using namespace detail;

// The union of rounded sums: each row's sums added, its errors' largest
// kept; exact in any order on the row's grid.
std::vector<form_segment> add_up(std::vector<form_segment> all) {
  std::sort(all.begin(), all.end(),
            [](const form_segment& l, const form_segment& r) {
              return l.row < r.row;
            });
  std::vector<form_segment> out;
  for (const form_segment& s : all) {
    const std::uint64_t end = s.row + s.x.size();
    if (out.empty() || out.back().row + out.back().x.size() < s.row) {
      out.push_back({s.row, 0, {}, {}});
    }
    form_segment& u = out.back();
    const std::size_t size = std::max<std::size_t>(u.x.size(), end - u.row);
    u.x.resize(size, 0.0);
    u.y.resize(size, 0.0);
    for (std::size_t k = 0; k < s.x.size(); ++k) {
      u.x[s.row - u.row + k] += s.x[k];
      u.y[s.row - u.row + k] = std::max(u.y[s.row - u.row + k], s.y[k]);
    }
  }
  return out;
}

// The driver's state: the callers' functions and what the pieces gave.
struct drive {
  std::size_t n = 0;
  std::size_t cols = 0;
  const form_step_runner& run_step;
  const piece_workers& w;
  const packed_samples* all = nullptr;  // every sample, when the driver holds them
};

error step_of(const drive& d, const form_step& s, form_partial& out) {
  engine_bytes merged;
  if (const error e = d.run_step(write_step(s), merged); e != error::none)
    return e;
  if (d.w.control.cancelled()) return error::cancelled;
  return read_partial(merged, out) && out.type == s.type ? error::none
                                                          : error::bad_buffer;
}

// Two arrays over every row from segments that cover each row once (add
// false) or at least once, added up.
bool rows_of(std::size_t n, const std::vector<form_segment>& segments,
             bool add, std::vector<double>& x, std::vector<double>& y) {
  x.assign(n, 0.0);
  y.assign(n, 0.0);
  std::vector<char> seen(n, 0);
  for (const form_segment& s : segments) {
    if (s.row > n || s.x.size() > n - s.row) return false;
    for (std::size_t k = 0; k < s.x.size(); ++k) {
      const std::size_t i = s.row + k;
      if (seen[i] && !add) return false;
      seen[i] = 1;
      x[i] += s.x[k];
      y[i] = std::max(y[i], s.y[k]);
    }
  }
  return std::all_of(seen.begin(), seen.end(), [](char c) { return c; });
}

// Row i's n terms from its segments, which must tile 0..n-1.
bool terms_of(std::size_t n, std::uint64_t i,
              const std::vector<form_segment>& segments,
              std::vector<double>& row) {
  std::vector<const form_segment*> mine;
  for (const form_segment& s : segments)
    if (s.row == i) mine.push_back(&s);
  std::sort(mine.begin(), mine.end(),
            [](const form_segment* l, const form_segment* r) {
              return l->col < r->col;
            });
  row.clear();
  for (const form_segment* s : mine) {
    if (s->col != row.size() || s->x.size() > n - row.size()) return false;
    row.insert(row.end(), s->x.begin(), s->x.end());
  }
  return row.size() == n;
}

// The data's centre and every sample's squared distance to it, added
// up, from the blocks' moments: they set every row's estimate of its
// squared sums, so the closer they are the fewer rows a wrong grid sends
// to be summed again. false when the blocks do not tile the rows.
bool centre_of(const drive& d, std::vector<form_segment> blocks,
               std::vector<double>& centre, double& spread) {
  std::sort(blocks.begin(), blocks.end(),
            [](const form_segment& l, const form_segment& r) {
              return l.row < r.row;
            });
  centre.assign(d.cols, 0.0);
  std::uint64_t rows = 0;
  for (const form_segment& b : blocks) {
    if (b.row != rows || b.col == 0 || b.col > d.n - rows ||
        b.x.size() != d.cols)
      return false;
    rows += b.col;
    for (std::size_t c = 0; c < d.cols; ++c) centre[c] += b.x[c];
  }
  if (rows != d.n) return false;
  for (double& x : centre) x /= static_cast<double>(d.n);
  spread = 0.0;
  for (const form_segment& b : blocks) {
    const auto count = static_cast<double>(b.col);
    for (std::size_t c = 0; c < d.cols; ++c)
      spread += b.y[c] + count * square(b.x[c] / count - centre[c]);
  }
  return true;
}

// The first pass's estimates, from the data's moments and 64 samples
// spread over it.
error first_estimates(const drive& d, const form_row_fetcher& fetch,
                      std::vector<double>& estimates, std::vector<double>& q) {
  form_step s;
  s.type = form_step_type::moments;
  s.n = d.n;
  s.cols = d.cols;
  form_partial p;
  if (const error e = step_of(d, s, p); e != error::none) return e;
  if (!centre_of(d, std::move(p.segments), s.centre, s.spread))
    return error::bad_buffer;
  const std::size_t m = std::min<std::size_t>(d.n, 64);
  std::vector<std::uint64_t> rows;
  for (std::size_t j = 0; j < m; ++j) rows.push_back(j * d.n / m);
  s.type = form_step_type::estimates;
  if (const error e = fetch(rows, s.samples); e != error::none) return e;
  if (s.samples.size() != m * d.cols) return error::bad_buffer;
  if (const error e = step_of(d, s, p); e != error::none) return e;
  return rows_of(d.n, p.segments, false, estimates, q) ? error::none
                                                        : error::bad_buffer;
}

// The runs of a records step by row, each row's in column order.
struct run_index {
  std::vector<const form_run*> sorted;
  explicit run_index(const std::vector<form_run>& runs) {
    for (const form_run& r : runs) sorted.push_back(&r);
    std::sort(sorted.begin(), sorted.end(),
              [](const form_run* l, const form_run* r) {
                return l->row != r->row ? l->row < r->row : l->col < r->col;
              });
  }
  std::vector<const form_run*> of(std::uint64_t row) const {
    const auto from = std::lower_bound(
        sorted.begin(), sorted.end(), row,
        [](const form_run* r, std::uint64_t x) { return r->row < x; });
    auto to = from;
    while (to != sorted.end() && (*to)->row == row) ++to;
    return {from, to};
  }
};

// Step 3: the doubtful rows' records, made by the pieces whole, or here
// from the runs of the pieces that hold part of a row; and in the same
// step the terms of the rows in replays, into p.segments.
error records_of(const drive& d, terms t, std::vector<doubtful_row>& redo,
                 const std::vector<std::uint64_t>& replays, form_partial& p) {
  if (redo.empty() && replays.empty()) return error::none;
  form_step s;
  s.type = form_step_type::records;
  s.n = d.n;
  s.t = t;
  for (const doubtful_row& r : redo) {
    s.rows.push_back(r.row);
    s.grids.push_back(r.record.grid);
  }
  s.replays = replays;
  if (const error e = step_of(d, s, p); e != error::none) return e;
  std::sort(p.records.begin(), p.records.end(),
            [](const form_record& l, const form_record& r) {
              return l.row < r.row;
            });
  const run_index runs(p.runs);
  for (doubtful_row& r : redo) {
    const auto made = std::lower_bound(
        p.records.begin(), p.records.end(), r.row,
        [](const form_record& x, std::uint64_t row) { return x.row < row; });
    if (made != p.records.end() && made->row == r.row &&
        made->record.grid == r.record.grid) {
      r.record = made->record;
    } else if (!record_of_runs(r.record.grid, d.n, runs.of(r.row),
                               r.record)) {
      return error::bad_buffer;
    }
  }
  return error::none;
}

struct pass_out {
  double sum = 0.0;
  std::vector<double> totals;
};

// The rows that step 4 will likely sum again: those it does when each
// row's rounded total stands in for its record and its terms (the exact
// sum differs from the rounded ones by little, so it rarely leaves a
// binade elsewhere). Known before step 3, they come with its records.
std::vector<std::uint64_t> likely_replays(
    const workers& w, std::size_t n, const std::vector<double>& grids,
    const row_sums& total, std::vector<doubtful_row> redo) {
  for (doubtful_row& r : redo) r.record.sum = total.sum[r.row];
  std::vector<std::uint64_t> rows;
  settle(w, n, grids, total, redo,
         [&](std::size_t i, std::vector<double>& row) {
           rows.push_back(i);
           row.assign(n, 0.0);
           row[0] = total.sum[i];
           return true;
         });
  return rows;
}

// Rows summed again in step 4, the likely ones' terms come with step 3,
// and one step for each row beyond them.
struct replays {
  const drive& d;
  terms t;
  std::vector<std::uint64_t> likely;
  form_partial got;
  error failed = error::none;

  bool fetch(const std::vector<std::uint64_t>& rows, form_partial& out) {
    form_step s;
    s.type = form_step_type::terms;
    s.n = d.n;
    s.t = t;
    s.rows = rows;
    failed = step_of(d, s, out);
    return failed == error::none;
  }

  bool take(std::uint64_t i, std::vector<double>& row) {
    form_partial one;
    const bool known = std::binary_search(likely.begin(), likely.end(), i);
    if (!known && !fetch({i}, one)) return false;
    if (!terms_of(d.n, i, known ? got.segments : one.segments, row))
      failed = error::bad_buffer;
    return failed == error::none;
  }
};

error run_pass(const drive& d, terms t, const std::vector<double>& estimates,
               pass_out& out) {
  packed shape;
  shape.n = d.n;
  form_step s;
  s.type = form_step_type::round;
  s.n = d.n;
  s.t = t;
  s.grids = predict_grids(shape, estimates);
  s.grids.resize(d.n);
  form_partial p;
  if (const error e = step_of(d, s, p); e != error::none) return e;
  row_sums total;
  if (!rows_of(d.n, p.segments, true, total.sum, total.off))
    return error::bad_buffer;
  std::vector<doubtful_row> redo = doubtful_rows(s.grids, total, d.n);
  const workers w{selected_isa().chosen, 1, d.w.control};
  // A driver that holds every sample sums its rows again itself, as
  // form() does: a row's terms are cheaper to make than to be sent.
  if (d.all != nullptr) {
    form_partial made;
    if (const error e = records_of(d, t, redo, {}, made); e != error::none)
      return e;
    out.sum = settle(w, *d.all, t, s.grids, total, redo).sum;
    out.totals = std::move(total.sum);
    return w.control.cancelled() ? error::cancelled : error::none;
  }
  replays again{d, t, likely_replays(w, d.n, s.grids, total, redo), {}};
  if (const error e = records_of(d, t, redo, again.likely, again.got);
      e != error::none)
    return e;
  out.sum = settle(w, d.n, s.grids, total, redo,
                   [&](std::size_t i, std::vector<double>& row) {
                     return again.take(i, row);
                   })
                .sum;
  out.totals = std::move(total.sum);
  return again.failed;
}

form_statistics form_failed(std::size_t n, error status) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  return {n, 0, nan, nan, nan, status};
}

}  // namespace

form_statistics form_drive(std::size_t n, std::size_t columns,
                           const form_step_runner& run_step,
                           const form_row_fetcher& fetch_rows,
                           const piece_workers& w,
                           const packed_samples* all) noexcept {
  if (engine_ready() != error::none) return form_failed(n, error::unsupported_isa);
  if (n == 0) return form_of(0, columns, per_pair(0.0, 0), per_pair(0.0, 0));
  if (columns == 0) return form_failed(n, error::no_features);
  double mean = 0.0, variance = 0.0;
  const error e = engine_guarded([&] {
    const bool holds = all != nullptr && all->n == n && all->cols == columns;
    const drive d{n, columns, run_step, w, holds ? all : nullptr};
    std::vector<double> estimates, q;
    if (holds) {
      q = squared_sums(*all);
      estimates = distance_estimates(
          *all, q, {selected_isa().chosen, w.threads, {}});
    } else if (const error f = first_estimates(d, fetch_rows, estimates, q);
               f != error::none) {
      return f;
    }
    pass_out pass;
    if (const error f = run_pass(d, {}, estimates, pass); f != error::none)
      return f;
    mean = per_pair(pass.sum, n);
    if (w.control.cancelled()) return error::cancelled;
    const terms centred{true, mean, false};
    if (const error f = run_pass(
            d, centred, centred_estimates(q, pass.totals, mean), pass);
        f != error::none)
      return f;
    // Without a NaN distance (the mean would be NaN), a NaN comes from
    // inf - inf: the terms of infinite distances about an infinite mean.
    variance = same_nan(per_pair(pass.sum, n), mean);
    return w.control.cancelled() ? error::cancelled : error::none;
  });
  if (e != error::none) return form_failed(n, e);
  return form_of(n, columns, mean, variance);
}

error form_merge(const engine_bytes& a, const engine_bytes& b,
                 engine_bytes& out) noexcept {
  return engine_guarded([&] {
    return form_merge_all({{a.data(), a.size()}, {b.data(), b.size()}}, out);
  });
}

error form_merge_all(const std::vector<engine_span>& parts,
                     engine_bytes& out) noexcept {
  return engine_guarded([&] {
    form_partial x, y;
    if (parts.empty() || !read_partial(parts[0], x)) return error::bad_buffer;
    for (std::size_t k = 1; k < parts.size(); ++k) {
      if (!read_partial(parts[k], y) || x.type != y.type)
        return error::bad_buffer;
      for (form_segment& s : y.segments) x.segments.push_back(std::move(s));
      x.records.insert(x.records.end(), y.records.begin(), y.records.end());
      x.runs.insert(x.runs.end(), y.runs.begin(), y.runs.end());
    }
    if (x.type == form_step_type::round) x.segments = add_up(std::move(x.segments));
    out = write_partial(x);
    return error::none;
  });
}

form_width_result form_width_from(std::size_t n, std::size_t columns,
                                  double mean, double variance,
                                  matrix_view table) noexcept {
  return form_width(form_of(n, columns, mean, variance), table);
}

}  // namespace kernel_width
