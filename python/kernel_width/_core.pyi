# The extension's signatures, for type checkers; the package's functions
# check the arguments and are the ones to call.
from typing import Any, Callable, Optional, Sequence

import numpy as np
import numpy.typing as npt

__version__: str

def form(
    X: npt.NDArray[np.float64], threads: int
) -> tuple[int, int, float, float, float]: ...
def form_width(
    X: npt.NDArray[np.float64], table: npt.NDArray[np.float64], threads: int
) -> tuple[float, float, float, int, float, float, int, int]: ...
def labelled(
    X: npt.NDArray[np.float64], threads: int
) -> tuple[int, int, float, int, float, float, float, float]: ...
def median(
    X: npt.NDArray[np.float64],
    Y: Optional[npt.NDArray[np.float64]],
    cross: bool,
    threads: int,
) -> tuple[int, int, int, int, float, float, float, float, int]: ...
def quantiles(
    X: npt.NDArray[np.float64],
    Y: Optional[npt.NDArray[np.float64]],
    cross: bool,
    p: npt.NDArray[np.float64],
    threads: int,
) -> tuple[
    npt.NDArray[np.float64],
    npt.NDArray[np.float64],
    npt.NDArray[np.float64],
    int,
    int,
]: ...
def sampled_quantiles(
    X: npt.NDArray[np.float64],
    Y: Optional[npt.NDArray[np.float64]],
    cross: bool,
    p: npt.NDArray[np.float64],
    how: tuple[int, int, float],
    threads: int,
) -> tuple[Any, ...]: ...
def sampled_mean(
    X: npt.NDArray[np.float64],
    how: tuple[int, int, float],
    threads: int,
) -> tuple[Any, ...]: ...

# The engine: pieces of the pairs over blocks of rows, partial results as
# bytes that merge exactly, and drivers that ask for rounds through a
# callback (kernel_width.dask runs them on a cluster). Indices are rows of
# the whole data set (pooled: X stacked on Y).
def selection_piece(
    plan: bytes,
    A: npt.NDArray[np.float64],
    B: Optional[npt.NDArray[np.float64]],
    a_first: int,
    b_first: int,
    threads: int,
) -> bytes: ...
def selection_merge(a: bytes, b: bytes) -> bytes: ...
def selection_merge_all(parts: list[bytes]) -> bytes: ...
def selection_median(
    shape: tuple[int, int, int, bool],
    run_pass: Callable[[bytes], bytes | list[bytes]],
    threads: int,
) -> tuple[int, int, int, int, float, float, float, float, int]: ...
def selection_quantiles(
    shape: tuple[int, int, int, bool],
    p: Sequence[float],
    run_pass: Callable[[bytes], bytes | list[bytes]],
    threads: int,
) -> tuple[
    npt.NDArray[np.float64],
    npt.NDArray[np.float64],
    npt.NDArray[np.float64],
    int,
    int,
]: ...
def labelled_piece(
    state: Optional[bytes],
    A: npt.NDArray[np.float64],
    B: Optional[npt.NDArray[np.float64]],
    a_first: int,
    b_first: int,
    threads: int,
) -> bytes: ...
def labelled_merge(a: bytes, b: bytes) -> bytes: ...
def labelled_final(
    merged: bytes, n: int, columns: int
) -> tuple[int, int, float, int, float, float, float, float]: ...
def form_statistics(
    n: int,
    columns: int,
    run_step: Callable[[bytes], bytes | list[bytes]],
    fetch_rows: Callable[[list[int]], npt.NDArray[np.float64]],
    threads: int,
) -> tuple[int, int, float, float, float]: ...
def form_piece(
    step: bytes,
    A: npt.NDArray[np.float64],
    B: Optional[npt.NDArray[np.float64]],
    a_first: int,
    b_first: int,
    threads: int,
) -> bytes: ...
def form_merge(a: bytes, b: bytes) -> bytes: ...
def form_merge_all(parts: list[bytes]) -> bytes: ...
def form_width_from(
    n: int,
    columns: int,
    mean: float,
    variance: float,
    table: npt.NDArray[np.float64],
) -> tuple[float, float, float, int, float, float, int, int]: ...
