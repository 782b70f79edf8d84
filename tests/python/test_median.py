"""median_width and median_statistics against numpy's median of scipy's pdist,
bit for bit, and against median_kernel_width."""

import os
import subprocess
import sys

import numpy as np
import pytest

import kernel_width as kw

pdist = pytest.importorskip("scipy.spatial.distance").pdist
MEDIAN = os.environ.get("MEDIAN_PROGRAM")


def data_sets():
    rng = np.random.default_rng(11)
    yield "two", np.array([[0.0, 0.0], [3.0, 4.0]])
    yield "three", np.array([[0.0, 0.0], [3.0, 4.0], [6.0, 8.0]])
    yield "odd_pairs", rng.normal(size=(15, 3))        # 105 pairs
    yield "even_pairs", rng.normal(size=(16, 3))       # 120 pairs
    yield "normal", rng.normal(0.0, 3.0, (301, 4))
    yield "grid", rng.integers(0, 3, (400, 2)).astype(float)
    yield "grid_wide", rng.integers(0, 2, (257, 9)).astype(float)
    yield "identical", np.repeat(rng.normal(size=(3, 5)), 60, axis=0)
    yield "mostly_one_point", np.vstack([np.zeros((90, 2)), [[1.0, 2.0]]])
    yield "offset", 1e9 + rng.normal(0.0, 1.0, (150, 3))
    overflow = rng.normal(size=(40, 2))
    overflow[::3, 0] = 1e200
    yield "overflowing_squares", overflow
    # More pairs than one pass keeps at once: a sampled first window.
    yield "many_pairs", rng.normal(size=(3100, 3)) * rng.uniform(1, 5, 3)
    yield "many_pairs_grid", rng.integers(0, 4, (3100, 2)).astype(float)


def same(a, b):
    return np.array(a).tobytes() == np.array(b).tobytes()


@pytest.mark.parametrize("name,x", list(data_sets()))
@pytest.mark.parametrize("threads", [1, 2, 3, 4])
@pytest.mark.filterwarnings("ignore:median_.* the width is 0:RuntimeWarning")
def test_equals_numpy_median_of_pdist(name, x, threads):
    want = np.median(pdist(x))
    s = kw.median_statistics(x, threads=threads)
    assert same(s.median, want), (s.median, want)
    assert (s.n, s.pairs) == (len(x), len(x) * (len(x) - 1) // 2)
    width = kw.median_width(x, threads=threads)
    assert same(width, 2 * np.median(pdist(x)) ** 2)
    assert same(width, s.width)


def test_nan_as_numpy_gives_it():
    x = np.array([[0.0, 1.0], [np.nan, 2.0], [3.0, 4.0], [5.0, 6.0]])
    assert np.isnan(kw.median_width(x)) and np.isnan(np.median(pdist(x)))
    x = np.array([[np.inf, 0.0], [np.inf, 1.0], [0.0, 0.0]])  # inf - inf
    assert np.isnan(kw.median_statistics(x).median)
    assert np.isnan(np.median(pdist(x)))


def test_one_sample_is_nan_and_none_an_error():
    s = kw.median_statistics([[1.0, 2.0]])
    assert (s.n, s.pairs) == (1, 0) and np.isnan(s.median)
    with pytest.raises(ValueError, match="no samples"):
        kw.median_width(np.zeros((0, 3)))
    with pytest.raises(ValueError, match="no feature values"):
        kw.median_width(np.zeros((3, 0)))
    with pytest.raises(ValueError, match="2-D"):
        kw.median_statistics(np.zeros(4))
    with pytest.raises(ValueError, match="threads"):
        kw.median_width([[1.0], [2.0]], threads=1025)


def test_any_layout_gives_the_same_bits():
    x = np.random.default_rng(2).normal(size=(120, 6))
    want = kw.median_width(x)
    assert same(kw.median_width(np.asfortranarray(x)), want)
    assert same(kw.median_width(x.tolist()), want)
    wide = np.zeros((120, 12))
    wide[:, ::2] = x
    assert same(kw.median_width(wide[:, ::2]), want)


@pytest.mark.parametrize("isa", ["base", "avx2", "avx512"])
def test_every_instruction_set(isa):
    code = ("import numpy as np, kernel_width as kw\n"
            "from scipy.spatial.distance import pdist\n"
            "rng = np.random.default_rng(4)\n"
            "for x in (rng.normal(size=(3001, 5)),\n"
            "          rng.integers(0, 3, (500, 3)).astype(float)):\n"
            "    m = kw.median_statistics(x, threads=2).median\n"
            "    print(m.hex() == np.median(pdist(x)).hex())\n")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True,
                          text=True, env={**os.environ,
                                          "KERNEL_WIDTH_ISA": isa})
    if "unsupported" in done.stderr:
        pytest.skip("this CPU does not run " + isa)
    assert done.stdout == "True\nTrue\n", done.stderr


@pytest.mark.skipif(not MEDIAN, reason="program not built")
@pytest.mark.parametrize("threads", [1, 2])
def test_same_numbers_as_the_program(threads, tmp_path):
    x = np.random.default_rng(6).normal(0.0, 2.0, (500, 4))
    path = tmp_path / "x.txt"
    np.savetxt(path, x, fmt="%.17g")
    done = subprocess.run([MEDIAN, "-v", "-j", str(threads), str(path)],
                          capture_output=True, text=True, check=True)
    lines = dict(line.split(": ", 1) for line in done.stderr.splitlines())
    s = kw.median_statistics(x)
    assert (int(lines["n"]), int(lines["pairs"])) == (s.n, s.pairs)
    assert float(lines["median"]) == s.median == np.median(pdist(x))
    assert done.stdout == "%g\n" % s.width


def test_documented():
    for name in ("median_width", "median_statistics"):
        assert "Parameters" in getattr(kw, name).__doc__
    assert "MedianStatistics(n=3, columns=2, pairs=3" in repr(
        kw.median_statistics([[0, 0], [3, 4], [6, 8]]))


def one_piece_engine(x, seen):
    """The engine functions' passes over x as two blocks of rows: their
    diagonals and the pairs between, merged."""
    core = kw._core
    cut = 8 * (len(x) // 16)

    def run_pass(plan):
        seen.append(plan)
        top, bottom = x[:cut], x[cut:]
        parts = [core.selection_piece(plan, top, None, 0, 0, 1),
                 core.selection_piece(plan, bottom, None, cut, 0, 2),
                 core.selection_piece(plan, top, bottom, 0, cut, 1)]
        return core.selection_merge(parts[2], core.selection_merge(*parts[:2]))
    return run_pass


@pytest.mark.parametrize("name, x", list(data_sets())[:5] + list(data_sets())[-1:])
def test_engine_functions_give_the_in_memory_tuples(name, x):
    seen = []
    got = kw._core.selection_median((len(x), 0, x.shape[1], False),
                                    one_piece_engine(x, seen), 1)
    assert same(got, kw._core.median(x, None, False, 1))
    assert seen and all(isinstance(p, bytes) for p in seen)
    q = [0.0, 0.5, 0.75, 1.0]
    got = kw._core.selection_quantiles((len(x), 0, x.shape[1], False), q,
                                       one_piece_engine(x, []), 1)
    want = kw._core.quantiles(x, None, False, np.array(q), 1)
    assert all(same(a, b) for a, b in zip(got, want))


def test_engine_stops_on_the_callables_exception_and_refuses_damage():
    x = np.arange(40.0).reshape(20, 2)

    def interrupted(plan):
        raise KeyboardInterrupt
    with pytest.raises(KeyboardInterrupt):
        kw._core.selection_median((20, 0, 2, False), interrupted, 1)
    with pytest.raises(ValueError, match="truncated"):
        kw._core.selection_median((20, 0, 2, False), lambda plan: plan, 1)
    plan = []
    kw._core.selection_median((20, 0, 2, False), one_piece_engine(x, plan), 1)
    with pytest.raises(ValueError, match="truncated"):
        kw._core.selection_piece(plan[0][:-1], x, None, 0, 0, 1)
    part = kw._core.selection_piece(plan[0], x, None, 0, 0, 1)
    with pytest.raises(ValueError, match="truncated"):
        kw._core.selection_merge(part, part[:-8])
