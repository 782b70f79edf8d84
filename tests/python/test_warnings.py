"""The RuntimeWarnings for a width of 0 and for a pooled set without rows,
whole, and the values they come with against numpy's."""

import math
import re
import warnings

import numpy as np
import pytest

import kernel_width as kw

inf = math.inf
A = 2.0 ** -537   # the smallest distance there is: its square is 5e-324


def pairwise(x):
    """The distances i < l of the rows of x, as scipy's pdist sums them."""
    x = np.asarray(x, dtype=np.float64)
    i, l = np.triu_indices(len(x), 1)
    return np.sqrt(((x[i] - x[l]) ** 2).sum(axis=1))


def smallest_wide():
    """The smallest double v with v * v * 2 > 0."""
    low, high = np.float64(0.0), np.float64(A)
    while np.nextafter(low, high) != high:
        middle = np.float64((low + high) / 2)
        if middle * middle * 2 > 0:
            high = middle
        else:
            low = middle
    return high


B = smallest_wide()
# Three samples at 0 and one at A or at B-ish: 6 distances, 3 of them 0.
TIES = [[0.0, 0.0]] * 3 + [[A, A]]   # the others sqrt(2) A; median B
LOW = [[0.0]] * 3 + [[A]]             # the others A; median A / 2


def warned(call, *messages):
    """call()'s value; its RuntimeWarnings must be messages, whole and in
    order (none when none are given)."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        got = call()
    assert [str(w.message) for w in caught] == list(messages)
    assert all(w.category is RuntimeWarning and w.filename == __file__
               for w in caught)  # the caller's line
    if messages:
        with pytest.warns(RuntimeWarning,
                          match="^" + re.escape(messages[-1]) + "$"):
            call()
    return got


def test_the_boundary_of_an_underflowing_square():
    assert B * B * 2 > 0 and np.nextafter(B, 0) ** 2 * 2 == 0
    assert B == np.median(pairwise(TIES)) and A / 2 == np.median(
        pairwise(LOW))


COINCIDE = "every distance is 0 (all samples coincide)"


@pytest.mark.parametrize("function,call,cause", [
    ("median_statistics", lambda: kw.median_statistics([[0.0]] * 4 + [[1.0]]),
     "6 of the 10 pairs are at distance 0"),
    ("median_width", lambda: kw.median_width([[0.0]] * 3 + [[1.0]]),
     None),  # (0 + 1) / 2
    ("median_width", lambda: kw.median_width(
        [[5.0, 1.0]] * 2, Y=[[5.0, 1.0]] * 3, output="gamma"), COINCIDE),
    # A median above 0 whose square underflows, and the smallest that
    # does not.
    ("median_statistics", lambda: kw.median_statistics(LOW),
     "2 * median^2 underflowed"),
    ("median_statistics", lambda: kw.median_statistics(TIES), None),
    ("median_width", lambda: kw.median_width(
        [[0.0]] * 2, Y=[[0.0], [A]]), "2 * median^2 underflowed"),
    ("labelled_width", lambda: kw.labelled_width([[1.0]] * 3, first_column=0),
     COINCIDE),
    # Squares of 5e-324 and 1e-323: means of 1.48e-162 and 2.1e-162.
    ("labelled_statistics", lambda: kw.labelled_statistics(
        [[0.0], [0.0], [2.3e-162]], first_column=0),
     "2 * mean^2 underflowed"),
    ("labelled_width", lambda: kw.labelled_width(
        [[0.0], [0.0], [3e-162]], first_column=0, output="gamma"), None),
    ("form_width", lambda: kw.form_width([[2.0, 1.0]] * 3, [[1.0, 2.0]]),
     COINCIDE),
    ("form_width", lambda: kw.form_width([[7.0, 8.0]], [[50.0, 2.0]]),
     "one sample"),
    ("form_width", lambda: kw.form_width([[0.0], [A]], [[1.0, 2.0]]),
     "the variance is zero"),
    ("form_width", lambda: kw.form_width([[0.0]] * 4 + [[2 * A]], np.zeros((0, 2))),
     "variance / 2.6 underflowed"),  # ratio 0: the table is not read
    ("form_width", lambda: kw.form_width([[0.0], [1e-160]], [[1.0, 1e300]]),
     "variance / divisor underflowed"),
    ("form_width", lambda: kw.form_width([[0.0], [1.0]], [[1.0, inf]],
                                         output="sigma"),
     "the divisor on table row 0 is infinite"),
    ("form_width", lambda: kw.form_width(  # -0.0
        [[0.0], [1.0]], [[5.0, 2.0], [1.0, -inf]], output="gamma"),
     "the divisor on table row 1 is negative"),
    ("form_width", lambda: kw.form_width([[0.0], [1e-160]], [[1.0, 1e-300]]),
     None),
])
def test_a_width_of_zero_warns_and_is_returned(function, call, cause):
    got = warned(call, *([f"{function}: the width is 0: {cause}"]
                         if cause else []))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        assert np.array_equal(call(), got)
    if cause:
        assert np.any(np.isin(np.abs(got), [0.0, inf]))
    else:
        assert np.all(np.asarray(got) != 0)


def listing(*ps):
    return "distance_quantiles: the width for p = " + ", ".join(ps)


# On LOW the sorted distances are 0, 0, 0, A, A, A: q = 0.5 falls half way
# between 0 and A (A / 2 underflows), 0.4 on the last 0.
@pytest.mark.parametrize("x,q,messages", [
    (LOW, [0.0, 0.2, 0.4], [listing("0.0", "0.2", "0.4") + " is 0: 3 of "
                            "the 6 pairs are at distance 0"]),
    (LOW, [0.4, 0.0, 0.2, 0.1], [listing("0.4", "0.0", "0.2", "...")
                                 + " is 0: 3 of the 6 pairs are at "
                                 "distance 0"]),
    (LOW, [0.4, 0.4, 0.0, 0.2], [listing("0.4", "0.0", "0.2") + " is 0: 3 of "
                                 "the 6 pairs are at distance 0"]),
    (LOW, [0.5, 0.6, 1.0], [listing("0.5") + " is 0: 2 * q^2 underflowed"]),
    (LOW, [1.0, 0.5, 0.0, 0.53, 0.52, 0.51, 0.55],  # 0.55: 0.75 A
     [listing("0.0") + " is 0: 3 of the 6 pairs are at distance 0",
      listing("0.5", "0.53", "0.52", "...") + " is 0: 2 * q^2 underflowed"]),
    # Just past the last 0: A times a weight of 4e-16, whose square
    # underflows.
    (LOW, [np.nextafter(0.4, 1.0), 0.4],
     [listing("0.4") + " is 0: 3 of the 6 pairs are at distance 0",
      listing(repr(np.nextafter(0.4, 1.0))) + " is 0: 2 * q^2 underflowed"]),
    ([[2.0, 1.0]] * 3, np.array([[0.5], [1.0]]),
     [listing("0.5", "1.0") + f" is 0: {COINCIDE}"]),
    (TIES, 0.5, []),
    (LOW, [0.6, 1.0], []),
])
@pytest.mark.parametrize("output", ["sigma", "width", "gamma"])
def test_quantile_warnings_name_each_cause(x, q, messages, output):
    warned(lambda: kw.distance_quantiles(x, q, output=output), *messages)


def quantile_boundary(x):
    """The smallest q whose quantile of x's distances has a square above 0
    (numpy's quantile, bisected)."""
    d = pairwise(x)
    low, high = 0.0, 1.0
    while np.nextafter(low, high) != high:
        middle = (low + high) / 2
        if np.quantile(d, middle) ** 2 * 2 > 0:
            high = middle
        else:
            low = middle
    return low, high


@pytest.mark.parametrize("x", [LOW, TIES, [[0.0]] * 5 + [[A], [3 * A]],
                               np.random.default_rng(2).integers(
                                   0, 3, (9, 2)) * A])
@pytest.mark.parametrize("output", ["sigma", "width", "gamma"])
def test_quantiles_and_their_warnings_against_numpy(x, output):
    """Each output bit for bit from numpy's quantile d: d, d * d * 2 and
    1 / (d * d * 2); a warning for each kind of zero width that numpy's
    quantiles have, naming only those probabilities."""
    below, above = quantile_boundary(x)
    q = np.array([0.0, 0.25, 0.5, 0.75, 1.0, below, above,
                  *np.random.default_rng(5).uniform(size=20)])
    d = np.quantile(pairwise(x), q)
    with np.errstate(divide="ignore", over="ignore"):
        want = {"sigma": d, "width": d * d * 2, "gamma": 1 / (d * d * 2)}
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        got = kw.distance_quantiles(x, q, output=output)
    np.testing.assert_array_equal(got.view(np.uint64),
                                  want[output].view(np.uint64))
    kinds = {"2 * q^2 underflowed": (d != 0) & (d * d * 2 == 0)}
    kinds["distance 0"] = d == 0
    for w in caught:
        head, _, cause = str(w.message).rpartition(" is 0: ")
        listed = head.removeprefix(listing()).removesuffix(", ...")
        zero = kinds["2 * q^2 underflowed" if "underflowed" in cause
                     else "distance 0"]
        distinct = list(dict.fromkeys(q[zero].tolist()))
        assert listed.split(", ") == [repr(p) for p in distinct[:3]]
        assert head.endswith(", ...") == (len(distinct) > 3)
    assert len(caught) == sum(k.any() for k in kinds.values())
    assert (d[q == below] * d[q == below] * 2 == 0).all()
    assert (d[q == above] * d[q == above] * 2 > 0).all()


X = np.random.default_rng(7).normal(size=(6, 2))
EMPTY = np.zeros((0, 2))
Q = [0.1, 0.5, 0.9]


@pytest.mark.parametrize("call,alone,messages", [
    (lambda: kw.median_width(X, Y=EMPTY), lambda: kw.median_width(X),
     ["median_width: Y: no samples"]),
    (lambda: kw.median_statistics(X, Y=EMPTY),
     lambda: kw.median_statistics(X), ["median_statistics: Y: no samples"]),
    (lambda: kw.median_statistics(EMPTY, Y=X),
     lambda: kw.median_statistics(X), ["median_statistics: X: no samples"]),
    (lambda: kw.distance_quantiles(X, Q, EMPTY, output="gamma"),
     lambda: kw.distance_quantiles(X, Q, output="gamma"),
     ["distance_quantiles: Y: no samples"]),
    (lambda: kw.distance_quantiles(EMPTY, Q, X),
     lambda: kw.distance_quantiles(X, Q),
     ["distance_quantiles: X: no samples"]),
    # The set is named before the width it leads to.
    (lambda: kw.median_width([[1.0, 1.0]] * 3, Y=EMPTY), lambda: 0.0,
     ["median_width: Y: no samples",
      f"median_width: the width is 0: {COINCIDE}"]),
    (lambda: kw.distance_quantiles(X[:1], 0.5, EMPTY[:, :2]),
     lambda: np.float64(np.nan), ["distance_quantiles: Y: no samples"]),
    (lambda: kw.median_width(X, Y=X[:1]), lambda: kw.median_width(
        np.vstack([X, X[:1]])), []),
    # Sampled: the same draws as from the other set alone.
    (lambda: kw.distance_quantiles(X, Q, EMPTY, sample=50, interval=True),
     lambda: kw.distance_quantiles(X, Q, sample=50, interval=True),
     ["distance_quantiles: Y: no samples"]),
    (lambda: kw.median_width(EMPTY, Y=X, sample=50),
     lambda: kw.median_width(X, sample=50), ["median_width: X: no samples"]),
])
def test_a_pooled_set_without_rows_is_left_out(call, alone, messages):
    got = warned(call, *messages)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        want = alone()
    assert type(got) is type(want)
    np.testing.assert_array_equal(np.asarray(got), np.asarray(want))


@pytest.mark.parametrize("call,message", [
    (lambda: kw.median_width(X, Y=EMPTY, cross=True),
     "Y: no samples (cross=True pairs each sample of X with each of Y)"),
    (lambda: kw.distance_quantiles(EMPTY, 0.5, X, True),
     "X: no samples (cross=True pairs each sample of X with each of Y)"),
    (lambda: kw.median_statistics(EMPTY, Y=EMPTY), "no samples"),
    (lambda: kw.distance_quantiles(EMPTY, 0.5), "no samples"),
])
def test_no_samples_to_pair_is_an_error(call, message):
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # and no warning before it
        with pytest.raises(ValueError, match="^" + re.escape(message) + "$"):
            call()
