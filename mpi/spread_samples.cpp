#include "spread_samples.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "messages.h"
#include "ranks.h"
#include "samples.h"  // shown_name

namespace detail = kernel_width::detail;

int spread_samples(const char* program, const options& opts,
                   std::optional<detail::packed> read, detail::packed& s) {
  stage("samples");
  // Rank 0's shape, or a failure that it has already printed.
  struct shape {
    std::uint64_t n = 0, cols = 0;
    int status = step_ok;
  } got;
  if (root()) {
    if (read) {
      s = std::move(*read);
      got = {s.n, s.cols, step_ok};
    } else {
      got.status = step_failed;
    }
  }
  broadcast(got);
  if (got.status != step_ok) return got.status;
  int status = guarded([&] {
    if (root()) return;
    s.n = got.n;
    s.cols = got.cols;
    s.panels.resize(std::max(s.padded() * s.cols, detail::panel_width));
  });
  status = agree(status);
  if (status == step_no_memory && root())
    out_of_memory(program, shown_name(opts.file),
                  detail::packed_bytes(s.n, s.cols));
  if (status != step_ok) return step_failed;
  broadcast(s.panels.data(), s.panels.size() * sizeof(double));
  return step_ok;
}
