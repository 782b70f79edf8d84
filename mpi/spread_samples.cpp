#include "spread_samples.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "messages.h"
#include "ranks.h"
#include "samples.h"  // shown_name

using kernel_width::packed_samples;

namespace {

// Rank 0's samples into each machine's shared copy, which every rank then
// reads.
void send_to_machines(packed_samples& s, const shared_samples& shared) {
  double* to = shared.values();
  if (root()) {
    std::copy(s.panels.begin(), s.panels.end(), to);
    std::vector<double>().swap(s.panels);
  }
  if (shared.firsts != MPI_COMM_NULL)
    broadcast(to, s.stored() * sizeof(double), shared.firsts);
  MPI_Barrier(shared.machine);  // the copy is whole before any rank reads
  s.view = to;
}

}  // namespace

int spread_samples(const char* program, const options& opts,
                   std::optional<packed_samples> read, packed_samples& s,
                   shared_samples& shared) {
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
  s.n = got.n;
  s.cols = got.cols;
  if (share_on_machines(s.stored(), shared)) {
    send_to_machines(s, shared);
    return step_ok;
  }
  int status = guarded([&] {
    if (!root()) s.panels.resize(s.stored());
  });
  status = agree(status);
  if (status == step_no_memory && root())
    out_of_memory(program, shown_name(opts.file),
                  s.padded() * s.cols * sizeof(double));
  if (status != step_ok) return step_failed;
  broadcast(s.panels.data(), s.panels.size() * sizeof(double));
  return step_ok;
}
