"""distance_quantiles: numpy.quantile of the distances, exact or from
drawn pairs."""

from __future__ import annotations

from typing import Any, Literal, Optional, overload

import numpy as np
import numpy.typing as npt

from . import _core
from ._arguments import (Label, Output, _Count, _output, _probabilities,
                         _sampling, _threads, _two_sets)
from ._sampled import _sampled_quantiles
from ._warnings import _distance_zero, _no_samples, _zero_quantiles


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
            _zero_quantiles(p, at, _distance_zero(values[at][0], "q", pairs,
                                                  zero_pairs), stacklevel=2)
    chosen = {"sigma": values, "width": widths, "gamma": gammas}[what]
    return chosen.reshape(p.shape)[()]

