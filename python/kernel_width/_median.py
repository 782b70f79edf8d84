"""median_statistics and median_width: the median heuristic, of one set of
samples or two (pooled or across)."""

from __future__ import annotations

from typing import Optional, Union, overload

import numpy.typing as npt

from . import _core
from ._arguments import (Label, Output, _Count, _output, _sampling, _threads,
                         _two_sets)
from ._results import MedianStatistics, SampledMedianStatistics
from ._sampled import _sampled_median
from ._warnings import (_median_zero, _no_samples, _sampled_zero,
                        _zero_width)


def _median(X: npt.ArrayLike, threads: _Count, Y: Optional[npt.ArrayLike],
            cross: bool, label: Label) -> tuple:
    """_core.median's tuple, and the set without rows (_two_sets)."""
    x, y, across, empty = _two_sets(X, Y, cross, label)
    return _core.median(x, y, across, _threads(threads)), empty


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

