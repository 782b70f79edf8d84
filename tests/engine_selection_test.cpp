// The selection engine against the in-memory median and quantiles: the
// pairs cut into random pieces of blocks, the partial results merged in a
// random order and grouping, the driver's results bit for bit those of
// median() and quantiles(); and a table of damaged buffers, each refused.
#include "kernel_width/engine_selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine_selection.h"
#include "kernel_width/kernel_width.h"
#include "packed.h"
#include "rank_passes.h"

namespace {

namespace kw = kernel_width;
namespace detail = kernel_width::detail;

// Rows of generated data, row-major.
struct data_set {
  std::vector<double> values;
  std::size_t rows = 0;
  std::size_t cols = 0;
  kw::matrix_view view() const { return {values.data(), rows, cols, cols}; }
};

enum class shape { spread, ties, clusters, nan_row };

data_set generate(std::size_t rows, std::size_t cols, shape s,
                  std::mt19937_64& rng) {
  data_set d{std::vector<double>(rows * cols), rows, cols};
  std::normal_distribution<double> normal;
  std::uniform_int_distribution<int> small(0, 2);
  for (std::size_t i = 0; i < rows; ++i)
    for (std::size_t c = 0; c < cols; ++c) {
      double& v = d.values[i * cols + c];
      if (s == shape::ties)
        v = small(rng);
      else if (s == shape::clusters)
        v = static_cast<double>(i % 3) * 100 + normal(rng) * 1e-3;
      else
        v = normal(rng);
    }
  if (s == shape::nan_row && rows > 0)
    d.values[(rows / 2) * cols] = std::numeric_limits<double>::quiet_NaN();
  return d;
}

// A block of rows of one set, and its first row in the set.
struct block {
  std::size_t first = 0;
  std::size_t rows = 0;
};

// Blocks over n rows: first rows multiples of 8 (aligned), or any sizes,
// a block of one row among them.
std::vector<block> blocks_of(std::size_t n, bool aligned,
                             std::mt19937_64& rng) {
  std::vector<block> out;
  for (std::size_t at = 0; at < n;) {
    std::size_t size = aligned ? 8 * (1 + rng() % 6) : 1 + rng() % 40;
    if (!aligned && rng() % 4 == 0) size = 1;
    size = std::min(size, n - at);
    out.push_back({at, size});
    at += size;
  }
  return out;
}

kw::matrix_view rows_of(const data_set& d, block b) {
  return {d.values.data() + b.first * d.cols, b.rows, d.cols, d.cols};
}

// The engine of the test: the pieces of the pairs of a (within, or a
// stacked on y pooled) or of a against b (cross), each tallied, merged in
// a random order and grouping.
struct test_engine {
  const data_set* a = nullptr;
  const data_set* b = nullptr;  // across
  std::vector<block> a_blocks, b_blocks;
  std::mt19937_64 rng{7};
  unsigned passes = 0;
  bool drop_one = false;  // a faulty engine: a piece left out

  kw::engine_bytes piece(const kw::engine_bytes& plan, block i,
                         const block* j) {
    const kw::row_block x{rows_of(*a, i), i.first};
    const data_set& other = b ? *b : *a;
    kw::row_block y;
    if (j) y = {rows_of(other, *j), j->first};
    kw::engine_bytes out;
    const kw::piece_workers w{static_cast<unsigned>(1 + rng() % 2), {}};
    EXPECT_EQ(kw::selection_piece(plan, x, j ? &y : nullptr, w, out),
              kw::error::none);
    return out;
  }

  // Merged in random order and grouping: two at a time, or a few at once
  // (selection_merge_all).
  kw::engine_bytes merged(std::vector<kw::engine_bytes> parts) {
    while (parts.size() > 1) {
      if (rng() % 2) {
        std::shuffle(parts.begin(), parts.end(), rng);
        const std::size_t count = 2 + rng() % std::min<std::size_t>(
                                          parts.size() - 1, 5);
        std::vector<kw::engine_span> spans;
        for (std::size_t k = parts.size() - count; k < parts.size(); ++k)
          spans.push_back({parts[k].data(), parts[k].size()});
        kw::engine_bytes out;
        EXPECT_EQ(kw::selection_merge_all(spans, out), kw::error::none);
        parts.resize(parts.size() - count);
        parts.push_back(std::move(out));
        continue;
      }
      const std::size_t k = rng() % parts.size();
      std::size_t l = rng() % (parts.size() - 1);
      if (l >= k) ++l;
      kw::engine_bytes out;
      EXPECT_EQ(kw::selection_merge(parts[k], parts[l], out), kw::error::none);
      parts[std::min(k, l)] = std::move(out);
      parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(std::max(k, l)));
    }
    return parts.front();
  }

  bool pass(const kw::engine_bytes& plan, kw::engine_bytes& out) {
    ++passes;
    std::vector<kw::engine_bytes> parts;
    for (std::size_t i = 0; i < a_blocks.size(); ++i) {
      if (b) {
        for (const block& j : b_blocks)
          parts.push_back(piece(plan, a_blocks[i], &j));
        continue;
      }
      parts.push_back(piece(plan, a_blocks[i], nullptr));
      for (std::size_t l = i + 1; l < a_blocks.size(); ++l)
        parts.push_back(piece(plan, a_blocks[i], &a_blocks[l]));
    }
    std::shuffle(parts.begin(), parts.end(), rng);
    if (drop_one && parts.size() > 1) parts.pop_back();
    out = merged(std::move(parts));
    return true;
  }

  kw::selection_run run(const kw::selection_shape& s) {
    return {s, [this](const kw::engine_bytes& plan, kw::engine_bytes& out) {
              return pass(plan, out);
            }};
  }
};

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

void expect_same(const kw::median_statistics& e,
                 const kw::median_statistics& m) {
  EXPECT_EQ(e.status, m.status);
  EXPECT_EQ(e.n, m.n);
  EXPECT_EQ(e.n_y, m.n_y);
  EXPECT_EQ(e.columns, m.columns);
  EXPECT_EQ(e.pairs, m.pairs);
  EXPECT_EQ(bits(e.median), bits(m.median));
  EXPECT_EQ(bits(e.width), bits(m.width));
  EXPECT_EQ(bits(e.sigma), bits(m.sigma));
  EXPECT_EQ(bits(e.gamma), bits(m.gamma));
  EXPECT_EQ(e.zero_pairs, m.zero_pairs);
  EXPECT_EQ(e.zero_width, m.zero_width);
}

void expect_same(const kw::selection& e, const kw::selection& m) {
  EXPECT_EQ(e.status, m.status);
  EXPECT_EQ(e.n, m.n);
  EXPECT_EQ(e.n_y, m.n_y);
  EXPECT_EQ(e.columns, m.columns);
  EXPECT_EQ(e.pairs, m.pairs);
  EXPECT_EQ(e.nan_pairs, m.nan_pairs);
  EXPECT_EQ(e.zero_pairs, m.zero_pairs);
}

void expect_same(const kw::quantile& e, const kw::quantile& m) {
  EXPECT_EQ(e.lower_rank, m.lower_rank);
  EXPECT_EQ(e.upper_rank, m.upper_rank);
  for (const auto f : {&kw::quantile::lower, &kw::quantile::upper,
                       &kw::quantile::value, &kw::quantile::width,
                       &kw::quantile::sigma, &kw::quantile::gamma})
    EXPECT_EQ(bits(e.*f), bits(m.*f)) << e.p;
  EXPECT_EQ(e.zero_width, m.zero_width);
}

// The data of one case: x alone, x and y pooled, or across.
struct pairing_case {
  data_set x, y;
  kw::pairing kind = kw::pairing::within;
  data_set stacked;  // x then y, pooled

  kw::sample_pairs pairs() const {
    if (kind == kw::pairing::within) return kw::sample_pairs(x.view());
    return kw::sample_pairs(x.view(), y.view(), kind);
  }
  kw::selection_shape shape_of() const {
    return {x.rows, kind == kw::pairing::within ? 0 : y.rows, x.cols, kind};
  }
};

test_engine engine_for(const pairing_case& c, std::mt19937_64& rng) {
  test_engine e;
  e.rng.seed(rng());
  const bool cross = c.kind == kw::pairing::cross;
  e.a = c.kind == kw::pairing::pooled ? &c.stacked : &c.x;
  e.b = cross ? &c.y : nullptr;
  e.a_blocks = blocks_of(e.a->rows, true, rng);
  if (cross) e.b_blocks = blocks_of(c.y.rows, false, rng);
  return e;
}

void check_case(const pairing_case& c, std::mt19937_64& rng) {
  test_engine e = engine_for(c, rng);
  expect_same(kw::selection_median(e.run(c.shape_of())),
              kw::median(c.pairs(), 2));
  const std::vector<double> p{0.0, 0.1, 0.25, 0.5, 0.5, 0.9, 1.0};
  std::vector<kw::quantile> found(p.size()), want(p.size());
  test_engine f = engine_for(c, rng);
  expect_same(
      kw::selection_quantiles(f.run(c.shape_of()), p.data(), p.size(),
                              found.data()),
      kw::quantiles(c.pairs(), p.data(), p.size(), want.data(), 2));
  for (std::size_t k = 0; k < p.size(); ++k) expect_same(found[k], want[k]);
}

TEST(EngineSelection, PiecesMergedInAnyOrderGiveTheInMemoryResults) {
  std::mt19937_64 rng(2024);
  // 400 (more pairs than one pass keeps: sampling passes of megabytes)
  // only where the kernels are optimised, and 70 for 130 (still past a
  // 64-column tile); SampledFirstPlanAcross covers the sampling passes
  // under the sanitizers.
#ifdef SANITIZED
  const std::size_t sizes[] = {2, 3, 4, 5, 9, 17, 70};
#else
  const std::size_t sizes[] = {2, 3, 4, 5, 9, 17, 130, 400};
#endif
  for (const std::size_t n : sizes)
    for (const shape s :
         {shape::spread, shape::ties, shape::clusters, shape::nan_row})
      for (const kw::pairing kind :
           {kw::pairing::within, kw::pairing::pooled, kw::pairing::cross}) {
        if (n == 400 && kind != kw::pairing::within) continue;  // time
        SCOPED_TRACE(testing::Message()
                     << "n " << n << " shape " << static_cast<int>(s)
                     << " pairing " << static_cast<int>(kind));
        pairing_case c;
        c.kind = kind;
        c.x = generate(n, 3, s, rng);
        const std::size_t n_y = n < 10 ? 1 + rng() % 4 : n / 2 + 1;
        if (kind != kw::pairing::within) c.y = generate(n_y, 3, s, rng);
        c.stacked = c.x;
        c.stacked.values.insert(c.stacked.values.end(), c.y.values.begin(),
                                c.y.values.end());
        c.stacked.rows += c.y.rows;
        check_case(c, rng);
      }
}

// Across, more pairs than one pass keeps at once: a sampling pass first.
TEST(EngineSelection, SampledFirstPlanAcross) {
  std::mt19937_64 rng(99);
  pairing_case c;
  c.kind = kw::pairing::cross;
  c.x = generate(300, 4, shape::spread, rng);
  c.y = generate(260, 4, shape::clusters, rng);
  test_engine e = engine_for(c, rng);
  expect_same(kw::selection_median(e.run(c.shape_of())),
              kw::median(c.pairs(), 2));
  EXPECT_GE(e.passes, 3u);  // two samples, then the tally
}

// The engine that holds the samples: bands dealt to two "processes", each
// on its own threads, their partial results merged.
TEST(EngineSelection, BandsOfPackedSamples) {
  std::mt19937_64 rng(5);
  for (const std::size_t n : {2, 7, 400}) {
    const data_set x = generate(n, 5, shape::spread, rng);
    const detail::packed rows = detail::pack(x.values.data(), n, 5, 5, 0);
    // Bands 0, 2, 4, .. and 1, 3, 5, .., each on two threads.
    const auto bands = [&](const kw::engine_bytes& plan, std::size_t p) {
      std::atomic<std::size_t> next{p};
      const kw::unit_source source = [&](std::size_t& band) {
        band = next.fetch_add(2);
        return band < rows.count();
      };
      kw::engine_bytes part;
      EXPECT_EQ(
          kw::selection_bands(plan, rows, nullptr, source, {2, {}}, part),
          kw::error::none);
      return part;
    };
    kw::selection_run run{{n, 0, 5, kw::pairing::within},
                          [&](const kw::engine_bytes& plan,
                              kw::engine_bytes& out) {
                            return kw::selection_merge(bands(plan, 1),
                                                       bands(plan, 0), out) ==
                                   kw::error::none;
                          },
                          2, &rows, nullptr};
    expect_same(kw::selection_median(run), kw::median(x.view(), 2));
    // The counts merged first, then the values of the windows they keep.
    run.pass = [&](const kw::engine_bytes& plan, kw::engine_bytes& out) {
      const kw::engine_bytes part[2] = {bands(plan, 0), bands(plan, 1)};
      kw::engine_bytes counts[2], merged;
      for (std::size_t p = 0; p < 2; ++p)
        EXPECT_EQ(kw::selection_counts(part[p], counts[p]), kw::error::none);
      // The same counts apart from the start.
      std::atomic<std::size_t> next{1};
      kw::selection_apart apart;
      EXPECT_EQ(kw::selection_bands_apart(
                    plan, rows, nullptr,
                    [&](std::size_t& band) {
                      band = next.fetch_add(2);
                      return band < rows.count();
                    },
                    {2, {}}, apart),
                kw::error::none);
      EXPECT_EQ(apart.counts, counts[1]);
      EXPECT_EQ(kw::selection_merge(counts[0], counts[1], merged),
                kw::error::none);
      std::vector<std::uint8_t> take;
      EXPECT_EQ(kw::selection_windows(merged, take), kw::error::none);
      std::vector<double> values, more;
      EXPECT_EQ(kw::selection_kept(part[1], take, values), kw::error::none);
      EXPECT_EQ(kw::selection_kept(part[0], take, more), kw::error::none);
      values.insert(values.end(), more.begin(), more.end());
      EXPECT_EQ(kw::selection_fill(merged, values, out), kw::error::none);
      if (!values.empty()) {
        // One value too many, or one outside every kept window.
        kw::engine_bytes bad;
        values.push_back(values.back());
        EXPECT_EQ(kw::selection_fill(merged, values, bad),
                  kw::error::bad_buffer);
        values.back() = -1.0;
        EXPECT_EQ(kw::selection_fill(merged, values, bad),
                  kw::error::bad_buffer);
      }
      // Counts and whole partial results do not mix.
      kw::engine_bytes mixed;
      EXPECT_EQ(kw::selection_merge(counts[0], part[1], mixed),
                kw::error::bad_buffer);
      EXPECT_EQ(kw::selection_counts(counts[0], mixed), kw::error::bad_buffer);
      return true;
    };
    expect_same(kw::selection_median(run), kw::median(x.view(), 2));
  }
}

// A pass that stops, or hands back the result of another plan.
TEST(EngineSelection, StoppedOrForeignPasses) {
  std::mt19937_64 rng(3);
  const data_set x = generate(20, 2, shape::spread, rng);
  kw::selection_run run;
  run.shape = {20, 0, 2, kw::pairing::within};
  run.pass = [](const kw::engine_bytes&, kw::engine_bytes&) { return false; };
  EXPECT_EQ(kw::selection_median(run).status, kw::error::cancelled);
  test_engine e;
  e.a = &x;
  e.a_blocks = {{0, 8}, {8, 8}, {16, 4}};
  run.pass = [&](const kw::engine_bytes&, kw::engine_bytes& out) {
    detail::selection_plan p;
    p.plan = detail::zero_plan();
    detail::write_plan(p);
    return e.pass(p.bytes, out);
  };
  EXPECT_EQ(kw::selection_median(run).status, kw::error::bad_buffer);
  e.drop_one = true;
  run.pass = [&](const kw::engine_bytes& plan, kw::engine_bytes& out) {
    return e.pass(plan, out);
  };
  EXPECT_EQ(kw::selection_median(run).status, kw::error::bad_buffer);
  run.shape.columns = 0;
  EXPECT_EQ(kw::selection_median(run).status, kw::error::no_features);
}

// ---- Damaged buffers ----

// A valid plan and partial result: the first pass of a median over
// `n` samples (n = 400: the sampling pass's).
struct valid_pair {
  kw::engine_bytes plan, partial;
};

valid_pair first_pass(std::size_t n) {
  std::mt19937_64 rng(11);
  static data_set x;
  x = generate(n, 2, shape::spread, rng);
  valid_pair v;
  kw::selection_run run;
  run.shape = {n, 0, 2, kw::pairing::within};
  run.pass = [&](const kw::engine_bytes& plan, kw::engine_bytes& out) {
    v.plan = plan;
    const kw::row_block a{x.view(), 0};
    EXPECT_EQ(kw::selection_piece(plan, a, nullptr, {1, {}}, out),
              kw::error::none);
    v.partial = out;
    return false;
  };
  kw::selection_median(run);
  return v;
}

kw::error merge_alone(const kw::engine_bytes& b) {
  kw::engine_bytes out;
  return kw::selection_merge(b, b, out);
}

kw::error piece_with(const kw::engine_bytes& plan) {
  static const double row[4] = {1, 2, 3, 4};
  kw::engine_bytes out;
  return kw::selection_piece(plan, {{row, 2, 2, 2}, 0}, nullptr, {1, {}}, out);
}

// A block of no rows across, under a tally plan and a sampling one.
TEST(EngineSelection, EmptyBlocksGiveEmptyPartials) {
  for (const std::size_t n : {5, 400}) {
    const valid_pair v = first_pass(n);
    static const double row[2] = {1, 2};
    const kw::row_block a{{row, 1, 2, 2}, 0}, none{{row, 0, 2, 2}, 3};
    kw::engine_bytes part, out;
    EXPECT_EQ(kw::selection_piece(v.plan, a, &none, {1, {}}, part),
              kw::error::none);
    EXPECT_EQ(kw::selection_merge(v.partial, part, out), kw::error::none);
    EXPECT_EQ(out.size(), v.partial.size());
  }
}

TEST(EngineSelection, EveryTruncationIsRefused) {
  for (const std::size_t n : {5, 400}) {
    const valid_pair v = first_pass(n);
    ASSERT_EQ(piece_with(v.plan), kw::error::none);
    ASSERT_EQ(merge_alone(v.partial), kw::error::none);
    for (std::size_t size = 0; size < v.plan.size(); ++size)
      EXPECT_EQ(piece_with({v.plan.begin(), v.plan.begin() +
                                                static_cast<std::ptrdiff_t>(size)}),
                kw::error::bad_buffer)
          << size;
    // Every length of a small one; of the sample's (megabytes), every one
    // through its plan and first group and near its end, and a stride
    // between (each length is a copy of up to megabytes).
    const std::size_t end = v.partial.size();
    for (std::size_t size = 0; size < end;
         size += size < 4096 || end - size < 64 ? 1 : 65537)
      EXPECT_EQ(merge_alone({v.partial.begin(),
                             v.partial.begin() +
                                 static_cast<std::ptrdiff_t>(size)}),
                kw::error::bad_buffer)
          << size;
  }
}

void put64(kw::engine_bytes& b, std::size_t at, std::uint64_t x) {
  for (int k = 0; k < 8; ++k)
    b[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(x >> (8 * k));
}

TEST(EngineSelection, DamagedFieldsAreRefused) {
  const valid_pair v = first_pass(5);
  struct damage {
    const char* what;
    std::size_t at;  // byte offset
    int size;        // bytes written
    std::uint64_t value;
  };
  // Offsets: magic 0, version 4, kind 6, payload length 8, payload 16;
  // the plan: mode 16, windows 24, the first window's first, last, shift,
  // keep_first, keep_last, room from 32; the partial: the plan's length
  // at 16, the plan from 24.
  const damage plan_damages[] = {
      {"magic", 0, 1, 'k'},
      {"version", 4, 2, kw::engine_layout_version + 1},
      {"kind", 6, 2, 2},
      {"length one short", 8, 8, v.plan.size() - 16 - 1},
      {"length one over", 8, 8, v.plan.size() - 16 + 1},
      {"mode", 16, 8, 2},
      {"no windows", 24, 8, 0},
      {"inflated windows", 24, 8, 2},
      {"window ends before it starts", 32, 8, ~std::uint64_t{0} >> 2},
      {"window past +inf", 40, 8, 0x7ff0000000000001},
      {"shift", 48, 8, 64},
      {"kept bucket out of range", 64, 8, std::uint64_t{1} << 40},
  };
  for (const damage& d : plan_damages) {
    kw::engine_bytes b = v.plan;
    for (int k = 0; k < d.size; ++k)
      b[d.at + static_cast<std::size_t>(k)] =
          static_cast<std::uint8_t>(d.value >> (8 * k));
    EXPECT_EQ(piece_with(b), kw::error::bad_buffer) << d.what;
  }
  // A partial result given as a plan, a plan as a partial result.
  EXPECT_EQ(piece_with(v.partial), kw::error::bad_buffer);
  EXPECT_EQ(merge_alone(v.plan), kw::error::bad_buffer);
  // The partial's plan length inflated, and shrunk.
  for (const std::uint64_t size :
       {std::uint64_t{v.plan.size() + 1}, std::uint64_t{v.plan.size() - 1},
        ~std::uint64_t{0}}) {
    kw::engine_bytes b = v.partial;
    put64(b, 16, size);
    EXPECT_EQ(merge_alone(b), kw::error::bad_buffer) << size;
  }
}

// Partial results whose counts or kept values do not agree, rewritten
// from a valid one.
TEST(EngineSelection, InconsistentPartialsAreRefused) {
  const valid_pair v = first_pass(5);
  detail::selection_partial r;
  ASSERT_TRUE(detail::read_partial(v.partial, r));
  ASSERT_TRUE(r.parts[0].keeping[0]);
  ASSERT_EQ(r.parts[0].kept[0].size(), 10u);
  using change = void (*)(detail::selection_partial&);
  const change changes[] = {
      [](detail::selection_partial& p) { p.parts[0].keeping[0] = 0; },
      [](detail::selection_partial& p) { p.parts[0].kept[0].pop_back(); },
      [](detail::selection_partial& p) {
        p.parts[0].kept[0].push_back(p.parts[0].kept[0][0]);
      },
      [](detail::selection_partial& p) { p.parts[0].kept[0][0] = -1.0; },
      [](detail::selection_partial& p) {
        p.parts[0].kept[0][0] = std::numeric_limits<double>::quiet_NaN();
      },
      [](detail::selection_partial& p) { p.parts[0].buckets[0].count += 1; },
      [](detail::selection_partial& p) { p.parts.push_back(p.parts[0]); },
  };
  for (std::size_t k = 0; k < std::size(changes); ++k) {
    detail::selection_partial bad = r;
    changes[k](bad);
    EXPECT_EQ(merge_alone(detail::write_partial(bad)), kw::error::bad_buffer)
        << k;
  }
  // The same written back is taken.
  EXPECT_EQ(merge_alone(detail::write_partial(r)), kw::error::none);
  // Two partial results of different plans do not merge.
  const valid_pair w = first_pass(400);
  kw::engine_bytes out;
  EXPECT_EQ(kw::selection_merge(v.partial, w.partial, out),
            kw::error::bad_buffer);
  const std::vector<kw::engine_span> mixed{
      {v.partial.data(), v.partial.size()},
      {w.partial.data(), w.partial.size()}};
  EXPECT_EQ(kw::selection_merge_all(mixed, out), kw::error::bad_buffer)
      << "a merge of all at once, of partial results of two plans";
  EXPECT_EQ(kw::selection_merge_all({}, out), kw::error::bad_buffer)
      << "a merge of none";
}

}  // namespace
