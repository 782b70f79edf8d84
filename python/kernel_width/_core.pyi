# The extension's signatures, for type checkers; the package's functions
# check the arguments and are the ones to call.
from typing import Any, Optional

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
    draws: int,
    seed: int,
    confidence: float,
    threads: int,
) -> tuple[Any, ...]: ...
def sampled_mean(
    X: npt.NDArray[np.float64],
    draws: int,
    seed: int,
    confidence: float,
    threads: int,
) -> tuple[Any, ...]: ...
