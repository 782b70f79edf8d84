"""dask is optional: the package imports without it, and each function
asks for it when called, saying what to install."""

from __future__ import annotations

from types import ModuleType

MESSAGE = ("kernel_width.dask needs dask.array (and dask.distributed for a "
           "cluster): install python3-dask and python3-distributed "
           "(Debian), or pip install \"dask[array]\" distributed")


def dask_array() -> ModuleType:
    """dask.array, or an ImportError that says what to install."""
    try:
        import dask.array
    except ImportError as error:
        raise ImportError(MESSAGE) from error
    return dask.array
