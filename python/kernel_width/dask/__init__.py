"""Kernel widths of a dask.array on a cluster, bit for bit the in-memory
ones.

The functions of kernel_width, with the same arguments and results, for
samples in a dask array (a numpy array is wrapped): each result equals
what the in-memory function returns for ``X.compute()``, bit for bit,
warnings included. The tasks run on the default dask.distributed client
when there is one (``Client(...)`` makes itself the default), otherwise
on dask's threaded scheduler in this process.

Chunk the rows as you like; the columns belong in one chunk (others are
rechunked into one, with a RuntimeWarning saying so). The rows are
rechunked so that each block starts at a multiple of 8, then persisted
once: every round of the computation reads them where they lie, and the
whole array is never brought to this process.

How it stays exact: each task computes a piece of the pairs (a diagonal
block, or two blocks) into a partial result whose merge is exact in any
order or grouping; a tree of merge tasks joins them. The median
and the quantiles select their distances in passes, each pass a round of
such tasks; labelled's sums run along each row block as a chain of
pieces in column order; form's sums are rounds like the selection's.
doc/dask.md tells more (memory per worker, what a lost worker costs).

``threads=`` is each task's thread count, 1 by default (a worker per
core); 0 uses every core of the worker. Ctrl-C cancels the round's tasks
on the cluster and raises KeyboardInterrupt.

The package imports without dask; a function called without it raises
ImportError saying what to install (python3-dask and python3-distributed
on Debian, or ``pip install "dask[array]" distributed``).

Functions
---------
form_width, form_statistics
labelled_width, labelled_statistics
median_width, median_statistics
distance_quantiles
    As kernel_width's, of a dask array; no sampled variants (sample=).
"""

from ._form import form_statistics, form_width
from ._labelled import labelled_statistics, labelled_width
from ._median import distance_quantiles, median_statistics, median_width

__all__ = [
    "distance_quantiles",
    "form_statistics",
    "form_width",
    "labelled_statistics",
    "labelled_width",
    "median_statistics",
    "median_width",
]

for _name in __all__:
    globals()[_name].__module__ = __name__
del _name
