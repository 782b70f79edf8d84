// kernel_width._core: the library's computations for float64 arrays, the
// results as plain tuples. The package (python/kernel_width/__init__.py)
// checks the arguments, converts X, leaves out a label column and names the
// result fields; this part only computes, with the GIL released and Ctrl-C
// honoured.
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

#include "core_support.h"
#include "cpu.h"
#include "kernel_width/kernel_width.h"

namespace py = pybind11;
namespace kw = kernel_width;

namespace core {

// A 2-D array as the library's view. Rows whose values are not adjacent,
// or a row stride the view cannot express (negative, 0, not whole
// doubles), are first copied into `copy`, which the view then reads.
kw::matrix_view view_of(const array& x, const char* what, contiguous& copy) {
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

unsigned thread_count(long threads) {
  if (threads < 0 || threads > 1024)
    throw py::value_error("threads must be 0 (every core) to 1024, not " +
                          std::to_string(threads));
  return static_cast<unsigned>(threads);
}

}  // namespace core

namespace {

using core::array;
using core::contiguous;
using core::thread_count;
using core::view_of;

// A value as the programs quote it: printable ASCII as it is, backslash
// and quote escaped, \t \r \v \f by name, other bytes as \xNN (so the
// message is ASCII, whatever the environment holds).
std::string quoted(const char* text) {
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
std::string isa_message() {
  const char* name = std::getenv("KERNEL_WIDTH_ISA");
  return "KERNEL_WIDTH_ISA: unknown or unsupported " +
         quoted(name ? name : "") +
         " (this CPU runs: " + kw::detail::supported_isas() + ")";
}

}  // namespace

namespace core {

void check(kw::error e) {
  if (e == kw::error::out_of_memory) throw std::bad_alloc();
  if (e == kw::error::unsupported_isa) throw py::value_error(isa_message());
  if (e != kw::error::none) throw py::value_error(kw::describe(e));
}

py::tuple median_tuple(const kw::median_statistics& s) {
  check(s.status);
  return py::make_tuple(s.n, s.n_y, s.columns, s.pairs, s.median, s.width,
                        s.sigma, s.gamma, s.zero_pairs);
}

py::tuple quantiles_tuple(const kw::selection& s,
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

}  // namespace core

namespace {

using core::check;

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
  contiguous copy;
  const kw::matrix_view samples = view_of(x, "X", copy);
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

// (width, sigma, gamma, n, mean, variance, rule, row); rule 0 below the low
// ratio, 1 above the high one, 2 from the table's row.
py::tuple form_width(const array& x, const array& table, long threads) {
  contiguous copy;
  const kw::matrix_view rows = view_of(table, "table", copy);
  const kw::form_width_result r = kw::form_width(form_of(x, threads), rows);
  check(r.status);
  return py::make_tuple(r.width, r.sigma, r.gamma, r.n, r.mean, r.variance,
                        static_cast<int>(r.rule), r.row);
}

py::tuple labelled(const array& x, long threads) {
  contiguous copy;
  const kw::matrix_view samples = view_of(x, "X", copy);
  const unsigned count = thread_count(threads);
  const kw::labelled_statistics s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::labelled(samples, 0, count, cancel);
      });
  check(s.status);
  return py::make_tuple(s.n, s.columns, s.total, s.pairs, s.mean, s.width,
                        s.sigma, s.gamma);
}

// The pairs of x alone (y None), of x and y pooled, or across them.
struct two_sets {
  array y;  // held for the view: the cast may have converted it
  contiguous x_copy;
  contiguous y_copy;
  kw::sample_pairs pairs{kw::matrix_view{}};
};

void set_pairs(two_sets& s, const array& x, const py::object& y,
               bool cross) {
  s.pairs = kw::sample_pairs(view_of(x, "X", s.x_copy));
  if (y.is_none()) return;
  s.y = y.cast<array>();
  const kw::matrix_view second = view_of(s.y, "Y", s.y_copy);
  s.pairs = kw::sample_pairs(
      s.pairs.x, second, cross ? kw::pairing::cross : kw::pairing::pooled);
}

py::tuple median(const array& x, const py::object& y, bool cross,
                 long threads) {
  two_sets sets;
  set_pairs(sets, x, y, cross);
  const unsigned count = thread_count(threads);
  const kw::median_statistics s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::median(sets.pairs, count, cancel);
      });
  return core::median_tuple(s);
}

py::tuple quantiles(const array& x, const py::object& y, bool cross,
                    const contiguous& p, long threads) {
  if (p.ndim() != 1) throw py::value_error("q must be 1-D here");
  two_sets sets;
  set_pairs(sets, x, y, cross);
  const unsigned count = thread_count(threads);
  const auto size = static_cast<std::size_t>(p.shape(0));
  std::vector<kw::quantile> found(size);
  const kw::selection s = interruptible([&](const std::atomic<bool>* cancel) {
    return kw::quantiles(sets.pairs, p.data(), size, found.data(), count,
                         cancel);
  });
  return core::quantiles_tuple(s, found);
}

kw::sampling sampling_of(std::uint64_t draws, std::uint64_t seed,
                         double confidence) {
  return {draws, seed, confidence};
}

// One end of each interval: (values, widths, gammas, ranks), rank -1 for a
// trivial end (0 below, the distance bound above).
py::tuple ends(const std::vector<kw::sampled_quantile>& found, bool high) {
  const auto length = static_cast<py::ssize_t>(found.size());
  py::array_t<double> values(length), widths(length), gammas(length);
  py::array_t<std::int64_t> ranks(length);
  for (std::size_t k = 0; k < found.size(); ++k) {
    const kw::interval_end& e = high ? found[k].high : found[k].low;
    values.mutable_data()[k] = e.value;
    widths.mutable_data()[k] = e.width;
    gammas.mutable_data()[k] = e.gamma;
    ranks.mutable_data()[k] =
        e.trivial ? -1 : static_cast<std::int64_t>(e.rank);
  }
  return py::make_tuple(values, widths, gammas, ranks);
}

// (values, widths, gammas, low, high, population, n, n_y, columns): the
// estimates from `draws` drawn pairs, low and high as ends() gives them.
py::tuple sampled_quantiles(const array& x, const py::object& y, bool cross,
                            const contiguous& p, std::uint64_t draws,
                            std::uint64_t seed, double confidence,
                            long threads) {
  if (p.ndim() != 1) throw py::value_error("q must be 1-D here");
  two_sets sets;
  set_pairs(sets, x, y, cross);
  const unsigned count = thread_count(threads);
  const auto size = static_cast<std::size_t>(p.shape(0));
  std::vector<kw::sampled_quantile> found(size);
  const kw::sampling how = sampling_of(draws, seed, confidence);
  const kw::sampled_selection s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::sampled_quantiles(sets.pairs, p.data(), size, how,
                                     found.data(), count, cancel);
      });
  check(s.status);
  const auto length = static_cast<py::ssize_t>(size);
  py::array_t<double> values(length), widths(length), gammas(length);
  for (std::size_t k = 0; k < size; ++k) {
    values.mutable_data()[k] = found[k].estimate.value;
    widths.mutable_data()[k] = found[k].estimate.width;
    gammas.mutable_data()[k] = found[k].estimate.gamma;
  }
  return py::make_tuple(values, widths, gammas, ends(found, false),
                        ends(found, true), s.population, s.n, s.n_y,
                        s.columns);
}

// (n, columns, population, mean, width, gamma, low, high), low and high as
// (value, width, gamma, trivial).
py::tuple sampled_mean(const array& x, std::uint64_t draws,
                       std::uint64_t seed, double confidence, long threads) {
  contiguous copy;
  const kw::matrix_view samples = view_of(x, "X", copy);
  const unsigned count = thread_count(threads);
  const kw::sampling how = sampling_of(draws, seed, confidence);
  const kw::sampled_labelled s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::sampled_mean(samples, 0, how, count, cancel);
      });
  check(s.status);
  const auto end = [](const kw::interval_end& e) {
    return py::make_tuple(e.value, e.width, e.gamma, e.trivial);
  };
  return py::make_tuple(s.n, s.columns, s.population, s.mean, s.width,
                        s.gamma, end(s.low), end(s.high));
}

}  // namespace

// The engine's pieces, merges and drivers (engine_selection.cpp,
// engine_sums.cpp), for the Dask module.
void bind_selection(py::module_& m);
void bind_sums(py::module_& m);

PYBIND11_MODULE(_core, m) {
  m.doc() =
      "The computations behind kernel_width; use the package's functions.";
  m.attr("__version__") = kw::version();
  m.def("form", &form, py::arg("X"), py::arg("threads"),
        "(n, columns, mean, variance, ratio) of X's n*n distances.");
  m.def("form_width", &form_width, py::arg("X"), py::arg("table"),
        py::arg("threads"),
        "(width, sigma, gamma, n, mean, variance, rule, row) as "
        "form_kernel_width finds them.");
  m.def("labelled", &labelled, py::arg("X"), py::arg("threads"),
        "(n, columns, total, pairs, mean, width, sigma, gamma) over every "
        "column of X.");
  m.def("median", &median, py::arg("X"), py::arg("Y"), py::arg("cross"),
        py::arg("threads"),
        "(n, n_y, columns, pairs, median, width, sigma, gamma, zero_pairs) "
        "of the distances within X, X and Y pooled, or across them.");
  m.def("quantiles", &quantiles, py::arg("X"), py::arg("Y"),
        py::arg("cross"), py::arg("p"), py::arg("threads"),
        "(values, widths, gammas, pairs, zero_pairs): numpy's quantiles "
        "of the same distances for the probabilities p, and their widths "
        "and gammas.");
  m.def("sampled_quantiles", &sampled_quantiles, py::arg("X"), py::arg("Y"),
        py::arg("cross"), py::arg("p"), py::arg("draws"), py::arg("seed"),
        py::arg("confidence"), py::arg("threads"),
        "(values, widths, gammas, low, high, population, n, n_y, columns): "
        "numpy's quantiles of `draws` drawn distances, and the intervals' "
        "ends as (values, widths, gammas, ranks), rank -1 for a trivial "
        "end.");
  m.def("sampled_mean", &sampled_mean, py::arg("X"), py::arg("draws"),
        py::arg("seed"), py::arg("confidence"), py::arg("threads"),
        "(n, columns, population, mean, width, gamma, low, high): the mean "
        "of `draws` drawn distances over every column of X, the ends as "
        "(value, width, gamma, trivial).");
  bind_selection(m);
  bind_sums(m);
}
