"""form_statistics and form_width: the width from the spread of the n*n
distances."""

from __future__ import annotations

import numpy.typing as npt

from . import _core
from ._arguments import Label, Output, _Count, _output, _samples, _threads
from ._results import FormStatistics
from ._warnings import _form_zero, _zero_width


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

