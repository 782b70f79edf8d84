"""The arguments every function takes, checked and converted: X and Y as
float64 samples less the label's column, threads, label, first_column,
output, q and the sampling parameters, with the TypeError and ValueError
messages that name them. Any engine that computes the widths takes its
arguments through these."""

from __future__ import annotations

import numbers
import operator
from typing import Literal, Optional, Protocol, TypeVar, Union

import numpy as np
import numpy.typing as npt


_C = TypeVar("_C", bound="_Count")


class _Count(Protocol):
    """An int or a numpy integer, never a bool: what threads and column
    numbers take. (A bool's + gives an int, not a bool: that keeps it out.)
    """

    def __index__(self) -> int: ...

    def __pos__(self: _C) -> _C: ...


Label = Union[_Count, Literal["last"], None]
Output = Literal["width", "sigma", "gamma"]


# Array kinds that numpy would turn into numbers by guessing or by
# dropping a part; refused by name.
_REFUSED = {
    "U": "text",
    "S": "text",
    "c": "complex numbers",
    "M": "dates",
    "m": "time spans",
    "V": "records",
}


def _array(value: npt.ArrayLike, name: str) -> np.ndarray:
    """value as a 2-D numpy array (not yet converted), or a short TypeError
    or ValueError naming it."""
    try:
        array = np.asarray(value)
    except ValueError:
        raise ValueError(
            f"{name} must be a 2-D array with rows of equal length") from None
    kind = array.dtype.kind
    if kind in _REFUSED:
        raise TypeError(f"{name} must hold real numbers, not {_REFUSED[kind]}")
    if array.ndim != 2:
        raise ValueError(f"{name} must be a 2-D array, not {array.ndim}-D")
    return array


def _check_reals(array: np.ndarray, name: str, columns: list[int]) -> None:
    """A TypeError naming the first item of an object array that is not a
    real number (a DataFrame's text, None, pd.NA), by row and by its column
    in the caller's X."""
    for index, item in enumerate(array.flat):
        if not isinstance(item, numbers.Real):
            row, column = divmod(index, array.shape[1])
            raise TypeError(
                f"{name} must hold real numbers, not "
                f"{type(item).__name__} (row {row}, column {columns[column]})")


def _integer(value: _Count, name: str, low: int, high: int,
             meaning: str) -> int:
    """value as an int in low..high, or a short TypeError or ValueError."""
    if (isinstance(value, (bool, np.bool_))
            or not hasattr(type(value), "__index__")):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    number = operator.index(value)
    if not low <= number <= high:
        raise ValueError(f"{name} must be {meaning}, not {number}")
    return number


def _threads(value: _Count) -> int:
    return _integer(value, "threads", 0, 1024, "0 (every core) to 1024")


def _sampling(sample: Optional[_Count], seed: Optional[_Count],
              confidence: Optional[float]) -> Optional[tuple]:
    """(draws, seed, confidence) for a sampled width, None for the exact
    one; a short TypeError or ValueError for a bad value."""
    if sample is None:
        for name, value in ("seed", seed), ("confidence", confidence):
            if value is not None:
                raise ValueError(f"{name}= needs sample=: the exact width "
                                 "draws nothing")
        return None
    draws = _integer(sample, "sample", 1, 2**63, "1 to 2**63 pairs")
    chosen = 0 if seed is None else _integer(seed, "seed", 0, 2**64 - 1,
                                             "0 to 2**64 - 1")
    level = 0.99 if confidence is None else confidence
    if isinstance(level, (bool, np.bool_)) or not isinstance(
            level, numbers.Real):
        raise TypeError(f"confidence must be a real number, not "
                        f"{type(level).__name__}")
    if not 0 < float(level) < 1:
        raise ValueError(f"confidence must lie strictly between 0 and 1, "
                         f"not {level!r}")
    return draws, chosen, float(level)


def _columns(count: int) -> str:
    return f"{count} column" + ("" if count == 1 else "s")


def _label_column(label: Label, columns: int, name: str) -> Optional[int]:
    """The label's column, counted from 0, in an array of that many
    columns; None for no label."""
    if label is None:
        return None
    if isinstance(label, str):
        if label != "last":
            raise ValueError(
                f'label must be a column number from 1 or "last", '
                f"not {label!r}")
        if columns == 0:
            raise ValueError(f"label='last' names no column: {name} has none")
        return columns - 1
    if isinstance(label, (bool, np.bool_)) or not hasattr(type(label),
                                                          "__index__"):
        raise TypeError(f'label must be a column number from 1 or "last", '
                        f"not {type(label).__name__}")
    number = operator.index(label)
    if number < 1:
        raise ValueError(
            f'label must be a column number from 1 or "last", not {number}')
    if number > columns:
        raise ValueError(
            f"label={number} is beyond the last column of {name}: {name} has "
            f"{_columns(columns)}, which label counts from 1")
    return number - 1


def _rows_in_place(array: np.ndarray) -> bool:
    """True for native float64 whose rows the library can read where they
    are: adjacent values, rows a positive whole number of doubles apart
    (a C-contiguous array, or every k-th row of one)."""
    rows, step = array.strides
    return (array.dtype == np.float64 and array.flags.aligned
            and (array.shape[1] <= 1 or step == 8)
            and (array.shape[0] <= 1 or (rows > 0 and rows % 8 == 0)))


def _samples(value: npt.ArrayLike, name: str, first: int = 0,
             label: Label = None) -> npt.NDArray[np.float64]:
    """The columns of value from first on, less the label's, as a float64
    array whose rows each hold adjacent values: a view of value where it is
    a C-contiguous float64 array and the columns left out lie at an edge,
    a copy otherwise. Only those columns need to be real numbers."""
    array = _array(value, name)
    columns = array.shape[1]
    if 0 < columns <= first:
        raise ValueError(
            f"first_column={first} is beyond the last column of {name}: "
            f"{name} has {_columns(columns)}, which first_column counts "
            "from 0")
    skip = _label_column(label, columns, name)
    low, high = min(first, columns), columns
    if skip is not None and low <= skip:
        if skip == low:
            low += 1
        elif skip == high - 1:
            high -= 1
    kept = [c for c in range(low, high) if c != skip]
    if array.dtype.kind == "O":
        part = array[:, kept]
        _check_reals(part, name, kept)
        return np.array(part, dtype=np.float64)
    whole = array if _rows_in_place(array) else np.ascontiguousarray(
        array, dtype=np.float64)
    if len(kept) == high - low:
        return whole[:, low:high]
    return np.ascontiguousarray(whole[:, kept])


def _features(X: npt.ArrayLike, first_column: Optional[_Count],
              label: Label) -> npt.NDArray[np.float64]:
    """X's feature columns as labelled takes them."""
    if first_column is None:
        first = 1 if label is None else 0
    else:
        first = _integer(first_column, "first_column", 0,
                         np.iinfo(np.intp).max, "0 or more")
        if first == 0 and label is not None:
            raise ValueError(
                f"first_column=0 (every column a feature) contradicts "
                f"label={label!r}: give one of them")
    return _samples(X, "X", first, label)


def _two_sets(X: npt.ArrayLike, Y: Optional[npt.ArrayLike], cross: bool,
              label: Label) -> tuple:
    """(x, y, cross, empty) for _core: X and Y as samples, less the label,
    and the name of a set without rows pooled with one that has some ("X"
    or "Y"; "" for none), for its warning. Across, a set without rows is
    an error: no pair would have a sample of it."""
    if not isinstance(cross, (bool, np.bool_)):
        raise TypeError(f"cross must be a bool, not {type(cross).__name__}")
    x = _samples(X, "X", 0, label)
    if Y is None:
        if cross:
            raise ValueError("cross=True needs Y: the pairs across X and Y")
        return x, None, False, ""
    y = _samples(Y, "Y", 0, label)
    if x.shape[1] != y.shape[1]:
        raise ValueError(f"X and Y must have the same columns, not "
                         f"{x.shape[1]} and {y.shape[1]}")
    empty = "X" if len(x) == 0 else "Y" if len(y) == 0 else ""
    if cross and empty:
        raise ValueError(f"{empty}: no samples (cross=True pairs each sample "
                         "of X with each of Y)")
    # Both empty: the library's "no samples".
    return x, y, bool(cross), "" if len(x) + len(y) == 0 else empty


def _output(value: str) -> str:
    if not isinstance(value, str):
        raise TypeError(f"output must be a str, not {type(value).__name__}")
    if value not in ("width", "sigma", "gamma"):
        raise ValueError(
            f'output must be "width", "sigma" or "gamma", not {value!r}')
    return value


def _probabilities(q: npt.ArrayLike) -> npt.NDArray[np.float64]:
    """q as float64 probabilities in [0, 1], or a TypeError or ValueError
    naming the first bad one."""
    array = np.asarray(q)
    kind = array.dtype.kind
    if kind in _REFUSED or kind == "b":
        what = "bool" if kind == "b" else _REFUSED[kind]
        raise TypeError(f"q must hold real numbers, not {what}")
    if kind == "O":
        for item in array.flat:
            if not isinstance(item, numbers.Real):
                raise TypeError(
                    f"q must hold real numbers, not {type(item).__name__}")
    p = np.asarray(array, dtype=np.float64)  # 0-d stays 0-d
    bad = np.flatnonzero(~((p >= 0) & (p <= 1)))
    if bad.size:
        where = np.unravel_index(bad[0], p.shape)
        at = "" if p.ndim == 0 else " (q[%s])" % ", ".join(map(str, where))
        raise ValueError(
            f"Quantiles must be in the range [0, 1], not {p.flat[bad[0]]!r}"
            + at)
    return p

