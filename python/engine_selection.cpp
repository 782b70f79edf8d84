// The selection engine's functions for kernel_width.dask (engine_selection.h).
#include <pybind11/pybind11.h>

namespace py = pybind11;

void bind_selection(py::module_& m) { (void)m; }
