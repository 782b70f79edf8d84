// kernel_width._core: the library's computations for float64 arrays, the
// results as plain tuples. The package (python/kernel_width/__init__.py)
// checks the arguments, converts X and names the result fields; this part
// only computes, with the GIL released and Ctrl-C honoured.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <future>
#include <new>
#include <string>
#include <system_error>

#include "kernel_width/kernel_width.h"

namespace py = pybind11;
namespace kw = kernel_width;

namespace {

// The package hands over C-contiguous float64 arrays, so nothing is copied
// here; forcecast only keeps direct calls from failing on other types.
using array = py::array_t<double, py::array::c_style | py::array::forcecast>;

kw::matrix_view view_of(const array& x, const char* what) {
  if (x.ndim() != 2)
    throw py::value_error(std::string(what) + " must be a 2-D array, not " +
                          std::to_string(x.ndim()) + "-D");
  return {x.data(), static_cast<std::size_t>(x.shape(0)),
          static_cast<std::size_t>(x.shape(1)),
          static_cast<std::size_t>(x.shape(1))};
}

unsigned thread_count(long threads) {
  if (threads < 0 || threads > 1024)
    throw py::value_error("threads must be 0 (every core) to 1024, not " +
                          std::to_string(threads));
  return static_cast<unsigned>(threads);
}

// MemoryError for out of memory (pybind11 turns std::bad_alloc into it),
// ValueError in the programs' words for anything else.
void check(kw::error e) {
  if (e == kw::error::out_of_memory) throw std::bad_alloc();
  if (e != kw::error::none) throw py::value_error(kw::describe(e));
}

// compute(cancel) on a thread of its own, while this thread, the one that
// holds the interpreter, looks every 50 ms for a signal: Python runs its
// handlers only on the main thread, and only when asked. When a handler
// raises (KeyboardInterrupt for Ctrl-C) the flag stops the library's
// threads between bands of pairs, and the exception goes on once they
// have stopped; the module is then as before.
template <class Compute>
auto interruptible(Compute compute) -> decltype(compute(nullptr)) {
  std::atomic<bool> cancel{false};
  bool raised = false;
  decltype(compute(nullptr)) result;
  {
    py::gil_scoped_release free;
    std::future<decltype(result)> done;
    try {
      done = std::async(std::launch::async, compute, &cancel);
    } catch (const std::system_error&) {
      // No thread to be had: compute here, and Ctrl-C waits for the end.
      return compute(nullptr);
    }
    while (done.wait_for(std::chrono::milliseconds(50)) !=
           std::future_status::ready) {
      py::gil_scoped_acquire held;
      if (PyErr_CheckSignals() != 0) {
        raised = true;
        cancel.store(true);
        break;
      }
    }
    result = done.get();
  }
  // The handler's exception is still set on this thread.
  if (raised) throw py::error_already_set();
  return result;
}

kw::form_statistics form_of(const array& x, long threads) {
  const kw::matrix_view samples = view_of(x, "X");
  const unsigned count = thread_count(threads);
  const kw::form_statistics s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::form(samples, count, cancel);
      });
  check(s.status);
  return s;
}

py::tuple form(const array& x, long threads) {
  const kw::form_statistics s = form_of(x, threads);
  return py::make_tuple(s.n, s.columns, s.mean, s.variance, s.ratio);
}

py::tuple median(const array& x, long threads) {
  const kw::matrix_view samples = view_of(x, "X");
  const unsigned count = thread_count(threads);
  const kw::median_statistics s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::median(samples, count, cancel);
      });
  check(s.status);
  return py::make_tuple(s.n, s.columns, s.pairs, s.median, s.width);
}

double form_width(const array& x, const array& table, long threads) {
  const kw::matrix_view rows = view_of(table, "table");
  const kw::form_width_result r = kw::form_width(form_of(x, threads), rows);
  check(r.status);
  return r.width;
}

py::tuple labelled(const array& x, long threads, long first_column) {
  const kw::matrix_view samples = view_of(x, "X");
  const unsigned count = thread_count(threads);
  if (first_column < 0) throw py::value_error("first_column must be 0 or more");
  const auto first = static_cast<std::size_t>(first_column);
  const kw::labelled_statistics s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::labelled(samples, first, count, cancel);
      });
  check(s.status);
  return py::make_tuple(s.n, s.columns, s.total, s.pairs, s.mean, s.width);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() =
      "The computations behind kernel_width; use the package's functions.";
  m.attr("__version__") = kw::version();
  m.def("form", &form, py::arg("X"), py::arg("threads"),
        "(n, columns, mean, variance, ratio) of X's n*n distances.");
  m.def("form_width", &form_width, py::arg("X"), py::arg("table"),
        py::arg("threads"), "The width form_kernel_width prints, in full.");
  m.def("labelled", &labelled, py::arg("X"), py::arg("threads"),
        py::arg("first_column"),
        "(n, columns, total, pairs, mean, width) over the columns from "
        "first_column on.");
  m.def("median", &median, py::arg("X"), py::arg("threads"),
        "(n, columns, pairs, median, width) of X's n(n-1)/2 distances.");
}
