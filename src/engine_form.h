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
};

struct form_step {
  form_step_type type = form_step_type::round;
  std::uint64_t n = 0;
  terms t;
  // estimates: m samples of `cols` values, row-major; their centre, and
  // the estimated sum of every sample's squared distance to it.
  std::uint64_t cols = 0;
  std::vector<double> samples;
  std::vector<double> centre;
  double spread = 0.0;
  std::vector<double> grids;       // round: n; records: one per row
  std::vector<std::uint64_t> rows;  // records, terms
};

engine_bytes write_step(const form_step& s);
bool read_step(const engine_bytes& bytes, form_step& out);

// A run of rows' values: estimates (x: estimate, y: squared sums), rounded
// sums (x: sum, y: largest error), or a row's terms from column `col` on
// (x only).
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

struct form_partial {
  form_step_type type = form_step_type::round;
  std::vector<form_segment> segments;
  std::vector<form_record> records;  // records only
};

engine_bytes write_partial(const form_partial& p);
bool read_partial(const engine_bytes& bytes, form_partial& out);

}  // namespace kernel_width::detail
