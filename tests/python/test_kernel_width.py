"""The Python module against the programs (bit for bit) and numpy."""

import os
import subprocess
import threading
import warnings

import numpy as np
import pytest

import kernel_width as kw

FORM = os.environ.get("FORM_PROGRAM")
LABELLED = os.environ.get("LABELLED_PROGRAM")
MEDIAN = os.environ.get("MEDIAN_PROGRAM")


def data_sets():
    rng = np.random.default_rng(7)
    yield "normal", rng.normal(0.0, 3.0, (301, 4))
    yield "integers", rng.integers(0, 1 << 20, (257, 2)).astype(float)
    yield "quarters", rng.integers(0, 64, (200, 1)) * 0.25 + 4096.0
    yield "offset", 1e9 + rng.normal(0.0, 1.0, (150, 3))
    yield "repeated", np.repeat(rng.normal(size=(20, 5)), 9, axis=0)


def verbose(program, x, tmp_path, threads):
    """What the program prints with --verbose for x written with 17 digits."""
    path = tmp_path / "x.txt"
    np.savetxt(path, x, fmt="%.17g")
    (tmp_path / "form_of_relationship.txt").write_text("0.5 2\n1.5 4\n")
    done = subprocess.run([program, "-v", "-j", str(threads), str(path)],
                          cwd=tmp_path, capture_output=True, text=True,
                          check=True)
    lines = dict(line.split(": ", 1) for line in done.stderr.splitlines())
    return float(done.stdout), lines


@pytest.mark.skipif(not FORM or not LABELLED, reason="programs not built")
@pytest.mark.parametrize("name,x", list(data_sets()))
@pytest.mark.parametrize("threads", [1, 2, 3])
def test_same_numbers_as_the_programs(name, x, threads, tmp_path):
    table = np.array([[0.5, 2.0], [1.5, 4.0]])
    width, lines = verbose(FORM, x, tmp_path, threads)
    s = kw.form_statistics(x, threads=threads)
    assert (s.n, s.columns, s.mean, s.variance, s.ratio) == (
        int(lines["n"]), int(lines["columns"]), float(lines["mean"]),
        float(lines["variance"]), float(lines["ratio"]))
    # Every number the program shows but the table's and the width's
    # parameters is a field.
    assert set(lines) - {"rule", "width", "sigma", "gamma"} == set(s._fields)
    assert "%g" % kw.form_width(x, table, threads=threads) == "%g" % width

    labelled = np.column_stack([np.arange(len(x)) % 3, x])
    width, lines = verbose(LABELLED, labelled, tmp_path, threads)
    s = kw.labelled_statistics(labelled, threads=threads)
    assert (s.n, s.columns, s.total, s.pairs, s.mean) == (
        int(lines["n"]), int(lines["columns"]), float(lines["total"]),
        int(lines["pairs"]), float(lines["mean"]))
    assert set(lines) - {"sigma", "gamma"} <= set(s._fields)
    assert (float(lines["sigma"]), float(lines["gamma"])) == (s.sigma, s.gamma)
    assert "%g" % s.width == "%g" % width
    assert kw.labelled_width(x, threads=threads, first_column=0) == s.width


def test_agrees_with_numpy():
    x = np.random.default_rng(3).normal(size=(400, 6))
    d = np.sqrt(((x[:, None, :] - x[None, :, :]) ** 2).sum(axis=2))
    s = kw.form_statistics(x)
    assert s.mean == pytest.approx(d.mean(), rel=1e-12)
    assert s.variance == pytest.approx(d.var(), rel=1e-12)
    n = len(x)
    mean = d.sum() / (n * n - n)
    assert kw.labelled_width(x, first_column=0) == pytest.approx(
        2 * mean * mean, rel=1e-12)
    scipy = pytest.importorskip("scipy.spatial.distance")
    assert s.mean == pytest.approx(2 * scipy.pdist(x).sum() / n / n, rel=1e-12)


def test_any_layout_and_type_gives_the_same_numbers():
    x = np.random.default_rng(5).normal(size=(90, 8))
    want = kw.form_statistics(x).variance
    assert kw.form_statistics(np.asfortranarray(x)).variance == want
    assert kw.form_statistics(x.tolist()).variance == want
    wide = np.zeros((90, 16))
    wide[:, ::2] = x
    assert kw.form_statistics(wide[:, ::2]).variance == want
    assert kw.form_statistics(x.astype(np.float32)).n == 90


def broadcasts():
    rng = np.random.default_rng(6)
    row = rng.normal(size=5)
    yield "row", np.broadcast_to(row, (40, 5))  # strides (0, 8)
    yield "column", np.broadcast_to(rng.normal(size=(40, 1)), (40, 5))
    yield "value", np.broadcast_to(2.5, (40, 5))  # (0, 0)
    yield "one_row", np.broadcast_to(row, (1, 5))
    yield "one_column", np.broadcast_to(row[:1], (40, 1))


def values(result):
    return np.asarray(result, dtype=np.float64).tobytes()


@pytest.mark.parametrize("name,x", list(broadcasts()))
def test_a_zero_stride_reads_as_its_copy(name, x):
    """Rows that share their memory (a zero stride) give what their copy
    gives, bit for bit, through the package and handed to the core."""
    assert 0 in x.strides and not x.flags.writeable
    copy = np.array(x)
    y = np.random.default_rng(9).normal(size=(7, x.shape[1]))
    table = np.broadcast_to([[0.5], [1.5], [3.0]], (3, 2))  # key = divisor
    calls = [
        lambda a: kw.form_statistics(a, 2),
        lambda a: kw.form_width(a, np.array(table)),
        lambda a: kw.labelled_statistics(a, 3, 0),
        lambda a: kw.median_statistics(a, Y=y),
        lambda a: kw.median_statistics(y, Y=a, cross=True),
        lambda a: kw.distance_quantiles(a, [0.0, 0.3, 1.0], y, threads=2),
        lambda a: kw._core.median(a, None, False, 2),
        lambda a: kw._core.quantiles(y, a, False, np.array([0.5, 0.9]), 1)[0],
        lambda a: kw._core.form(a, 1),
        lambda a: kw._core.labelled(a, 2),
    ]
    if x.shape[1] > 1:
        calls.append(lambda a: kw.median_statistics(a, label="last"))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        for call in calls:
            assert values(call(x)) == values(call(copy))
        # And a table whose two columns are one.
        assert values(kw.form_width(y, table)) == values(
            kw.form_width(y, np.array(table)))
        assert values(kw._core.form_width(y, table, 1)) == values(
            kw._core.form_width(y, np.array(table), 1))


@pytest.mark.parametrize("call,message", [
    (lambda: kw.form_statistics(np.zeros(5)), "2-D"),
    (lambda: kw.form_statistics(np.zeros((2, 2, 2))), "2-D"),
    (lambda: kw.form_statistics(np.zeros((0, 3))), "no samples"),
    (lambda: kw.form_statistics(np.zeros((4, 0))), "no feature values"),
    (lambda: kw.labelled_statistics(np.zeros((4, 1))),
     "^first_column=1 is beyond the last column of X: X has 1 column,"),
    (lambda: kw.labelled_width(np.zeros((0, 3))), "no samples"),
    (lambda: kw.form_width([[0, 0], [3, 4]], np.zeros((0, 2))),
     "no rows to search"),
    (lambda: kw.form_width([[0, 0], [3, 4]], [[1.0], [2.0]]),
     "no divisor after the key"),
    (lambda: kw.form_width([[0, 0], [3, 4]], [1.0, 2.0]), "2-D"),
    (lambda: kw.form_statistics([[1, 2]], threads=-1), "threads"),
    (lambda: kw.labelled_width([[1, 2]], first_column=-1), "first_column"),
])
def test_errors(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_table_read_only_when_searched():
    low = np.zeros((201, 1))
    low[200] = 1.0
    assert "%g" % kw.form_width(low, np.zeros((0, 2))) == "0.00377028"


def test_nan_and_infinity_follow_the_arithmetic():
    s = kw.form_statistics([[0.0, 0.0], [1e200, 0.0], [3.0, 4.0]])
    assert np.isinf(s.mean) and np.isnan(s.variance)  # inf - inf
    s = kw.form_statistics([[0.0, 1.0], [np.inf, 2.0]])
    assert np.isnan(s.mean)  # (inf - inf)^2 on the diagonal


def test_other_threads_run_during_a_computation():
    x = np.random.default_rng(1).normal(size=(3000, 48))
    count = [0]
    stop = threading.Event()

    def spin():
        while not stop.is_set():
            count[0] += 1

    spinner = threading.Thread(target=spin)
    spinner.start()
    try:
        before = count[0]
        kw.form_statistics(x, threads=1)
        during = count[0] - before
    finally:
        stop.set()
        spinner.join()
    assert during > 1000


def test_module_is_documented():
    assert kw.__version__
    for name in ("form_width", "form_statistics", "labelled_width",
                 "labelled_statistics", "distance_quantiles"):
        assert "Parameters" in getattr(kw, name).__doc__
    # The kernel's three parameters, explained where they are offered.
    for f in (kw, kw.form_width, kw.labelled_width, kw.median_width,
              kw.distance_quantiles):
        assert "gamma" in f.__doc__ and "sigma" in f.__doc__
        assert "SVC" in f.__doc__


def run_python(code, **env):
    """Runs code in a fresh interpreter with env added; its completed run."""
    import sys
    return subprocess.run([sys.executable, "-c", code], capture_output=True,
                          text=True, env={**os.environ, **env})


ISA_PROBE = ("import kernel_width as kw\n"
             "try:\n"
             "    print(kw.labelled_width([[1, 0], [2, 3]]))\n"
             "except ValueError as e:\n"
             "    print(e)\n")


def test_an_instruction_set_not_there_is_a_value_error(tmp_path):
    runs = {isa: run_python(ISA_PROBE, KERNEL_WIDTH_ISA=isa).stdout
            for isa in ("base", "avx2", "avx512")}
    assert runs["base"] == "18.0\n"
    sets = ", ".join(isa for isa, out in runs.items() if out == "18.0\n")
    data = tmp_path / "x.txt"
    data.write_text("1 0\n2 3\n")
    # The value as the programs quote it: escapes, and other bytes in hex.
    for value, shown in [("avx9", '"avx9"'), ("AVX2", '"AVX2"'),
                         ("avx2 ", '"avx2 "'),
                         ('a"b\\c\td\x01\u00e9',
                          '"a\\"b\\\\c\\td\\x01\\xc3\\xa9"')]:
        message = (f"KERNEL_WIDTH_ISA: unknown or unsupported {shown} "
                   f"(this CPU runs: {sets})")
        assert run_python(ISA_PROBE, KERNEL_WIDTH_ISA=value).stdout == (
            message + "\n")
        for name, program in (("labelled_kernel_width", LABELLED),
                              ("median_kernel_width", MEDIAN)):
            if program:
                done = subprocess.run([program, str(data)], text=True,
                                      capture_output=True, env={
                                          **os.environ,
                                          "KERNEL_WIDTH_ISA": value})
                assert done.stderr == f"{name}: {message}\n"
    for isa, out in runs.items():
        assert out == "18.0\n" or out.startswith(
            f'KERNEL_WIDTH_ISA: unknown or unsupported "{isa}" ')


def test_out_of_memory_is_a_memory_error():
    # 192 MiB of samples under a limit that leaves no room for their packed
    # copy.
    code = ("import resource, numpy as np, kernel_width as kw\n"
            "x = np.ones((3 << 20, 8))\n"
            "pages = int(open('/proc/self/statm').read().split()[0])\n"
            "limit = pages * 4096 + (64 << 20)\n"
            "resource.setrlimit(resource.RLIMIT_AS, (limit, limit))\n"
            "for f in (kw.form_statistics, kw.labelled_statistics,\n"
            "          kw.median_statistics,\n"
            "          lambda x, threads: kw.distance_quantiles(\n"
            "              x, [0.5], x, cross=True, threads=threads)):\n"
            "    try:\n"
            "        f(x, threads=1)\n"
            "    except MemoryError:\n"
            "        print('MemoryError')\n")
    done = run_python(code)
    assert done.stdout == "MemoryError\n" * 4, done.stderr
