"""X and Y as dask arrays of float64 samples: checked as the in-memory
functions check them, the label's and first_column's columns cut before
any work, the columns in one chunk, and the rows cut into blocks whose
first rows are multiples of 8 (a band of the packed layout)."""

from __future__ import annotations

import math
import warnings
from dataclasses import dataclass
from typing import Any, Optional

import numpy as np

from .._arguments import (Label, _check_reals, _columns, _integer,
                          _label_column, _REFUSED, _samples)
from ._needs import dask_array

# Rows per block when a numpy array is wrapped: small enough that the
# pieces spread over the workers, large enough that each is worth a task.
WRAPPED_ROWS = 4096
BAND = 8
# The driver cuts the rows afresh into a few blocks of at least MIN_ROWS
# rows each, about PIECES pieces per worker thread, none above MOST_BYTES:
# a task costs the scheduler milliseconds, and few large pieces cost fewer
# rounds' worth of them than the many small chunks a user may choose.
MIN_ROWS = 1024
PIECES = 4
MOST_BYTES = 1 << 28


# X and Y without rows or without columns, for the in-memory functions.
Empties = tuple[np.ndarray, Optional[np.ndarray]]


@dataclass
class Sets:
    """The samples as the engine takes them: within and pooled, one array
    (X stacked on Y) and y None; across, x and y apart."""
    x: Any
    y: Any
    n: int
    n_y: int
    columns: int
    cross: bool


def _wrap(values: np.ndarray) -> Any:
    """A checked numpy array as a dask array in blocks of whole bands."""
    rows = max(BAND, min(WRAPPED_ROWS, BAND * math.ceil(len(values) / 16
                                                           / BAND)))
    return dask_array().from_array(values, chunks=(rows, -1))


def _dask_checked(value: Any, name: str) -> Any:
    """value's dtype and shape as _arguments._array checks them."""
    kind = value.dtype.kind
    if kind in _REFUSED:
        raise TypeError(f"{name} must hold real numbers, not {_REFUSED[kind]}")
    if value.ndim != 2:
        raise ValueError(f"{name} must be a 2-D array, not {value.ndim}-D")
    if any(math.isnan(size) for size in value.shape):
        raise ValueError(f"{name} must have known chunk sizes: call its "
                         "compute_chunk_sizes() first")
    return value


def _reals(block: np.ndarray, name: str, kept: list,
           block_info: Optional[dict] = None) -> np.ndarray:
    """An object block as float64, or the in-memory TypeError naming the
    item by its row in the whole array."""
    first = (block_info[0]["array-location"][0][0]
             if isinstance(block_info, dict) else 0)
    try:
        _check_reals(block, name, kept)
    except TypeError:
        for row in range(len(block)):
            try:
                _check_reals(block[row:row + 1], name, kept)
            except TypeError as error:
                text = str(error).replace("(row 0,", f"(row {first + row},")
                raise TypeError(text) from None
    return np.array(block, dtype=np.float64)


def samples(value: Any, name: str, first: int, label: Label,
            notes: list) -> Any:
    """value's columns from first on, less the label's, as a float64 dask
    array with its columns in one chunk (a note in notes when they were
    not)."""
    da = dask_array()
    if not isinstance(value, da.Array):
        return _wrap(_samples(value, name, first, label))
    array = _dask_checked(value, name)
    columns = array.shape[1]
    if 0 < columns <= first:
        raise ValueError(
            f"first_column={first} is beyond the last column of {name}: "
            f"{name} has {_columns(columns)}, which first_column counts "
            "from 0")
    skip = _label_column(label, columns, name)
    kept = [c for c in range(min(first, columns), columns) if c != skip]
    if len(kept) != columns:
        array = array[:, kept]
    if array.dtype.kind == "O":
        array = array.map_blocks(_reals, name, kept, dtype=np.float64,
                                 meta=np.empty((0, 0)))
    else:
        array = array.astype(np.float64)
    if len(array.chunks[1]) > 1:
        notes.append(f"{name}'s {len(kept)} columns come in "
                     f"{len(array.chunks[1])} chunks: rechunked into one "
                     "(chunk the rows only)")
        array = array.rechunk({1: -1})
    return array


def features(X: Any, first_column: Any, label: Label, notes: list) -> Any:
    """X's feature columns as labelled takes them (_arguments._features)."""
    if first_column is None:
        first = 1 if label is None else 0
    else:
        first = _integer(first_column, "first_column", 0,
                         np.iinfo(np.intp).max, "0 or more")
        if first == 0 and label is not None:
            raise ValueError(
                f"first_column=0 (every column a feature) contradicts "
                f"label={label!r}: give one of them")
    return samples(X, "X", first, label, notes)


def aligned(array: Any) -> Any:
    """array with its row blocks starting at multiples of 8: each chunk
    boundary moved to the nearest multiple (halves up; blocks that vanish
    merge into the next)."""
    rows = array.shape[0]
    ends: list = []
    at = 0
    for size in array.chunks[0]:
        at += size
        end = min(rows, BAND * ((at + BAND // 2) // BAND))
        if end > (ends[-1] if ends else 0):
            ends.append(end)
    if rows and (not ends or ends[-1] != rows):
        ends.append(rows)
    sizes = tuple(b - a for a, b in zip([0] + ends[:-1], ends))
    if sizes == array.chunks[0] or not rows:
        return array
    return array.rechunk({0: sizes})


def block_count(rows: int, columns: int, slots: int, across: bool) -> int:
    """How many blocks to cut rows into: enough for PIECES pieces per
    worker thread (within a set, B blocks give B (B + 1) / 2 pieces;
    across, each set's B give B * B), more when a block would pass
    MOST_BYTES, fewer when it would fall below MIN_ROWS rows. 0 keeps the
    blocks as chunked: data too small to gain from it."""
    most = rows // MIN_ROWS
    if most < 2:
        return 0
    wanted = PIECES * max(1, slots)
    count = 1
    while (count * count if across else count * (count + 1) // 2) < wanted:
        count += 1
    count = max(count, -(-rows * columns * 8 // MOST_BYTES))
    return min(count, most)


def spread(array: Any, count: int) -> Any:
    """array's rows cut into count blocks of about equal rows, each
    starting at a multiple of 8 (count 0: as it is)."""
    rows = array.shape[0]
    if count <= 0:
        return array
    ends = sorted({min(rows, BAND * round(rows * k / count / BAND))
                   for k in range(1, count + 1)} - {0})
    ends[-1] = rows
    sizes = tuple(b - a for a, b in zip([0] + ends[:-1], ends))
    return array if sizes == array.chunks[0] else array.rechunk({0: sizes})


def two_sets(X: Any, Y: Any, cross: bool, label: Label,
             notes: list) -> tuple:
    """(Sets, empty) as _arguments._two_sets checks them; Sets None when
    the in-memory function must say what is wrong (no samples at all, no
    columns), with the empty arrays for it."""
    if not isinstance(cross, (bool, np.bool_)):
        raise TypeError(f"cross must be a bool, not {type(cross).__name__}")
    x = samples(X, "X", 0, label, notes)
    if Y is None:
        if cross:
            raise ValueError("cross=True needs Y: the pairs across X and Y")
        return _sets(x, None, False), ""
    y = samples(Y, "Y", 0, label, notes)
    if x.shape[1] != y.shape[1]:
        raise ValueError(f"X and Y must have the same columns, not "
                         f"{x.shape[1]} and {y.shape[1]}")
    empty = "X" if x.shape[0] == 0 else "Y" if y.shape[0] == 0 else ""
    if cross and empty:
        raise ValueError(f"{empty}: no samples (cross=True pairs each sample "
                         "of X with each of Y)")
    if x.shape[0] + y.shape[0] == 0:
        return _sets(x, None, False), ""
    if empty:  # pooled with a set without rows: the other set alone
        return _sets(y if empty == "X" else x, None, False), empty
    return _sets(x, y, bool(cross)), ""


def _sets(x: Any, y: Any, cross: bool) -> Sets:
    n, columns = x.shape
    n_y = 0 if y is None else y.shape[0]
    if y is None or cross:
        return Sets(aligned(x), None if y is None else aligned(y), n, n_y,
                    columns, cross)
    stacked = dask_array().concatenate([x, y], axis=0)
    return Sets(aligned(stacked), None, n, n_y, columns, False)


def degenerate(sets: Sets) -> Optional[Empties]:
    """Empty numpy arrays of the sets' shapes when there is nothing to
    distribute (no rows, no columns): the in-memory function then gives
    its own error or result. None otherwise."""
    if sets.n + sets.n_y and sets.columns:
        return None
    x = np.empty((sets.n, sets.columns))
    y = None if sets.y is None and not sets.n_y else np.empty(
        (sets.n_y, sets.columns))
    return x, y


def note(function: str, notes: list, stacklevel: int = 3) -> None:
    """Each note as a RuntimeWarning "FUNCTION: note", at the line that
    called the public function (which calls this directly)."""
    for text in notes:
        warnings.warn(f"{function}: {text}", RuntimeWarning,
                      stacklevel=stacklevel)
