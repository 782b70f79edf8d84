// What the module's files share (module.cpp, engine_sums.cpp): arrays as
// the library's views, errors as Python exceptions, computations with the
// GIL released and Ctrl-C honoured, and the results' tuples.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "cpu.h"
#include "kernel_width/engine.h"
#include "kernel_width/kernel_width.h"

namespace core_support {

namespace py = pybind11;
namespace kw = kernel_width;

// float64 arrays of any strides; the package hands over rows of adjacent
// values (a C-contiguous array, or a window of its columns), which are read
// in place. forcecast only keeps direct calls from failing on other types.
using array = py::array_t<double, py::array::forcecast>;
using contiguous =
    py::array_t<double, py::array::c_style | py::array::forcecast>;

// A 2-D array as the library's view. Rows whose values are not adjacent,
// or a row stride the view cannot express (negative, 0, not whole
// doubles), are first copied into `copy`, which the view then reads.
inline kw::matrix_view view_of(const array& x, const char* what, contiguous& copy) {
  if (x.ndim() != 2)
    throw py::value_error(std::string(what) + " must be a 2-D array, not " +
                          std::to_string(x.ndim()) + "-D");
  const auto rows = static_cast<std::size_t>(x.shape(0));
  const auto cols = static_cast<std::size_t>(x.shape(1));
  const py::ssize_t step = sizeof(double);
  const py::ssize_t row_step = x.strides(0);
  const bool adjacent = cols <= 1 || x.strides(1) == step;
  const bool expressible =
      rows <= 1 || (row_step > 0 && row_step % step == 0);
  if (adjacent && expressible) {
    const std::size_t stride =
        rows <= 1 ? cols : static_cast<std::size_t>(row_step / step);
    return {x.data(), rows, cols, stride};
  }
  copy = contiguous::ensure(x);
  return {copy.data(), rows, cols, cols};
}

inline unsigned thread_count(long threads) {
  if (threads < 0 || threads > 1024)
    throw py::value_error("threads must be 0 (every core) to 1024, not " +
                          std::to_string(threads));
  return static_cast<unsigned>(threads);
}

// A value as the programs quote it: printable ASCII as it is, backslash
// and quote escaped, \t \r \v \f by name, other bytes as \xNN (so the
// message is ASCII, whatever the environment holds).
inline std::string quoted(const char* text) {
  static const char hex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char* c = text; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (*c == '"' || *c == '\\') {
      out += '\\';
      out += *c;
    } else if (byte >= 0x20 && byte < 0x7f) {
      out += *c;
    } else if (*c == '\t' || *c == '\r' || *c == '\v' || *c == '\f') {
      out += '\\';
      out += *c == '\t' ? 't' : *c == '\r' ? 'r' : *c == '\v' ? 'v' : 'f';
    } else {
      out += "\\x";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    }
  }
  return out + "\"";
}

// The programs' message for KERNEL_WIDTH_ISA: the value and the sets this
// CPU runs.
inline std::string isa_message() {
  const char* name = std::getenv("KERNEL_WIDTH_ISA");
  return "KERNEL_WIDTH_ISA: unknown or unsupported " +
         quoted(name ? name : "") +
         " (this CPU runs: " + kw::detail::supported_isas() + ")";
}

// MemoryError for out of memory (pybind11 turns std::bad_alloc into it),
// ValueError in the programs' words for anything else.
inline void check(kw::error e) {
  if (e == kw::error::out_of_memory) throw std::bad_alloc();
  if (e == kw::error::unsupported_isa) throw py::value_error(isa_message());
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

// (n, columns, mean, variance, ratio), after check.
// (n, n_y, columns, pairs, median, width, sigma, gamma, zero_pairs)
inline py::tuple median_tuple(const kw::median_statistics& s) {
  check(s.status);
  return py::make_tuple(s.n, s.n_y, s.columns, s.pairs, s.median, s.width,
                        s.sigma, s.gamma, s.zero_pairs);
}

// (values, widths, gammas, pairs, zero_pairs): values[k] the quantile for
// p[k], widths[k] its width 2 values[k]^2 and gammas[k] 1 / widths[k].
inline py::tuple quantiles_tuple(const kw::selection& s,
                                 const std::vector<kw::quantile>& found) {
  check(s.status);
  const auto length = static_cast<py::ssize_t>(found.size());
  py::array_t<double> values(length), widths(length), gammas(length);
  for (std::size_t k = 0; k < found.size(); ++k) {
    values.mutable_data()[k] = found[k].value;
    widths.mutable_data()[k] = found[k].width;
    gammas.mutable_data()[k] = found[k].gamma;
  }
  return py::make_tuple(values, widths, gammas, s.pairs, s.zero_pairs);
}

inline py::tuple form_tuple(const kw::form_statistics& s) {
  check(s.status);
  return py::make_tuple(s.n, s.columns, s.mean, s.variance, s.ratio);
}

// (width, sigma, gamma, n, mean, variance, rule, row); rule 0 below the low
// ratio, 1 above the high one, 2 from the table's row.
inline py::tuple form_width_tuple(const kw::form_width_result& r) {
  check(r.status);
  return py::make_tuple(r.width, r.sigma, r.gamma, r.n, r.mean, r.variance,
                        static_cast<int>(r.rule), r.row);
}

// (n, columns, total, pairs, mean, width, sigma, gamma), after check.
inline py::tuple labelled_tuple(const kw::labelled_statistics& s) {
  check(s.status);
  return py::make_tuple(s.n, s.columns, s.total, s.pairs, s.mean, s.width,
                        s.sigma, s.gamma);
}

// A list of bytes read where Python holds them, without a copy.
inline std::vector<kw::engine_span> spans_of(const py::list& parts) {
  std::vector<kw::engine_span> spans;
  for (const py::handle part : parts) {
    char* data = nullptr;
    py::ssize_t size = 0;
    if (!PyBytes_Check(part.ptr()))
      throw py::type_error("parts must be bytes");
    if (PyBytes_AsStringAndSize(part.ptr(), &data, &size) != 0)
      throw py::error_already_set();
    spans.push_back({reinterpret_cast<const std::uint8_t*>(data),
                     static_cast<std::size_t>(size)});
  }
  return spans;
}

// Partial results merged all at once into out, the GIL released;
// merge(spans, out) is the engine's, its error raised.
template <class Merge>
void merge_into(const py::list& parts, Merge merge, kw::engine_bytes& out) {
  const std::vector<kw::engine_span> spans = spans_of(parts);
  kw::error e;
  {
    py::gil_scoped_release free;
    e = merge(spans, out);
  }
  check(e);
}

// The same as bytes.
template <class Merge>
py::bytes merged_all(const py::list& parts, Merge merge) {
  kw::engine_bytes out;
  merge_into(parts, merge, out);
  return py::bytes(reinterpret_cast<const char*>(out.data()), out.size());
}

}  // namespace core_support
