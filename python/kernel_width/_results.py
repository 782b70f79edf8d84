"""The results: named tuples that pickle, copy and compare as plain values,
whatever computed them."""

from __future__ import annotations

import math
from typing import NamedTuple, Optional


def _gamma(width: float) -> float:
    """1 / width as the library's double division gives it (infinite for
    0, which Python's float division refuses)."""
    if width == 0:
        return math.copysign(math.inf, width)
    return 1.0 / width


class FormStatistics(NamedTuple):
    """The spread of the n*n pairwise distances, as form_kernel_width
    --verbose shows it.

    Attributes
    ----------
    n : int
        Number of samples.
    columns : int
        Number of columns (features).
    mean : float
        Mean of all n*n distances, the zero diagonal included.
    variance : float
        Mean of (distance - mean)**2 over all n*n distances.
    ratio : float
        The spread ratio mean**2 / variance.
    """

    n: int
    columns: int
    mean: float
    variance: float
    ratio: float


class LabelledStatistics(NamedTuple):
    """The mean distance between different samples, as
    labelled_kernel_width --verbose shows it, and the width.

    Attributes
    ----------
    n : int
        Number of samples.
    columns : int
        Number of feature columns (the label and the columns before
        first_column left out).
    total : float
        Sum of the distances over all ordered pairs of different samples.
    pairs : int
        n*n - n.
    mean : float
        total / pairs.
    width : float
        2 * mean**2.
    sigma : float
        The mean itself: the sigma of exp(-d**2 / (2 * sigma**2)), whose
        width is 2 * sigma**2 (a property, not a field).
    gamma : float
        1 / width: the gamma of exp(-gamma * d**2), scikit-learn's SVC
        gamma (a property, not a field).
    """

    n: int
    columns: int
    total: float
    pairs: int
    mean: float
    width: float

    @property
    def sigma(self) -> float:
        return self.mean

    @property
    def gamma(self) -> float:
        return _gamma(self.width)


class MedianStatistics(NamedTuple):
    """The median of the distances between different samples, as
    median_kernel_width --verbose shows it, and the width.

    Attributes
    ----------
    n : int
        Number of samples: X's, and Y's too when Y is given.
    columns : int
        Number of columns, every one a feature (a label left out).
    pairs : int
        The distances the median is taken over: n*(n-1)/2 within X or of
        X and Y pooled, len(X) * len(Y) across them.
    median : float
        The median of the pairs' distances, as numpy.median of pdist(X).
    width : float
        2 * median**2.
    sigma : float
        The median itself: the sigma of exp(-d**2 / (2 * sigma**2)), whose
        width is 2 * sigma**2 (a property, not a field).
    gamma : float
        1 / width: the gamma of exp(-gamma * d**2), scikit-learn's SVC
        gamma (a property, not a field).
    """

    n: int
    columns: int
    pairs: int
    median: float
    width: float

    @property
    def sigma(self) -> float:
        return self.median

    @property
    def gamma(self) -> float:
        return _gamma(self.width)


class IntervalEnd(NamedTuple):
    """One end of a sampled width's interval.

    Attributes
    ----------
    width : float
        The width 2 * sigma**2 at this end.
    sigma : float
        The distance (median, quantile) or mean distance (labelled) at
        this end.
    gamma : float
        The gamma at this end of the interval of gammas, which reverses the
        order: low.gamma = 1 / high.width, high.gamma = 1 / low.width.
    rank : int or None
        The rank among the drawn distances sorted (from 0) whose value the
        end is; None for a trivial end (0 below, the distance bound
        above: no rank reaches the confidence) and for labelled.
    """

    width: float
    sigma: float
    gamma: float
    rank: Optional[int]


class SampledMedianStatistics(NamedTuple):
    """The median of drawn distances and the interval around the exact
    median (median_statistics with sample=).

    Attributes
    ----------
    n, columns : int
        As MedianStatistics.
    pairs : int
        N, the pairs drawn from (those the exact median takes).
    median : float
        numpy.quantile of the drawn distances at 0.5: the estimate.
    width : float
        2 * median**2.
    low, high : IntervalEnd
        The interval's ends: the exact median, width, sigma and gamma lie
        between them with probability at least confidence.
    draws, seed : int
        M, the pairs drawn, and the seed.
    confidence : float
        C.
    sigma, gamma : float
        As MedianStatistics (properties, not fields).
    """

    n: int
    columns: int
    pairs: int
    median: float
    width: float
    low: IntervalEnd
    high: IntervalEnd
    draws: int
    seed: int
    confidence: float

    @property
    def sigma(self) -> float:
        return self.median

    @property
    def gamma(self) -> float:
        return _gamma(self.width)


class SampledLabelledStatistics(NamedTuple):
    """The mean of drawn distances and the interval around labelled's
    exact mean (labelled_statistics with sample=).

    Attributes
    ----------
    n, columns : int
        As LabelledStatistics.
    pairs : int
        N = n*(n-1)/2, the pairs i < l drawn from (the exact mean is over
        each of them twice, n*n - n ordered pairs).
    mean : float
        The mean of the drawn distances, summed in draw order: the
        estimate.
    width : float
        2 * mean**2.
    low, high : IntervalEnd
        The interval's ends (empirical Bernstein bound): the exact mean,
        width, sigma and gamma lie between them with probability at least
        confidence. Their rank is None.
    draws, seed : int
        M, the pairs drawn, and the seed.
    confidence : float
        C.
    sigma, gamma : float
        As LabelledStatistics (properties, not fields).
    """

    n: int
    columns: int
    pairs: int
    mean: float
    width: float
    low: IntervalEnd
    high: IntervalEnd
    draws: int
    seed: int
    confidence: float

    @property
    def sigma(self) -> float:
        return self.mean

    @property
    def gamma(self) -> float:
        return _gamma(self.width)


def _end(value: float, width: float, gamma: float,
         rank: Optional[int]) -> IntervalEnd:
    return IntervalEnd(float(width), float(value), float(gamma),
                       None if rank is None or rank < 0 else int(rank))

