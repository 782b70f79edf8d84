"""Kernel widths from the pairwise distances between samples.

The numbers that the programs form_kernel_width, labelled_kernel_width and
median_kernel_width compute, for samples already in memory: each row of X is a sample, and the
Euclidean distances between all pairs of samples are reduced to one width,
without building the n x n distance matrix (memory O(n d)) and on every
core. The results are the same, bit for bit, for every thread count.

X may be anything numpy turns into a 2-D array of real numbers: a numpy
array (a C-contiguous float64 array is used without a copy), a list of
rows, a pandas DataFrame of numeric columns. Text, complex numbers, dates
and other objects raise TypeError naming the argument.

Precision: the programs print the width with 6 significant digits
(``"%g" % width``); these functions return the full double, which the
programs' ``--verbose`` shows with 17 significant digits.

NaN and infinity in X follow the plain double arithmetic; each function
says what it then returns. Nothing is checked or left out.

Ctrl-C during a computation stops it within about a tenth of a second and
raises KeyboardInterrupt; the module can be used again at once. (Python
runs signal handlers in the main thread only: a computation started on
another thread runs to its end.)

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
    median heuristic), equal to numpy.median(scipy.spatial.distance.pdist(X)).
"""

from __future__ import annotations

import numbers
import operator
from typing import NamedTuple, SupportsIndex

import numpy as np
import numpy.typing as npt

from . import _core

__version__: str = _core.__version__

__all__ = [
    "FormStatistics",
    "LabelledStatistics",
    "MedianStatistics",
    "form_statistics",
    "form_width",
    "labelled_statistics",
    "labelled_width",
    "median_statistics",
    "median_width",
]


class FormStatistics(NamedTuple):
    """The spread of the n*n pairwise distances, as form_kernel_width
    --verbose shows it.

    Attributes
    ----------
    n : int
        Number of samples.
    columns : int
        Number of columns (features).
    mean : float
        Mean of all n*n distances, the zero diagonal included.
    variance : float
        Mean of (distance - mean)**2 over all n*n distances.
    ratio : float
        The spread ratio mean**2 / variance.
    """

    n: int
    columns: int
    mean: float
    variance: float
    ratio: float


class LabelledStatistics(NamedTuple):
    """The mean distance between different samples, as
    labelled_kernel_width --verbose shows it, and the width.

    Attributes
    ----------
    n : int
        Number of samples.
    columns : int
        Number of feature columns (those from first_column on).
    total : float
        Sum of the distances over all ordered pairs of different samples.
    pairs : int
        n*n - n.
    mean : float
        total / pairs.
    width : float
        2 * mean**2.
    """

    n: int
    columns: int
    total: float
    pairs: int
    mean: float
    width: float


class MedianStatistics(NamedTuple):
    """The median of the distances between different samples, as
    median_kernel_width --verbose shows it, and the width.

    Attributes
    ----------
    n : int
        Number of samples.
    columns : int
        Number of columns, every one a feature.
    pairs : int
        n*(n-1)/2.
    median : float
        The median of the pairs' distances, as numpy.median of pdist(X).
    width : float
        2 * median**2.
    """

    n: int
    columns: int
    pairs: int
    median: float
    width: float


# Array kinds that numpy would turn into numbers by guessing or by
# dropping a part; refused by name.
_REFUSED = {
    "U": "text",
    "S": "text",
    "c": "complex numbers",
    "M": "dates",
    "m": "time spans",
    "V": "records",
}


def _matrix(value: npt.ArrayLike, name: str) -> npt.NDArray[np.float64]:
    """value as a C-contiguous 2-D float64 array (no copy when it is one),
    or a short TypeError or ValueError naming it."""
    try:
        array = np.asarray(value)
    except ValueError:
        raise ValueError(
            f"{name} must be a 2-D array with rows of equal length") from None
    kind = array.dtype.kind
    if kind in _REFUSED:
        raise TypeError(f"{name} must hold real numbers, not {_REFUSED[kind]}")
    if array.ndim != 2:
        raise ValueError(f"{name} must be a 2-D array, not {array.ndim}-D")
    if kind == "O":
        # A DataFrame with a text column, missing values as None or pd.NA.
        for index, item in enumerate(array.flat):
            if not isinstance(item, numbers.Real):
                row, column = divmod(index, array.shape[1])
                raise TypeError(
                    f"{name} must hold real numbers, not "
                    f"{type(item).__name__} (row {row}, column {column})")
    return np.ascontiguousarray(array, dtype=np.float64)


def _integer(value: SupportsIndex, name: str, low: int, high: int,
             meaning: str) -> int:
    """value as an int in low..high, or a short TypeError or ValueError."""
    if isinstance(value, bool) or not hasattr(type(value), "__index__"):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    number = operator.index(value)
    if not low <= number <= high:
        raise ValueError(f"{name} must be {meaning}, not {number}")
    return number


def _threads(value: SupportsIndex) -> int:
    return _integer(value, "threads", 0, 1024, "0 (every core) to 1024")


def form_statistics(X: npt.ArrayLike,
                    threads: SupportsIndex = 0) -> FormStatistics:
    """Spread of the pairwise distances between the rows of X.

    Parameters
    ----------
    X : array_like, shape (n_samples, n_features)
        The samples; every column is a feature.
    threads : int, default 0
        Threads to compute on, 1 to 1024; 0 uses every core the process
        may run on.

    Returns
    -------
    FormStatistics
        n, columns, mean, variance and ratio, the numbers that
        form_kernel_width --verbose prints for the same values.

        A NaN or an infinity anywhere in X makes mean, variance and ratio
        NaN: that sample's distance to itself, part of the sums, is NaN.
        Finite values whose squared differences overflow (a difference
        beyond about 1.3e154) make mean infinite and variance and ratio
        NaN. One sample gives mean 0, variance 0 and ratio NaN.

    Raises
    ------
    TypeError
        X holds something other than real numbers; threads is not an int.
    ValueError
        X is not 2-D, has no rows ("no samples") or no columns ("no
        feature values"); threads is not 0 to 1024; the environment
        variable KERNEL_WIDTH_ISA names an instruction set that is unknown
        or that this CPU cannot run.
    MemoryError
        The memory for X's packed copy or the sums cannot be had.
    KeyboardInterrupt
        Ctrl-C during the computation.
    """
    return FormStatistics(*_core.form(_matrix(X, "X"), _threads(threads)))


def form_width(X: npt.ArrayLike, table: npt.ArrayLike,
               threads: SupportsIndex = 0) -> float:
    """Kernel width from the spread of the pairwise distances.

    variance / 2.6 when the spread ratio is below 0.01, variance * ratio
    above 100, and otherwise (0.01 to 100, or NaN) variance divided by the
    divisor of the table row whose key lies nearest to the ratio: the
    earlier row on ties, row 0 when no key lies within 1,000 of the ratio
    or the ratio is NaN. The table is read only in that last case.

    Parameters
    ----------
    X : array_like, shape (n_samples, n_features)
        The samples; every column is a feature.
    table : array_like, shape (n_rows, 2)
        Rows of (key, divisor), as in form_of_relationship.txt; further
        columns are ignored.
    threads : int, default 0
        Threads to compute on, 1 to 1024; 0 uses every core the process
        may run on.

    Returns
    -------
    float
        The width in full; ``"%g" % width`` is what form_kernel_width
        prints for the same values and table.

        A NaN or an infinity in X makes the ratio NaN, so row 0 of the
        table is used and the width is NaN. One sample gives 0 through
        row 0 (NaN when its divisor is 0). A divisor of 0 gives an
        infinite width (NaN for a variance of 0), a negative one a
        negative width, as the division gives.

    Raises
    ------
    TypeError
        X or table holds something other than real numbers; threads is
        not an int.
    ValueError
        As form_statistics; table is not 2-D; and, when the table is read,
        it has no rows ("no rows to search"), no columns ("no key on the
        line") or one column ("no divisor after the key").
    MemoryError, KeyboardInterrupt
        As form_statistics.
    """
    return _core.form_width(_matrix(X, "X"), _matrix(table, "table"),
                            _threads(threads))


def labelled_statistics(X: npt.ArrayLike, threads: SupportsIndex = 0,
                        first_column: SupportsIndex = 1) -> LabelledStatistics:
    """Mean distance between different samples over the feature columns.

    Parameters
    ----------
    X : array_like, shape (n_samples, n_columns)
        The samples; the columns before first_column (a label) are not
        read at all.
    threads : int, default 0
        Threads to compute on, 1 to 1024; 0 uses every core the process
        may run on.
    first_column : int, default 1
        The first feature column: 1 skips a label in column 0, as
        labelled_kernel_width does; 0 for an array of features only.

    Returns
    -------
    LabelledStatistics
        n, columns, total, pairs and mean, the numbers that
        labelled_kernel_width --verbose prints for the same values, and
        the width 2 * mean**2.

        A NaN in a feature column makes total, mean and width NaN. An
        infinity makes them infinite, or NaN when another sample holds an
        infinity of the same sign in that column (inf - inf). Finite
        values whose squared differences overflow (a difference beyond
        about 1.3e154) make them infinite. One sample gives total 0,
        pairs 0 and mean and width NaN.

    Raises
    ------
    TypeError
        X holds something other than real numbers; threads or
        first_column is not an int.
    ValueError
        X is not 2-D, has no rows ("no samples") or no columns from
        first_column on ("no feature values"); threads is not 0 to 1024;
        first_column is negative; KERNEL_WIDTH_ISA names an instruction
        set that is unknown or that this CPU cannot run.
    MemoryError
        The memory for X's packed copy cannot be had.
    KeyboardInterrupt
        Ctrl-C during the computation.
    """
    first = _integer(first_column, "first_column", 0, np.iinfo(np.intp).max,
                     "0 or more")
    return LabelledStatistics(
        *_core.labelled(_matrix(X, "X"), _threads(threads), first))


def labelled_width(X: npt.ArrayLike, threads: SupportsIndex = 0,
                   first_column: SupportsIndex = 1) -> float:
    """Kernel width 2 * mean**2 from the mean distance between different
    samples.

    Parameters
    ----------
    X, threads, first_column
        As labelled_statistics.

    Returns
    -------
    float
        The width in full; ``"%g" % width`` is what labelled_kernel_width
        prints for the same values. NaN and infinity: as
        labelled_statistics.

    Raises
    ------
    TypeError, ValueError, MemoryError, KeyboardInterrupt
        As labelled_statistics.
    """
    return labelled_statistics(X, threads, first_column).width


def median_statistics(X: npt.ArrayLike,
                      threads: SupportsIndex = 0) -> MedianStatistics:
    """Median of the distances between different samples.

    Exactly numpy.median(scipy.spatial.distance.pdist(X)), bit for bit: the
    middle of the n*(n-1)/2 distances, or (a + b) / 2 of the middle two for
    an even number. The distances are never stored: memory grows with X,
    not with the pairs.

    Parameters
    ----------
    X : array_like, shape (n_samples, n_features)
        The samples, every column a feature.
    threads : int, default 0
        Threads to compute on, 1 to 1024; 0 uses every core the process
        may run on.

    Returns
    -------
    MedianStatistics
        n, columns, pairs and median, the numbers that median_kernel_width
        --verbose prints for the same values, and the width 2 * median**2.

        A NaN distance (a NaN in X, or inf - inf) makes median and width
        NaN, as numpy's median does; an infinite distance (an infinity in
        X, or squared differences that overflow) counts as the largest.
        One sample gives pairs 0 and median and width NaN.

    Raises
    ------
    TypeError
        X holds something other than real numbers; threads is not an int.
    ValueError
        X is not 2-D, has no rows ("no samples") or no columns ("no feature
        values"); threads is not 0 to 1024; KERNEL_WIDTH_ISA names an
        instruction set that is unknown or that this CPU cannot run.
    MemoryError
        The memory for X's packed copy or the kept distances cannot be had.
    KeyboardInterrupt
        Ctrl-C during the computation.
    """
    return MedianStatistics(*_core.median(_matrix(X, "X"), _threads(threads)))


def median_width(X: npt.ArrayLike, threads: SupportsIndex = 0) -> float:
    """Kernel width 2 * median**2 from the median of the distances between
    different samples (the median heuristic).

    Parameters
    ----------
    X, threads
        As median_statistics.

    Returns
    -------
    float
        The width in full, equal bit for bit to
        ``2 * numpy.median(scipy.spatial.distance.pdist(X)) ** 2``;
        ``"%g" % width`` is what median_kernel_width prints for the same
        values. NaN and infinity: as median_statistics.

    Raises
    ------
    TypeError, ValueError, MemoryError, KeyboardInterrupt
        As median_statistics.
    """
    return median_statistics(X, threads).width
