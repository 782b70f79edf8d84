#include "sampled_width.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <queue>
#include <stdexcept>

#include "labelled_width.h"
#include "median_width.h"
#include "messages.h"
#include "sample_pairs.h"
#include "samples.h"
#include "streamed_samples.h"
#include "width_warning.h"

namespace {

namespace kw = kernel_width;
using lines = std::vector<std::pair<std::string, std::string>>;

kw::pairing pairing_of(const options& opts) {
  if (opts.second.empty()) return kw::pairing::within;
  return opts.cross ? kw::pairing::cross : kw::pairing::pooled;
}

kw::sampling sampling_of(const options& opts) {
  return {opts.sample, opts.seed, opts.confidence};
}

// The shortest text that reads back as value: "0.99", not
// "0.98999999999999999".
std::string shortest(double value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc{} ? std::string(text, end) : exact(value);
}

// The rows of x and y held whole, row-major, for the in-memory entry
// points: from standard input or a pipe, which cannot be read twice.
struct held_rows {
  std::vector<double> x, y;
  std::size_t n = 0, n_y = 0, cols = 0;
  kw::matrix_view view_x() const { return {x.data(), n, cols, 0}; }
  kw::matrix_view view_y() const { return {y.data(), n_y, cols, 0}; }
};

std::vector<double> flatten(const Table& t, std::size_t first,
                            std::size_t cols) {
  std::vector<double> values;
  values.reserve(t.size() * cols);
  for (const Row& row : t) values.insert(values.end(), row.begin() + first,
                                         row.end());
  return values;
}

// Reads the data files as the exact run does, with its messages.
std::optional<held_rows> hold_rows(const char* program, const options& opts,
                                   std::size_t first) {
  std::optional<Table> x = read_samples(program, opts, first);
  if (!x) return std::nullopt;
  held_rows h;
  h.n = x->size();
  h.cols = h.n ? x->front().size() - first : 0;
  h.x = flatten(*x, first, h.cols);
  x.reset();  // the rows twice at most while the next file is read
  if (!opts.second.empty()) {
    options second = opts;
    second.file = opts.second;
    std::optional<Table> y = read_samples(program, second, first);
    if (!y) return std::nullopt;
    h.n_y = y->size();
    const std::size_t cols_y = h.n_y ? y->front().size() - first : 0;
    if (!pairable(program, opts, {h.n, h.cols}, {h.n_y, cols_y}))
      return std::nullopt;
    h.cols = h.n ? h.cols : cols_y;
    h.y = flatten(*y, first, h.cols);
  }
  return h;
}

// What the passes over regular files give: the distance of each drawn
// pair in draw order, N and D.
struct streamed_distances {
  std::vector<double> d;
  std::size_t cols = 0, n = 0, n_y = 0;
  std::uint64_t population = 0;
  double bound = 0.0;
  kw::computed_distances sample(const kw::sampling& how) {
    return {d.data(), how, population, bound, n, n_y, cols};
  }
};

// D from both files' column ranges; NaN when the data hold a NaN. (Files
// never give infinity, which could also give a NaN distance.)
double bound_of(const scanned& x, const scanned& y) {
  if (x.nan || y.nan) return std::nan("");
  const bool none_in_x = x.min.empty();  // pooled, x without samples
  std::vector<double> low = none_in_x ? y.min : x.min;
  std::vector<double> high = none_in_x ? y.max : x.max;
  for (std::size_t c = 0; c < y.min.size() && c < low.size(); ++c) {
    low[c] = std::min(low[c], y.min[c]);
    high[c] = std::max(high[c], y.max[c]);
  }
  return kw::distance_bound(low.data(), high.data(), low.size());
}

// What the first pass over each file found; y stays empty without a
// second file.
struct scanned_files {
  scanned x, y;
};

// The first pass over each file: their samples, columns and ranges.
bool scan_files(const char* program, const options& opts, std::size_t first,
                scanned_files& f) {
  std::optional<scanned> sx = scan_samples(program, opts, first);
  if (!sx) return false;
  f.x = std::move(*sx);
  if (opts.second.empty()) return true;
  options second = opts;
  second.file = opts.second;
  std::optional<scanned> sy = scan_samples(program, second, first);
  if (!sy) return false;
  f.y = std::move(*sy);
  if (f.x.n == 0) f.x.cols = f.y.cols;
  return pairable(program, opts, {f.x.n, f.x.cols}, {f.y.n, f.y.cols});
}

// The bytes of held rows a pass may take: 32 MiB, or the value of
// KERNEL_WIDTH_SAMPLE_BUDGET (bytes; tests set it small to force several
// passes).
std::size_t row_budget() {
  const char* text = std::getenv("KERNEL_WIDTH_SAMPLE_BUDGET");
  std::size_t bytes = std::size_t{32} << 20;
  if (text) std::from_chars(text, text + std::strlen(text), bytes);
  return bytes;
}

// The first samples of the pairs, with the rank of each: a bit per index
// and the set bits before each word while that takes no more than the
// pairs themselves (n <= 64 M), else the sorted indices.
struct index_set {
  std::vector<std::uint64_t> bits, before, list;
  std::uint64_t size = 0;
  index_set(const std::vector<kw::pair_index>& pairs, std::uint64_t total) {
    if (total / 64 > pairs.size()) {
      for (const kw::pair_index& p : pairs) list.push_back(p.first);
      std::sort(list.begin(), list.end());
      list.erase(std::unique(list.begin(), list.end()), list.end());
      size = list.size();
      return;
    }
    bits.resize(total / 64 + 1);
    before.resize(total / 64 + 1);
    for (const kw::pair_index& p : pairs)
      bits[p.first / 64] |= std::uint64_t{1} << (p.first % 64);
    for (std::size_t w = 0; w < bits.size(); ++w) {
      before[w] = size;
      size += static_cast<std::uint64_t>(std::popcount(bits[w]));
    }
  }
  std::uint64_t rank(std::uint64_t i) const {
    if (bits.empty())
      return static_cast<std::uint64_t>(
          std::lower_bound(list.begin(), list.end(), i) - list.begin());
    const std::uint64_t below = (std::uint64_t{1} << (i % 64)) - 1;
    return before[i / 64] +
           static_cast<std::uint64_t>(std::popcount(bits[i / 64] & below));
  }
  // Whether i is in the set, and its rank; i increasing from call to
  // call, cursor 0 at first (the sorted list is walked, not searched).
  bool find(std::uint64_t i, std::uint64_t& cursor, std::uint64_t& r) const {
    if (bits.empty()) {
      for (; cursor < list.size() && list[cursor] < i; ++cursor) {
      }
      r = cursor;
      return cursor < list.size() && list[cursor] == i;
    }
    r = rank(i);
    return bits[i / 64] >> (i % 64) & 1;
  }
  // visit(i) for each index in increasing order.
  template <typename F>
  void each(F visit) const {
    for (const std::uint64_t i : list) visit(i);
    for (std::size_t w = 0; w < bits.size(); ++w)
      for (std::uint64_t b = bits[w]; b != 0; b &= b - 1)
        visit(w * 64 + static_cast<std::uint64_t>(std::countr_zero(b)));
  }
};

// A place for each first sample's row while it is needed: from when it
// streams by until the last of its pairs' second samples has. A place is
// reused once free, so the places used are the most rows held at one time.
std::vector<std::uint32_t> places(const std::vector<kw::pair_index>& pairs,
                                  const index_set& firsts,
                                  std::uint32_t& used) {
  if (firsts.size > UINT32_MAX) throw std::bad_alloc();  // 64 GiB of pairs
  using ending = std::pair<std::uint64_t, std::uint32_t>;  // last, rank
  std::vector<ending> ends(firsts.size);
  for (std::uint32_t r = 0; r < firsts.size; ++r) ends[r].second = r;
  for (const kw::pair_index& p : pairs) {
    ending& e = ends[firsts.rank(p.first)];
    e.first = std::max(e.first, p.second);
  }
  std::sort(ends.begin(), ends.end());
  std::vector<std::uint32_t> place(firsts.size), free;
  used = 0;
  std::size_t done = 0;  // ends[0..done) have left their places
  std::uint32_t r = 0;
  firsts.each([&](std::uint64_t i) {
    // A row whose last pair ends at i is done before row i is held.
    for (; done < ends.size() && ends[done].first <= i; ++done)
      free.push_back(place[ends[done].second]);
    if (free.empty()) {
      place[r] = used++;
    } else {
      place[r] = free.back();
      free.pop_back();
    }
    ++r;
  });
  return place;
}

// One pass: the pairs whose first sample's place is b modulo the passes
// (so that the passes share the pairs alike), the place's row at
// place / passes. Those rows are held as they stream by; a pair's
// distance is computed when its second sample (always later) streams by,
// before that row takes a place another row may have left.
struct block_pass {
  struct entry {
    std::uint64_t second, k;
    std::uint32_t row;
  };
  const std::vector<kw::pair_index>& pairs;
  const index_set& firsts;
  const std::vector<std::uint32_t>& place;
  std::uint32_t b = 0, passes = 1;
  std::size_t cols = 0;
  std::vector<double>& held;
  std::vector<double>& d;
  std::vector<entry> order;  // by second sample
  std::size_t next = 0;
  std::uint64_t least = UINT64_MAX, most = 0;  // the indices the pass needs

  std::uint64_t cursor = 0;  // for index_set::find

  std::uint32_t place_of(std::uint64_t first) const {
    return place[firsts.rank(first)];
  }
  void plan() {
    std::size_t count = 0;
    for (const kw::pair_index& p : pairs) count += place_of(p.first) % passes == b;
    order.reserve(count);
    for (std::uint64_t k = 0; k < pairs.size(); ++k) {
      const std::uint32_t p = place_of(pairs[k].first);
      if (p % passes != b) continue;
      order.push_back({pairs[k].second, k, p / passes});
      least = std::min(least, pairs[k].first);
      most = std::max(most, pairs[k].second);
    }
    std::sort(order.begin(), order.end(),
              [](const entry& a, const entry& e) { return a.second < e.second; });
  }
  void visit(std::uint64_t index, const double* row) {
    constexpr std::size_t ahead = 8;  // held rows lie far apart
    for (; next < order.size() && order[next].second == index; ++next) {
      if (next + ahead < order.size())
        __builtin_prefetch(held.data() + order[next + ahead].row * cols);
      d[order[next].k] =
          kw::pair_distance(held.data() + order[next].row * cols, row, cols);
    }
    std::uint64_t r = 0;
    if (!firsts.find(index, cursor, r) || place[r] % passes != b) return;
    std::copy(row, row + cols,
              held.begin() + static_cast<std::ptrdiff_t>(place[r] / passes * cols));
  }
};

// The passes over x's file, then y's (index n + j), as many as the budget
// needs for the places used; a file a pass needs nothing from is not read.
bool distance_passes(const char* program, const options& opts,
                     std::size_t first, const scanned_files& f,
                     const std::vector<kw::pair_index>& pairs,
                     streamed_distances& s) {
  const scanned& x = f.x;
  const index_set firsts(pairs, x.n + f.y.n);
  std::uint32_t used = 0;
  const std::vector<std::uint32_t> place = places(pairs, firsts, used);
  const std::uint32_t per_pass = static_cast<std::uint32_t>(std::clamp<std::size_t>(
      row_budget() / (8 * std::max<std::size_t>(s.cols, 1)), 1, UINT32_MAX));
  const auto passes = static_cast<std::uint32_t>(
      (std::uint64_t{used} + per_pass - 1) / per_pass);
  std::vector<double> held((std::uint64_t{used} + passes - 1) / passes * s.cols);
  options second = opts;
  second.file = opts.second;
  for (std::uint32_t b = 0; b < passes; ++b) {
    block_pass pass{pairs, firsts, place, b, passes, s.cols, held, s.d,
                    {}, 0, UINT64_MAX, 0, 0};
    pass.plan();
    const auto visit = [&pass](std::uint64_t i, const double* row) { pass.visit(i, row); };
    const auto visit_y = [&pass, &x](std::uint64_t j, const double* row) {
      pass.visit(x.n + j, row);
    };
    if (pass.least < x.n && !visit_samples(program, opts, first, x, visit))
      return false;
    if (!opts.second.empty() && pass.most >= x.n &&
        !visit_samples(program, second, first, f.y, visit_y))
      return false;
  }
  return true;
}

// The first pass, the pairs drawn, then the passes for their distances.
std::optional<streamed_distances> stream_distances(const char* program,
                                                   const options& opts,
                                                   std::size_t first) {
  scanned_files f;
  if (!scan_files(program, opts, first, f)) return std::nullopt;
  const scanned& x = f.x;
  const scanned& y = f.y;
  const kw::pairing kind = pairing_of(opts);
  streamed_distances s;
  s.n = x.n;
  s.n_y = y.n;
  s.cols = x.cols;
  bool overflow = false;
  s.population = kw::pair_count(x.n, y.n, kind, &overflow);
  s.bound = bound_of(x, y);
  if (s.population == 0 && !overflow) return s;  // no pairs: no estimate
  std::vector<kw::pair_index> pairs;
  kw::error status = kw::error::too_many_pairs;
  if (!overflow) {
    pairs.resize(opts.sample);
    status = kw::draw_pairs(x.n, y.n, kind, sampling_of(opts), pairs.data(),
                            opts.threads);
  }
  if (status == kw::error::out_of_memory) throw std::bad_alloc();
  if (status != kw::error::none) {
    fail(program, files_of(opts) + ": " + kw::describe(status));
    return std::nullopt;
  }
  s.d.resize(opts.sample);
  if (!distance_passes(program, opts, first, f, pairs, s)) return std::nullopt;
  return s;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> interval_lines(
    const kw::interval_end& low, const kw::interval_end& high,
    output_kind output, const kw::sampling& how, std::uint64_t population,
    bool quantile) {
  const auto rank = [population](const kw::interval_end& end) {
    return end.trivial || population == 0 ? std::string("none")
                                          : std::to_string(end.rank);
  };
  lines out{{"low", exact(parameter(output, low.width, low.sigma, low.gamma))},
            {"high",
             exact(parameter(output, high.width, high.sigma, high.gamma))},
            {"confidence", shortest(how.confidence)},
            {"sample", std::to_string(how.draws)},
            {"pairs", std::to_string(population)},
            {"seed", std::to_string(how.seed)}};
  if (quantile) out.push_back({"ranks", rank(low) + " " + rank(high)});
  return out;
}

namespace {

// The error a sampled run ended with, if any: its message, and status 1.
// No samples is none: the estimate is NaN, as the exact run's.
bool failed(const char* program, kw::error status, const std::string& files) {
  if (status == kw::error::none || status == kw::error::no_samples)
    return false;
  if (status == kw::error::out_of_memory)
    out_of_memory(program, files);
  else
    fail(program, files + ": " + kw::describe(status));
  return true;
}

// The warnings about the estimates' widths; false when one is an error.
bool check_estimates(const kw::sampled_selection& sel,
                     const std::vector<kw::sampled_quantile>& out,
                     const options& opts) {
  kw::selection s;  // the drawn distances, as the warnings count pairs
  s.n = sel.n;
  s.n_y = sel.n_y;
  s.columns = sel.columns;
  s.pairs = sel.population ? sel.draws : 0;
  s.nan_pairs = sel.nan ? s.pairs : 0;
  bool ok = true;
  for (const kw::sampled_quantile& q : out) {
    const kw::quantile& e = q.estimate;
    // A distance of 0 at the estimate's lower rank: that many drawn
    // distances, at least, are 0.
    const std::string why =
        e.zero_width && e.value == 0 && s.pairs > 0
            ? "at least " + std::to_string(e.lower_rank + 1) + " of the " +
                  std::to_string(s.pairs) + " drawn pairs are at distance 0"
            : quantile_width_doubt(s, e);
    if (why.empty()) continue;
    const std::string subject =
        opts.quantiles.empty() ? "the width"
                               : "the width for p = " + width_text(q.estimate.p);
    warn(median_program, width_warning(files_of(opts), q.estimate.width, why,
                                       opts.strict, subject));
    ok = ok && !opts.strict;
  }
  return ok;
}

int finish_sampled_median(const kw::sampled_selection& sel,
                          const std::vector<kw::sampled_quantile>& out,
                          const options& opts) {
  if (failed(median_program, sel.status, files_of(opts))) return 1;
  if (!check_estimates(sel, out, opts)) return 1;
  std::string text;
  for (const kw::sampled_quantile& q : out)
    text += width_text(parameter(opts.output, q.estimate.width,
                                 q.estimate.sigma, q.estimate.gamma)) +
            '\n';
  const int status = print_out(median_program, text);
  if (!opts.verbose || status != 0) return status;
  lines report_lines{{"n", std::to_string(sel.n)}};
  if (!opts.second.empty())
    report_lines.push_back({"n_y", std::to_string(sel.n_y)});
  report_lines.push_back({"columns", std::to_string(sel.columns)});
  const kw::sampling how{sel.draws, sel.seed, sel.confidence};
  for (const kw::sampled_quantile& q : out) {
    const kw::quantile& e = q.estimate;
    if (!opts.quantiles.empty()) report_lines.push_back({"p", exact(e.p)});
    report_lines.push_back(
        {opts.quantiles.empty() ? "median" : "quantile", exact(e.value)});
    for (auto& line : parameter_lines(e.width, e.sigma, e.gamma))
      report_lines.push_back(line);
    for (auto& line :
         interval_lines(q.low, q.high, opts.output, how, sel.population, true))
      report_lines.push_back(line);
  }
  report(report_lines);
  return status;
}

int finish_sampled_labelled(const kw::sampled_labelled& l,
                            const options& opts) {
  const char* const program = labelled_program;
  if (failed(program, l.status, shown_name(opts.file))) return 1;
  kw::labelled_statistics as_exact;  // what the warning looks at
  as_exact.n = l.n;
  as_exact.total = l.mean;  // 0 or not finite exactly when the mean is
  as_exact.mean = l.mean;
  as_exact.width = l.width;
  as_exact.zero_width = l.zero_width;
  const bool drawn_zero = l.zero_width && l.mean == 0 && l.n >= 2;
  if (!check_width(program, opts, l.width,
                   drawn_zero ? "every drawn distance is 0"
                              : labelled_width_doubt(as_exact)))
    return 1;
  const int status =
      print_width(program, parameter(opts.output, l.width, l.sigma, l.gamma));
  if (!opts.verbose || status != 0) return status;
  lines report_lines{{"n", std::to_string(l.n)},
                     {"columns", std::to_string(l.columns)},
                     {"mean", exact(l.mean)}};
  for (auto& line : parameter_lines(l.width, l.sigma, l.gamma))
    report_lines.push_back(line);
  const kw::sampling how{l.draws, l.seed, l.confidence};
  for (auto& line :
       interval_lines(l.low, l.high, opts.output, how, l.population, false))
    report_lines.push_back(line);
  report(report_lines);
  return status;
}

// Whether every data file can be read twice.
bool streamable(const options& opts) {
  return readable_twice(opts.file) &&
         (opts.second.empty() || readable_twice(opts.second));
}

}  // namespace

int run_sampled_median(const options& opts, std::size_t first) {
  const char* const program = median_program;
  const std::vector<double> p =
      opts.quantiles.empty() ? std::vector<double>{0.5} : opts.quantiles;
  std::vector<kw::sampled_quantile> out(p.size());
  kw::sampled_selection sel;
  try {
    if (streamable(opts)) {
      std::optional<streamed_distances> s =
          stream_distances(program, opts, first);
      if (!s) return 1;
      sel = kw::sampled_quantiles_from(s->sample(sampling_of(opts)), p.data(),
                                       p.size(), out.data());
    } else {
      const std::optional<held_rows> h = hold_rows(program, opts, first);
      if (!h) return 1;
      const kw::sample_pairs pairs =
          opts.second.empty()
              ? kw::sample_pairs(h->view_x())
              : kw::sample_pairs(h->view_x(), h->view_y(), pairing_of(opts));
      sel = kw::sampled_quantiles({pairs, sampling_of(opts)}, p.data(),
                                  p.size(), out.data(), opts.threads);
    }
  } catch (const std::bad_alloc&) {
    return out_of_memory(program, files_of(opts));
  } catch (const std::length_error&) {  // more pairs than a vector holds
    return out_of_memory(program, files_of(opts));
  }
  return finish_sampled_median(sel, out, opts);
}

int run_sampled_labelled(const options& opts, std::size_t first) {
  const char* const program = labelled_program;
  kw::sampled_labelled l;
  try {
    if (streamable(opts)) {
      std::optional<streamed_distances> s =
          stream_distances(program, opts, first);
      if (!s) return 1;
      l = kw::sampled_mean_from(s->sample(sampling_of(opts)));
    } else {
      const std::optional<held_rows> h = hold_rows(program, opts, first);
      if (!h) return 1;
      l = kw::sampled_mean(h->view_x(), 0, sampling_of(opts), opts.threads);
    }
  } catch (const std::bad_alloc&) {
    return out_of_memory(program, shown_name(opts.file));
  } catch (const std::length_error&) {
    return out_of_memory(program, shown_name(opts.file));
  }
  return finish_sampled_labelled(l, opts);
}
