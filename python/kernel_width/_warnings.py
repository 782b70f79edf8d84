"""The RuntimeWarnings: a width of 0 with its cause, in the programs' words,
and a pooled set without rows. Each is raised at the line that called the
public function."""

from __future__ import annotations

import math
import warnings

import numpy as np
import numpy.typing as npt


def _zero_width(function: str, cause: str) -> None:
    """The RuntimeWarning for a width of 0 when there is a cause, at the
    caller's line (the public function calls this directly)."""
    if cause:
        warnings.warn(f"{function}: the width is 0: {cause}", RuntimeWarning,
                      stacklevel=3)


def _no_samples(function: str, empty: str, stacklevel: int = 2) -> None:
    """The RuntimeWarning for a pooled set without rows, at the line
    stacklevel frames above the caller's, as warnings.warn counts them
    (2: the public function calls this directly)."""
    if empty:
        warnings.warn(f"{function}: {empty}: no samples", RuntimeWarning,
                      stacklevel=stacklevel + 1)


def _zero_quantiles(p: np.ndarray, at: np.ndarray, cause: str,
                    stacklevel: int) -> None:
    """distance_quantiles' RuntimeWarning for the widths of 0 at p[at] from
    one cause: the probabilities each once, in q's order, three at most.
    stacklevel as _no_samples'."""
    listed = list(dict.fromkeys(p.ravel()[at].tolist()))
    shown = ", ".join(map(repr, listed[:3]))
    more = ", ..." if len(listed) > 3 else ""
    warnings.warn(f"distance_quantiles: the width for p = {shown}{more} is 0: "
                  f"{cause}", RuntimeWarning, stacklevel=stacklevel + 1)


# The causes of a width of 0 in the programs' words (width_warning.cpp),
# so that a message reads the same from every front end.
_COINCIDE = "every distance is 0 (all samples coincide)"


def _distance_zero(value: float, name: str, pairs: int,
                   zero_pairs: int) -> str:
    """Why the width 2 * value**2 of a distance, the median or a quantile
    (name "q"), is 0."""
    if value != 0:
        return f"2 * {name}^2 underflowed"
    if zero_pairs == pairs:
        return _COINCIDE
    if zero_pairs == 0:  # not counted
        return "at least half of the pairs are at distance 0"
    return f"{zero_pairs} of the {pairs} pairs are at distance 0"


def _sampled_zero(value: float, name: str) -> str:
    """Why a sampled width is 0, or "" when it is not."""
    if value != 0:
        return f"2 * {name}^2 underflowed"
    return "the drawn pairs give a distance of 0"


def _form_zero(result: tuple, table: npt.NDArray[np.float64]) -> str:
    """Why form's width is 0, or "" when it is not."""
    width, _, _, n, mean, variance, rule, row = result
    if width != 0:
        return ""
    if n < 2:
        return "one sample"
    if mean == 0:
        return _COINCIDE
    if variance == 0:
        return "the variance is zero"
    if rule != 2:
        return ("variance / 2.6 underflowed" if rule == 0
                else "variance * ratio underflowed")
    divisor = float(table[row, 1])
    why = ("not a number" if math.isnan(divisor) else "0" if divisor == 0
           else "negative" if divisor < 0
           else "infinite" if math.isinf(divisor) else "")
    return (f"the divisor on table row {row} is {why}" if why
            else "variance / divisor underflowed")


def _labelled_zero(s: tuple) -> str:
    """Why labelled's width is 0, or "" when it is not."""
    total, mean, width = s[2], s[4], s[5]
    if width != 0:
        return ""
    if total == 0:
        return _COINCIDE
    return ("the mean distance underflowed" if mean == 0
            else "2 * mean^2 underflowed")


def _median_zero(s: tuple) -> str:
    """Why the median's width is 0, or "" when it is not."""
    return "" if s[5] != 0 else _distance_zero(s[4], "median", s[3], s[8])

