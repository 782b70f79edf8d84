"""labelled_statistics and labelled_width of dask arrays: each row
block's chain of pieces on the cluster, the blocks' results merged."""

from __future__ import annotations

from typing import Any, Optional

import numpy as np

from .. import _core
from .._arguments import Label, Output, _Count, _output, _threads
from .._results import LabelledStatistics
from .._warnings import _labelled_zero, _zero_width
from ._arrays import Sets, aligned, features, note
from ._needs import dask_array


def _labelled(function: str, X: Any, threads: _Count,
              first_column: Optional[_Count], label: Label) -> tuple:
    """_core.labelled's tuple for the columns that first_column and label
    leave; the notes given."""
    dask_array()
    count = _threads(threads)
    notes: list = []
    x = features(X, first_column, label, notes)
    note(function, notes, stacklevel=4)
    n, columns = x.shape
    if not n or not columns:
        return _core.labelled(np.empty((n, columns)), count)
    from . import _drive
    return _drive.labelled(Sets(aligned(x), None, n, 0, columns, False),
                           count)


def labelled_statistics(X: Any, threads: _Count = 1,
                        first_column: Optional[_Count] = None, *,
                        label: Label = None) -> LabelledStatistics:
    """Mean distance between different samples over the feature columns,
    of a dask array.

    kernel_width.labelled_statistics bit for bit (its warnings too), the
    pairs computed on the cluster: the default dask.distributed client's,
    otherwise dask's threaded scheduler.

    Parameters
    ----------
    X : dask.array.Array or array_like, shape (n_samples, n_columns)
        The samples, rows chunked as you like (doc/dask.md); a numpy
        array is wrapped. Columns in more than one chunk are rechunked
        into one, with a RuntimeWarning saying so.
    threads : int, default 1
        Threads of each task, 1 to 1024; 0 uses every core of the worker.
    first_column, label
        As kernel_width.labelled_statistics.

    Returns
    -------
    LabelledStatistics
        As kernel_width.labelled_statistics.

    Warns
    -----
    RuntimeWarning
        As kernel_width.labelled_statistics; and a note when the columns
        were rechunked.

    Raises
    ------
    ImportError
        dask is not installed.
    TypeError, ValueError, MemoryError, KeyboardInterrupt
        As kernel_width.labelled_statistics. Ctrl-C cancels the cluster's
        tasks.
    """
    s = _labelled("labelled_statistics", X, threads, first_column, label)
    _zero_width("labelled_statistics", _labelled_zero(s))
    return LabelledStatistics(*s[:6])


def labelled_width(X: Any, threads: _Count = 1,
                   first_column: Optional[_Count] = None, *,
                   label: Label = None, output: Output = "width") -> float:
    """Kernel width 2 * mean**2 from the mean distance between different
    samples of a dask array.

    kernel_width.labelled_width bit for bit, computed on the cluster.

    Parameters
    ----------
    X, threads, first_column, label
        As labelled_statistics.
    output : {"width", "sigma", "gamma"}, default "width"
        As kernel_width.labelled_width.

    Returns
    -------
    float
        As kernel_width.labelled_width.

    Warns, Raises
    -------------
        As labelled_statistics; and output not one of the three.
    """
    what = _output(output)
    s = _labelled("labelled_width", X, threads, first_column, label)
    _zero_width("labelled_width", _labelled_zero(s))
    return {"width": s[5], "sigma": s[6], "gamma": s[7]}[what]
