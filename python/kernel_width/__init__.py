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

from __future__ import annotations

import math
import numbers
import operator
import warnings
from typing import (Any, Literal, NamedTuple, Optional, Protocol, TypeVar,
                    Union, overload)

import numpy as np
import numpy.typing as npt

from . import _core

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

_C = TypeVar("_C", bound="_Count")


class _Count(Protocol):
    """An int or a numpy integer, never a bool: what threads and column
    numbers take. (A bool's + gives an int, not a bool: that keeps it out.)
    """

    def __index__(self) -> int: ...

    def __pos__(self: _C) -> _C: ...


Label = Union[_Count, Literal["last"], None]
Output = Literal["width", "sigma", "gamma"]


def _gamma(width: float) -> float:
    """1 / width as the library's double division gives it (infinite for
    0, which Python's float division refuses)."""
    if width == 0:
        return math.copysign(math.inf, width)
    return 1.0 / width


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
        Number of feature columns (the label and the columns before
        first_column left out).
    total : float
        Sum of the distances over all ordered pairs of different samples.
    pairs : int
        n*n - n.
    mean : float
        total / pairs.
    width : float
        2 * mean**2.
    sigma : float
        The mean itself: the sigma of exp(-d**2 / (2 * sigma**2)), whose
        width is 2 * sigma**2 (a property, not a field).
    gamma : float
        1 / width: the gamma of exp(-gamma * d**2), scikit-learn's SVC
        gamma (a property, not a field).
    """

    n: int
    columns: int
    total: float
    pairs: int
    mean: float
    width: float

    @property
    def sigma(self) -> float:
        return self.mean

    @property
    def gamma(self) -> float:
        return _gamma(self.width)


class MedianStatistics(NamedTuple):
    """The median of the distances between different samples, as
    median_kernel_width --verbose shows it, and the width.

    Attributes
    ----------
    n : int
        Number of samples: X's, and Y's too when Y is given.
    columns : int
        Number of columns, every one a feature (a label left out).
    pairs : int
        The distances the median is taken over: n*(n-1)/2 within X or of
        X and Y pooled, len(X) * len(Y) across them.
    median : float
        The median of the pairs' distances, as numpy.median of pdist(X).
    width : float
        2 * median**2.
    sigma : float
        The median itself: the sigma of exp(-d**2 / (2 * sigma**2)), whose
        width is 2 * sigma**2 (a property, not a field).
    gamma : float
        1 / width: the gamma of exp(-gamma * d**2), scikit-learn's SVC
        gamma (a property, not a field).
    """

    n: int
    columns: int
    pairs: int
    median: float
    width: float

    @property
    def sigma(self) -> float:
        return self.median

    @property
    def gamma(self) -> float:
        return _gamma(self.width)


class IntervalEnd(NamedTuple):
    """One end of a sampled width's interval.

    Attributes
    ----------
    width : float
        The width 2 * sigma**2 at this end.
    sigma : float
        The distance (median, quantile) or mean distance (labelled) at
        this end.
    gamma : float
        The gamma at this end of the interval of gammas, which reverses the
        order: low.gamma = 1 / high.width, high.gamma = 1 / low.width.
    rank : int or None
        The rank among the drawn distances sorted (from 0) whose value the
        end is; None for a trivial end (0 below, the distance bound
        above: no rank reaches the confidence) and for labelled.
    """

    width: float
    sigma: float
    gamma: float
    rank: Optional[int]


class SampledMedianStatistics(NamedTuple):
    """The median of drawn distances and the interval around the exact
    median (median_statistics with sample=).

    Attributes
    ----------
    n, columns : int
        As MedianStatistics.
    pairs : int
        N, the pairs drawn from (those the exact median takes).
    median : float
        numpy.quantile of the drawn distances at 0.5: the estimate.
    width : float
        2 * median**2.
    low, high : IntervalEnd
        The interval's ends: the exact median, width, sigma and gamma lie
        between them with probability at least confidence.
    draws, seed : int
        M, the pairs drawn, and the seed.
    confidence : float
        C.
    sigma, gamma : float
        As MedianStatistics (properties, not fields).
    """

    n: int
    columns: int
    pairs: int
    median: float
    width: float
    low: IntervalEnd
    high: IntervalEnd
    draws: int
    seed: int
    confidence: float

    @property
    def sigma(self) -> float:
        return self.median

    @property
    def gamma(self) -> float:
        return _gamma(self.width)


class SampledLabelledStatistics(NamedTuple):
    """The mean of drawn distances and the interval around labelled's
    exact mean (labelled_statistics with sample=).

    Attributes
    ----------
    n, columns : int
        As LabelledStatistics.
    pairs : int
        N = n*(n-1)/2, the pairs i < l drawn from (the exact mean is over
        each of them twice, n*n - n ordered pairs).
    mean : float
        The mean of the drawn distances, summed in draw order: the
        estimate.
    width : float
        2 * mean**2.
    low, high : IntervalEnd
        The interval's ends (empirical Bernstein bound): the exact mean,
        width, sigma and gamma lie between them with probability at least
        confidence. Their rank is None.
    draws, seed : int
        M, the pairs drawn, and the seed.
    confidence : float
        C.
    sigma, gamma : float
        As LabelledStatistics (properties, not fields).
    """

    n: int
    columns: int
    pairs: int
    mean: float
    width: float
    low: IntervalEnd
    high: IntervalEnd
    draws: int
    seed: int
    confidence: float

    @property
    def sigma(self) -> float:
        return self.mean

    @property
    def gamma(self) -> float:
        return _gamma(self.width)


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


def _array(value: npt.ArrayLike, name: str) -> np.ndarray:
    """value as a 2-D numpy array (not yet converted), or a short TypeError
    or ValueError naming it."""
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
    return array


def _check_reals(array: np.ndarray, name: str, columns: list[int]) -> None:
    """A TypeError naming the first item of an object array that is not a
    real number (a DataFrame's text, None, pd.NA), by row and by its column
    in the caller's X."""
    for index, item in enumerate(array.flat):
        if not isinstance(item, numbers.Real):
            row, column = divmod(index, array.shape[1])
            raise TypeError(
                f"{name} must hold real numbers, not "
                f"{type(item).__name__} (row {row}, column {columns[column]})")


def _integer(value: _Count, name: str, low: int, high: int,
             meaning: str) -> int:
    """value as an int in low..high, or a short TypeError or ValueError."""
    if (isinstance(value, (bool, np.bool_))
            or not hasattr(type(value), "__index__")):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    number = operator.index(value)
    if not low <= number <= high:
        raise ValueError(f"{name} must be {meaning}, not {number}")
    return number


def _threads(value: _Count) -> int:
    return _integer(value, "threads", 0, 1024, "0 (every core) to 1024")


def _sampling(sample: Optional[_Count], seed: Optional[_Count],
              confidence: Optional[float]) -> Optional[tuple]:
    """(draws, seed, confidence) for a sampled width, None for the exact
    one; a short TypeError or ValueError for a bad value."""
    if sample is None:
        for name, value in ("seed", seed), ("confidence", confidence):
            if value is not None:
                raise ValueError(f"{name}= needs sample=: the exact width "
                                 "draws nothing")
        return None
    draws = _integer(sample, "sample", 1, 2**63, "1 to 2**63 pairs")
    chosen = 0 if seed is None else _integer(seed, "seed", 0, 2**64 - 1,
                                             "0 to 2**64 - 1")
    level = 0.99 if confidence is None else confidence
    if isinstance(level, (bool, np.bool_)) or not isinstance(
            level, numbers.Real):
        raise TypeError(f"confidence must be a real number, not "
                        f"{type(level).__name__}")
    if not 0 < float(level) < 1:
        raise ValueError(f"confidence must lie strictly between 0 and 1, "
                         f"not {level!r}")
    return draws, chosen, float(level)


def _end(value: float, width: float, gamma: float,
         rank: Optional[int]) -> IntervalEnd:
    return IntervalEnd(float(width), float(value), float(gamma),
                       None if rank is None or rank < 0 else int(rank))


def _sampled_zero(value: float, name: str) -> str:
    """Why a sampled width is 0, or "" when it is not."""
    if value != 0:
        return f"2 * {name}^2 underflowed"
    return "the drawn pairs give a distance of 0"


def _columns(count: int) -> str:
    return f"{count} column" + ("" if count == 1 else "s")


def _label_column(label: Label, columns: int, name: str) -> Optional[int]:
    """The label's column, counted from 0, in an array of that many
    columns; None for no label."""
    if label is None:
        return None
    if isinstance(label, str):
        if label != "last":
            raise ValueError(
                f'label must be a column number from 1 or "last", '
                f"not {label!r}")
        if columns == 0:
            raise ValueError(f"label='last' names no column: {name} has none")
        return columns - 1
    if isinstance(label, (bool, np.bool_)) or not hasattr(type(label),
                                                          "__index__"):
        raise TypeError(f'label must be a column number from 1 or "last", '
                        f"not {type(label).__name__}")
    number = operator.index(label)
    if number < 1:
        raise ValueError(
            f'label must be a column number from 1 or "last", not {number}')
    if number > columns:
        raise ValueError(
            f"label={number} is beyond the last column of {name}: {name} has "
            f"{_columns(columns)}, which label counts from 1")
    return number - 1


def _rows_in_place(array: np.ndarray) -> bool:
    """True for native float64 whose rows the library can read where they
    are: adjacent values, rows a positive whole number of doubles apart
    (a C-contiguous array, or every k-th row of one)."""
    rows, step = array.strides
    return (array.dtype == np.float64 and array.flags.aligned
            and (array.shape[1] <= 1 or step == 8)
            and (array.shape[0] <= 1 or (rows > 0 and rows % 8 == 0)))


def _samples(value: npt.ArrayLike, name: str, first: int = 0,
             label: Label = None) -> npt.NDArray[np.float64]:
    """The columns of value from first on, less the label's, as a float64
    array whose rows each hold adjacent values: a view of value where it is
    a C-contiguous float64 array and the columns left out lie at an edge,
    a copy otherwise. Only those columns need to be real numbers."""
    array = _array(value, name)
    columns = array.shape[1]
    if 0 < columns <= first:
        raise ValueError(
            f"first_column={first} is beyond the last column of {name}: "
            f"{name} has {_columns(columns)}, which first_column counts "
            "from 0")
    skip = _label_column(label, columns, name)
    low, high = min(first, columns), columns
    if skip is not None and low <= skip:
        if skip == low:
            low += 1
        elif skip == high - 1:
            high -= 1
    kept = [c for c in range(low, high) if c != skip]
    if array.dtype.kind == "O":
        part = array[:, kept]
        _check_reals(part, name, kept)
        return np.array(part, dtype=np.float64)
    whole = array if _rows_in_place(array) else np.ascontiguousarray(
        array, dtype=np.float64)
    if len(kept) == high - low:
        return whole[:, low:high]
    return np.ascontiguousarray(whole[:, kept])


def _output(value: str) -> str:
    if not isinstance(value, str):
        raise TypeError(f"output must be a str, not {type(value).__name__}")
    if value not in ("width", "sigma", "gamma"):
        raise ValueError(
            f'output must be "width", "sigma" or "gamma", not {value!r}')
    return value


def _zero_width(function: str, cause: str) -> None:
    """The RuntimeWarning for a width of 0 when there is a cause, at the
    caller's line (the public function calls this directly)."""
    if cause:
        warnings.warn(f"{function}: the width is 0: {cause}", RuntimeWarning,
                      stacklevel=3)


# The causes of a width of 0 in the programs' words (width_warning.cpp),
# so that a message reads the same from every front end.
_COINCIDE = "every distance is 0 (all samples coincide)"


def _distance_zero(value: float, name: str, pairs: int,
                   zero_pairs: int) -> str:
    """Why the width 2 * value**2 of a distance, the median or a quantile
    (name "q"), is 0."""
    if value != 0:
        return f"2 * {name}^2 underflowed"
    if zero_pairs == pairs:
        return _COINCIDE
    if zero_pairs == 0:  # not counted
        return "at least half of the pairs are at distance 0"
    return f"{zero_pairs} of the {pairs} pairs are at distance 0"


def form_statistics(X: npt.ArrayLike, threads: _Count = 0, *,
                    label: Label = None) -> FormStatistics:
    """Spread of the pairwise distances between the rows of X.

    Parameters
    ----------
    X : array_like, shape (n_samples, n_columns)
        The samples; every column is a feature but the label's.
    threads : int, default 0
        Threads to compute on, 1 to 1024; 0 uses every core the process
        may run on.
    label : int or "last", optional
        A column to leave out, numbered from 1 as the programs' --label
        numbers it, or "last"; it may hold anything (text, say).

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
        X holds something other than real numbers (the label column
        aside); threads is not an int; label is neither an int nor a str.
    ValueError
        X is not 2-D, has no rows ("no samples") or no columns ("no
        feature values"); threads is not 0 to 1024; label is below 1 or
        beyond the last column; the environment variable KERNEL_WIDTH_ISA
        names an instruction set that is unknown or that this CPU cannot
        run (the message names it and the sets this CPU runs).
    MemoryError
        The memory for X's packed copy or the sums cannot be had.
    KeyboardInterrupt
        Ctrl-C during the computation.
    """
    return FormStatistics(*_core.form(_samples(X, "X", 0, label),
                                      _threads(threads)))


def _form_zero(result: tuple, table: npt.NDArray[np.float64]) -> str:
    """Why form's width is 0, or "" when it is not."""
    width, _, _, n, mean, variance, rule, row = result
    if width != 0:
        return ""
    if n < 2:
        return "one sample"
    if mean == 0:
        return _COINCIDE
    if variance == 0:
        return "the variance is zero"
    if rule != 2:
        return ("variance / 2.6 underflowed" if rule == 0
                else "variance * ratio underflowed")
    divisor = float(table[row, 1])
    why = ("not a number" if math.isnan(divisor) else "0" if divisor == 0
           else "negative" if divisor < 0
           else "infinite" if math.isinf(divisor) else "")
    return (f"the divisor on table row {row} is {why}" if why
            else "variance / divisor underflowed")


def form_width(X: npt.ArrayLike, table: npt.ArrayLike,
               threads: _Count = 0, *, label: Label = None,
               output: Output = "width") -> float:
    """Kernel width from the spread of the pairwise distances.

    variance / 2.6 when the spread ratio is below 0.01, variance * ratio
    above 100, and otherwise (0.01 to 100, or NaN) variance divided by the
    divisor of the table row whose key lies nearest to the ratio: the
    earlier row on ties, row 0 when no key lies within 1,000 of the ratio
    or the ratio is NaN. The table is read only in that last case.

    Parameters
    ----------
    X : array_like, shape (n_samples, n_columns)
        The samples; every column is a feature but the label's.
    table : array_like, shape (n_rows, 2)
        Rows of (key, divisor), as in form_of_relationship.txt; further
        columns are ignored.
    threads : int, default 0
        Threads to compute on, 1 to 1024; 0 uses every core the process
        may run on.
    label : int or "last", optional
        As form_statistics.
    output : {"width", "sigma", "gamma"}, default "width"
        What to return: the width w of exp(-d**2 / w); sigma =
        sqrt(w / 2), of exp(-d**2 / (2 * sigma**2)) (an RBF length scale,
        a kernel test's bandwidth); or gamma = 1 / w, of
        exp(-gamma * d**2) (scikit-learn's SVC gamma).

    Returns
    -------
    float
        The width in full; ``"%g" % width`` is what form_kernel_width
        prints for the same values and table. Or its sigma or gamma.

        A NaN or an infinity in X makes the ratio NaN, so row 0 of the
        table is used and the width is NaN. One sample gives 0 through
        row 0 (NaN when its divisor is 0). A divisor of 0 gives an
        infinite width (NaN for a variance of 0), a negative one a
        negative width, as the division gives (and a NaN sigma).

    Warns
    -----
    RuntimeWarning
        A width of 0, whatever output asks for: ``form_width: the width
        is 0: CAUSE``, the cause "every distance is 0 (all samples
        coincide)", "one sample", "the variance is zero", "variance / 2.6
        underflowed", "variance * ratio underflowed", "the divisor on
        table row R is infinite" ("negative" for a width of -0.0; R
        counts from 0) or "variance / divisor underflowed"; the 0 (sigma
        0, gamma infinite) is returned all the same.

    Raises
    ------
    TypeError
        X or table holds something other than real numbers; threads is
        not an int; label is neither an int nor a str; output is not a
        str.
    ValueError
        As form_statistics; table is not 2-D; output is not "width",
        "sigma" or "gamma"; and, when the table is read, it has no rows
        ("no rows to search"), no columns ("no key on the line") or one
        column ("no divisor after the key").
    MemoryError, KeyboardInterrupt
        As form_statistics.
    """
    what = _output(output)
    rows = _samples(table, "table")
    result = _core.form_width(_samples(X, "X", 0, label), rows,
                              _threads(threads))
    _zero_width("form_width", _form_zero(result, rows))
    width, sigma, gamma = result[:3]
    return {"width": width, "sigma": sigma, "gamma": gamma}[what]


def _labelled(X: npt.ArrayLike, threads: _Count,
              first_column: Optional[_Count], label: Label) -> tuple:
    """_core.labelled's tuple for the columns that first_column and label
    leave."""
    return _core.labelled(_features(X, first_column, label),
                          _threads(threads))


def _sampled_labelled(X: npt.ArrayLike, threads: _Count,
                      first_column: Optional[_Count], label: Label,
                      how: tuple) -> SampledLabelledStatistics:
    """The mean of drawn distances over the same columns as _labelled."""
    n, columns, population, mean, width, _, low, high = _core.sampled_mean(
        _features(X, first_column, label), how[0], how[1], how[2],
        _threads(threads))
    ends = [_end(e[0], e[1], e[2], None) for e in (low, high)]
    return SampledLabelledStatistics(n, columns, population, mean, width,
                                     ends[0], ends[1], *how)


def _features(X: npt.ArrayLike, first_column: Optional[_Count],
              label: Label) -> npt.NDArray[np.float64]:
    """X's feature columns as labelled takes them."""
    if first_column is None:
        first = 1 if label is None else 0
    else:
        first = _integer(first_column, "first_column", 0,
                         np.iinfo(np.intp).max, "0 or more")
        if first == 0 and label is not None:
            raise ValueError(
                f"first_column=0 (every column a feature) contradicts "
                f"label={label!r}: give one of them")
    return _samples(X, "X", first, label)


def _labelled_zero(s: tuple) -> str:
    """Why labelled's width is 0, or "" when it is not."""
    total, mean, width = s[2], s[4], s[5]
    if width != 0:
        return ""
    if total == 0:
        return _COINCIDE
    return ("the mean distance underflowed" if mean == 0
            else "2 * mean^2 underflowed")


@overload
def labelled_statistics(
        X: npt.ArrayLike, threads: _Count = ...,
        first_column: Optional[_Count] = ..., *, label: Label = ...,
        sample: None = ..., seed: None = ...,
        confidence: None = ...) -> LabelledStatistics: ...


@overload
def labelled_statistics(
        X: npt.ArrayLike, threads: _Count = ...,
        first_column: Optional[_Count] = ..., *, label: Label = ...,
        sample: _Count, seed: Optional[_Count] = ...,
        confidence: Optional[float] = ...) -> SampledLabelledStatistics: ...


def labelled_statistics(
        X: npt.ArrayLike, threads: _Count = 0,
        first_column: Optional[_Count] = None, *, label: Label = None,
        sample: Optional[_Count] = None, seed: Optional[_Count] = None,
        confidence: Optional[float] = None
) -> Union[LabelledStatistics, SampledLabelledStatistics]:
    """Mean distance between different samples over the feature columns.

    Parameters
    ----------
    X : array_like, shape (n_samples, n_columns)
        The samples: a label and the features. The columns before
        first_column and the label's column are left out (not read, so
        they may hold anything).
    threads : int, default 0
        Threads to compute on, 1 to 1024; 0 uses every core the process
        may run on.
    first_column : int, optional
        The first feature column, from 0. Without label it defaults to 1,
        which leaves out a label in column 0, as labelled_kernel_width
        does; 0 for an array of features only. With label it defaults to
        0; a first_column of 1 or more then also leaves out the columns
        before it (an id in column 0 and the label last: first_column=1,
        label="last"), and 0, which says that every column is a feature,
        is refused.
    label : int or "last", optional
        The label's column, numbered from 1 as labelled_kernel_width's
        --label numbers it, or "last".
    sample : int, optional
        Draw this many pairs (1 to 2**63), uniformly with replacement,
        instead of taking them all: the result is then the estimate from
        the drawn distances (doc/sampling.md), the same as the programs'
        --sample for the same seed.
    seed : int, default 0
        The draws' seed, 0 to 2**64 - 1: the same seed draws the same pairs
        on every front end and thread count. Only with sample.
    confidence : float, default 0.99
        With sample: the probability, strictly between 0 and 1, that the
        interval (low, high) contains the exact result.

    Returns
    -------
    LabelledStatistics
        n, columns, total, pairs and mean, the numbers that
        labelled_kernel_width --verbose prints for the same values, and
        the width 2 * mean**2; its sigma is the mean itself and its gamma
        1 / width.
    SampledLabelledStatistics
        With sample: the mean of the drawn distances and the interval's
        ends low and high, each with its width, sigma and gamma; a NaN
        distance makes them all NaN.

        A NaN in a feature column makes total, mean and width NaN. An
        infinity makes them infinite, or NaN when another sample holds an
        infinity of the same sign in that column (inf - inf). Finite
        values whose squared differences overflow (a difference beyond
        about 1.3e154) make them infinite. One sample gives total 0,
        pairs 0 and mean and width NaN.

    Warns
    -----
    RuntimeWarning
        A width of 0: ``labelled_statistics: the width is 0: CAUSE``
        (labelled_width's own name in its warning), the cause "every
        distance is 0 (all samples coincide)", "the mean distance
        underflowed" (a total above 0 divided by the pairs rounds to 0),
        or "2 * mean^2 underflowed" (a mean below about 1.6e-162).

    Raises
    ------
    TypeError
        X holds something other than real numbers in the feature columns;
        threads or first_column is not an int; label is neither an int
        nor a str.
    ValueError
        X is not 2-D, has no rows ("no samples") or no feature columns
        ("no feature values"); threads is not 0 to 1024; first_column is
        negative, or beyond the last column (it says so); label is below
        1 or beyond the last column; first_column 0 with a label;
        KERNEL_WIDTH_ISA names an instruction set that is unknown or that
        this CPU cannot run.
    MemoryError
        The memory for X's packed copy cannot be had.
    KeyboardInterrupt
        Ctrl-C during the computation.
    """
    how = _sampling(sample, seed, confidence)
    if how is not None:
        r = _sampled_labelled(X, threads, first_column, label, how)
        _zero_width("labelled_statistics", _sampled_zero(r.mean, "mean")
                    if r.width == 0 else "")
        return r
    s = _labelled(X, threads, first_column, label)
    _zero_width("labelled_statistics", _labelled_zero(s))
    return LabelledStatistics(*s[:6])


def labelled_width(X: npt.ArrayLike, threads: _Count = 0,
                   first_column: Optional[_Count] = None, *,
                   label: Label = None, output: Output = "width",
                   sample: Optional[_Count] = None,
                   seed: Optional[_Count] = None,
                   confidence: Optional[float] = None) -> float:
    """Kernel width 2 * mean**2 from the mean distance between different
    samples.

    Parameters
    ----------
    X, threads, first_column, label, sample, seed, confidence
        As labelled_statistics (with sample, the estimate; its interval is
        in labelled_statistics' result).
    output : {"width", "sigma", "gamma"}, default "width"
        What to return: the width w of exp(-d**2 / w); sigma, of
        exp(-d**2 / (2 * sigma**2)), here the mean distance itself (an
        RBF length scale, a kernel test's bandwidth); or gamma = 1 / w, of
        exp(-gamma * d**2) (scikit-learn's SVC gamma).

    Returns
    -------
    float
        The width in full; ``"%g" % width`` is what labelled_kernel_width
        prints for the same values. Or its sigma or gamma. NaN and
        infinity: as labelled_statistics.

    Warns
    -----
    RuntimeWarning
        As labelled_statistics, whatever output asks for.

    Raises
    ------
    TypeError, ValueError, MemoryError, KeyboardInterrupt
        As labelled_statistics; and output not one of the three.
    """
    what = _output(output)
    how = _sampling(sample, seed, confidence)
    if how is not None:
        r = _sampled_labelled(X, threads, first_column, label, how)
        _zero_width("labelled_width", _sampled_zero(r.mean, "mean")
                    if r.width == 0 else "")
        return {"width": r.width, "sigma": r.sigma, "gamma": r.gamma}[what]
    s = _labelled(X, threads, first_column, label)
    _zero_width("labelled_width", _labelled_zero(s))
    return {"width": s[5], "sigma": s[6], "gamma": s[7]}[what]


def _two_sets(X: npt.ArrayLike, Y: Optional[npt.ArrayLike], cross: bool,
              label: Label) -> tuple:
    """(x, y, cross, empty) for _core: X and Y as samples, less the label,
    and the name of a set without rows pooled with one that has some ("X"
    or "Y"; "" for none), for its warning. Across, a set without rows is
    an error: no pair would have a sample of it."""
    if not isinstance(cross, (bool, np.bool_)):
        raise TypeError(f"cross must be a bool, not {type(cross).__name__}")
    x = _samples(X, "X", 0, label)
    if Y is None:
        if cross:
            raise ValueError("cross=True needs Y: the pairs across X and Y")
        return x, None, False, ""
    y = _samples(Y, "Y", 0, label)
    if x.shape[1] != y.shape[1]:
        raise ValueError(f"X and Y must have the same columns, not "
                         f"{x.shape[1]} and {y.shape[1]}")
    empty = "X" if len(x) == 0 else "Y" if len(y) == 0 else ""
    if cross and empty:
        raise ValueError(f"{empty}: no samples (cross=True pairs each sample "
                         "of X with each of Y)")
    # Both empty: the library's "no samples".
    return x, y, bool(cross), "" if len(x) + len(y) == 0 else empty


def _no_samples(function: str, empty: str) -> None:
    """The RuntimeWarning for a pooled set without rows, as _zero_width."""
    if empty:
        warnings.warn(f"{function}: {empty}: no samples", RuntimeWarning,
                      stacklevel=3)


def _median(X: npt.ArrayLike, threads: _Count, Y: Optional[npt.ArrayLike],
            cross: bool, label: Label) -> tuple:
    """_core.median's tuple, and the set without rows (_two_sets)."""
    x, y, across, empty = _two_sets(X, Y, cross, label)
    return _core.median(x, y, across, _threads(threads)), empty


def _median_zero(s: tuple) -> str:
    """Why the median's width is 0, or "" when it is not."""
    return "" if s[5] != 0 else _distance_zero(s[4], "median", s[3], s[8])


def _sampled(x: np.ndarray, y: Optional[np.ndarray], across: bool,
             p: np.ndarray, how: tuple, threads: _Count) -> tuple:
    """_core.sampled_quantiles's tuple for the probabilities p."""
    return _core.sampled_quantiles(x, y, across, p, how[0], how[1], how[2],
                                   _threads(threads))


def _sampled_median(X: npt.ArrayLike, threads: _Count,
                    Y: Optional[npt.ArrayLike], cross: bool, label: Label,
                    how: tuple) -> tuple:
    """The SampledMedianStatistics, and the set without rows."""
    x, y, across, empty = _two_sets(X, Y, cross, label)
    values, widths, _, low, high, population, n, n_y, columns = _sampled(
        x, y, across, np.array([0.5]), how, threads)
    ends = [_end(e[0][0], e[1][0], e[2][0], e[3][0]) for e in (low, high)]
    return SampledMedianStatistics(
        n + n_y, columns, population, float(values[0]), float(widths[0]),
        ends[0], ends[1], *how), empty


@overload
def median_statistics(
        X: npt.ArrayLike, threads: _Count = ..., *,
        Y: Optional[npt.ArrayLike] = ..., cross: bool = ...,
        label: Label = ..., sample: None = ..., seed: None = ...,
        confidence: None = ...) -> MedianStatistics: ...


@overload
def median_statistics(
        X: npt.ArrayLike, threads: _Count = ..., *,
        Y: Optional[npt.ArrayLike] = ..., cross: bool = ...,
        label: Label = ..., sample: _Count, seed: Optional[_Count] = ...,
        confidence: Optional[float] = ...) -> SampledMedianStatistics: ...


def median_statistics(
        X: npt.ArrayLike, threads: _Count = 0, *,
        Y: Optional[npt.ArrayLike] = None, cross: bool = False,
        label: Label = None, sample: Optional[_Count] = None,
        seed: Optional[_Count] = None, confidence: Optional[float] = None
) -> Union[MedianStatistics, SampledMedianStatistics]:
    """Median of the distances between different samples.

    Exactly numpy.median(scipy.spatial.distance.pdist(X)), bit for bit: the
    middle of the n*(n-1)/2 distances, or (a + b) / 2 of the middle two for
    an even number. With Y, of ``pdist(numpy.vstack([X, Y]))``, the two
    sets pooled; with Y and cross=True, of ``cdist(X, Y)``, the distance
    from each sample of X to each of Y. The distances are never stored:
    memory grows with X and Y, not with the pairs.

    Parameters
    ----------
    X : array_like, shape (n_samples, n_columns)
        The samples, every column a feature but the label's.
    threads : int, default 0
        Threads to compute on, 1 to 1024; 0 uses every core the process
        may run on.
    Y : array_like, shape (n_samples_y, n_columns), optional
        A second set of samples, with X's columns.
    cross : bool, default False
        With Y: only the distances across the sets, not within them.
    label : int or "last", optional
        A column to leave out of X and of Y, numbered from 1 as the
        programs' --label numbers it, or "last"; it may hold anything.
    sample : int, optional
        Draw this many pairs (1 to 2**63), uniformly with replacement,
        instead of taking them all: the result is then the estimate from
        the drawn distances (doc/sampling.md), the same as the programs'
        --sample for the same seed.
    seed : int, default 0
        The draws' seed, 0 to 2**64 - 1: the same seed draws the same pairs
        on every front end and thread count. Only with sample.
    confidence : float, default 0.99
        With sample: the probability, strictly between 0 and 1, that the
        interval (low, high) contains the exact result.

    Returns
    -------
    MedianStatistics
        n, columns, pairs and median, the numbers that median_kernel_width
        --verbose prints for the same values, and the width 2 * median**2;
        its sigma is the median itself and its gamma 1 / width.
    SampledMedianStatistics
        With sample: the estimate (numpy.quantile of the drawn distances
        at 0.5) and the interval's ends low and high, each with its width,
        sigma, gamma and rank; a NaN distance makes them all NaN.

        A NaN distance (a NaN in X, or inf - inf) makes median and width
        NaN, as numpy's median does; an infinite distance (an infinity in
        X, or squared differences that overflow) counts as the largest.
        One sample gives pairs 0 and median and width NaN. With Y pooled,
        a set without rows adds no pairs: the median of the other set
        alone, with a warning.

    Warns
    -----
    RuntimeWarning
        A width of 0: ``median_statistics: the width is 0: CAUSE``
        (median_width's own name in its warning), the cause "K of the N
        pairs are at distance 0" (a median of 0: at least half of the
        pairs coincide), "every distance is 0 (all samples coincide)", or
        "2 * median^2 underflowed" (a median so small, below about
        1.6e-162, that its square rounds to 0). With Y pooled,
        ``median_statistics: Y: no samples`` when Y has no rows (or X,
        when X has none and Y some).

    Raises
    ------
    TypeError
        X or Y holds something other than real numbers (the label column
        aside); threads is not an int; cross is not a bool; label is
        neither an int nor a str.
    ValueError
        X or Y is not 2-D; no samples at all ("no samples"), or, across,
        X or Y without rows ("Y: no samples (cross=True pairs each sample
        of X with each of Y)"); no columns ("no feature values"); X and Y
        have different columns; cross without Y; threads is not 0 to
        1024; label is below 1 or beyond the last column;
        KERNEL_WIDTH_ISA names an instruction set that is unknown or that
        this CPU cannot run.
    MemoryError
        The memory for the packed copies or the kept distances cannot be
        had.
    KeyboardInterrupt
        Ctrl-C during the computation.
    """
    how = _sampling(sample, seed, confidence)
    if how is not None:
        r, empty = _sampled_median(X, threads, Y, cross, label, how)
        _no_samples("median_statistics", empty)
        _zero_width("median_statistics", _sampled_zero(r.median, "median")
                    if r.width == 0 else "")
        return r
    s, empty = _median(X, threads, Y, cross, label)
    _no_samples("median_statistics", empty)
    _zero_width("median_statistics", _median_zero(s))
    return MedianStatistics(s[0] + s[1], *s[2:6])


def median_width(X: npt.ArrayLike, threads: _Count = 0, *,
                 Y: Optional[npt.ArrayLike] = None, cross: bool = False,
                 label: Label = None, output: Output = "width",
                 sample: Optional[_Count] = None,
                 seed: Optional[_Count] = None,
                 confidence: Optional[float] = None) -> float:
    """Kernel width 2 * median**2 from the median of the distances between
    different samples (the median heuristic).

    Parameters
    ----------
    X, threads, Y, cross, label, sample, seed, confidence
        As median_statistics (with sample, the estimate; its interval is
        in median_statistics' result).
    output : {"width", "sigma", "gamma"}, default "width"
        What to return: the width w of exp(-d**2 / w); sigma, of
        exp(-d**2 / (2 * sigma**2)), here the median distance itself, bit
        for bit (an RBF length scale; the median heuristic's bandwidth of
        a kernel two-sample or independence test); or gamma = 1 / w, of
        exp(-gamma * d**2) (scikit-learn's SVC gamma).

    Returns
    -------
    float
        The width in full, equal bit for bit to
        ``2 * numpy.median(scipy.spatial.distance.pdist(X)) ** 2``;
        ``"%g" % width`` is what median_kernel_width prints for the same
        values. Or its sigma or gamma. NaN and infinity: as
        median_statistics.

    Warns
    -----
    RuntimeWarning
        As median_statistics, whatever output asks for.

    Raises
    ------
    TypeError, ValueError, MemoryError, KeyboardInterrupt
        As median_statistics; and output not one of the three.
    """
    what = _output(output)
    how = _sampling(sample, seed, confidence)
    if how is not None:
        r, empty = _sampled_median(X, threads, Y, cross, label, how)
        _no_samples("median_width", empty)
        _zero_width("median_width", _sampled_zero(r.median, "median")
                    if r.width == 0 else "")
        return {"width": r.width, "sigma": r.sigma, "gamma": r.gamma}[what]
    s, empty = _median(X, threads, Y, cross, label)
    _no_samples("median_width", empty)
    _zero_width("median_width", _median_zero(s))
    return {"width": s[5], "sigma": s[6], "gamma": s[7]}[what]


def _probabilities(q: npt.ArrayLike) -> npt.NDArray[np.float64]:
    """q as float64 probabilities in [0, 1], or a TypeError or ValueError
    naming the first bad one."""
    array = np.asarray(q)
    kind = array.dtype.kind
    if kind in _REFUSED or kind == "b":
        what = "bool" if kind == "b" else _REFUSED[kind]
        raise TypeError(f"q must hold real numbers, not {what}")
    if kind == "O":
        for item in array.flat:
            if not isinstance(item, numbers.Real):
                raise TypeError(
                    f"q must hold real numbers, not {type(item).__name__}")
    p = np.asarray(array, dtype=np.float64)  # 0-d stays 0-d
    bad = np.flatnonzero(~((p >= 0) & (p <= 1)))
    if bad.size:
        where = np.unravel_index(bad[0], p.shape)
        at = "" if p.ndim == 0 else " (q[%s])" % ", ".join(map(str, where))
        raise ValueError(
            f"Quantiles must be in the range [0, 1], not {p.flat[bad[0]]!r}"
            + at)
    return p


def _sampled_quantiles(x: np.ndarray, y: Optional[np.ndarray], across: bool,
                       p: np.ndarray, how: tuple, threads: _Count,
                       what: str, interval: bool, empty: str) -> Any:
    """distance_quantiles from drawn pairs: the estimates, and with
    interval their ends, shaped as p."""
    values, widths, gammas, low, high, *_ = _sampled(
        x, y, across, p.ravel(), how, threads)
    _no_samples("distance_quantiles", empty)
    zero = widths == 0
    if zero.any():
        listed = list(dict.fromkeys(p.ravel()[zero].tolist()))
        shown = ", ".join(map(repr, listed[:3]))
        more = ", ..." if len(listed) > 3 else ""
        cause = _sampled_zero(values[zero][0], "q")
        warnings.warn(f"distance_quantiles: the width for p = {shown}"
                      f"{more} is 0: {cause}", RuntimeWarning, stacklevel=3)
    pick = {"sigma": 0, "width": 1, "gamma": 2}[what]
    estimate = (values, widths, gammas)[pick].reshape(p.shape)[()]
    if not interval:
        return estimate
    return (estimate, low[pick].reshape(p.shape)[()],
            high[pick].reshape(p.shape)[()])


# A scalar q gives a numpy.float64, as numpy.quantile does; the first
# overload takes it before the array-like one (which a float also is).
@overload
def distance_quantiles(  # type: ignore[misc]
        X: npt.ArrayLike, q: float, Y: Optional[npt.ArrayLike] = ...,
        cross: bool = ..., threads: _Count = ..., *,
        label: Label = ..., output: Output = ...,
        sample: Optional[_Count] = ..., seed: Optional[_Count] = ...,
        confidence: Optional[float] = ...,
        interval: Literal[False] = ...) -> np.float64: ...


@overload
def distance_quantiles(X: npt.ArrayLike, q: npt.ArrayLike,
                       Y: Optional[npt.ArrayLike] = ..., cross: bool = ...,
                       threads: _Count = ..., *, label: Label = ...,
                       output: Output = ...,
                       sample: Optional[_Count] = ...,
                       seed: Optional[_Count] = ...,
                       confidence: Optional[float] = ...,
                       interval: Literal[False] = ...
                       ) -> npt.NDArray[np.float64]: ...


@overload
def distance_quantiles(X: npt.ArrayLike, q: npt.ArrayLike,
                       Y: Optional[npt.ArrayLike] = ..., cross: bool = ...,
                       threads: _Count = ..., *, label: Label = ...,
                       output: Output = ...,
                       sample: Optional[_Count] = ...,
                       seed: Optional[_Count] = ...,
                       confidence: Optional[float] = ...,
                       interval: Literal[True]) -> tuple: ...


def distance_quantiles(X: npt.ArrayLike, q: npt.ArrayLike,
                       Y: Optional[npt.ArrayLike] = None, cross: bool = False,
                       threads: _Count = 0, *, label: Label = None,
                       output: Output = "sigma",
                       sample: Optional[_Count] = None,
                       seed: Optional[_Count] = None,
                       confidence: Optional[float] = None,
                       interval: bool = False) -> Any:
    """Quantiles of the distances between different samples.

    Exactly ``numpy.quantile(scipy.spatial.distance.pdist(X), q)``, bit for
    bit (numpy's default, linear method): with Y, of
    ``pdist(numpy.vstack([X, Y]))``, the two sets pooled; with Y and
    cross=True, of ``cdist(X, Y)``, the distance from each sample of X to
    each of Y. Every quantile comes from the same passes over the pairs,
    and the distances are never stored.

    A quantile d_q as a kernel parameter: sigma = d_q, of
    exp(-d**2 / (2 * sigma**2)) (an RBF length scale, a kernel test's
    bandwidth; q = 0.5 is the median heuristic), width = 2 * d_q**2, of
    exp(-d**2 / width), and gamma = 1 / width, of exp(-gamma * d**2)
    (scikit-learn's SVC gamma).

    Parameters
    ----------
    X : array_like, shape (n_samples, n_columns)
        The samples, every column a feature but the label's.
    q : float or array_like of floats
        Probabilities in [0, 1], any number of them, in any order and
        shape (numpy.quantile takes at most 2 dimensions); taken as
        float64.
    Y : array_like, shape (n_samples_y, n_columns), optional
        A second set of samples, with X's columns.
    cross : bool, default False
        With Y: only the distances across the sets, not within them.
    threads : int, default 0
        Threads to compute on, 1 to 1024; 0 uses every core the process
        may run on.
    label : int or "last", optional
        A column to leave out of X and of Y, numbered from 1 as the
        programs' --label numbers it, or "last"; it may hold anything.
    output : {"sigma", "width", "gamma"}, default "sigma"
        What to return for each quantile d_q: the distance d_q itself,
        bit for bit numpy's quantile (the sigma of
        exp(-d**2 / (2 * sigma**2))); its width w = 2 * d_q**2, of
        exp(-d**2 / w); or gamma = 1 / w, of exp(-gamma * d**2)
        (infinite for a width of 0).
    sample : int, optional
        Draw this many pairs (1 to 2**63), uniformly with replacement,
        instead of taking them all: each quantile is then numpy.quantile
        of the drawn distances (doc/sampling.md), the same as the
        programs' --sample for the same seed.
    seed : int, default 0
        The draws' seed, 0 to 2**64 - 1: the same seed draws the same pairs
        on every front end and thread count. Only with sample.
    confidence : float, default 0.99
        With sample: the probability, strictly between 0 and 1, that each
        quantile's interval contains its exact value.
    interval : bool, default False
        With sample: return ``(estimate, low, high)``, three results of
        the shape below, low and high the ends of each quantile's interval
        in the chosen output (for gamma, low is 1 / the high end's width:
        the order reverses). An end that no drawn rank reaches is 0 below,
        or the bound on every distance above (infinite with an infinity
        in X).

    Returns
    -------
    numpy.float64 or numpy.ndarray of float64
        As numpy.quantile shapes it: a numpy.float64 for a scalar q, an
        array of q's shape otherwise (a tuple of three with
        interval=True). A NaN distance (a NaN in X, or
        inf - inf) makes every quantile NaN, as numpy's does; an infinite
        distance counts as the largest. One sample (no pairs) gives NaN,
        where numpy.quantile of an empty array raises IndexError. With Y
        pooled, a set without rows adds no pairs: the quantiles of the
        other set alone, with a warning.

    Warns
    -----
    RuntimeWarning
        Whatever output asks for, when a width is 0:
        ``distance_quantiles: the width for p = 0.1, 0.2, 0.3, ... is 0:
        CAUSE``, the probabilities in q's order, each once (three at
        most, then ", ..."), one warning per cause, a quantile of 0's
        first: "K of the N pairs are at
        distance 0" (a quantile of 0), "every distance is 0 (all samples
        coincide)" or "2 * q^2 underflowed" (a quantile so small, below
        about 1.6e-162, that its square rounds to 0). And, with Y pooled,
        ``distance_quantiles: Y: no samples`` when Y has no rows (or X,
        when X has none and Y some).

    Raises
    ------
    TypeError
        X, Y or q holds something other than real numbers (the label
        column aside); threads is not an int; cross is not a bool; label
        is neither an int nor a str; output is not a str.
    ValueError
        A probability outside [0, 1] or NaN (the message names the first
        one); X or Y is not 2-D; no samples at all ("no samples"), or,
        across, X or Y without rows ("Y: no samples (cross=True pairs
        each sample of X with each of Y)"); no columns ("no feature
        values"); X and Y have different columns; cross without Y;
        threads is not 0 to 1024; label is below 1 or beyond the last
        column; output is not "sigma", "width" or "gamma";
        KERNEL_WIDTH_ISA names an instruction set that is unknown or
        that this CPU cannot run.
    MemoryError
        The memory for the packed copies or the kept distances cannot be
        had.
    KeyboardInterrupt
        Ctrl-C during the computation.
    """
    what = _output(output)
    p = _probabilities(q)
    how = _sampling(sample, seed, confidence)
    if not isinstance(interval, (bool, np.bool_)):
        raise TypeError(
            f"interval must be a bool, not {type(interval).__name__}")
    if interval and how is None:
        raise ValueError("interval=True needs sample=: the exact quantiles "
                         "have no interval")
    x, y, across, empty = _two_sets(X, Y, cross, label)
    if how is not None:
        return _sampled_quantiles(x, y, across, p, how, threads, what,
                                  interval, empty)
    values, widths, gammas, pairs, zero_pairs = _core.quantiles(
        x, y, across, p.ravel(), _threads(threads))
    _no_samples("distance_quantiles", empty)
    # One warning per cause: a distance of 0, or a square that underflowed.
    for at in (widths == 0) & (values == 0), (widths == 0) & (values != 0):
        if at.any():
            listed = list(dict.fromkeys(p.ravel()[at].tolist()))
            shown = ", ".join(map(repr, listed[:3]))
            more = ", ..." if len(listed) > 3 else ""
            cause = _distance_zero(values[at][0], "q", pairs, zero_pairs)
            warnings.warn(f"distance_quantiles: the width for p = {shown}"
                          f"{more} is 0: {cause}", RuntimeWarning,
                          stacklevel=2)
    chosen = {"sigma": values, "width": widths, "gamma": gammas}[what]
    return chosen.reshape(p.shape)[()]
