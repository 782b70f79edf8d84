#include "sample_pairs.h"

#include <new>
#include <string>
#include <utility>

#include "messages.h"
#include "samples.h"

namespace {

std::size_t columns(const Table& t, std::size_t first) {
  return t.empty() ? 0 : t.front().size() - first;
}

std::optional<sample_pairs_read> read_two(const char* program,
                                          const options& opts,
                                          std::size_t first) {
  std::optional<Table> x = read_samples(program, opts, first);
  if (!x) return std::nullopt;
  options second = opts;
  second.file = opts.second;
  std::optional<Table> y = read_samples(program, second, first);
  if (!y || !pairable(program, opts, {x->size(), columns(*x, first)},
                      {y->size(), columns(*y, first)}))
    return std::nullopt;
  sample_pairs_read r;
  r.n_y = y->size();
  r.across = opts.cross;
  if (r.across) {
    r.x = pack(*x, first);
    *x = {};
    r.y = pack(*y, first);
  } else {
    for (Row& row : *y) x->push_back(std::move(row));
    *y = {};
    r.x = pack(*x, first);
  }
  return r;
}

}  // namespace

bool pairable(const char* program, const options& opts, file_size x,
              file_size y) {
  const std::string a = shown_name(opts.file);
  const std::string b = shown_name(opts.second);
  if (x.n > 0 && y.n > 0 && x.cols != y.cols) {
    fail(program, a + " has " + std::to_string(x.cols) + " columns and " + b +
                      " has " + std::to_string(y.cols) +
                      ": both files need the same columns");
    return false;
  }
  if (opts.cross && (x.n == 0 || y.n == 0)) {
    fail(program, (x.n == 0 ? a : b) +
                      ": no samples (--cross pairs the samples of both files)");
    return false;
  }
  if (opts.cross) return true;
  // Pooled: an empty file is as suspect as when it is read alone, and one
  // sample in all leaves no pairs.
  if (x.n == 0 && !few_samples(program, opts, a, "no samples")) return false;
  if (y.n == 0 && !few_samples(program, opts, b, "no samples")) return false;
  if (x.n + y.n == 1)
    return few_samples(program, opts, a + " and " + b, "one sample");
  return true;
}

std::optional<sample_pairs_read> read_sample_pairs(const char* program,
                                                   const options& opts,
                                                   std::size_t first) {
  if (opts.second.empty()) {
    auto x = read_packed(program, opts, first);
    if (!x) return std::nullopt;
    sample_pairs_read r;
    r.x = std::move(*x);
    return r;
  }
  try {
    return read_two(program, opts, first);
  } catch (const std::bad_alloc&) {
    out_of_memory(program, shown_name(opts.file) + " and " +
                               shown_name(opts.second));
    return std::nullopt;
  }
}
