"""median_statistics, median_width and distance_quantiles of dask arrays:
the selection's passes run as rounds on the cluster."""

from __future__ import annotations

from typing import Any, Optional

import numpy as np

from .. import _core
from .._arguments import (Label, Output, _Count, _output, _probabilities,
                          _threads)
from .._results import MedianStatistics
from .._warnings import (_distance_zero, _median_zero, _no_samples,
                         _zero_quantiles, _zero_width)
from ._arrays import degenerate, note, two_sets
from ._needs import dask_array


def _median(function: str, X: Any, threads: _Count, Y: Any, cross: bool,
            label: Label) -> tuple:
    """_core.median's tuple and the set without rows; the notes given."""
    dask_array()
    count = _threads(threads)
    notes: list = []
    sets, empty = two_sets(X, Y, cross, label, notes)
    note(function, notes, stacklevel=4)
    empties = degenerate(sets)
    if empties is not None:
        return _core.median(empties[0], empties[1], sets.cross, count), empty
    from . import _drive
    return _drive.median(sets, count), empty


def median_statistics(X: Any, threads: _Count = 1, *, Y: Any = None,
                      cross: bool = False,
                      label: Label = None) -> MedianStatistics:
    """Median of the distances between different samples, of a dask array.

    kernel_width.median_statistics bit for bit (its warnings too), with
    the pairs computed on the cluster: the default dask.distributed
    client's, otherwise dask's threaded scheduler.

    Parameters
    ----------
    X : dask.array.Array or array_like, shape (n_samples, n_columns)
        The samples, rows chunked as you like (doc/dask.md); a numpy
        array is wrapped. Columns in more than one chunk are rechunked
        into one, with a RuntimeWarning saying so.
    threads : int, default 1
        Threads of each task, 1 to 1024; 0 uses every core of the worker.
        One suits a worker per core.
    Y, cross, label
        As kernel_width.median_statistics; Y a dask array or array_like.

    Returns
    -------
    MedianStatistics
        As kernel_width.median_statistics.

    Warns
    -----
    RuntimeWarning
        As kernel_width.median_statistics; and a note when the columns
        were rechunked.

    Raises
    ------
    ImportError
        dask is not installed.
    TypeError, ValueError, MemoryError, KeyboardInterrupt
        As kernel_width.median_statistics; ValueError too for an array of
        unknown chunk sizes. Ctrl-C cancels the cluster's tasks.
    """
    s, empty = _median("median_statistics", X, threads, Y, cross, label)
    _no_samples("median_statistics", empty)
    _zero_width("median_statistics", _median_zero(s))
    return MedianStatistics(s[0] + s[1], *s[2:6])


def median_width(X: Any, threads: _Count = 1, *, Y: Any = None,
                 cross: bool = False, label: Label = None,
                 output: Output = "width") -> float:
    """Kernel width 2 * median**2 from the median of the distances between
    different samples of a dask array (the median heuristic).

    kernel_width.median_width bit for bit, computed on the cluster.

    Parameters
    ----------
    X, threads, Y, cross, label
        As median_statistics.
    output : {"width", "sigma", "gamma"}, default "width"
        As kernel_width.median_width.

    Returns
    -------
    float
        As kernel_width.median_width.

    Warns, Raises
    -------------
        As median_statistics; and output not one of the three.
    """
    what = _output(output)
    s, empty = _median("median_width", X, threads, Y, cross, label)
    _no_samples("median_width", empty)
    _zero_width("median_width", _median_zero(s))
    return {"width": s[5], "sigma": s[6], "gamma": s[7]}[what]


def distance_quantiles(X: Any, q: Any, Y: Any = None, cross: bool = False,
                       threads: _Count = 1, *, label: Label = None,
                       output: Output = "sigma") -> Any:
    """Quantiles of the distances between different samples of a dask
    array.

    kernel_width.distance_quantiles bit for bit (numpy.quantile of the
    distances, shaped as q; its warnings too), computed on the cluster.

    Parameters
    ----------
    X, Y, cross, threads, label
        As median_statistics.
    q : array_like of float
        Probabilities in [0, 1], as kernel_width.distance_quantiles.
    output : {"sigma", "width", "gamma"}, default "sigma"
        As kernel_width.distance_quantiles.

    Returns
    -------
    numpy.float64 or numpy.ndarray of float64
        As kernel_width.distance_quantiles.

    Warns, Raises
    -------------
        As kernel_width.distance_quantiles, and as median_statistics.
    """
    what = _output(output)
    p = _probabilities(q)
    dask_array()
    count = _threads(threads)
    notes: list = []
    sets, empty = two_sets(X, Y, cross, label, notes)
    note("distance_quantiles", notes)
    empties = degenerate(sets)
    found: tuple
    if empties is not None:
        found = _core.quantiles(empties[0], empties[1], sets.cross, p.ravel(),
                                count)
    else:
        from . import _drive
        found = _drive.quantiles(sets, p.ravel(), count)
    values, widths, gammas, pairs, zero_pairs = found
    _no_samples("distance_quantiles", empty)
    for at in (widths == 0) & (values == 0), (widths == 0) & (values != 0):
        if at.any():
            _zero_quantiles(p, at, _distance_zero(values[at][0], "q", pairs,
                                                  zero_pairs), stacklevel=2)
    chosen = {"sigma": values, "width": widths, "gamma": gammas}[what]
    return np.asarray(chosen).reshape(p.shape)[()]


__all__ = ["distance_quantiles", "median_statistics", "median_width"]
