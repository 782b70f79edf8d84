"""The sampled widths: M pairs drawn by the core, their estimate and the
interval around the exact result, as the public functions return them."""

from __future__ import annotations

from typing import Any, Optional

import numpy as np
import numpy.typing as npt

from . import _core
from ._arguments import Label, _Count, _features, _threads, _two_sets
from ._results import SampledLabelledStatistics, SampledMedianStatistics, _end
from ._warnings import _no_samples, _sampled_zero, _zero_quantiles


def _sampled(x: np.ndarray, y: Optional[np.ndarray], across: bool,
             p: np.ndarray, how: tuple, threads: _Count) -> tuple:
    """_core.sampled_quantiles's tuple for the probabilities p."""
    return _core.sampled_quantiles(x, y, across, p, how, _threads(threads))


def _sampled_labelled(X: npt.ArrayLike, threads: _Count,
                      first_column: Optional[_Count], label: Label,
                      how: tuple) -> SampledLabelledStatistics:
    """The mean of drawn distances over the same columns as _labelled."""
    n, columns, population, mean, width, _, low, high = _core.sampled_mean(
        _features(X, first_column, label), how, _threads(threads))
    ends = [_end(e[0], e[1], e[2], None) for e in (low, high)]
    return SampledLabelledStatistics(n, columns, population, mean, width,
                                     ends[0], ends[1], *how)


def _sampled_median(X: npt.ArrayLike, threads: _Count,
                    Y: Optional[npt.ArrayLike], cross: bool, label: Label,
                    how: tuple) -> tuple:
    """The SampledMedianStatistics, and the set without rows."""
    x, y, across, empty = _two_sets(X, Y, cross, label)
    values, widths, _, low, high, population, n, n_y, columns = _sampled(
        x, y, across, np.array([0.5]), how, threads)
    ends = [_end(e[0][0], e[1][0], e[2][0], e[3][0]) for e in (low, high)]
    return SampledMedianStatistics(
        n + n_y, columns, population, float(values[0]), float(widths[0]),
        ends[0], ends[1], *how), empty


def _sampled_quantiles(x: np.ndarray, y: Optional[np.ndarray], across: bool,
                       p: np.ndarray, how: tuple, threads: _Count,
                       what: str, interval: bool, empty: str) -> Any:
    """distance_quantiles from drawn pairs: the estimates, and with
    interval their ends, shaped as p."""
    values, widths, gammas, low, high, *_ = _sampled(
        x, y, across, p.ravel(), how, threads)
    # At the line that called distance_quantiles, two frames up.
    _no_samples("distance_quantiles", empty, stacklevel=3)
    zero = widths == 0
    if zero.any():
        _zero_quantiles(p, zero, _sampled_zero(values[zero][0], "q"),
                        stacklevel=3)
    pick = {"sigma": 0, "width": 1, "gamma": 2}[what]
    estimate = (values, widths, gammas)[pick].reshape(p.shape)[()]
    if not interval:
        return estimate
    return (estimate, low[pick].reshape(p.shape)[()],
            high[pick].reshape(p.shape)[()])

