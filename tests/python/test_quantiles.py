"""distance_quantiles and the median of two sets against numpy's quantile
and median of scipy's pdist and cdist, bit for bit."""

import warnings

import numpy as np
import pytest

import kernel_width as kw

distance = pytest.importorskip("scipy.spatial.distance")
pdist, cdist = distance.pdist, distance.cdist

rng = np.random.default_rng(21)
Q = np.concatenate([[0.0, 1.0, 0.5, 0.25, 0.75, 1 / 3, 2 / 3, 0.1, 0.9,
                     5e-324, np.nextafter(1.0, 0.0), 0.37],
                    rng.uniform(size=6)])


def with_one(x, value):
    x = x.copy()
    x.flat[rng.integers(x.size)] = value
    return x


# Each makes n samples of d values; the awkward ones for the arithmetic.
KINDS = {
    "normal": lambda n, d: rng.normal(size=(n, d)),
    "ties": lambda n, d: rng.integers(0, 3, (n, d)).astype(float),
    "identical": lambda n, d: np.full((n, d), 1.5),
    "far_clusters": lambda n, d: (rng.normal(size=(n, d))
                                  + 1e8 * (np.arange(n) % 2)[:, None]),
    "quarter_grid": lambda n, d: rng.integers(-4, 5, (n, d)) * 0.25,
    "subnormal_squares": lambda n, d: rng.integers(0, 4, (n, d)) * 1e-160,
    "underflowing_squares": lambda n, d: rng.integers(0, 4, (n, d)) * 1e-170,
    "overflowing_squares": lambda n, d: rng.choice(
        [0.0, 1.0, 1e154, -1e154, 1e200], (n, d)),
    "nan": lambda n, d: with_one(rng.normal(size=(n, d)), np.nan),
    "infinity": lambda n, d: with_one(rng.normal(size=(n, d)), np.inf),
    "infinities": lambda n, d: rng.choice([0.0, np.inf, -np.inf], (n, d)),
}


def bits(values):
    return np.asarray(values, dtype=np.float64).view(np.uint64)


def check_against_numpy(x, y, threads):
    """Every quantile and median, within x, pooled and across, as numpy
    gives them."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        within, pooled = pdist(x), pdist(np.vstack([x, y]))
        across = cdist(x, y)
        for got, want in [
                (kw.distance_quantiles(x, Q, threads=threads),
                 np.quantile(within, Q)),
                (kw.distance_quantiles(x, Q, y, threads=threads),
                 np.quantile(pooled, Q)),
                (kw.distance_quantiles(x, Q, y, True, threads),
                 np.quantile(across, Q)),
                (kw.median_statistics(x, threads).sigma, np.median(within)),
                (kw.median_width(x, threads, Y=y, output="sigma"),
                 np.median(pooled)),
                (kw.median_statistics(x, threads, Y=y, cross=True).median,
                 np.median(across))]:
            np.testing.assert_array_equal(bits(got), bits(want))


@pytest.mark.parametrize("kind", list(KINDS))
def test_equals_numpy_on_small_sets(kind):
    make = KINDS[kind]
    for n in range(2, 6):  # 1 to 10 pairs within, odd and even
        for d in (1, 3):
            x, y = make(n, d), make(7 - n, d)
            for threads in range(1, 5):
                check_against_numpy(x, y, threads)


@pytest.mark.parametrize("n,n_y", [(150, 77), (152, 76), (151, 1)])
@pytest.mark.parametrize("kind", ["normal", "ties", "far_clusters"])
def test_equals_numpy_on_larger_sets(kind, n, n_y):
    # 11175 pairs (odd) or 11476 (even) within; across, odd and even too.
    make = KINDS[kind]
    x, y = make(n, 4), make(n_y, 4)
    check_against_numpy(x, y, 1 + n % 4)


def test_median_sigma_gamma_and_n_of_two_sets():
    x, y = rng.normal(size=(40, 3)), rng.normal(size=(25, 3))
    for kwargs, pairs in [({}, 40 * 39 // 2), ({"Y": y}, 65 * 64 // 2),
                          ({"Y": y, "cross": True}, 40 * 25)]:
        s = kw.median_statistics(x, **kwargs)
        assert (s.n, s.columns, s.pairs) == (
            40 + (25 if kwargs else 0), 3, pairs)
        assert s.sigma == s.median and s.width == 2 * s.median ** 2
        assert kw.median_width(x, output="gamma", **kwargs) == s.gamma
        assert s.gamma == 1 / s.width
        assert kw.median_width(x, **kwargs) == s.width
        assert kw.distance_quantiles(x, 0.5, **kwargs) == s.median


@pytest.mark.parametrize("q", [0.5, np.float64(0.25), np.array(0.75), [0.5],
                               [[0.1, 0.2], [0.3, 1.0]], np.zeros((2, 0)),
                               np.array([0.9, 0.1])[::-1], [0, 1]])
def test_shapes_follow_numpy(q):
    x = rng.normal(size=(9, 2))
    got, want = kw.distance_quantiles(x, q), np.quantile(pdist(x), q)
    assert type(got) is type(want) and np.shape(got) == np.shape(want)
    np.testing.assert_array_equal(got, want)


@pytest.mark.parametrize("call,error,message", [
    (lambda x: kw.distance_quantiles(x, 1.5), ValueError,
     r"^Quantiles must be in the range \[0, 1\], not 1.5$"),
    (lambda x: kw.distance_quantiles(x, [0, 1, np.nextafter(0, -1)]),
     ValueError, r"^Quantiles must be in the range \[0, 1\], not -5e-324 "
     r"\(q\[2\]\)$"),
    (lambda x: kw.distance_quantiles(x, [[0.5, np.nan]]), ValueError,
     r", not nan \(q\[0, 1\]\)$"),
    (lambda x: kw.distance_quantiles(x, "0.5"), TypeError,
     "^q must hold real numbers, not text$"),
    (lambda x: kw.distance_quantiles(x, [True]), TypeError,
     "^q must hold real numbers, not bool$"),
    (lambda x: kw.distance_quantiles(x, 0.5, cross=True), ValueError,
     "^cross=True needs Y"),
    (lambda x: kw.distance_quantiles(x, 0.5, x[:, :1]), ValueError,
     "^X and Y must have the same columns, not 2 and 1$"),
    (lambda x: kw.median_width(x, Y=x[0]), ValueError,
     "^Y must be a 2-D array, not 1-D$"),
    (lambda x: kw.median_width(x, Y=[["a", "b"]]), TypeError,
     "^Y must hold real numbers, not text$"),
    (lambda x: kw.median_width(x, Y=x, cross=1), TypeError,
     "^cross must be a bool, not int$"),
    (lambda x: kw.median_width(x, Y=x[:0], cross=True), ValueError,
     r"^Y: no samples \(cross=True pairs each sample of X with each of Y\)$"),
    (lambda x: kw.distance_quantiles(x[:0], 0.5), ValueError,
     "^no samples$"),
    (lambda x: kw.median_width(x, output="scale"), ValueError,
     '^output must be "width", "sigma" or "gamma", not \'scale\'$'),
    (lambda x: kw.median_width(x, output=None), TypeError,
     "^output must be a str, not NoneType$"),
])
def test_refused(call, error, message):
    with pytest.raises(error, match=message):
        call(np.arange(8.0).reshape(4, 2))


def test_no_pairs_and_a_pooled_set_without_y_rows():
    one = [[1.0, 2.0]]
    assert np.isnan(kw.distance_quantiles(one, 0.5))
    x = rng.normal(size=(6, 2))
    with pytest.warns(RuntimeWarning, match="^distance_quantiles: Y: no "
                      "samples$"):
        got = kw.distance_quantiles(x, Q, np.zeros((0, 2)))
    np.testing.assert_array_equal(got, kw.distance_quantiles(x, Q))


MEDIAN = __import__("os").environ.get("MEDIAN_PROGRAM")


def program_values(args, files, tmp_path):
    """The 17-digit numbers median_kernel_width --verbose reports, by name."""
    import subprocess
    paths = []
    for k, x in enumerate(files):
        path = tmp_path / f"{k}.txt"
        path.write_text("".join(" ".join(repr(float(v)) for v in row) + "\n"
                                for row in x))
        paths.append(str(path))
    done = subprocess.run([MEDIAN, "-v", *args, *paths], capture_output=True,
                          text=True, check=True)
    found = {}
    for line in done.stderr.splitlines():
        name, _, value = line.partition(": ")
        found.setdefault(name, []).append(value)
    return found


def same_number(text, value):
    """Whether the program's %.17g text is exactly numpy's value."""
    if np.isnan(value):
        return text == ("-nan" if np.signbit(value) else "nan")
    return float(text) == value and np.signbit(float(text)) == np.signbit(value)


@pytest.mark.skipif(not MEDIAN, reason="the programs are not built here")
@pytest.mark.parametrize("kind", ["normal", "ties", "far_clusters",
                                  "subnormal_squares", "overflowing_squares",
                                  "identical"])
def test_the_program_equals_numpy(kind, tmp_path):
    # Text holds no infinity or NaN for the reader: the kinds that need them
    # are the module's.
    make = KINDS[kind]
    x, y = make(37, 3), make(20, 3)
    qs = [0.0, 0.1, 0.5, 0.9, 1.0, 1 / 3]
    q_arg = ",".join(repr(q) for q in qs)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        for files, extra, values in [
                ([x], [], pdist(x)),
                ([x, y], [], pdist(np.vstack([x, y]))),
                ([x, y], ["--cross"], cdist(x, y).ravel())]:
            got = program_values(extra + ["-q", q_arg], files, tmp_path)
            for text, want in zip(got["quantile"], np.quantile(values, qs)):
                assert same_number(text, want), (kind, extra, text, want)
            got = program_values(extra, files, tmp_path)
            assert same_number(got["sigma"][0], np.median(values))
