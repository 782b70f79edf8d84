// The Python module kernel_width: the programs' exact kernel widths for
// samples in numpy arrays (or anything numpy turns into a 2-D array).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <new>
#include <string>

#include "kernel_width/kernel_width.h"

namespace py = pybind11;
namespace kw = kernel_width;

namespace {

// float64 in C order: taken as it is when it already is, converted once
// otherwise.
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

kw::form_statistics form(const array& x, long threads) {
  const kw::matrix_view samples = view_of(x, "X");
  const unsigned count = thread_count(threads);
  kw::form_statistics s;
  {
    py::gil_scoped_release free;
    s = kw::form(samples, count);
  }
  check(s.status);
  return s;
}

kw::labelled_statistics labelled(const array& x, long threads,
                                 long first_column) {
  const kw::matrix_view samples = view_of(x, "X");
  const unsigned count = thread_count(threads);
  if (first_column < 0) throw py::value_error("first_column must be 0 or more");
  kw::labelled_statistics s;
  {
    py::gil_scoped_release free;
    s = kw::labelled(samples, static_cast<std::size_t>(first_column), count);
  }
  check(s.status);
  return s;
}

kw::median_statistics median(const array& x, long threads) {
  const kw::matrix_view samples = view_of(x, "X");
  const unsigned count = thread_count(threads);
  kw::median_statistics s;
  {
    py::gil_scoped_release free;
    s = kw::median(samples, count);
  }
  check(s.status);
  return s;
}

double form_width(const array& x, const array& table, long threads) {
  const kw::matrix_view rows = view_of(table, "table");
  const kw::form_width_result r = kw::form_width(form(x, threads), rows);
  check(r.status);
  return r.width;
}

const char* const module_doc =
    R"(Kernel widths from the pairwise distances between samples.

The same exact numbers as the programs form_kernel_width,
labelled_kernel_width and median_kernel_width print, for samples already in an array: each row of X
is a sample, and the Euclidean distances between all pairs of samples are
reduced to one width, without building the n x n distance matrix (memory
O(n d)) and on every core. The results do not depend on the thread count,
bit for bit. NaN and infinity in X follow the arithmetic, as in the
programs.

Functions
---------
form_width, form_statistics
    From the spread of the n*n distances (the zero diagonal included).
labelled_width, labelled_statistics
    From the mean distance between different samples over the feature
    columns.
median_width, median_statistics
    From the median of the distances between different samples (the median
    heuristic), equal to numpy.median(scipy.spatial.distance.pdist(X)).
)";

}  // namespace

PYBIND11_MODULE(kernel_width, m) {
  m.doc() = module_doc;
  m.attr("__version__") = kw::version();

  py::class_<kw::form_statistics>(m, "FormStatistics",
                                  "Spread of the n*n pairwise distances.")
      .def_readonly("n", &kw::form_statistics::n, "Number of samples.")
      .def_readonly("mean", &kw::form_statistics::mean,
                    "Mean of all n*n distances, the diagonal included.")
      .def_readonly("variance", &kw::form_statistics::variance,
                    "Mean of (distance - mean)**2 over all n*n distances.")
      .def_readonly("ratio", &kw::form_statistics::ratio,
                    "Spread ratio mean**2 / variance.")
      .def("__repr__", [](const kw::form_statistics& s) {
        return "FormStatistics(n=" + std::to_string(s.n) +
               ", mean=" + py::repr(py::float_(s.mean)).cast<std::string>() +
               ", variance=" +
               py::repr(py::float_(s.variance)).cast<std::string>() +
               ", ratio=" + py::repr(py::float_(s.ratio)).cast<std::string>() +
               ")";
      });

  py::class_<kw::labelled_statistics>(
      m, "LabelledStatistics",
      "Mean distance between different samples over the feature columns.")
      .def_readonly("n", &kw::labelled_statistics::n, "Number of samples.")
      .def_readonly("total", &kw::labelled_statistics::total,
                    "Sum of the distances over all ordered pairs of "
                    "different samples.")
      .def_readonly("pairs", &kw::labelled_statistics::pairs, "n*n - n.")
      .def_readonly("mean", &kw::labelled_statistics::mean, "total / pairs.")
      .def_readonly("width", &kw::labelled_statistics::width, "2 * mean**2.")
      .def("__repr__", [](const kw::labelled_statistics& s) {
        return "LabelledStatistics(n=" + std::to_string(s.n) +
               ", total=" + py::repr(py::float_(s.total)).cast<std::string>() +
               ", pairs=" + std::to_string(s.pairs) +
               ", mean=" + py::repr(py::float_(s.mean)).cast<std::string>() +
               ")";
      });

  py::class_<kw::median_statistics>(
      m, "MedianStatistics",
      "Median of the n(n-1)/2 distances between different samples.")
      .def_readonly("n", &kw::median_statistics::n, "Number of samples.")
      .def_readonly("pairs", &kw::median_statistics::pairs, "n*(n-1)/2.")
      .def_readonly("median", &kw::median_statistics::median,
                    "Median of the distances, as numpy.median of pdist(X).")
      .def_readonly("width", &kw::median_statistics::width, "2 * median**2.")
      .def("__repr__", [](const kw::median_statistics& s) {
        return "MedianStatistics(n=" + std::to_string(s.n) +
               ", pairs=" + std::to_string(s.pairs) + ", median=" +
               py::repr(py::float_(s.median)).cast<std::string>() + ")";
      });

  m.def("form_statistics", &form, py::arg("X"), py::arg("threads") = 0,
        R"(Spread of the pairwise distances between the rows of X.

Parameters
----------
X : array_like, shape (n_samples, n_features)
    The samples, converted to float64 (no copy when X already is a
    C-contiguous float64 array).
threads : int, default 0
    Threads to compute on; 0 uses every core the process may run on.

Returns
-------
FormStatistics
    n, mean, variance and ratio, exactly as form_kernel_width --verbose
    prints them.

Raises
------
ValueError
    X is not 2-D, has no samples ("no samples") or no columns ("no feature
    values"), or the environment variable KERNEL_WIDTH_ISA names an
    instruction set that is unknown or that this CPU cannot run.
MemoryError
    The memory for the samples' packed copy or the sums cannot be had.
)");

  m.def("form_width", &form_width, py::arg("X"), py::arg("table"),
        py::arg("threads") = 0,
        R"(Kernel width from the spread of the pairwise distances.

variance / 2.6 when the spread ratio is below 0.01, variance * ratio above
100, and otherwise variance divided by the divisor of the table row whose
key lies nearest to the ratio (the earlier row on ties; row 0 when no key
lies within 1,000 or the ratio is not a number).

Parameters
----------
X : array_like, shape (n_samples, n_features)
    The samples.
table : array_like, shape (n_rows, 2)
    Rows of (key, divisor), as in form_of_relationship.txt; read only when
    the search runs.
threads : int, default 0
    Threads to compute on; 0 uses every core the process may run on.

Returns
-------
float
    The width form_kernel_width prints, bit for bit.

Raises
------
ValueError, MemoryError
    As form_statistics; ValueError also when the search runs on an empty table ("no
    rows to search") or a table of keys only ("no divisor after the key").
)");

  m.def("labelled_statistics", &labelled, py::arg("X"), py::arg("threads") = 0,
        py::arg("first_column") = 1,
        R"(Mean distance between different samples over the feature columns.

Parameters
----------
X : array_like, shape (n_samples, n_columns)
    The samples; columns before first_column (the label) are left out.
threads : int, default 0
    Threads to compute on; 0 uses every core the process may run on.
first_column : int, default 1
    The first feature column: 1 skips a label in column 0, as
    labelled_kernel_width does; 0 for an array of features only.

Returns
-------
LabelledStatistics
    n, total, pairs, mean and width, exactly as labelled_kernel_width
    --verbose prints them.

Raises
------
ValueError
    X is not 2-D, has no samples ("no samples") or no feature columns ("no
    feature values"), or KERNEL_WIDTH_ISA names an instruction set that is
    unknown or that this CPU cannot run.
MemoryError
    The memory for the samples' packed copy or the sums cannot be had.
)");

  m.def(
      "labelled_width",
      [](const array& x, long threads, long first_column) {
        return labelled(x, threads, first_column).width;
      },
      py::arg("X"), py::arg("threads") = 0, py::arg("first_column") = 1,
      R"(Kernel width 2 * mean**2 from the mean distance between different samples.

Parameters
----------
X : array_like, shape (n_samples, n_columns)
    The samples; columns before first_column (the label) are left out.
threads : int, default 0
    Threads to compute on; 0 uses every core the process may run on.
first_column : int, default 1
    1 skips a label in column 0; 0 for an array of features only.

Returns
-------
float
    The width labelled_kernel_width prints, bit for bit.

Raises
------
ValueError, MemoryError
    As labelled_statistics.
)");

  m.def("median_statistics", &median, py::arg("X"), py::arg("threads") = 0,
        R"(Median of the distances between different samples.

Exactly numpy.median(scipy.spatial.distance.pdist(X)), bit for bit: the
middle of the n*(n-1)/2 distances, or (a + b) / 2 of the middle two for an
even number; NaN when a distance is NaN (inf - inf in X) and for one
sample. The distances are never stored: memory grows with X, not with
the pairs.

Parameters
----------
X : array_like, shape (n_samples, n_features)
    The samples, every column a feature.
threads : int, default 0
    Threads to compute on; 0 uses every core the process may run on.

Returns
-------
MedianStatistics
    n, pairs, median and width, exactly as median_kernel_width --verbose
    prints them.

Raises
------
ValueError
    X is not 2-D, has no samples ("no samples") or no columns ("no feature
    values"), or KERNEL_WIDTH_ISA names an instruction set that is unknown
    or that this CPU cannot run.
MemoryError
    The memory for the samples' packed copy or the kept distances cannot
    be had.
)");

  m.def(
      "median_width",
      [](const array& x, long threads) { return median(x, threads).width; },
      py::arg("X"), py::arg("threads") = 0,
      R"(Kernel width 2 * median**2 from the median of the distances (the median heuristic).

Equals 2 * numpy.median(scipy.spatial.distance.pdist(X)) ** 2 bit for bit,
without the n*(n-1)/2 distances in memory.

Parameters
----------
X : array_like, shape (n_samples, n_features)
    The samples, every column a feature.
threads : int, default 0
    Threads to compute on; 0 uses every core the process may run on.

Returns
-------
float
    The width median_kernel_width prints, bit for bit.

Raises
------
ValueError, MemoryError
    As median_statistics.
)");
}
