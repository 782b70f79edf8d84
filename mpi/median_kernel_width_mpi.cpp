// median_kernel_width over MPI ranks: the same median and quantiles, bit
// for bit, of one data file or of two.
#include <optional>
#include <utility>

#include "median_ranks.h"
#include "median_width.h"
#include "sample_pairs.h"
#include "session.h"

namespace {

namespace kw = kernel_width;

// Two files across: the first file's panels, then the second's, in one
// packed copy that the ranks share as they share one file's.
kw::packed_samples joined(kw::packed_samples x, const kw::packed_samples& y) {
  kw::packed_samples both = std::move(x);
  both.n = both.padded() + y.n;
  both.panels.insert(both.panels.end(), y.panels.begin(), y.panels.end());
  return both;
}

std::optional<kw::packed_samples> read_pairs(const options& opts,
                                         std::size_t first,
                                         sample_layout& layout) {
  std::optional<sample_pairs_read> r =
      read_sample_pairs(median_program, opts, first);
  if (!r) return std::nullopt;
  layout.n_y = r->n_y;
  layout.across = r->across;
  layout.n_x = r->across ? r->x.n : r->x.n - r->n_y;
  if (!r->across) return std::move(r->x);
  return joined(std::move(r->x), r->y);
}

// The sets of the layout as views into s.
struct views {
  kw::packed_samples x, y;
};

views split(const kw::packed_samples& s, const sample_layout& layout) {
  views v;
  v.x.view = s.values();
  v.x.cols = s.cols;
  v.x.n = layout.across ? layout.n_x : s.n;
  if (layout.across) {
    v.y.view = s.values() + v.x.stored();
    v.y.cols = s.cols;
    v.y.n = layout.n_y;
  }
  return v;
}

int run(const kw::packed_samples& s, const sample_layout& layout,
        const shared_samples&, const kw::piece_workers& w,
        const options& opts, progress& line) {
  const views v = split(s, layout);
  const kw::selection_shape shape{
      layout.n_x, layout.n_y, s.cols,
      layout.across ? kw::pairing::cross
                    : layout.n_y > 0 ? kw::pairing::pooled
                                     : kw::pairing::within};
  median_findings f;
  const int status = median_on_ranks(v.x, layout.across ? &v.y : nullptr,
                                     shape, w, opts, f);
  line.finish();
  if (!root()) return 0;
  if (status == step_no_memory) {
    f.median.status = f.selection.status = kernel_width::error::out_of_memory;
  } else if (status != step_ok) {
    return 1;
  }
  return finish_median(f, opts);
}

}  // namespace

int main(int argc, char** argv) {
  mpi_program p{median_program, median_help, program_kind::median,
                median_reading, run, 1, run_median};
  p.read_pairs = read_pairs;
  return run_mpi_program(argc, argv, p);
}
