// The selection engine's pieces and merges: a piece's tally (or sample)
// against a plan, from packed samples or from views of rows, and the
// exact merge of two partial results.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>
#include <stdexcept>

#include "engine_selection.h"
#include "kernel_width/engine_selection.h"
#include "kernels.h"
#include "packed.h"
#include "pair_set.h"
#include "rank_passes.h"
#include "rank_sample.h"
#include "threads.h"

namespace kernel_width {

namespace detail {

namespace {

// Where a piece's bands lie among all: its first band's number, and what
// else tells the piece apart (the other block's first row, plus one).
struct piece_place {
  std::uint64_t band = 0;
  std::uint64_t other = 0;
};

// Window j of t keeps its values when it holds all of its kept buckets',
// within its limit; else it keeps none.
void settle_kept(const selection_plan& p, tally& t, std::size_t j,
                 std::uint64_t held) {
  t.keeping[j] = held == kept_wanted(p.plan, t, j) && held <= keep_limit(p, j);
  if (!t.keeping[j]) t.kept[j] = kept_vector();
}

// A tally pass over the bands next hands out, its threads' kept values in
// one vector per window.
bool tally_piece(const pair_set& pairs, const selection_plan& p,
                 const unit_source& next, const workers& w,
                 selection_partial& out) {
  pass_result r;
  r.t.reset(p.plan);
  r.kept.assign(p.plan.windows.size(), {});
  if (!tally_bands(pairs, p.plan, next, w, r)) return false;
  tally& t = r.t;
  for (std::size_t j = 0; j < p.plan.windows.size(); ++j) {
    std::uint64_t held = 0;
    for (const kept_vector& part : r.kept[j]) held += part.size();
    t.kept[j].clear();
    settle_kept(p, t, j, held);
    if (!t.keeping[j]) continue;
    t.kept[j].reserve(held);
    for (kept_vector& part : r.kept[j]) {
      t.kept[j].insert(t.kept[j].end(), part.begin(), part.end());
      part = kept_vector();
    }
  }
  out.parts.clear();
  out.parts.push_back(std::move(t));
  return true;
}

// Band b's share of a sample's tiles, each of its 8 rows against a random
// panel (within a set, not its own), into a random group's tally.
void sample_band(const kernels& k, const pair_set& pairs,
                 const selection_plan& p, std::size_t b, piece_place at,
                 std::vector<tally>& parts) {
  const std::size_t panels = pairs.others().count();
  if (panels == 0 || (!pairs.across() && panels < 2)) return;
  std::uint64_t state = p.seed ^ ((at.band + b) * 0x9e3779b97f4a7c15) ^
                        (at.other * 0xc2b2ae3d27d4eb4f);
  const double share = static_cast<double>(p.tiles) *
                       static_cast<double>(pairs.band_pairs(b)) /
                       static_cast<double>(p.count);
  const double whole = std::floor(share);
  const double chance =
      static_cast<double>(next_random(state) >> 11) * 0x1.0p-53;
  const auto tiles =
      static_cast<std::uint64_t>(whole) + (chance < share - whole ? 1 : 0);
  for (std::uint64_t u = 0; u < tiles; ++u) {
    const std::size_t g = next_random(state) % sample_groups;
    std::size_t q = next_random(state) % panels;
    if (!pairs.across() && q == b) q = (q + 1) % panels;
    k.tally(pairs, b, {q, q + 1}, p.plan, parts[g]);
  }
}

std::vector<tally> reset_parts(const selection_plan& p) {
  std::vector<tally> parts(sample_groups);
  for (tally& t : parts) t.reset(p.plan);
  return parts;
}

// Adds b's counts to a's; a window keeps its values (a's, and b's written
// after them) as far as its limit and both keeping allow.
void merge_tally(const selection_plan& p, tally& a, tally& b,
                 bool counts_only) {
  a.merge(b);
  for (std::size_t j = 0; j < a.kept.size(); ++j) {
    const std::uint64_t held = counts_only
                                   ? kept_wanted(p.plan, a, j)
                                   : a.kept[j].size() + b.kept[j].size();
    if (!a.keeping[j] || !b.keeping[j] || held > keep_limit(p, j)) {
      a.keeping[j] = 0;
      a.kept[j] = kept_vector();
      b.kept[j] = kept_vector();
    }
  }
}

// Group g of every partial result merged into all[0] (its counts already
// added): a window keeps its values where every part kept them and their
// count is within the limit, as merges two at a time would find; else no
// part keeps any.
void settle_merged(selection_partial& x, std::vector<selection_partial>& all,
                   std::size_t g) {
  tally& t = x.parts[g];
  for (std::size_t j = 0; j < t.kept.size(); ++j) {
    bool keeping = true;
    std::uint64_t held = 0;
    for (const selection_partial& part : all) {
      keeping = keeping && part.parts[g].keeping[j];
      held += part.parts[g].kept[j].size();
    }
    if (x.counts_only) held = kept_wanted(x.plan.plan, t, j);
    if (keeping && held <= keep_limit(x.plan, j)) continue;
    t.keeping[j] = 0;
    for (selection_partial& part : all) part.parts[g].kept[j] = kept_vector();
  }
}

// A sampling pass over the bands next hands out, on w's threads.
bool sample_piece(const pair_set& pairs, const selection_plan& p,
                  const unit_source& next, const workers& w, piece_place at,
                  selection_partial& out) {
  const unsigned threads = std::max(w.threads, 1u);
  std::vector<std::vector<tally>> mine(threads);
  std::atomic<bool> failed{false};
  run_threads(threads, [&](unsigned id) {
    try {
      mine[id] = reset_parts(p);
      for (std::size_t b; !w.control.cancelled() && next(b);)
        sample_band(kernels_for(w.set), pairs, p, b, at, mine[id]);
    } catch (const std::bad_alloc&) {
      failed = true;
    }
  });
  if (failed) throw std::bad_alloc();
  if (w.control.cancelled()) return false;
  out.parts = reset_parts(p);
  for (std::size_t g = 0; g < sample_groups; ++g) {
    tally& t = out.parts[g];
    for (const std::vector<tally>& m : mine) {
      if (m.empty()) continue;  // a thread that never started
      t.merge(m[g]);
      for (std::size_t j = 0; j < t.kept.size(); ++j)
        t.kept[j].insert(t.kept[j].end(), m[g].kept[j].begin(),
                         m[g].kept[j].end());
    }
    for (std::size_t j = 0; j < t.kept.size(); ++j)
      settle_kept(p, t, j, t.kept[j].size());
  }
  return true;
}

error partial_of(const engine_bytes& plan, const pair_set& pairs,
                 const unit_source& next, const piece_workers& given,
                 piece_place at, selection_partial& r) {
  if (!read_plan(plan.data(), plan.size(), r.plan)) return error::bad_buffer;
  if (!selected_isa().ok) return error::unsupported_isa;
  const workers w{selected_isa().chosen,
                  pass_threads(pairs, given.threads), given.control};
  const bool done = r.plan.sample ? sample_piece(pairs, r.plan, next, w, at, r)
                                  : tally_piece(pairs, r.plan, next, w, r);
  return done ? error::none : error::cancelled;
}

error piece_of(const engine_bytes& plan, const pair_set& pairs,
               const unit_source& next, const piece_workers& given,
               piece_place at, engine_bytes& out) {
  selection_partial r;
  const error e = partial_of(plan, pairs, next, given, at, r);
  if (e == error::none) out = write_partial(r);
  return e;
}

template <class Compute>
error guarded(Compute compute) noexcept {
  try {
    return compute();
  } catch (const std::bad_alloc&) {
    return error::out_of_memory;
  } catch (const std::length_error&) {
    return error::out_of_memory;
  }
}

std::size_t stride_of(const matrix_view& m) {
  return m.stride == 0 ? m.cols : m.stride;
}

}  // namespace

}  // namespace detail

error selection_piece(const engine_bytes& plan, const row_block& a,
                      const row_block* b, const piece_workers& w,
                      engine_bytes& out) noexcept {
  return detail::guarded([&] {
    if (b && b->rows.cols != a.rows.cols) return error::columns_differ;
    const detail::packed rows = detail::pack(
        a.rows.data, a.rows.rows, a.rows.cols, detail::stride_of(a.rows), 0);
    detail::packed cols;
    if (b)
      cols = detail::pack(b->rows.data, b->rows.rows, b->rows.cols,
                          detail::stride_of(b->rows), 0);
    const detail::pair_set pairs{&rows, b ? &cols : nullptr};
    std::vector<std::size_t> bands(pairs.bands());
    for (std::size_t k = 0; k < bands.size(); ++k) bands[k] = k;
    std::atomic<std::size_t> taken{0};
    const detail::piece_place at{a.first / panel_width, b ? b->first + 1 : 0};
    return detail::piece_of(plan, pairs, detail::in_order(bands, taken), w,
                            at, out);
  });
}

error selection_bands(const engine_bytes& plan, const packed_samples& rows,
                      const packed_samples* cols, const unit_source& next,
                      const piece_workers& w, engine_bytes& out) noexcept {
  return detail::guarded([&] {
    const detail::pair_set pairs{&rows, cols};
    return detail::piece_of(plan, pairs, next, w, {}, out);
  });
}

error selection_bands_apart(const engine_bytes& plan,
                            const packed_samples& rows,
                            const packed_samples* cols,
                            const unit_source& next, const piece_workers& w,
                            selection_apart& out) noexcept {
  return detail::guarded([&] {
    detail::selection_partial r;
    const error e = detail::partial_of(plan, detail::pair_set{&rows, cols},
                                       next, w, {}, r);
    if (e != error::none) return e;
    if (r.plan.sample) return error::bad_buffer;
    detail::tally& t = r.parts[0];
    out.kept.assign(t.kept.size(), {});
    for (std::size_t j = 0; j < t.kept.size(); ++j) {
      out.kept[j].assign(t.kept[j].begin(), t.kept[j].end());
      t.kept[j] = detail::kept_vector();
    }
    r.counts_only = true;
    out.counts = detail::write_partial(r);
    return error::none;
  });
}

std::uint64_t selection_band_pairs(const packed_samples& rows,
                                   const packed_samples* cols,
                                   std::size_t band) noexcept {
  return detail::pair_set{&rows, cols}.band_pairs(band);
}

unsigned selection_threads(const packed_samples& rows,
                           const packed_samples* cols,
                           unsigned threads) noexcept {
  return detail::pass_threads(detail::pair_set{&rows, cols}, threads);
}

error selection_merge(const engine_bytes& a, const engine_bytes& b,
                      engine_bytes& out) noexcept {
  return detail::guarded([&] {
    detail::selection_partial x, y;
    if (!detail::read_partial(a, x) || !detail::read_partial(b, y) ||
        x.plan.bytes != y.plan.bytes || x.counts_only != y.counts_only)
      return error::bad_buffer;
    for (std::size_t g = 0; g < x.parts.size(); ++g)
      detail::merge_tally(x.plan, x.parts[g], y.parts[g], x.counts_only);
    out = detail::write_partial(x, &y);
    return error::none;
  });
}

error selection_merge_all(const std::vector<engine_span>& parts,
                          engine_bytes& out) noexcept {
  return detail::guarded([&] {
    std::vector<detail::selection_partial> all(parts.size());
    for (std::size_t k = 0; k < parts.size(); ++k)
      if (!detail::read_partial(parts[k].data, parts[k].size, all[k]) ||
          all[k].plan.bytes != all[0].plan.bytes ||
          all[k].counts_only != all[0].counts_only)
        return error::bad_buffer;
    if (all.empty()) return error::bad_buffer;
    detail::selection_partial& x = all[0];
    std::vector<const detail::selection_partial*> more;
    for (std::size_t k = 1; k < all.size(); ++k) {
      for (std::size_t g = 0; g < x.parts.size(); ++g)
        x.parts[g].merge(all[k].parts[g]);
      more.push_back(&all[k]);
    }
    for (std::size_t g = 0; g < x.parts.size(); ++g)
      detail::settle_merged(x, all, g);
    out = detail::write_partial(x, more);
    return error::none;
  });
}

error selection_counts(const engine_bytes& partial,
                       engine_bytes& counts) noexcept {
  return detail::guarded([&] {
    detail::selection_partial r;
    if (!detail::read_partial(partial, r) || r.plan.sample || r.counts_only)
      return error::bad_buffer;
    r.counts_only = true;
    counts = detail::write_partial(r);
    return error::none;
  });
}

error selection_windows(const engine_bytes& counts,
                        std::vector<std::uint8_t>& take) noexcept {
  return detail::guarded([&] {
    detail::selection_partial r;
    if (!detail::read_partial(counts, r) || !r.counts_only)
      return error::bad_buffer;
    const detail::tally& t = r.parts[0];
    take.assign(t.keeping.size(), 0);
    for (std::size_t j = 0; j < take.size(); ++j)
      take[j] = t.keeping[j] && detail::kept_wanted(r.plan.plan, t, j) > 0;
    return error::none;
  });
}

error selection_kept(const engine_bytes& partial,
                     const std::vector<std::uint8_t>& take,
                     std::vector<double>& values) noexcept {
  return detail::guarded([&] {
    detail::selection_partial r;
    if (!detail::read_partial(partial, r) || r.plan.sample || r.counts_only ||
        take.size() != r.plan.plan.windows.size())
      return error::bad_buffer;
    values.clear();
    const detail::tally& t = r.parts[0];
    for (std::size_t j = 0; j < take.size(); ++j)
      if (take[j]) values.insert(values.end(), t.kept[j].begin(), t.kept[j].end());
    return error::none;
  });
}

error selection_fill(const engine_bytes& counts,
                     const std::vector<double>& values,
                     engine_bytes& out) noexcept {
  return detail::guarded([&] {
    detail::selection_partial r;
    if (!detail::read_partial(counts, r) || !r.counts_only)
      return error::bad_buffer;
    detail::tally& t = r.parts[0];
    const std::vector<detail::window>& ws = r.plan.plan.windows;
    for (const double x : values) {
      const std::uint64_t bits = detail::bits_of(x);
      // The window whose last pattern is not below x's.
      const auto w = std::partition_point(
          ws.begin(), ws.end(),
          [bits](const detail::window& v) { return detail::bits_of(v.hi) < bits; });
      if (w == ws.end() || bits < w->first) return error::bad_buffer;
      const auto j = static_cast<std::size_t>(w - ws.begin());
      if (!t.keeping[j]) return error::bad_buffer;
      t.kept[j].push_back(x);
    }
    // Each window that keeps holds its kept buckets' count of values (the
    // reader of the result checks them bucket by bucket).
    for (std::size_t j = 0; j < ws.size(); ++j)
      if (t.keeping[j] &&
          t.kept[j].size() != detail::kept_wanted(r.plan.plan, t, j))
        return error::bad_buffer;
    r.counts_only = false;
    out = detail::write_partial(r);
    return error::none;
  });
}

}  // namespace kernel_width
