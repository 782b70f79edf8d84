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
#include <tuple>
#include <vector>

#include "kernel_width/kernel_width.h"
#include "module_support.h"

namespace py = pybind11;
namespace kw = kernel_width;
using namespace core_support;

namespace {

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
  return form_tuple(form_of(x, threads));
}

// (width, sigma, gamma, n, mean, variance, rule, row); rule 0 below the low
// ratio, 1 above the high one, 2 from the table's row.
py::tuple form_width(const array& x, const array& table, long threads) {
  contiguous copy;
  const kw::matrix_view rows = view_of(table, "table", copy);
  return form_width_tuple(kw::form_width(form_of(x, threads), rows));
}

py::tuple labelled(const array& x, long threads) {
  contiguous copy;
  const kw::matrix_view samples = view_of(x, "X", copy);
  const unsigned count = thread_count(threads);
  const kw::labelled_statistics s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::labelled(samples, 0, count, cancel);
      });
  return labelled_tuple(s);
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

// (n, n_y, columns, pairs, median, width, sigma, gamma, zero_pairs)
py::tuple median(const array& x, const py::object& y, bool cross,
                 long threads) {
  two_sets sets;
  set_pairs(sets, x, y, cross);
  const unsigned count = thread_count(threads);
  const kw::median_statistics s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::median(sets.pairs, count, cancel);
      });
  return median_tuple(s);
}

// (values, widths, gammas, pairs, zero_pairs): values[k] the quantile for
// p[k], widths[k] its width 2 values[k]^2 and gammas[k] 1 / widths[k].
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
  return quantiles_tuple(s, found);
}

// The sampling arguments as the package groups them: (draws, seed,
// confidence).
using sampling_tuple = std::tuple<std::uint64_t, std::uint64_t, double>;

kw::sampling sampling_of(const sampling_tuple& how) {
  return {std::get<0>(how), std::get<1>(how), std::get<2>(how)};
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
// estimates from the drawn pairs, low and high as ends() gives them.
py::tuple sampled_quantiles(const array& x, const py::object& y, bool cross,
                            const contiguous& p, const sampling_tuple& how,
                            long threads) {
  if (p.ndim() != 1) throw py::value_error("q must be 1-D here");
  two_sets sets;
  set_pairs(sets, x, y, cross);
  const unsigned count = thread_count(threads);
  const auto size = static_cast<std::size_t>(p.shape(0));
  std::vector<kw::sampled_quantile> found(size);
  const kw::sampling drawn = sampling_of(how);
  const kw::sampled_selection s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::sampled_quantiles({sets.pairs, drawn}, p.data(), size,
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
py::tuple sampled_mean(const array& x, const sampling_tuple& how,
                       long threads) {
  contiguous copy;
  const kw::matrix_view samples = view_of(x, "X", copy);
  const unsigned count = thread_count(threads);
  const kw::sampling drawn = sampling_of(how);
  const kw::sampled_labelled s =
      interruptible([&](const std::atomic<bool>* cancel) {
        return kw::sampled_mean(samples, 0, drawn, count, cancel);
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
        py::arg("cross"), py::arg("p"), py::arg("how"), py::arg("threads"),
        "(values, widths, gammas, low, high, population, n, n_y, columns): "
        "numpy's quantiles of the distances drawn as how = (draws, seed, "
        "confidence) says, and the intervals' "
        "ends as (values, widths, gammas, ranks), rank -1 for a trivial "
        "end.");
  m.def("sampled_mean", &sampled_mean, py::arg("X"), py::arg("how"),
        py::arg("threads"),
        "(n, columns, population, mean, width, gamma, low, high): the mean "
        "of the distances drawn as how = (draws, seed, confidence) says, "
        "over every column of X, the ends as "
        "(value, width, gamma, trivial).");
  bind_selection(m);
  bind_sums(m);
}
