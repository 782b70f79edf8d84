"""Results as plain values, and NaN and infinity as the documentation
says."""

import copy
import math
import pickle

import numpy as np
import pytest

import kernel_width as kw

X = np.random.default_rng(4).normal(size=(50, 3))


@pytest.mark.parametrize("compute", [
    lambda: kw.form_statistics(X, threads=2),
    lambda: kw.labelled_statistics(X, threads=2),
])
def test_results_are_values(compute):
    r = compute()
    again = compute()
    assert r == again and r is not again and hash(r) == hash(again)
    for clone in (pickle.loads(pickle.dumps(r)), copy.copy(r),
                  copy.deepcopy(r)):
        assert clone == r and type(clone) is type(r)
    assert r._replace(n=r.n + 1) != r
    assert type(r).__module__ == "kernel_width"
    assert repr(r).startswith(type(r).__name__ + "(n=50, columns=")
    for name, value in r._asdict().items():
        wanted = int if name in ("n", "columns", "pairs") else float
        assert type(value) is wanted, name


def test_fields():
    assert kw.FormStatistics._fields == (
        "n", "columns", "mean", "variance", "ratio")
    assert kw.LabelledStatistics._fields == (
        "n", "columns", "total", "pairs", "mean", "width")
    s = kw.labelled_statistics(X)  # column 0 left out as a label
    assert (s.n, s.columns, s.pairs) == (50, 2, 50 * 49)
    assert s.mean == s.total / s.pairs and s.width == 2 * s.mean * s.mean


nan, inf = math.nan, math.inf


def same(got, want):
    """Equal field by field, NaN matching NaN."""
    return len(got) == len(want) and all(
        (math.isnan(g) and math.isnan(w)) or g == w
        for g, w in zip(got, want))


@pytest.mark.parametrize("x,want", [
    # A NaN or an infinity: the sample's distance to itself is NaN.
    ([[0.0, 1.0], [nan, 2.0], [1.0, 1.0]], (3, 2, nan, nan, nan)),
    ([[0.0, 1.0], [inf, 2.0], [1.0, 1.0]], (3, 2, nan, nan, nan)),
    ([[0.0, 1.0], [1.0, -inf], [1.0, 1.0]], (3, 2, nan, nan, nan)),
    # Squares that overflow: an infinite mean, inf - inf in the variance.
    ([[1e200], [-1e200], [2.0]], (3, 1, inf, nan, nan)),
    # Just below the overflow the numbers are finite.
    ([[1e153], [-1e153]], (2, 1, 1e153, 1e306, 1.0)),
    ([[7.0, 8.0]], (1, 2, 0.0, 0.0, nan)),
])
def test_form_with_nan_and_infinity(x, want):
    assert same(kw.form_statistics(x), want)


def test_form_width_reads_row_0_when_the_ratio_is_nan():
    table = [[50.0, 2.0], [1.0, 0.0]]
    assert math.isnan(kw.form_width([[nan, 1.0], [2.0, 3.0]], table))
    with pytest.warns(RuntimeWarning, match="is 0: one sample$"):
        assert kw.form_width([[7.0, 8.0]], table) == 0.0
    assert math.isnan(kw.form_width([[7.0, 8.0]], [[1.0, 0.0]]))  # 0 / 0
    with pytest.raises(ValueError, match="^no rows to search$"):
        kw.form_width([[inf, 1.0], [2.0, 3.0]], np.zeros((0, 2)))


def test_form_width_divides_as_the_arithmetic_does():
    x = [[0.0, 0.0], [3.0, 4.0]]  # ratio 1, variance 6.25
    assert kw.form_width(x, [[1.0, 0.0]]) == inf
    assert kw.form_width(x, [[1.0, -2.5]]) == -2.5
    assert math.isnan(kw.form_width(x, [[1.0, nan]]))
    with pytest.raises(ValueError, match="^no key on the line$"):
        kw.form_width(x, np.zeros((2, 0)))
    with pytest.raises(ValueError, match="^no divisor after the key$"):
        kw.form_width(x, [[1.0]])


@pytest.mark.parametrize("x,want", [
    ([[0, 1.0], [0, nan], [0, 2.0]], (3, 1, nan, 6, nan, nan)),
    ([[0, 1.0], [0, inf], [0, 2.0]], (3, 1, inf, 6, inf, inf)),
    # Two infinities of one sign in a column: inf - inf.
    ([[0, 1.0], [0, inf], [0, inf]], (3, 1, nan, 6, nan, nan)),
    ([[0, 1.0], [0, inf], [0, -inf]], (3, 1, inf, 6, inf, inf)),
    ([[0, 1e200], [0, -1e200], [0, 2.0]], (3, 1, inf, 6, inf, inf)),
    # The label column is not read at all.
    ([[nan, 1.0], [inf, 3.0], [0, 2.0]], (3, 1, 8.0, 6, 8 / 6, 2 * (8 / 6) ** 2)),
    ([[5, 7.0, 8.0]], (1, 2, 0.0, 0, nan, nan)),
])
def test_labelled_with_nan_and_infinity(x, want):
    assert same(kw.labelled_statistics(x), want)


def test_documentation_names_every_value_error():
    def words(f):
        return " ".join(f.__doc__.split())

    form_words = ("no samples", "no feature values", "KERNEL_WIDTH_ISA",
                  "not 2-D", "0 to 1024")
    for word in form_words:
        assert word in words(kw.form_statistics), word
    for word in form_words + ("first_column is negative",):
        assert word in words(kw.labelled_statistics), word
    for word in ("no rows to search", "no key on the line",
                 "no divisor after the key", "table is not 2-D"):
        assert word in words(kw.form_width), word
    for f in (kw.form_statistics, kw.form_width, kw.labelled_statistics,
              kw.labelled_width):
        assert "KeyboardInterrupt" in f.__doc__
    assert "6 significant digits" in words(kw)
    assert "17 significant digits" in words(kw)


def test_statistics_keep_their_length():
    s = kw.median_statistics([[0.0, 0.0], [3.0, 4.0]])
    n, columns, pairs, median, width = s
    assert (median, width, s.sigma, s.gamma) == (5.0, 50.0, 5.0, 0.02)
    n, columns, total, pairs, mean, width = kw.labelled_statistics(
        [[0.0], [3.0]], first_column=0)
    assert (mean, width) == (3.0, 18.0)


def bits(value):
    return np.float64(value).view(np.uint64)


@pytest.mark.parametrize("x", [
    np.random.default_rng(8).normal(size=(40, 3)),
    np.random.default_rng(8).integers(0, 2, (30, 2)).astype(float),
    [[0.0, 1.0], [nan, 2.0], [3.0, 1.0]],
    [[0.0, 1.0], [inf, 2.0], [3.0, 1.0]],
    [[1.0, 1.0], [1.0, 1.0], [1.0, 1.0]],
    [[0.0, 0.0], [0.0, 0.0], [0.0, 2.3e-162]],  # 2 mean**2 rounds to 0
    [[1.0, 2.0]],
])
@pytest.mark.filterwarnings("ignore::RuntimeWarning")
def test_sigma_and_gamma_of_every_width(x):
    """The library's sigma and gamma (output=) against the properties and
    the plain arithmetic: sqrt(width / 2) and 1 / width."""
    with np.errstate(divide="ignore", invalid="ignore"):
        s = kw.labelled_statistics(x, first_column=0)
        assert bits(kw.labelled_width(x, 0, 0, output="sigma")) == (
            bits(s.sigma)) == bits(s.mean)
        assert bits(kw.labelled_width(x, 0, 0, output="gamma")) == (
            bits(s.gamma)) == bits(1 / np.float64(s.width))
        m = kw.median_statistics(x)
        assert bits(kw.median_width(x, output="sigma")) == bits(m.sigma) == (
            bits(m.median))
        assert bits(kw.median_width(x, output="gamma")) == bits(m.gamma) == (
            bits(1 / np.float64(m.width)))
        for table in ([[0.5, 2.0], [1.5, 4.0]], [[1.0, -2.0]], [[1.0, inf]]):
            width = kw.form_width(x, table)
            assert bits(kw.form_width(x, table, output="sigma")) == (
                bits(np.sqrt(np.float64(width) / 2)))
            assert bits(kw.form_width(x, table, output="gamma")) == (
                bits(1 / np.float64(width)))
