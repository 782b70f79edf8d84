"""form_statistics and form_width of dask arrays: form's steps run as
rounds on the cluster."""

from __future__ import annotations

from typing import Any

import numpy as np

from .. import _core
from .._arguments import Label, Output, _Count, _output, _samples, _threads
from .._results import FormStatistics
from .._warnings import _form_zero, _zero_width
from ._arrays import Sets, aligned, note, samples
from ._needs import dask_array


def _form(function: str, X: Any, threads: _Count, label: Label) -> tuple:
    """_core.form's tuple; the notes given."""
    dask_array()
    count = _threads(threads)
    notes: list = []
    x = samples(X, "X", 0, label, notes)
    note(function, notes, stacklevel=4)
    n, columns = x.shape
    if not n or not columns:
        return _core.form(np.empty((n, columns)), count)
    from . import _drive
    return _drive.form(Sets(aligned(x), None, n, 0, columns, False), count)


def form_statistics(X: Any, threads: _Count = 1, *,
                    label: Label = None) -> FormStatistics:
    """Spread of the pairwise distances between the rows of a dask array.

    kernel_width.form_statistics bit for bit, the sums computed on the
    cluster: the default dask.distributed client's, otherwise dask's
    threaded scheduler.

    Parameters
    ----------
    X : dask.array.Array or array_like, shape (n_samples, n_columns)
        The samples, rows chunked as you like (doc/dask.md); a numpy
        array is wrapped. Columns in more than one chunk are rechunked
        into one, with a RuntimeWarning saying so.
    threads : int, default 1
        Threads of each task, 1 to 1024; 0 uses every core of the worker.
    label : int or "last", optional
        As kernel_width.form_statistics.

    Returns
    -------
    FormStatistics
        As kernel_width.form_statistics.

    Warns
    -----
    RuntimeWarning
        A note when the columns were rechunked.

    Raises
    ------
    ImportError
        dask is not installed.
    TypeError, ValueError, MemoryError, KeyboardInterrupt
        As kernel_width.form_statistics. Ctrl-C cancels the cluster's
        tasks.
    """
    return FormStatistics(*_form("form_statistics", X, threads, label))


def form_width(X: Any, table: Any, threads: _Count = 1, *,
               label: Label = None, output: Output = "width") -> float:
    """Kernel width from the spread of the pairwise distances of a dask
    array.

    kernel_width.form_width bit for bit (its warnings too), computed on
    the cluster; the table is small and read here.

    Parameters
    ----------
    X, threads, label
        As form_statistics.
    table : array_like, shape (n_rows, 2)
        As kernel_width.form_width (a dask array is computed).
    output : {"width", "sigma", "gamma"}, default "width"
        As kernel_width.form_width.

    Returns
    -------
    float
        As kernel_width.form_width.

    Warns, Raises
    -------------
        As kernel_width.form_width, and as form_statistics.
    """
    what = _output(output)
    if hasattr(table, "dask"):
        table = table.compute()  # a few rows
    rows = _samples(table, "table")
    n, columns, mean, variance, _ = _form("form_width", X, threads, label)
    result = _core.form_width_from(n, columns, mean, variance, rows)
    _zero_width("form_width", _form_zero(result, rows))
    width, sigma, gamma = result[:3]
    return {"width": width, "sigma": sigma, "gamma": gamma}[what]
