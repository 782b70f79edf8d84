#include "form_ranks.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "deal_bands.h"
#include "ranks.h"

namespace {

namespace kw = kernel_width;
using kw::engine_bytes;
using kw::packed_samples;

// Rank 0's step to every rank; an empty one ends the steps.
void spread_step(engine_bytes& step) {
  std::uint64_t size = step.size();
  broadcast(size);
  step.resize(size);
  if (size > 0) broadcast(step.data(), size);
}

// Every rank's partial result to rank 0, merged there in rank order.
int merge_on_root(const engine_bytes& mine, engine_bytes& merged) {
  std::vector<std::size_t> sizes;
  std::vector<std::uint64_t> got;
  std::vector<std::uint8_t> all;
  const std::uint64_t size = mine.size();
  int status = agree(guarded([&] {
    sizes.assign(static_cast<std::size_t>(ranks()), sizeof size);
    got.resize(root() ? sizes.size() : 0);
  }));
  if (status != step_ok) return status;
  gather_to_root(&size, sizeof size, got.data(), sizes.data());
  status = agree(guarded([&] {
    if (!root()) return;
    std::uint64_t total = 0;
    for (std::size_t p = 0; p < got.size(); ++p) {
      sizes[p] = got[p];
      total += got[p];
    }
    all.resize(total);
  }));
  if (status != step_ok) return status;
  gather_to_root(mine.data(), mine.size(), all.data(), sizes.data());
  if (!root()) return step_ok;
  std::size_t at = 0;
  for (std::size_t p = 0; p < got.size() && status == step_ok; ++p) {
    const engine_bytes one(all.begin() + static_cast<std::ptrdiff_t>(at),
                           all.begin() + static_cast<std::ptrdiff_t>(at + got[p]));
    at += got[p];
    if (p == 0) {
      merged = one;
      continue;
    }
    engine_bytes both;
    const kw::error e = kw::form_merge(merged, one, both);
    status = e == kw::error::none ? step_ok : step_no_memory;
    merged = std::move(both);
  }
  return status;
}

// One step on every rank: the units dealt to this rank on its threads
// (the pairs of a rounding step counted as they are dealt), merged on
// rank 0.
int step_on_ranks(const packed_samples& s, const kw::piece_workers& w,
                  const engine_bytes& step, engine_bytes& merged) {
  const kw::form_units u = kw::form_step_units(step, s);
  int status = agree(u.status == kw::error::none ? step_ok : step_no_memory);
  if (status != step_ok) return status;
  kw::piece_workers mine = w;
  if (!u.pairs) mine.control.done = nullptr;
  engine_bytes partial;
  const dealt d = deal_bands(
      u.units,
      [&](std::size_t b) {
        return u.pairs ? kw::band_pair_count(s, b) : std::uint64_t{1};
      },
      kw::engine_threads(w.threads),
      [&](const kw::unit_source& next) {
        const kw::error e = kw::form_bands(step, s, next, mine, partial);
        if (e != kw::error::none) status = step_no_memory;
      },
      mine.control);
  if ((status = agree(std::max(status, d.status))) != step_ok) return status;
  return merge_on_root(partial, merged);
}

// Rank 0's rows, row-major, from the packed layout (engine.h).
kw::error fetch(const packed_samples& s, const std::vector<std::uint64_t>& rows,
                std::vector<double>& out) {
  for (const std::uint64_t i : rows)
    for (std::size_t c = 0; c < s.cols; ++c)
      out.push_back(s.values()[i / kw::panel_width * s.cols * kw::panel_width +
                               c * kw::panel_width + i % kw::panel_width]);
  return kw::error::none;
}

// The byte count's stages: the second rounding step starts the variance
// pass.
void count_round(const kw::form_units& u, int& rounds) {
  if (u.pairs && rounds++ == 1) stage("variance pass");
}

// Rank 0: the driver, each step sent to every rank, then the empty one.
int drive(const packed_samples& s, const kw::piece_workers& w,
          kw::form_statistics& statistics) {
  int failed = step_ok;
  int rounds = 0;
  const kw::form_step_runner run = [&](const engine_bytes& step,
                                       engine_bytes& merged) {
    const kw::form_units u = kw::form_step_units(step, s);
    count_round(u, rounds);
    engine_bytes sent = step;
    spread_step(sent);
    failed = step_on_ranks(s, w, sent, merged);
    return failed == step_ok ? kw::error::none : kw::error::out_of_memory;
  };
  statistics = kw::form_drive(
      s.n, s.cols, run,
      [&](const std::vector<std::uint64_t>& rows, std::vector<double>& out) {
        return fetch(s, rows, out);
      },
      w, &s);
  engine_bytes none;
  spread_step(none);
  if (failed == step_ok && statistics.status == kw::error::out_of_memory)
    failed = step_no_memory;
  return failed;
}

// Another rank: the steps rank 0 sends, until the empty one.
int serve(const packed_samples& s, const kw::piece_workers& w) {
  for (int rounds = 0;;) {
    engine_bytes step;
    spread_step(step);
    if (step.empty()) return step_ok;
    count_round(kw::form_step_units(step, s), rounds);
    engine_bytes merged;
    step_on_ranks(s, w, step, merged);
  }
}

}  // namespace

int form_on_ranks(const packed_samples& s, const kw::piece_workers& w,
                  kw::form_statistics& statistics) {
  stage("mean pass");
  const int status = root() ? drive(s, w, statistics) : serve(s, w);
  return agree(status);
}
