// The sums' engine over pieces against the in-memory functions, bit for
// bit: pieces of generated data computed, merged in random order and
// grouping, and the final statistics compared; and a table of damaged
// buffers, each refused.
#include "kernel_width/engine_sums.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "cpu.h"
#include "engine_form.h"
#include "kernels.h"
#include "test_support.h"

namespace {

namespace kw = kernel_width;
using test_support::bits;
using Matrix = std::vector<double>;  // row-major

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Generated data sets: ties and repeats (test_support::samples), tight
// clusters far apart, and NaN rows.
struct Data {
  std::string what;
  std::size_t n = 0;
  std::size_t cols = 0;
  Matrix values;
};

Data generated(std::size_t n, std::size_t cols, unsigned seed, int kind) {
  Data d{"", n, cols, Matrix(n * cols)};
  const Table t = test_support::samples(n, cols, seed);
  std::mt19937_64 gen(seed);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t c = 0; c < cols; ++c) {
      double x = t[i][c];
      if (kind == 1) x = 1e6 * static_cast<double>(gen() % 3) + x * 1e-3;
      if (kind == 2 && i % 7 == 3) x = nan;
      d.values[i * cols + c] = x;
    }
  d.what = "n=" + std::to_string(n) + " cols=" + std::to_string(cols) +
           " kind=" + std::to_string(kind);
  return d;
}

std::vector<Data> data_sets() {
  std::vector<Data> out;
  for (const std::size_t n : {2u, 3u, 4u, 5u, 8u, 9u, 17u, 203u, 300u})
    for (int kind = 0; kind < 3; ++kind)
      out.push_back(generated(n, n % 3 + 1 + (n > 100 ? 4 : 0), 11 + n, kind));
  return out;
}

// Block sizes: every block but the last a multiple of 8 rows.
std::vector<std::vector<std::size_t>> splits(std::size_t n) {
  std::vector<std::vector<std::size_t>> out = {{n}};
  for (const std::size_t size : {8u, 16u, 64u}) {
    std::vector<std::size_t> blocks;
    for (std::size_t at = 0; at < n; at += size)
      blocks.push_back(std::min(size, n - at));
    out.push_back(blocks);
  }
  std::vector<std::size_t> uneven;  // 8, 24, 16, 40, 8, 24, ...
  const std::size_t sizes[] = {8, 24, 16, 40};
  for (std::size_t at = 0, k = 0; at < n; at += uneven.back(), ++k)
    uneven.push_back(std::min(sizes[k % 4], n - at));
  out.push_back(uneven);
  return out;
}

kw::row_block block(const Data& d, std::size_t first, std::size_t rows) {
  return {{d.values.data() + first * d.cols, rows, d.cols, 0}, first};
}

// Merges the parts two at a time, picked at random, until one is left.
template <class Merge>
kw::engine_bytes merge_randomly(std::vector<kw::engine_bytes> parts,
                                std::mt19937_64& gen, Merge merge) {
  while (parts.size() > 1) {
    const std::size_t i = gen() % parts.size();
    kw::engine_bytes a = std::move(parts[i]);
    parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(i));
    const std::size_t j = gen() % parts.size();
    kw::engine_bytes out;
    EXPECT_EQ(gen() % 2 ? merge(a, parts[j], out) : merge(parts[j], a, out),
              kw::error::none);
    parts[j] = std::move(out);
  }
  return parts.front();
}

// Every row block's chain of pieces: its partial result.
std::vector<kw::engine_bytes> labelled_partials(
    const Data& d, const std::vector<std::size_t>& sizes, unsigned threads) {
  std::vector<kw::engine_bytes> partials;
  const kw::piece_workers w{threads, {}};
  for (std::size_t I = 0, a0 = 0; I < sizes.size(); a0 += sizes[I++]) {
    const kw::row_block a = block(d, a0, sizes[I]);
    kw::engine_bytes state;
    EXPECT_EQ(kw::labelled_piece(nullptr, a, nullptr, w, state),
              kw::error::none);
    for (std::size_t J = I + 1, b0 = a0 + sizes[I]; J < sizes.size();
         b0 += sizes[J++]) {
      const kw::row_block b = block(d, b0, sizes[J]);
      kw::engine_bytes next;
      EXPECT_EQ(kw::labelled_piece(&state, a, &b, w, next), kw::error::none);
      state = std::move(next);
    }
    partials.push_back(std::move(state));
  }
  return partials;
}

void expect_same(const kw::labelled_statistics& got,
                 const kw::labelled_statistics& want, const std::string& what) {
  EXPECT_EQ(got.status, want.status) << what;
  EXPECT_EQ(got.n, want.n) << what;
  EXPECT_EQ(got.columns, want.columns) << what;
  EXPECT_EQ(got.pairs, want.pairs) << what;
  EXPECT_EQ(bits(got.total), bits(want.total)) << what;
  EXPECT_EQ(bits(got.mean), bits(want.mean)) << what;
  EXPECT_EQ(bits(got.width), bits(want.width)) << what;
  EXPECT_EQ(bits(got.gamma), bits(want.gamma)) << what;
  EXPECT_EQ(got.zero_width, want.zero_width) << what;
}

TEST(EngineSums, LabelledPiecesMergedAnyWayEqualLabelled) {
  std::mt19937_64 gen(42);
  for (const Data& d : data_sets()) {
    const kw::labelled_statistics want =
        kw::labelled({d.values.data(), d.n, d.cols, 0}, 0, 2);
    for (const std::vector<std::size_t>& sizes : splits(d.n))
      for (const unsigned threads : {1u, 3u}) {
        if (threads > 1 && sizes.size() > 8) continue;  // time
        const std::string what = d.what + " blocks " +
                                 std::to_string(sizes.size()) + " threads " +
                                 std::to_string(threads);
        const kw::engine_bytes merged =
            merge_randomly(labelled_partials(d, sizes, threads), gen,
                           kw::labelled_merge);
        expect_same(kw::labelled_final(merged, d.n, d.cols), want, what);
      }
  }
}

TEST(EngineSums, LabelledRowSumsOfBandsEqualLabelled) {
  for (const Data& d : data_sets()) {
    const kw::packed_samples s = kernel_width::detail::pack(
        d.values.data(), d.n, d.cols, d.cols, 0);
    std::vector<double> sums(d.n);
    // Bands handed out last first: the order never matters.
    std::size_t left = s.count();
    const kw::unit_source next = [&](std::size_t& b) {
      if (left == 0) return false;
      b = --left;
      return true;
    };
    ASSERT_EQ(kw::labelled_bands(s, next, {1, {}}, sums.data()),
              kw::error::none);
    expect_same(kw::labelled_from_rows(sums.data(), d.n, d.cols),
                kw::labelled({d.values.data(), d.n, d.cols, 0}, 0, 1), d.what);
  }
}

// Every prefix of a buffer, and every field of its frame's header and of
// its payload's first words changed, is refused; so is the right buffer
// given where another kind is expected.
template <class Use>
void expect_refused(const kw::engine_bytes& good, Use use,
                    const std::string& what) {
  ASSERT_EQ(use(good), kw::error::none) << what;
  for (std::size_t size = 0; size < good.size(); ++size)
    ASSERT_EQ(use(kw::engine_bytes(good.begin(), good.begin() + size)),
              kw::error::bad_buffer)
        << what << ": " << size << " of " << good.size() << " bytes";
  kw::engine_bytes longer = good;
  longer.push_back(0);
  EXPECT_EQ(use(longer), kw::error::bad_buffer) << what << ": a byte more";
  // Magic, version, kind, payload length: each byte changed.
  for (std::size_t at = 0; at < 16; ++at) {
    kw::engine_bytes bad = good;
    bad[at] ^= 0x40;
    EXPECT_EQ(use(bad), kw::error::bad_buffer) << what << ": byte " << at;
  }
}

// A count inside the payload (at byte `at`) made larger than the bytes
// after it hold, or one more.
template <class Use>
void expect_counts_refused(const kw::engine_bytes& good, std::size_t at,
                           Use use, const std::string& what) {
  for (const std::uint64_t count :
       {std::uint64_t{1} << 62, ~std::uint64_t{0}, std::uint64_t{1} << 20}) {
    kw::engine_bytes bad = good;
    for (int k = 0; k < 8; ++k)
      bad[at + static_cast<std::size_t>(k)] =
          static_cast<std::uint8_t>(count >> (8 * k));
    EXPECT_EQ(use(bad), kw::error::bad_buffer) << what << ": count " << count;
  }
  kw::engine_bytes more = good;
  ++more[at];
  EXPECT_EQ(use(more), kw::error::bad_buffer) << what << ": count + 1";
}

TEST(EngineSums, LabelledBuffersDamagedAreRefused) {
  const Data d = generated(20, 2, 5, 0);
  const kw::row_block a = block(d, 0, 16), b = block(d, 16, 4);
  kw::engine_bytes state, whole, tail, merged;
  ASSERT_EQ(kw::labelled_piece(nullptr, a, nullptr, {1, {}}, state),
            kw::error::none);
  ASSERT_EQ(kw::labelled_piece(&state, a, &b, {1, {}}, whole), kw::error::none);
  ASSERT_EQ(kw::labelled_piece(nullptr, b, nullptr, {1, {}}, tail),
            kw::error::none);
  const auto final_of = [&](const kw::engine_bytes& x) {
    kw::engine_bytes m;
    const kw::error e = kw::labelled_merge(x, tail, m);
    return e != kw::error::none ? e : kw::labelled_final(m, 20, 2).status;
  };
  const auto piece_from = [&](const kw::engine_bytes& x) {
    kw::engine_bytes out;
    return kw::labelled_piece(&x, a, &b, {1, {}}, out);
  };
  expect_refused(whole, final_of, "final");
  expect_refused(state, piece_from, "state");
  // Payload: block count at 16; first at 24, next at 32, rows at 40.
  expect_counts_refused(whole, 16, final_of, "blocks");
  expect_counts_refused(whole, 40, final_of, "rows");
  const struct {
    std::size_t at;
    std::uint64_t value;
    const char* what;
  } fields[] = {
      {24, 8, "first row moved"},     {24, 3, "first row unaligned"},
      {32, 19, "stopped short"},      {32, 21, "past the end"},
      {32, 2, "next before first"},   {40, 15, "a row fewer"},
  };
  for (const auto& f : fields) {
    kw::engine_bytes bad = whole;
    for (int k = 0; k < 8; ++k)
      bad[f.at + static_cast<std::size_t>(k)] =
          static_cast<std::uint8_t>(f.value >> (8 * k));
    EXPECT_EQ(final_of(bad), kw::error::bad_buffer) << f.what;
  }
  // The state of other rows, or stopped elsewhere, for this piece.
  kw::engine_bytes out;
  EXPECT_EQ(kw::labelled_piece(&tail, a, &b, {1, {}}, out), kw::error::bad_buffer);
  EXPECT_EQ(kw::labelled_piece(&whole, a, &b, {1, {}}, out), kw::error::bad_buffer);
  // Overlapping rows, and rows missing at the end.
  EXPECT_EQ(kw::labelled_merge(whole, whole, out), kw::error::bad_buffer);
  EXPECT_EQ(kw::labelled_final(whole, 20, 2).status, kw::error::bad_buffer);
  EXPECT_EQ(kw::labelled_final(whole, 16, 2).status, kw::error::bad_buffer);
  // A block after a partial one, and a diagonal given a state.
  EXPECT_EQ(kw::labelled_piece(&tail, b, &a, {1, {}}, out), kw::error::bad_buffer);
  EXPECT_EQ(kw::labelled_piece(&state, a, nullptr, {1, {}}, out),
            kw::error::bad_buffer);
}

// ---- form ----

// A step run over every piece of the split (the diagonals, and every pair
// of blocks I < J), their partial results merged at random.
kw::form_step_runner blocks_runner(const Data& d,
                                   const std::vector<std::size_t>& sizes,
                                   unsigned threads, std::mt19937_64& gen,
                                   std::size_t* steps) {
  return [&d, sizes, threads, &gen, steps](const kw::engine_bytes& step,
                                           kw::engine_bytes& merged) {
    kernel_width::detail::form_step s;
    EXPECT_TRUE(kernel_width::detail::read_step(step, s));
    ++steps[static_cast<std::size_t>(s.type)];
    std::vector<kw::engine_bytes> parts;
    const kw::piece_workers w{threads, {}};
    for (std::size_t I = 0, a0 = 0; I < sizes.size(); a0 += sizes[I++]) {
      const kw::row_block a = block(d, a0, sizes[I]);
      parts.emplace_back();
      if (const kw::error e = kw::form_piece(step, a, nullptr, w, parts.back());
          e != kw::error::none)
        return e;
      for (std::size_t J = I + 1, b0 = a0 + sizes[I]; J < sizes.size();
           b0 += sizes[J++]) {
        const kw::row_block b = block(d, b0, sizes[J]);
        parts.emplace_back();
        if (const kw::error e = kw::form_piece(step, a, &b, w, parts.back());
            e != kw::error::none)
          return e;
      }
    }
    merged = merge_randomly(std::move(parts), gen, kw::form_merge);
    return kw::error::none;
  };
}

kw::form_row_fetcher fetcher(const Data& d) {
  return [&d](const std::vector<std::uint64_t>& rows, std::vector<double>& out) {
    for (const std::uint64_t r : rows)
      out.insert(out.end(), d.values.begin() + static_cast<std::ptrdiff_t>(r * d.cols),
                 d.values.begin() + static_cast<std::ptrdiff_t>((r + 1) * d.cols));
    return kw::error::none;
  };
}

// A packed set's steps over `parts` parts, each taking every parts-th
// unit from the last one down, merged in turn.
kw::form_step_runner packed_runner(const kw::packed_samples& s, unsigned parts) {
  return [&s, parts](const kw::engine_bytes& step, kw::engine_bytes& merged) {
    const kw::form_units u = kw::form_step_units(step, s);
    if (u.status != kw::error::none) return u.status;
    for (unsigned part = 0; part < parts; ++part) {
      std::size_t left = u.units;
      std::mutex taking;
      const kw::unit_source next = [&](std::size_t& unit) {
        const std::lock_guard<std::mutex> hold(taking);
        while (left > 0 && (left - 1) % parts != part) --left;
        if (left == 0) return false;
        unit = --left;
        return true;
      };
      kw::engine_bytes out;
      if (const kw::error e = kw::form_bands(step, s, next, {2, {}}, out);
          e != kw::error::none)
        return e;
      if (part == 0) {
        merged = std::move(out);
      } else {
        kw::engine_bytes both;
        if (const kw::error e = kw::form_merge(out, merged, both);
            e != kw::error::none)
          return e;
        merged = std::move(both);
      }
    }
    return kw::error::none;
  };
}

void expect_same(const kw::form_statistics& got, const kw::form_statistics& want,
                 const std::string& what) {
  EXPECT_EQ(got.status, want.status) << what;
  EXPECT_EQ(got.n, want.n) << what;
  EXPECT_EQ(got.columns, want.columns) << what;
  EXPECT_EQ(bits(got.mean), bits(want.mean)) << what << " " << got.mean;
  EXPECT_EQ(bits(got.variance), bits(want.variance)) << what << " " << got.variance;
  EXPECT_EQ(bits(got.ratio), bits(want.ratio)) << what;
}

// Data whose running sums cross binades and whose terms tie (as in
// form_passes_test): rows summed again in order, and replays.
std::vector<Data> hard_sets() {
  std::vector<Data> out;
  const auto make = [&](const char* what, std::size_t n, std::size_t cols,
                        auto value) {
    Data d{what, n, cols, Matrix(n * cols)};
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t c = 0; c < cols; ++c) d.values[i * cols + c] = value(i, c);
    out.push_back(std::move(d));
  };
  std::mt19937_64 gen(5);
  make("grid of 1/4", 200, 1, [&](auto, auto) { return (gen() % 16) * 0.25 + 4096; });
  make("Pythagorean", 120, 2, [](auto i, auto c) { return (i * 3 + c * 4) % 12 * 1.0; });
  make("powers of two", 90, 3, [&](auto, auto) { return std::ldexp(1.0, static_cast<int>(gen() % 16)); });
  make("two points", 77, 2, [](auto i, auto) { return i % 2 ? 1.0 : 0.0; });
  make("overflowing", 40, 2, [](auto i, auto) { return i % 3 ? 1e200 : -1e200; });
  make("offset", 150, 3, [&](auto, auto) { return 1e12 + (gen() % 16) * 0.5; });
  return out;
}

// The estimates step's centre and spread (made from the pieces' moments)
// against the data's own, in long double.
void expect_centre(const Data& d, const kernel_width::detail::form_step& s) {
  const auto near = [](double got, long double want, long double scale) {
    const auto w = static_cast<double>(want);
    if (std::isnan(w)) return std::isnan(got);
    if (!std::isfinite(w)) return !std::isfinite(got);
    return std::fabs(got - w) <= 1e-10L * scale;
  };
  std::vector<long double> centre(d.cols, 0.0L);
  for (std::size_t i = 0; i < d.n; ++i)
    for (std::size_t c = 0; c < d.cols; ++c)
      centre[c] += d.values[i * d.cols + c] / static_cast<long double>(d.n);
  long double spread = 0.0L;
  for (std::size_t i = 0; i < d.n; ++i)
    for (std::size_t c = 0; c < d.cols; ++c) {
      const long double x = d.values[i * d.cols + c] - centre[c];
      spread += x * x;
    }
  ASSERT_EQ(s.centre.size(), d.cols) << d.what;
  const long double scale = std::sqrt(spread / d.n);
  for (std::size_t c = 0; c < d.cols; ++c)
    EXPECT_TRUE(near(s.centre[c], centre[c], std::fabs(centre[c]) + scale))
        << d.what << " column " << c << " " << s.centre[c];
  // Far from 0, every moment in doubles cancels: a few units of the
  // centre per sample and column.
  long double far = 0.0L;
  for (const long double c : centre) far += std::fabs(c) * 0x1p-48L * d.n * scale;
  EXPECT_TRUE(near(s.spread, spread, spread + far * 1e10L))
      << d.what << " " << s.spread << " " << static_cast<double>(spread);
}

// Estimates far off both ways, as bad guesses would be: grids so coarse
// that the rounded sums say little, more rows in doubt, and rows summed
// again that the driver did not foresee.
kw::form_step_runner misled(kw::form_step_runner run) {
  return [run](const kw::engine_bytes& step, kw::engine_bytes& merged) {
    namespace detail = kernel_width::detail;
    const kw::error e = run(step, merged);
    detail::form_partial p;
    if (e != kw::error::none || !detail::read_partial(merged, p) ||
        p.type != detail::form_step_type::estimates)
      return e;
    for (detail::form_segment& seg : p.segments)
      for (std::size_t k = 0; k < seg.x.size(); ++k) {
        const double by = (seg.row + k) % 3 == 0   ? 0x1p60
                          : (seg.row + k) % 3 == 1 ? 0x1p-12
                                                   : 1.0;
        seg.x[k] *= by;
        seg.y[k] *= by;
      }
    merged = detail::write_partial(p);
    return e;
  };
}

TEST(EngineSums, FormOverBlocksAndPackedEqualsForm) {
  std::mt19937_64 gen(7);
  std::vector<Data> sets = data_sets();
  for (Data& d : hard_sets()) sets.push_back(std::move(d));
  std::size_t steps[5] = {};
  std::size_t seen = 0;
  const auto checked = [&seen](const Data& d, kw::form_step_runner run) {
    return [&seen, &d, run](const kw::engine_bytes& step,
                            kw::engine_bytes& merged) {
      kernel_width::detail::form_step s;
      if (kernel_width::detail::read_step(step, s) &&
          s.type == kernel_width::detail::form_step_type::estimates) {
        expect_centre(d, s);
        ++seen;
      }
      return run(step, merged);
    };
  };
  for (const Data& d : sets) {
    const kw::form_statistics want =
        kw::form({d.values.data(), d.n, d.cols, 0}, 2);
    for (const std::vector<std::size_t>& sizes : splits(d.n)) {
#ifdef SANITIZED
      if (sizes.size() > 5) continue;  // the optimised build takes the rest
#else
      if (sizes.size() > 12) continue;  // time
#endif
      const kw::form_statistics got = kw::form_drive(
          d.n, d.cols, checked(d, blocks_runner(d, sizes, 2, gen, steps)),
          fetcher(d), {1, {}});
      expect_same(got, want, d.what + " blocks " + std::to_string(sizes.size()));
    }
    expect_same(kw::form_drive(d.n, d.cols,
                               misled(blocks_runner(d, splits(d.n).back(), 1,
                                                    gen, steps)),
                               fetcher(d), {1, {}}),
                want, d.what + " misled");
    const kw::packed_samples s =
        kernel_width::detail::pack(d.values.data(), d.n, d.cols, d.cols, 0);
    for (const unsigned parts : {1u, 3u})
      expect_same(kw::form_drive(d.n, d.cols, checked(d, packed_runner(s, parts)),
                                 fetcher(d), {1, {}}),
                  want, d.what + " packed " + std::to_string(parts));
    // A driver holding every sample sums the rows again itself.
    expect_same(kw::form_drive(d.n, d.cols, packed_runner(s, 3), fetcher(d),
                               {1, {}}, &s),
                want, d.what + " packed, the driver holding them");
  }
  // Doubtful rows summed again (records) and rows replayed beyond those
  // foreseen (terms) did happen, each pass rounding once, the first
  // estimating from the moments.
  EXPECT_GT(steps[2], 0u);
  EXPECT_GT(steps[3], 0u);
  EXPECT_EQ(steps[0] * 2, steps[1]);
  EXPECT_EQ(steps[0], steps[4]);
  EXPECT_GT(seen, steps[0]);
}

TEST(EngineSums, FormDriverStopsOnTheRunnersError) {
  const Data d = generated(30, 2, 3, 0);
  for (const kw::error e : {kw::error::cancelled, kw::error::out_of_memory}) {
    const kw::form_statistics got = kw::form_drive(
        d.n, d.cols,
        [e](const kw::engine_bytes&, kw::engine_bytes&) { return e; },
        fetcher(d), {1, {}});
    EXPECT_EQ(got.status, e);
    EXPECT_TRUE(std::isnan(got.mean));
  }
}

// Overwrites the 64-bit word at byte `at`.
kw::engine_bytes with_word(kw::engine_bytes b, std::size_t at,
                           std::uint64_t value) {
  for (int k = 0; k < 8; ++k)
    b[at + static_cast<std::size_t>(k)] =
        static_cast<std::uint8_t>(value >> (8 * k));
  return b;
}

TEST(EngineSums, FormBuffersDamagedAreRefused) {
  namespace detail = kernel_width::detail;
  const Data d = generated(20, 2, 9, 0);
  const kw::row_block a = block(d, 0, 16), b = block(d, 16, 4);
  detail::form_step round;
  round.type = detail::form_step_type::round;
  round.n = 20;
  round.grids.assign(20, 1.0);
  detail::form_step terms = round;
  terms.type = detail::form_step_type::terms;
  terms.grids.clear();
  terms.rows = {3, 17};
  const kw::engine_bytes round_step = detail::write_step(round);
  const kw::engine_bytes terms_step = detail::write_step(terms);
  const auto piece_of = [&](const kw::engine_bytes& step) {
    kw::engine_bytes out;
    return kw::form_piece(step, a, &b, {1, {}}, out);
  };
  expect_refused(round_step, piece_of, "round step");
  expect_refused(terms_step, piece_of, "terms step");
  // Payload: type 16, n 24, centred 32, mean 40; the rows' count 48.
  expect_counts_refused(terms_step, 48, piece_of, "rows");
  const struct {
    const kw::engine_bytes* step;
    std::size_t at;
    std::uint64_t value;
    const char* what;
  } steps[] = {
      {&round_step, 16, 5, "no such step"},
      {&round_step, 32, 2, "centred neither 0 nor 1"},
      {&round_step, 24, 21, "more rows than grids"},
      {&round_step, 24, 15, "fewer rows than grids"},
      {&terms_step, 64, 20, "a row out of range"},
      {&terms_step, 56, ~std::uint64_t{0}, "a row far out of range"},
  };
  for (const auto& s : steps)
    EXPECT_EQ(piece_of(with_word(*s.step, s.at, s.value)),
              kw::error::bad_buffer)
        << s.what;
  // Partial results: type 16, records 24, segments 32, the first one's
  // row 40, column 48, count 56.
  kw::engine_bytes partial, diagonal, rows;
  ASSERT_EQ(kw::form_piece(round_step, a, &b, {1, {}}, partial),
            kw::error::none);
  ASSERT_EQ(kw::form_piece(round_step, b, nullptr, {1, {}}, diagonal),
            kw::error::none);
  ASSERT_EQ(kw::form_piece(terms_step, a, &b, {1, {}}, rows), kw::error::none);
  const auto merge_with = [&](const kw::engine_bytes& x) {
    kw::engine_bytes out;
    return kw::form_merge(x, diagonal, out);
  };
  expect_refused(partial, merge_with, "partial");
  expect_counts_refused(partial, 24, merge_with, "records");
  expect_counts_refused(partial, 32, merge_with, "segments");
  expect_counts_refused(partial, 56, merge_with, "values");
  EXPECT_EQ(merge_with(with_word(partial, 16, 9)), kw::error::bad_buffer);
  EXPECT_EQ(merge_with(with_word(partial, 48, 8)), kw::error::bad_buffer)
      << "sums from a column on";
  EXPECT_EQ(merge_with(with_word(partial, 40, ~std::uint64_t{0} - 3)),
            kw::error::bad_buffer)
      << "rows past 2^64";
  kw::engine_bytes out;
  EXPECT_EQ(kw::form_merge(rows, diagonal, out), kw::error::bad_buffer)
      << "partial results of two steps";
  // Another kind where a form partial result is expected, and back.
  kw::engine_bytes labelled;
  ASSERT_EQ(kw::labelled_piece(nullptr, b, nullptr, {1, {}}, labelled),
            kw::error::none);
  EXPECT_EQ(kw::form_merge(labelled, diagonal, out), kw::error::bad_buffer);
  EXPECT_EQ(kw::labelled_final(diagonal, 4, 2).status, kw::error::bad_buffer);
  EXPECT_EQ(kw::form_piece(partial, a, &b, {1, {}}, out), kw::error::bad_buffer)
      << "a partial result as a step";
  // A driver given rows that do not cover every row, or a row twice.
  for (const int missing : {0, 1}) {
    const kw::form_statistics got = kw::form_drive(
        20, 2,
        [&](const kw::engine_bytes& step, kw::engine_bytes& merged) {
          kw::engine_bytes x, y;
          kw::form_piece(step, a, nullptr, {1, {}}, x);
          if (missing) {
            merged = x;
            return kw::error::none;
          }
          kw::form_piece(step, b, nullptr, {1, {}}, y);
          kw::engine_bytes xy;
          kw::form_merge(x, y, xy);
          return kw::form_merge(xy, xy, merged);
        },
        fetcher(d), {1, {}});
    EXPECT_EQ(got.status, kw::error::bad_buffer) << missing;
  }
}

}  // namespace

// A row's record from its runs, cut anywhere (inside a stretch of ties
// too), against the kernels' record of the whole row, bit for bit: terms
// on and between the grid's units (ties both ways), sums that reach the
// grid, infinities, NaN, and the grids of 2^-1022 where nothing ties.
TEST(EngineSums, FormRunsMakeTheKernelsRecord) {
  namespace d = kernel_width::detail;
  const d::kernels& k = d::kernels_for(d::selected_isa().chosen);
  std::mt19937_64 gen(11);
  const double grid = 0x1p20, u = grid * 0x1p-52;
  const std::vector<std::pair<std::string, std::function<double(std::size_t)>>>
      kinds = {
          {"ties", [&](std::size_t) { return (gen() % 9) * 0.5 * u; }},
          {"ties and not", [&](std::size_t) {
             return gen() % 3 ? (gen() % 9) * 0.5 * u : (gen() % 1000) * 0.37 * u;
           }},
          {"no ties", [&](std::size_t) { return (gen() % 1000) * 0.3 * u; }},
          {"reaching the grid", [&](std::size_t) { return grid / 40; }},
          {"infinite", [&](std::size_t i) { return i == 17 ? INFINITY : u; }},
          {"NaN", [&](std::size_t i) {
             return i == 5 ? std::numeric_limits<double>::quiet_NaN() : 1.5 * u;
           }},
      };
  for (const auto& [what, term] : kinds)
    for (const std::size_t n : {1u, 2u, 63u, 64u, 65u, 200u}) {
      std::vector<double> row(n);
      for (std::size_t i = 0; i < n; ++i) row[i] = term(i);
      for (const double g : {grid, 0x1p-1022}) {
        const d::grid_record want = k.record(g, row.data(), n);
        for (int trial = 0; trial < 20; ++trial) {
          std::vector<d::form_run> runs;
          for (std::size_t at = 0; at < n;) {
            const std::size_t count =
                trial == 0 ? n - at : std::min(n - at, 1 + gen() % 70);
            runs.push_back(d::run_of_terms(g, row.data() + at, count));
            runs.back().col = at;
            at += count;
          }
          std::vector<const d::form_run*> order;
          for (const d::form_run& r : runs) order.push_back(&r);
          d::grid_record got;
          ASSERT_TRUE(d::record_of_runs(g, n, order, got)) << what;
          EXPECT_EQ(bits(got.grid), bits(want.grid)) << what << " n " << n;
          EXPECT_EQ(bits(got.sum), bits(want.sum)) << what << " n " << n;
          EXPECT_EQ(bits(got.odd), bits(want.odd)) << what << " n " << n;
        }
      }
    }
}

// Runs that do not tile the row's columns make no record.
TEST(EngineSums, FormRunsThatDoNotTileTheRowAreRefused) {
  namespace d = kernel_width::detail;
  const double terms[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const auto run = [&](std::uint64_t col, std::size_t count) {
    d::form_run r = d::run_of_terms(0x1p20, terms, count);
    r.col = col;
    return r;
  };
  const struct {
    const char* what;
    std::vector<d::form_run> runs;
    bool tiles;
  } cases[] = {
      {"whole", {run(0, 8)}, true},
      {"two", {run(0, 3), run(3, 5)}, true},
      {"none", {}, false},
      {"one short", {run(0, 7)}, false},
      {"one long", {run(0, 3), run(3, 6)}, false},
      {"a gap", {run(0, 3), run(4, 4)}, false},
      {"an overlap", {run(0, 4), run(3, 5)}, false},
      {"out of order", {run(3, 5), run(0, 3)}, false},
  };
  for (const auto& c : cases) {
    std::vector<const d::form_run*> order;
    for (const d::form_run& r : c.runs) order.push_back(&r);
    d::grid_record got;
    EXPECT_EQ(d::record_of_runs(0x1p20, 8, order, got), c.tiles) << c.what;
  }
}
