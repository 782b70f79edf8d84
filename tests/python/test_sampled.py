"""Sampled widths (sample=, seed=, confidence=) against a second
implementation of the documented draw: SplitMix64 and Lemire's bounded
integers in plain Python, the drawn distances summed in column order, and
numpy's quantile and mean of them, bit for bit; the intervals around the
exact results; and the arguments' checks."""

import math
import warnings

import numpy as np
import pytest

import kernel_width as kw

MASK = 2**64 - 1
GOLDEN = 0x9E3779B97F4A7C15


def mix(z):
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
    return z ^ (z >> 31)


class Stream:
    """The words of pair k: SplitMix64 started at mix(mix(seed) ^ k)."""

    def __init__(self, seed, k):
        self.state = mix(mix(seed) ^ k)

    def bounded(self, n):
        """A uniform integer below n by multiply and reject."""
        while True:
            self.state = (self.state + GOLDEN) & MASK
            m = mix(self.state) * n
            if (m & MASK) >= (2**64 - n) % n:
                return m >> 64


def draw(n, n_y, kind, seed, count):
    pairs = []
    for k in range(count):
        s = Stream(seed, k)
        if kind == "cross":
            i = s.bounded(n)
            pairs.append((i, n + s.bounded(n_y)))
            continue
        total = n + n_y if kind == "pooled" else n
        i = s.bounded(total)
        l = s.bounded(total - 1)
        l += l >= i
        pairs.append((min(i, l), max(i, l)))
    return pairs


def distances(rows, pairs):
    """Each pair's squares added in column order, then the root."""
    out = []
    for i, l in pairs:
        total = 0.0
        for a, b in zip(rows[i], rows[l]):
            total += (a - b) * (a - b)
        out.append(math.sqrt(total))
    return np.array(out)


def bits(values):
    return np.asarray(values, dtype=np.float64).view(np.uint64)


rng = np.random.default_rng(8)
X = rng.normal(size=(40, 5)) * [1, 10, 0.1, 3, 1]
Y = rng.integers(0, 3, (25, 5)).astype(float)
Q = np.array([0.0, 0.1, 0.5, 0.75, 1.0, 1 / 3])


@pytest.mark.parametrize("kind", ["within", "pooled", "cross"])
@pytest.mark.parametrize("seed", [0, 12345, 2**64 - 1])
def test_estimates_are_numpy_of_the_documented_draw(kind, seed):
    m = 1500
    y = None if kind == "within" else Y
    n_y = 0 if y is None else len(Y)
    rows = X.tolist() + ([] if y is None else Y.tolist())
    drawn = distances(rows, draw(len(X), n_y, kind, seed, m))
    got = kw.distance_quantiles(X, Q, y, kind == "cross", sample=m,
                                seed=seed)
    assert (bits(got) == bits(np.quantile(drawn, Q))).all()
    median = kw.median_statistics(X, Y=y, cross=kind == "cross", sample=m,
                                  seed=seed)
    assert bits(median.median) == bits(np.quantile(drawn, 0.5))
    assert median.pairs == {"within": 780, "pooled": 2080, "cross": 1000}[kind]
    if kind == "within":
        mean = kw.labelled_statistics(X, first_column=0, sample=m, seed=seed)
        total = 0.0
        for d in drawn:
            total += d
        assert mean.mean == total / m


@pytest.mark.parametrize("kind", ["within", "pooled", "cross"])
def test_intervals_contain_the_exact_results(kind):
    y = None if kind == "within" else Y
    cross = kind == "cross"
    exact = kw.distance_quantiles(X, Q, y, cross)
    widths = kw.distance_quantiles(X, Q, y, cross, output="width")
    exact_mean = kw.labelled_statistics(X, first_column=0)
    missed = 0
    for seed in range(40):
        est, low, high = kw.distance_quantiles(
            X, Q, y, cross, sample=400, seed=seed, confidence=0.999,
            interval=True)
        assert (low <= est).all() or (low <= high).all()
        missed += int(((low > exact) | (exact > high)).sum())
        w = kw.distance_quantiles(X, Q, y, cross, sample=400, seed=seed,
                                  confidence=0.999, interval=True,
                                  output="width")
        g = kw.distance_quantiles(X, Q, y, cross, sample=400, seed=seed,
                                  confidence=0.999, interval=True,
                                  output="gamma")
        assert (bits(w[0]) == bits(2 * est * est)).all()
        assert (bits(w[1]) == bits(2 * low * low)).all()
        with np.errstate(divide="ignore"):
            assert (bits(g[1]) == bits(1 / w[2])).all()  # the order reverses
            assert (bits(g[2]) == bits(1 / w[1])).all()
        missed += int(((w[1] > widths) | (widths > w[2])).sum())
        if kind == "within":
            s = kw.labelled_statistics(X, first_column=0, sample=400,
                                       seed=seed, confidence=0.999)
            missed += not s.low.sigma <= exact_mean.mean <= s.high.sigma
            missed += not s.low.width <= exact_mean.width <= s.high.width
            assert s.low.rank is None and s.high.rank is None
    # 0.999 per quantile over 40 draws of 6: a miss or two at most.
    assert missed <= 2


def test_statistics_carry_the_interval():
    s = kw.median_statistics(X, sample=3000, seed=4, confidence=0.9)
    assert isinstance(s, kw.SampledMedianStatistics)
    assert (s.draws, s.seed, s.confidence, s.n, s.columns) == (
        3000, 4, 0.9, 40, 5)
    assert s.low.sigma <= s.sigma <= s.high.sigma
    assert s.low.width == 2 * s.low.sigma**2
    assert s.low.gamma == 1 / s.high.width
    assert s.high.gamma == 1 / s.low.width
    assert 0 <= s.low.rank < s.high.rank < 3000
    assert s.gamma == 1 / s.width
    assert kw.median_width(X, sample=3000, seed=4, output="sigma") == s.sigma
    m = kw.labelled_statistics(X, 2, 0, sample=3000, seed=4)
    assert isinstance(m, kw.SampledLabelledStatistics)
    assert m.sigma == m.mean
    assert kw.labelled_width(X, first_column=0, sample=3000, seed=4) == m.width
    # Pooled: n counts both sets.
    assert kw.median_statistics(X, Y=Y, sample=10).n == 65


def test_same_numbers_for_any_thread_count():
    big = rng.normal(size=(2000, 3))
    one = kw.distance_quantiles(big, Q, sample=100000, seed=9, threads=1,
                                interval=True)
    for threads in (2, 3):
        other = kw.distance_quantiles(big, Q, sample=100000, seed=9,
                                      threads=threads, interval=True)
        for a, b in zip(one, other):
            assert (bits(a) == bits(b)).all()
    assert kw.labelled_statistics(big, 1, 0, sample=100000) == \
        kw.labelled_statistics(big, 3, 0, sample=100000)


def test_shapes_follow_q():
    q = np.array([[0.1, 0.5], [0.9, 1.0]])
    est, low, high = kw.distance_quantiles(X, q, sample=100, interval=True)
    assert est.shape == low.shape == high.shape == (2, 2)
    one = kw.distance_quantiles(X, 0.5, sample=100)
    assert isinstance(one, np.float64)
    assert isinstance(kw.distance_quantiles(X, 0.5, sample=100,
                                            interval=True)[1], np.float64)


def test_nan_and_trivial_ends():
    x = X.copy()
    x[3, 2] = np.nan
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        est, low, high = kw.distance_quantiles(x, 0.5, sample=50,
                                               interval=True)
    assert math.isnan(est) and math.isnan(low) and math.isnan(high)
    # One draw: the median's interval is the trivial one, 0 to the bound.
    s = kw.median_statistics(X, sample=1)
    assert s.low.rank is None and s.high.rank is None
    assert s.low.sigma == 0 and s.high.sigma >= s.median
    assert s.high.gamma == math.inf


@pytest.mark.parametrize("arguments, error, message", [
    ({"sample": 0}, ValueError, "sample must be 1 to 2**63 pairs, not 0"),
    ({"sample": -3}, ValueError, "sample must be 1 to 2**63 pairs, not -3"),
    ({"sample": 2**63 + 1}, ValueError, "sample must be 1 to 2**63"),
    ({"sample": 1.5}, TypeError, "sample must be an int, not float"),
    ({"sample": True}, TypeError, "sample must be an int, not bool"),
    ({"sample": 5, "seed": -1}, ValueError, "seed must be 0 to 2**64 - 1"),
    ({"sample": 5, "seed": 2**64}, ValueError, "seed must be 0 to 2**64 - 1"),
    ({"sample": 5, "seed": "random"}, TypeError, "seed must be an int"),
    ({"sample": 5, "confidence": 0}, ValueError,
     "confidence must lie strictly between 0 and 1, not 0"),
    ({"sample": 5, "confidence": 1.0}, ValueError, "not 1.0"),
    ({"sample": 5, "confidence": math.nan}, ValueError, "not nan"),
    ({"sample": 5, "confidence": "high"}, TypeError,
     "confidence must be a real number, not str"),
    ({"seed": 3}, ValueError, "seed= needs sample="),
    ({"confidence": 0.9}, ValueError, "confidence= needs sample="),
])
def test_refused(arguments, error, message):
    for call in (lambda: kw.median_width(X, **arguments),
                 lambda: kw.labelled_statistics(X, **arguments),
                 lambda: kw.distance_quantiles(X, 0.5, **arguments)):
        with pytest.raises(error, match=message.replace("*", r"\*")
                           .replace("(", r"\(").replace(")", r"\)")):
            call()


def test_interval_needs_a_sample():
    with pytest.raises(ValueError, match="interval=True needs sample="):
        kw.distance_quantiles(X, 0.5, interval=True)
    with pytest.raises(TypeError, match="interval must be a bool"):
        kw.distance_quantiles(X, 0.5, sample=3, interval=1)


def test_limits_accepted():
    # The largest seed and a sample of 2**63 pass the checks; the latter
    # then cannot be held.
    assert kw.median_width(X, sample=1, seed=2**64 - 1) > 0
    with pytest.raises(MemoryError):
        kw.median_width(X, sample=2**63)


def test_same_numbers_as_the_other_front_ends():
    """Values that R's tests (r/tests/testthat/test-sampled.R) check too."""
    x = np.array([[((i * 7 + c * 13) % 17) / 4 + i / 100 for c in range(3)]
                  for i in range(30)])
    y = np.array([[((i * 5 + c * 3) % 11) / 2 for c in range(3)]
                  for i in range(12)])
    expected = [
        [0.5196152422706631, 3.498471094635484, 3.9367245268115982,
         0.450333209967908, 3.4830733555295676, 3.8681003089371924,
         0.5196152422706636, 3.5206959539272913, 4.047925394569421],
        [0.8660254037844386, 3.50406459882105, 4.527692569068709,
         0.744781847254617, 3.477038970158373, 4.5,
         1.0392304845413265, 3.5362409420173844, 4.716990566028302],
        [2.012883503832251, 3.409545424246464, 5.21272946105405,
         1.9525624189766635, 3.1832687602525804, 4.5136681313539215,
         2.138270329027647, 3.5346428390998716, 5.234023309080692]]
    for (other, cross), want in zip([(None, False), (y, False), (y, True)],
                                    expected):
        got = kw.distance_quantiles(x, [0.1, 0.5, 0.9], other, cross,
                                    sample=1000, seed=42, interval=True)
        assert np.concatenate(got).tolist() == want
    s = kw.labelled_statistics(x, first_column=0, sample=500, seed=7)
    assert [s.mean, s.low.sigma, s.high.sigma, s.low.width, s.high.gamma] == [
        2.722847807051608, 2.3138433385618473, 3.131852275541374,
        10.707741990814071, 0.09339037127135462]
    assert kw.median_width(x, sample=777, seed=2**64 - 1) == 24.4786
