// What the _core functions share (module.cpp): arrays as the library's
// views, the thread count, errors as Python exceptions, and the median's
// and quantiles' result tuples.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <vector>

#include "kernel_width/kernel_width.h"

namespace core {

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
kw::matrix_view view_of(const array& x, const char* what, contiguous& copy);

// 0 (every core) to 1024; ValueError else.
unsigned thread_count(long threads);

// MemoryError for out of memory (pybind11 turns std::bad_alloc into it),
// ValueError in the programs' words for anything else.
void check(kw::error e);

// (n, n_y, columns, pairs, median, width, sigma, gamma, zero_pairs), once
// check(s.status) passed.
py::tuple median_tuple(const kw::median_statistics& s);

// (values, widths, gammas, pairs, zero_pairs): values[k] the quantile for
// p[k], widths[k] its width 2 values[k]^2 and gammas[k] 1 / widths[k];
// once check(s.status) passed.
py::tuple quantiles_tuple(const kw::selection& s,
                          const std::vector<kw::quantile>& found);

}  // namespace core
