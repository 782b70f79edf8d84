// The sums engine's functions for kernel_width.dask (engine_sums.h):
// pieces of labelled's and form's pairs over blocks of rows, their exact
// merges, and the final statistics as the in-memory functions' tuples.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
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
}
