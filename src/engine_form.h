// form's steps and partial results as the engine's bytes carry them
// (engine_sums.h), for the pieces and the driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "exact_sum.h"
#include "kernel_width/engine_sums.h"
#include "kernels.h"

namespace kernel_width::detail {

enum class form_step_type : std::uint64_t {
  estimates = 0,  // each row's sum estimated from 64 samples
  round = 1,      // every pair rounded to its rows' grids
  records = 2,    // doubtful rows' terms again, in order, as records
  terms = 3,      // rows' terms, to be summed again
  moments = 4,    // each block's column sums and squares about its mean
};

struct form_step {
  form_step_type type = form_step_type::round;
  std::uint64_t n = 0;
  terms t;
  // estimates: m samples of `cols` values, row-major; the data's centre,
  // and the sum of every sample's squared distance to it. moments: cols.
  std::uint64_t cols = 0;
  std::vector<double> samples;
  std::vector<double> centre;
  double spread = 0.0;
  std::vector<double> grids;       // round: n; records: one per row
  std::vector<std::uint64_t> rows;  // records, terms
  // records: rows whose terms come too, for a driver that will likely sum
  // them again, in the same round.
  std::vector<std::uint64_t> replays;
};

engine_bytes write_step(const form_step& s);
bool read_step(const engine_bytes& bytes, form_step& out);

// A run of rows' values: estimates (x: estimate, y: squared sums), rounded
// sums (x: sum, y: largest error), or a row's terms from column `col` on
// (x only); or the moments of rows row..row+col-1 (x: each column's sum,
// y: its squared distances to the rows' mean, added up).
struct form_segment {
  std::uint64_t row = 0;
  std::uint64_t col = 0;
  std::vector<double> x;
  std::vector<double> y;
};

struct form_record {
  std::uint64_t row = 0;
  grid_record record;
};

// A run of a row's terms, columns col..col+count-1, as a piece holding
// only part of the row sums it for its record (records only): the terms
// rounded to the row's grid and added up (exact below the grid), the
// largest rounding error, and the ties walked from an even start: the
// parity of the roundings before the first tie (pre) and the first tie's
// move, the moves of the later ones, and the parity after the last tie
// (or of every rounding, without a tie). Runs in column order make the
// row's record (record_of_runs), bit for bit the kernels' record.
struct form_run {
  std::uint64_t row = 0;
  std::uint64_t col = 0;
  std::uint64_t count = 0;
  double total = 0.0;
  double most = 0.0;
  bool seen = false;
  bool pre = false;
  bool trail = false;
  int first = 0;
  std::int64_t moves = 0;
};

struct form_partial {
  form_step_type type = form_step_type::round;
  std::vector<form_segment> segments;  // records: the replays' terms
  std::vector<form_record> records;  // records only
  std::vector<form_run> runs;        // records only
};

// The run of terms[0..count) on grid.
form_run run_of_terms(double grid, const double* terms, std::size_t count);
// The same term by term, into r (its count set): for runs with ties.
void walk_run(double grid, const double* terms, form_run& r);

// A row's record on grid from its runs, which must be in column order and
// tile the row's n columns; false when they do not.
bool record_of_runs(double grid, std::size_t n,
                    const std::vector<const form_run*>& runs,
                    grid_record& out);

engine_bytes write_partial(const form_partial& p);
bool read_partial(const engine_bytes& bytes, form_partial& out);
bool read_partial(engine_span bytes, form_partial& out);

}  // namespace kernel_width::detail
