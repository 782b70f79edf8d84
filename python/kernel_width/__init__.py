"""Kernel widths from the pairwise distances between samples.

The numbers that the programs form_kernel_width, labelled_kernel_width and
median_kernel_width compute, for samples already in memory, and numpy's
quantiles of the same distances: each row of X is a sample, and the
Euclidean distances between all pairs of samples are reduced to one width,
without building the n x n distance matrix (memory O(n d)) and on every
core. The results are the same, bit for bit, for every thread count.

X may be anything numpy turns into a 2-D array of real numbers: a numpy
array (a C-contiguous float64 array is used without a copy), a list of
rows, a pandas DataFrame of numeric columns. Text, complex numbers, dates
and other objects raise TypeError naming the argument. ``label=`` names a
column to leave out, as the programs' ``--label``: a column number from 1,
or ``"last"``; that column may hold anything (a DataFrame's text class
column, say) and the distances run over the others.

Width, sigma and gamma: a width w is that of the kernel exp(-d**2 / w).
The same kernel has two other common parameters, and every result gives
them too (``output="sigma"`` or ``"gamma"`` of the *_width functions,
``output="width"`` or ``"gamma"`` of distance_quantiles, the ``sigma`` and
``gamma`` properties of the statistics):

- gamma = 1 / w, of exp(-gamma * d**2): scikit-learn's
  ``SVC(kernel="rbf", gamma=...)`` and ``rbf_kernel(X, gamma=...)``;
- sigma = sqrt(w / 2), of exp(-d**2 / (2 * sigma**2)): the length scale of
  an RBF kernel (scikit-learn's ``RBF(length_scale=sigma)``) and the
  bandwidth of Gaussian-kernel two-sample and independence tests (MMD,
  HSIC), where the median heuristic takes the median distance as sigma.

For the median and the quantiles sigma is the distance itself, for
labelled the mean distance itself, bit for bit (so 2 * sigma**2 is the
width); for form, sqrt(width / 2).

Precision: the programs print the width with 6 significant digits
(``"%g" % width``); these functions return the full double, which the
programs' ``--verbose`` shows with 17 significant digits.

NaN and infinity in X follow the plain double arithmetic; each function
says what it then returns. Nothing is checked or left out. A width of 0
(every distance 0, a variance of 0, a median or quantile at 0, a distance
whose square underflows) is returned as it is, with a RuntimeWarning
"FUNCTION: the width is 0: CAUSE" in the programs' words (the kernel's
gamma is then infinite). With Y pooled, a set without rows is left out
with a RuntimeWarning "FUNCTION: Y: no samples"; across, it is an error.

Ctrl-C during a computation stops it within about a tenth of a second and
raises KeyboardInterrupt; the module can be used again at once. (Python
runs signal handlers in the main thread only: a computation started on
another thread runs to its end.)

Sampled widths: ``sample=M`` (median_*, labelled_*, distance_quantiles)
draws M pairs uniformly, with replacement, from the same pairs, with
``seed=`` (default 0: two calls agree) and ``confidence=`` C (default
0.99). The result is the estimate (numpy's quantile of the M drawn
distances, their mean for labelled) and, in the statistics (and
distance_quantiles with ``interval=True``), an interval ``low``..``high``
that contains the exact result with probability at least C over the draw,
for every data set (doc/sampling.md gives the argument). The same seed
gives the same numbers as the programs' ``--sample M --seed S``, the
library and R, for every thread count.

Results are plain values: named tuples that pickle, copy and compare equal
when their fields do.

Functions
---------
form_width, form_statistics
    From the spread of the n*n distances (the zero diagonal included).
labelled_width, labelled_statistics
    From the mean distance between different samples over the feature
    columns.
median_width, median_statistics
    From the median of the distances between different samples (the
    median heuristic), equal to numpy.median(scipy.spatial.distance.pdist(X));
    also of two sets of samples, pooled or across.
distance_quantiles
    numpy.quantile of the same distances, within one set, of two pooled
    or across two.
"""

import typing
# The results' annotations are strings that typing.get_type_hints resolves
# in the package's names, their module: Optional is one of them.
from typing import Optional  # noqa: F401

from . import _core
from ._form import form_statistics, form_width
from ._labelled import labelled_statistics, labelled_width
from ._median import median_statistics, median_width
from ._quantiles import distance_quantiles
from ._results import (FormStatistics, IntervalEnd, LabelledStatistics,
                       MedianStatistics, SampledLabelledStatistics,
                       SampledMedianStatistics)

__version__: str = _core.__version__

__all__ = [
    "FormStatistics",
    "IntervalEnd",
    "LabelledStatistics",
    "MedianStatistics",
    "SampledLabelledStatistics",
    "SampledMedianStatistics",
    "distance_quantiles",
    "form_statistics",
    "form_width",
    "labelled_statistics",
    "labelled_width",
    "median_statistics",
    "median_width",
]


def _adopt(names: list[str]) -> None:
    """Make each public name the package's own, wherever it is defined: its
    module in help() and in a pickle's reference is kernel_width. Overloads
    are registered by module, so theirs are registered again."""
    for name in names:
        value = globals()[name]
        stubs = (typing.get_overloads(value)
                 if hasattr(typing, "get_overloads") else [])
        value.__module__ = __name__
        for stub in stubs:
            stub.__module__ = __name__
            typing.overload(stub)


_adopt(__all__)
