# The extension's signatures, for type checkers; the package's functions
# check the arguments and are the ones to call.
import numpy as np
import numpy.typing as npt

__version__: str

def form(
    X: npt.NDArray[np.float64], threads: int
) -> tuple[int, int, float, float, float]: ...
def form_width(
    X: npt.NDArray[np.float64], table: npt.NDArray[np.float64], threads: int
) -> float: ...
def labelled(
    X: npt.NDArray[np.float64], threads: int, first_column: int
) -> tuple[int, int, float, int, float, float]: ...
def median(
    X: npt.NDArray[np.float64], threads: int
) -> tuple[int, int, int, float, float]: ...
