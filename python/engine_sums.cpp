// The sums engine's functions for kernel_width.dask (engine_sums.h):
// pieces of labelled's and form's pairs over blocks of rows, their exact
// merges, and the final statistics as the in-memory functions' tuples.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <exception>
#include <optional>
#include <vector>
#include <string>
#include <string_view>

#include "kernel_width/engine.h"
#include "module_support.h"

namespace py = pybind11;
namespace kw = kernel_width;
using namespace core_support;

namespace {

kw::engine_bytes bytes_of(const py::bytes& b) {
  const std::string_view v = b;
  return kw::engine_bytes(v.begin(), v.end());
}

py::bytes to_bytes(const kw::engine_bytes& b) {
  return py::bytes(reinterpret_cast<const char*>(b.data()), b.size());
}

std::uint64_t row_of(long long first, const char* what) {
  if (first < 0 || first % 8 != 0)
    throw py::value_error(std::string(what) +
                          " must be a row number that is a multiple of 8, not " +
                          std::to_string(first));
  return static_cast<std::uint64_t>(first);
}

// A piece's blocks as views (copies where the rows are not adjacent).
struct blocks {
  contiguous a_copy, b_copy;
  kw::row_block a;
  std::optional<kw::row_block> b;
};

void blocks_of(blocks& out, const array& a, const std::optional<array>& b,
               long long a_first, long long b_first) {
  out.a = {view_of(a, "A", out.a_copy), row_of(a_first, "a_first")};
  if (b) out.b = kw::row_block{view_of(*b, "B", out.b_copy),
                               row_of(b_first, "b_first")};
}

// A piece's computation with the GIL released and Ctrl-C honoured, its
// error raised.
template <class Piece>
py::bytes run_piece(long threads, Piece piece) {
  const unsigned count = thread_count(threads);
  kw::engine_bytes out;
  check(interruptible([&](const std::atomic<bool>* cancel) {
    return piece(kw::piece_workers{count, {nullptr, cancel}}, out);
  }));
  return to_bytes(out);
}

template <class Merge>
py::bytes merged(const py::bytes& a, const py::bytes& b, Merge merge) {
  const kw::engine_bytes x = bytes_of(a), y = bytes_of(b);
  kw::engine_bytes out;
  kw::error e;
  {
    py::gil_scoped_release free;
    e = merge(x, y, out);
  }
  check(e);
  return to_bytes(out);
}

py::bytes labelled_piece(const std::optional<py::bytes>& state,
                         const array& a, const std::optional<array>& b,
                         long long a_first, long long b_first, long threads) {
  blocks v;
  blocks_of(v, a, b, a_first, b_first);
  std::optional<kw::engine_bytes> s;
  if (state) s = bytes_of(*state);
  return run_piece(threads, [&](const kw::piece_workers& w,
                                kw::engine_bytes& out) {
    return kw::labelled_piece(s ? &*s : nullptr, v.a, v.b ? &*v.b : nullptr,
                              w, out);
  });
}

py::tuple labelled_final(const py::bytes& merged, std::size_t n,
                         std::size_t columns) {
  const kw::engine_bytes m = bytes_of(merged);
  kw::labelled_statistics s;
  {
    py::gil_scoped_release free;
    s = kw::labelled_final(m, n, columns);
  }
  return labelled_tuple(s);
}

// A Python callable called from the driver, which may not throw: with the
// GIL held, its exception kept for the caller, who raises it once the
// driver has stopped.
struct callbacks {
  std::exception_ptr failed;

  template <class Call>
  kw::error guard(Call call) noexcept {
    py::gil_scoped_acquire held;
    try {
      call();
      return kw::error::none;
    } catch (...) {
      failed = std::current_exception();
      return kw::error::cancelled;
    }
  }
};

py::tuple form_statistics(std::size_t n, std::size_t columns,
                          const py::function& run_step,
                          const py::function& fetch_rows, long threads) {
  const unsigned count = thread_count(threads);
  callbacks c;
  const kw::form_step_runner step = [&](const kw::engine_bytes& s,
                                        kw::engine_bytes& merged) {
    // The merged bytes, or the partial results, merged here with no copy
    // of them as one bytes object first (rows' terms run to megabytes).
    return c.guard([&] {
      const py::object got = run_step(to_bytes(s));
      if (!py::isinstance<py::list>(got)) {
        merged = bytes_of(got.cast<py::bytes>());
        return;
      }
      merge_into(got, kw::form_merge_all, merged);
    });
  };
  const kw::form_row_fetcher fetch = [&](const std::vector<std::uint64_t>& rows,
                                         std::vector<double>& out) {
    return c.guard([&] {
      py::list wanted;
      for (const std::uint64_t r : rows) wanted.append(r);
      const contiguous got = contiguous::ensure(fetch_rows(wanted));
      if (!got || got.ndim() != 2 ||
          static_cast<std::size_t>(got.shape(0)) != rows.size() ||
          static_cast<std::size_t>(got.shape(1)) != columns)
        throw py::value_error(
            "fetch_rows must return a 2-D array of the rows asked for, " +
            std::to_string(columns) + " columns each");
      out.assign(got.data(), got.data() + got.size());
    });
  };
  kw::form_statistics s;
  {
    py::gil_scoped_release free;
    s = kw::form_drive(n, columns, step, fetch, {count, {}});
  }
  if (c.failed) std::rethrow_exception(c.failed);
  return form_tuple(s);
}

py::bytes form_piece(const py::bytes& step, const array& a,
                     const std::optional<array>& b, long long a_first,
                     long long b_first, long threads) {
  blocks v;
  blocks_of(v, a, b, a_first, b_first);
  const kw::engine_bytes s = bytes_of(step);
  return run_piece(threads, [&](const kw::piece_workers& w,
                                kw::engine_bytes& out) {
    return kw::form_piece(s, v.a, v.b ? &*v.b : nullptr, w, out);
  });
}

py::tuple form_width_from(std::size_t n, std::size_t columns, double mean,
                          double variance, const array& table) {
  contiguous copy;
  const kw::matrix_view rows = view_of(table, "table", copy);
  return form_width_tuple(kw::form_width_from(n, columns, mean, variance, rows));
}

}  // namespace

void bind_sums(py::module_& m) {
  m.def("labelled_piece", &labelled_piece, py::arg("state"), py::arg("A"),
        py::arg("B"), py::arg("a_first"), py::arg("b_first"),
        py::arg("threads"),
        "Row block A's lane sums carried over B (the diagonal: B and state "
        "None): the state for A's next block, or after the last, A's "
        "partial result.");
  m.def(
      "labelled_merge",
      [](const py::bytes& a, const py::bytes& b) {
        return merged(a, b, kw::labelled_merge);
      },
      py::arg("a"), py::arg("b"),
      "The partial results of disjoint row blocks as one.");
  m.def("labelled_final", &labelled_final, py::arg("merged"), py::arg("n"),
        py::arg("columns"),
        "labelled()'s tuple from the merge of every row block's partial "
        "result.");
  m.def("form_statistics", &form_statistics, py::arg("n"), py::arg("columns"),
        py::arg("run_step"), py::arg("fetch_rows"), py::arg("threads"),
        "form()'s tuple for n samples: run_step(step) returns the merge of "
        "form_piece(step, ...) over every piece, or a list of partial "
        "results that merge to it; fetch_rows(rows) those "
        "rows as a 2-D array.");
  m.def("form_piece", &form_piece, py::arg("step"), py::arg("A"), py::arg("B"),
        py::arg("a_first"), py::arg("b_first"), py::arg("threads"),
        "A step's partial result over the pairs within A (B None) or of A's "
        "rows with B's.");
  m.def(
      "form_merge",
      [](const py::bytes& a, const py::bytes& b) {
        return merged(a, b, kw::form_merge);
      },
      py::arg("a"), py::arg("b"), "Two partial results of one step as one.");
  m.def(
      "form_merge_all",
      [](const py::list& parts) { return merged_all(parts, kw::form_merge_all); },
      py::arg("parts"),
      "Partial results of one step as one, each value copied once.");
  m.def("form_width_from", &form_width_from, py::arg("n"), py::arg("columns"),
        py::arg("mean"), py::arg("variance"), py::arg("table"),
        "form_width()'s tuple for these statistics.");
}
