"""labelled_statistics and labelled_width: the width from the mean distance
between different samples over the feature columns."""

from __future__ import annotations

from typing import Optional, Union, overload

import numpy.typing as npt

from . import _core
from ._arguments import (Label, Output, _Count, _features, _output, _sampling,
                         _threads)
from ._results import LabelledStatistics, SampledLabelledStatistics
from ._sampled import _sampled_labelled
from ._warnings import _labelled_zero, _sampled_zero, _zero_width


def _labelled(X: npt.ArrayLike, threads: _Count,
              first_column: Optional[_Count], label: Label) -> tuple:
    """_core.labelled's tuple for the columns that first_column and label
    leave."""
    return _core.labelled(_features(X, first_column, label),
                          _threads(threads))


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

