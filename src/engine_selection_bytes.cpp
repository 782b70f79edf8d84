// The bytes of the selection engine's plans and partial results, and the
// checks that make a foreign or damaged buffer an error, never a read out
// of bounds.
#include <algorithm>
#include <bit>
#include <cstring>

#include "engine_selection.h"
#include "rank_sample.h"
#include "rank_select.h"

namespace kernel_width::detail {

namespace {

// Far more than a selection asks for, little enough to allocate.
constexpr std::uint64_t most_windows = 1 << 12;
constexpr std::uint64_t most_window_buckets = 1 << 16;
constexpr std::uint64_t most_buckets = 1 << 20;
constexpr std::uint64_t most_tiles = std::uint64_t{1} << 32;

// Kept values by the million: copied whole where the machine's doubles
// are already the layout's (little-endian), else one by one.
void put_values(byte_writer& out, const double* x, std::size_t count) {
  if constexpr (std::endian::native == std::endian::little) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(x);
    out.out.insert(out.out.end(), bytes, bytes + count * sizeof(double));
  } else {
    out.f64s(x, count);
  }
}

void get_values(byte_reader& in, double* x, std::size_t count) {
  if (!in.ok || static_cast<std::uint64_t>(in.end - in.at) / 8 < count) {
    in.ok = false;
    return;
  }
  if constexpr (std::endian::native == std::endian::little) {
    if (count > 0) std::memcpy(x, in.at, count * sizeof(double));
    in.at += count * sizeof(double);
  } else {
    in.f64s(x, count);
  }
}

void write_window(byte_writer& out, const window& w) {
  out.u64(w.first);
  out.u64(bits_of(w.hi));
  out.u64(static_cast<std::uint64_t>(w.shift));
  out.u64(w.keep_first);
  out.u64(w.keep_last);
  out.u64(w.room);
}

// A window in order after `after` (its last pattern; none for the first).
bool read_window(byte_reader& in, const window* after, window& w) {
  w.first = in.u64();
  const std::uint64_t last = in.u64();
  const std::uint64_t shift = in.u64();
  w.keep_first = in.u64();
  w.keep_last = in.u64();
  w.room = in.u64();
  if (!in.ok || w.first > last || last > top_pattern || shift > 63 ||
      (after && w.first <= bits_of(after->hi)))
    return false;
  w.shift = static_cast<int>(shift);
  w.lo = value_of(w.first);
  w.hi = value_of(last);
  if (w.count() > most_window_buckets) return false;
  return w.keep_first > w.keep_last || w.keep_last < w.count();
}

void write_tally(byte_writer& out, const selection_partial& r,
                 const tally& t, const std::vector<const tally*>& more) {
  out.u64(t.values);
  out.u64(t.nan);
  out.u64(t.nan_bits);
  out.u64s(t.under.data(), t.under.size());
  out.u64s(t.inside.data(), t.inside.size());
  out.u64s(t.after.data(), t.after.size());
  for (const bucket& b : t.buckets) out.u64(b.count);
  for (const bucket& b : t.buckets) out.f64(b.low);
  for (const bucket& b : t.buckets) out.f64(b.high);
  for (std::size_t j = 0; j < t.kept.size(); ++j) {
    out.u64(t.keeping[j] ? 1 : 0);
    if (r.counts_only) {
      out.u64(t.keeping[j] ? kept_wanted(r.plan.plan, t, j) : 0);
      continue;
    }
    std::size_t also = 0;
    for (const tally* m : more) also += m->kept[j].size();
    out.u64(t.kept[j].size() + also);
    put_values(out, t.kept[j].data(), t.kept[j].size());
    for (const tally* m : more)
      put_values(out, m->kept[j].data(), m->kept[j].size());
  }
}

// Whether window j's kept values are those of its kept buckets, each
// bucket's count of them.
bool kept_fits(const pass_plan& plan, const tally& t, std::size_t j) {
  const window& w = plan.windows[j];
  const kept_vector& kept = t.kept[j];
  if (kept.empty()) return true;
  std::vector<std::uint64_t> seen(w.count(), 0);
  for (const double x : kept) {
    const std::uint64_t bits = bits_of(x);
    if (bits < w.first || bits > bits_of(w.hi)) return false;
    const std::uint64_t k = (bits - w.first) >> w.shift;
    if (!w.keeps(k)) return false;
    ++seen[k];
  }
  for (std::uint64_t k = w.keep_first; k <= w.keep_last; ++k)
    if (seen[k] != t.buckets[w.base + k].count) return false;
  return true;
}

bool read_kept(byte_reader& in, const selection_partial& r, tally& t) {
  const selection_plan& p = r.plan;
  for (std::size_t j = 0; j < p.plan.windows.size(); ++j) {
    const std::uint64_t keeping = in.u64();
    const std::uint64_t size = r.counts_only ? in.u64() : in.count(8);
    if (!in.ok || keeping > 1 || (keeping == 0 && size > 0)) return false;
    t.keeping[j] = static_cast<char>(keeping);
    if (!r.counts_only) {
      t.kept[j].resize(size);
      get_values(in, t.kept[j].data(), size);
    }
    if (!in.ok) return false;
    if (keeping && (size != kept_wanted(p.plan, t, j) ||
                    size > keep_limit(p, j) || !kept_fits(p.plan, t, j)))
      return false;
  }
  return true;
}

bool read_tally(byte_reader& in, const selection_partial& r, tally& t) {
  const selection_plan& p = r.plan;
  // Its counts must be there before they are made room for.
  const std::uint64_t words = 3 + p.plan.hulls.size() +
                              2 * p.plan.windows.size() + 3 * p.plan.buckets;
  if (!in.ok || static_cast<std::uint64_t>(in.end - in.at) / 8 < words)
    return false;
  t.reset(p.plan);
  t.values = in.u64();
  t.nan = in.u64();
  t.nan_bits = in.u64();
  in.u64s(t.under.data(), t.under.size());
  in.u64s(t.inside.data(), t.inside.size());
  in.u64s(t.after.data(), t.after.size());
  for (bucket& b : t.buckets) b.count = in.u64();
  for (bucket& b : t.buckets) b.low = in.f64();
  for (bucket& b : t.buckets) b.high = in.f64();
  return in.ok && read_kept(in, r, t);
}

}  // namespace

std::size_t parts_of(const selection_plan& p) {
  return p.sample ? sample_groups : 1;
}

std::uint64_t keep_limit(const selection_plan& p, std::size_t j) {
  return p.sample ? p.most / sample_groups : p.plan.windows[j].room;
}

std::uint64_t kept_wanted(const pass_plan& plan, const tally& t,
                          std::size_t j) {
  const window& w = plan.windows[j];
  // A window of one pattern counts its values and keeps none.
  if (w.first == bits_of(w.hi) || w.keep_first > w.keep_last) return 0;
  std::uint64_t count = 0;
  for (std::uint64_t k = w.keep_first; k <= w.keep_last; ++k)
    count += t.buckets[w.base + k].count;
  return count;
}

void write_plan(selection_plan& p) {
  byte_writer out;
  out.begin(frame_kind::selection_plan);
  out.u64(p.sample ? 1 : 0);
  if (p.sample) {
    out.u64(p.tiles);
    out.u64(p.seed);
    out.u64(p.most);
    out.u64(p.count);
  }
  out.u64(p.plan.windows.size());
  for (const window& w : p.plan.windows) write_window(out, w);
  p.bytes = out.finish();
}

bool read_plan(const std::uint8_t* data, std::size_t size, selection_plan& p) {
  byte_reader in = open_frame(data, size, frame_kind::selection_plan);
  const std::uint64_t mode = in.u64();
  p.sample = mode == 1;
  if (p.sample) {
    p.tiles = in.u64();
    p.seed = in.u64();
    p.most = in.u64();
    p.count = in.u64();
    if (p.tiles > most_tiles || p.count == 0) return false;
  }
  const std::uint64_t windows = in.count(6 * 8);
  if (!in.ok || mode > 1 || windows == 0 || windows > most_windows)
    return false;
  p.plan = {};
  p.plan.windows.resize(windows);
  std::uint64_t buckets = 0;
  for (std::size_t j = 0; j < windows; ++j) {
    if (!read_window(in, j > 0 ? &p.plan.windows[j - 1] : nullptr,
                     p.plan.windows[j]))
      return false;
    buckets += p.plan.windows[j].count();
  }
  if (!in.done() || buckets > most_buckets) return false;
  plan_hulls(p.plan);
  p.bytes.assign(data, data + size);
  return true;
}

// The bytes of a partial result, so that they are made room for once.
std::size_t partial_size(const selection_partial& r,
                         const std::vector<const selection_partial*>& more) {
  const pass_plan& plan = r.plan.plan;
  std::size_t size = 16 + 8 + r.plan.bytes.size() + 16;
  for (const tally& t : r.parts) {
    size += 8 * (3 + plan.hulls.size() + 2 * plan.windows.size() +
                 3 * plan.buckets + 2 * plan.windows.size());
    if (!r.counts_only)
      for (const kept_vector& k : t.kept) size += 8 * k.size();
  }
  for (const selection_partial* m : more)
    if (!m->counts_only)
      for (const tally& t : m->parts)
        for (const kept_vector& k : t.kept) size += 8 * k.size();
  return size;
}

engine_bytes write_partial(const selection_partial& r,
                           const selection_partial* more) {
  std::vector<const selection_partial*> all;
  if (more) all.push_back(more);
  return write_partial(r, all);
}

engine_bytes write_partial(const selection_partial& r,
                           const std::vector<const selection_partial*>& more) {
  byte_writer out;
  out.out.reserve(partial_size(r, more));
  out.begin(frame_kind::selection_partial);
  out.u64(r.plan.bytes.size());
  out.out.insert(out.out.end(), r.plan.bytes.begin(), r.plan.bytes.end());
  out.u64(r.parts.size());
  out.u64(r.counts_only ? 1 : 0);
  std::vector<const tally*> others(more.size());
  for (std::size_t g = 0; g < r.parts.size(); ++g) {
    for (std::size_t m = 0; m < more.size(); ++m)
      others[m] = &more[m]->parts[g];
    write_tally(out, r, r.parts[g], others);
  }
  return out.finish();
}

bool read_partial(const engine_bytes& data, selection_partial& r) {
  return read_partial(data.data(), data.size(), r);
}

bool read_partial(const std::uint8_t* data, std::size_t size,
                  selection_partial& r) {
  byte_reader in = open_frame(data, size, frame_kind::selection_partial);
  const std::uint64_t plan_size = in.count(1);
  if (!in.ok || !read_plan(in.at, plan_size, r.plan)) return false;
  in.at += plan_size;
  if (in.u64() != parts_of(r.plan) || !in.ok) return false;
  const std::uint64_t counts_only = in.u64();
  if (!in.ok || counts_only > 1 || (counts_only && r.plan.sample))
    return false;
  r.counts_only = counts_only == 1;
  r.parts.resize(parts_of(r.plan));
  for (tally& t : r.parts)
    if (!read_tally(in, r, t)) return false;
  return in.done();
}

}  // namespace kernel_width::detail
