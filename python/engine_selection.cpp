// The selection engine's functions for kernel_width.dask
// (engine_selection.h): a piece's partial result, the merge of two, and the
// driver that runs the median or the quantiles through a Python callable
// that computes each pass over the cluster. Plans and partial results are
// bytes; a damaged one is ValueError.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "module_support.h"
#include "kernel_width/engine.h"

namespace py = pybind11;
namespace kw = kernel_width;

namespace {

kw::engine_bytes bytes_in(const py::bytes& b) {
  char* data = nullptr;
  py::ssize_t size = 0;
  if (PyBytes_AsStringAndSize(b.ptr(), &data, &size) != 0)
    throw py::error_already_set();
  const auto* at = reinterpret_cast<const std::uint8_t*>(data);
  return kw::engine_bytes(at, at + size);
}

py::bytes bytes_out(const kw::engine_bytes& b) {
  return py::bytes(reinterpret_cast<const char*>(b.data()), b.size());
}

// A piece: the pairs i < l of A (B None), or of A's rows with B's.
py::bytes selection_piece(const py::bytes& plan, const core_support::array& a,
                          const py::object& b, std::uint64_t a_first,
                          std::uint64_t b_first, long threads) {
  const kw::engine_bytes p = bytes_in(plan);
  core_support::contiguous a_copy, b_copy;
  core_support::array b_array;
  const kw::row_block x{core_support::view_of(a, "A", a_copy), a_first};
  kw::row_block y;
  if (!b.is_none()) {
    b_array = b.cast<core_support::array>();
    y = {core_support::view_of(b_array, "B", b_copy), b_first};
  }
  const kw::piece_workers w{core_support::thread_count(threads), {}};
  kw::engine_bytes out;
  kw::error e;
  {
    py::gil_scoped_release free;
    e = kw::selection_piece(p, x, b.is_none() ? nullptr : &y, w, out);
  }
  core_support::check(e);
  return bytes_out(out);
}

py::bytes selection_merge(const py::bytes& a, const py::bytes& b) {
  const kw::engine_bytes x = bytes_in(a), y = bytes_in(b);
  kw::engine_bytes out;
  kw::error e;
  {
    py::gil_scoped_release free;
    e = kw::selection_merge(x, y, out);
  }
  core_support::check(e);
  return bytes_out(out);
}

py::bytes selection_merge_all(const py::list& parts) {
  return core_support::merged_all(parts, kw::selection_merge_all);
}

// The pairs as the package gives them: (n, n_y, columns, cross); pooled
// when not across and y has samples.
using shape_tuple =
    std::tuple<std::size_t, std::size_t, std::size_t, bool>;

kw::selection_shape shape_of(const shape_tuple& t) {
  const auto [n, n_y, columns, cross] = t;
  return {n, n_y, columns,
          cross ? kw::pairing::cross
                : n_y > 0 ? kw::pairing::pooled : kw::pairing::within};
}

// The driver's run: its passes through run_pass, called with the GIL held.
// An exception it raises stays set on this thread while the driver stops,
// and is raised again once it has.
kw::selection_run run_of(const shape_tuple& shape,
                         const py::function& run_pass, long threads) {
  kw::selection_run run;
  run.shape = shape_of(shape);
  run.threads = core_support::thread_count(threads);
  run.pass = [&run_pass](const kw::engine_bytes& plan,
                         kw::engine_bytes& merged) {
    py::gil_scoped_acquire held;
    try {
      const py::object got = run_pass(bytes_out(plan));
      if (!py::isinstance<py::list>(got)) {
        merged = bytes_in(got.cast<py::bytes>());
        return true;
      }
      // Partial results, merged here with no copy of them as one bytes
      // object first (the kept values run to megabytes).
      core_support::merge_into(got, kw::selection_merge_all, merged);
      return true;
    } catch (py::error_already_set& e) {
      e.restore();
    } catch (const py::cast_error&) {
      PyErr_SetString(PyExc_TypeError,
                      "run_pass must return bytes or a list of bytes");
    } catch (const py::builtin_exception& e) {
      e.set_error();
    }
    return false;
  };
  return run;
}

void raise_pending() {
  if (PyErr_Occurred() != nullptr) throw py::error_already_set();
}

py::tuple selection_median(const shape_tuple& shape,
                           const py::function& run_pass, long threads) {
  const kw::selection_run run = run_of(shape, run_pass, threads);
  kw::median_statistics s;
  {
    py::gil_scoped_release free;
    s = kw::selection_median(run);
  }
  raise_pending();
  return core_support::median_tuple(s);
}

py::tuple selection_quantiles(const shape_tuple& shape,
                              const core_support::contiguous& p,
                              const py::function& run_pass, long threads) {
  if (p.ndim() != 1) throw py::value_error("q must be 1-D here");
  const kw::selection_run run = run_of(shape, run_pass, threads);
  const auto size = static_cast<std::size_t>(p.shape(0));
  std::vector<kw::quantile> found(size);
  kw::selection s;
  {
    py::gil_scoped_release free;
    s = kw::selection_quantiles(run, p.data(), size, found.data());
  }
  raise_pending();
  return core_support::quantiles_tuple(s, found);
}

}  // namespace

void bind_selection(py::module_& m) {
  m.def("selection_piece", &selection_piece, py::arg("plan"), py::arg("A"),
        py::arg("B"), py::arg("a_first"), py::arg("b_first"),
        py::arg("threads"),
        "The partial result (bytes) of the plan over the pairs i < l of A "
        "(B None) or of A's rows with B's; a_first and b_first are their "
        "first global rows.");
  m.def("selection_merge", &selection_merge, py::arg("a"), py::arg("b"),
        "The exact merge of two partial results of one plan.");
  m.def("selection_merge_all", &selection_merge_all, py::arg("parts"),
        "The exact merge of a list of partial results of one plan, each "
        "value copied once.");
  m.def("selection_median", &selection_median, py::arg("shape"),
        py::arg("run_pass"), py::arg("threads"),
        "median()'s tuple of the pairs shape = (n, n_y, columns, cross), "
        "each pass run by run_pass(plan) -> the merge of every piece's "
        "partial result, or a list of partial results that merge to it.");
  m.def("selection_quantiles", &selection_quantiles, py::arg("shape"),
        py::arg("p"), py::arg("run_pass"), py::arg("threads"),
        "quantiles()'s tuple, each pass run by run_pass as for "
        "selection_median.");
}
