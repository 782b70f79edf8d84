"""kernel_width.dask against the in-memory functions: the same bits and
warnings for generated data (ties, clusters, NaN rows, 2 to 5 samples and
a few hundred) in uneven chunks, on dask's threaded scheduler and on a
cluster of two worker processes, one of them killed during a run. The
graphs are first checked on test_dask_standin's engine, which sees every
pair; then on the core's, where the build has it."""

import contextlib
import importlib.util
import os
import signal
import subprocess
import sys
import threading
import time
import warnings

import numpy as np
import pytest

import kernel_width as kw
import kernel_width.dask as kd
from kernel_width import _core
from kernel_width.dask import _arrays, _engine

import test_dask_standin as standin

HAVE_DASK = all(importlib.util.find_spec(m) is not None
                for m in ("dask", "distributed"))
needs_dask = pytest.mark.skipif(
    not HAVE_DASK, reason="dask and distributed are not installed "
    "(python3-dask python3-distributed)")
SELECTION = standin.core_has("selection")
LABELLED = standin.core_has("labelled")
FORM = standin.core_has("form")
ANY_ENGINE = SELECTION or LABELLED or FORM

if HAVE_DASK:
    import dask.array as da


def data_sets():
    """(name, X, Y) generated once: ties, clusters, NaN rows, tiny sets and
    a few hundred samples; one sample, no pair."""
    rng = np.random.default_rng(20261210)
    ties = rng.integers(0, 3, size=(150, 3)).astype(float)
    centres = rng.normal(scale=20, size=(4, 5))
    clusters = centres[rng.integers(0, 4, 300)] + rng.normal(size=(300, 5))
    nan = rng.normal(size=(40, 2))
    nan[[3, 17]] = np.nan
    sets = [("ties", ties, ties[:37] + 1),
            ("clusters", clusters, clusters[:61] * 0.5),
            ("nan", nan, rng.normal(size=(9, 2))),
            ("coincide", np.ones((19, 2)), np.ones((5, 2)))]
    for n in 1, 2, 3, 4, 5:
        sets.append((f"n={n}", rng.normal(size=(n, 4)),
                     rng.normal(size=(n + 1, 4))))
    return sets


def coarse(n):
    """A few uneven row chunks, the first of one row: more blocks than the
    cluster's workers, few pieces."""
    third = n // 3
    return (n,) if n < 6 else (1, third - 1, third, n - 2 * third)


def chunkings(n):
    """Row chunks: one block, uneven ones with blocks of one row, and more
    blocks than workers."""
    uneven = [1, 7, 30, 1, 13]
    cuts, at = [], 0
    for size in uneven * (1 + n // 52):
        if at + size >= n:
            break
        cuts.append(size)
        at += size
    small = max(5, n // 12)  # a dozen blocks at most: the tests' time
    return {"one": (n,), "uneven": tuple(cuts) + (n - at,),
            "small": tuple([small] * (n // small))
            + ((n % small,) if n % small else ())}


SETS = data_sets()


def chunked(x, sizes):
    return da.from_array(x, chunks=(sizes, x.shape[1]))


def bits(value):
    """A result as comparable bits: floats by their bytes (NaN's sign
    too), ints as they are, tuples and arrays item by item."""
    if isinstance(value, (tuple, list)):
        return [type(value).__name__] + [bits(v) for v in value]
    if isinstance(value, np.ndarray) or isinstance(value, float):
        array = np.asarray(value)
        return (array.dtype.str, array.shape,
                array.astype(np.float64).tobytes())
    return value


def recorded(function, *args, **kwargs):
    """(bits of the result, the warnings' messages) of a call."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = function(*args, **kwargs)
    return bits(result), [(w.category, str(w.message)) for w in caught]


@contextlib.contextmanager
def engine(name):
    saved = _engine.NAME
    _engine.NAME = name
    try:
        yield
    finally:
        _engine.NAME = saved


@pytest.fixture(scope="module")
def cluster():
    """Two worker processes of one thread each, started once; the client
    is the default only inside the tests that use it."""
    if not HAVE_DASK:
        pytest.skip("dask and distributed are not installed")
    from distributed import Client, LocalCluster
    workers = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                           dashboard_address=None, silence_logs=40)
    client = Client(workers, set_as_default=False)
    yield client
    client.close()
    workers.close()


# --- The graphs, on the stand-in engine -----------------------------------

def standin_median(x, y, cross):
    """The stand-in engine's median tuple with the data in one piece."""
    def run_pass(plan):
        if cross:
            return standin.selection_piece(plan, x, y, 0, 0, 1)
        rows = x if y is None else np.vstack([x, y])
        return standin.selection_piece(plan, rows, None, 0, 0, 1)
    n_y = 0 if y is None else len(y)
    return standin.selection_median((len(x), n_y, x.shape[1], cross),
                                    run_pass, 1)


def standin_expected(x, y, cross):
    s = standin_median(x, y, cross)
    return bits(kw.MedianStatistics(s[0] + s[1], *s[2:6]))


def standin_labelled(x):
    s = standin.labelled_final(standin.labelled_piece(None, x, None, 0, 0, 1),
                               len(x), x.shape[1])
    return bits(kw.LabelledStatistics(*s[:6]))


def check_standin(x, y, sizes):
    """Within, pooled and across, labelled and form, on the stand-in: each
    pair seen once, the chains in order, the blocks on bands of 8."""
    xd = chunked(x, sizes)
    yd = chunked(y, (len(y) // 2, len(y) - len(y) // 2)) if len(y) > 1 \
        else chunked(y, (len(y),))
    with engine("test_dask_standin:ENGINE"), warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # widths of 0
        assert bits(kd.median_statistics(xd)) == standin_expected(
            x, None, False)
        assert bits(kd.median_statistics(xd, Y=yd)) == standin_expected(
            x, y, False)
        assert bits(kd.median_statistics(xd, Y=yd, cross=True)) == \
            standin_expected(x, y, True)
        assert bits(kd.labelled_statistics(xd, first_column=0)) == \
            standin_labelled(x)
        assert bits(kd.form_statistics(xd)) == bits(
            kw.FormStatistics(*standin.form_reference(x)))


@needs_dask
@pytest.mark.parametrize("name,x,y", SETS, ids=[s[0] for s in SETS])
def test_graphs_cover_every_pair_once_on_threads(name, x, y):
    for sizes in chunkings(len(x)).values():
        check_standin(x, y, sizes)


@needs_dask
def test_graphs_cover_every_pair_once_on_a_cluster(cluster):
    with cluster.as_current():
        for name, x, y in SETS[:3]:
            check_standin(x, y, coarse(len(x)))


# --- Bit for bit the in-memory functions -------------------------------------

def calls(x, y):
    """(dask function, in-memory function, args, kwargs) for every
    estimator, within, pooled and across; x and y dask arrays."""
    out = []
    if SELECTION:
        for extra in {}, {"Y": y}, {"Y": y, "cross": True}:
            out += [("median_statistics", (x,), extra),
                    ("median_width", (x,), {**extra, "output": "gamma"})]
        # Pooled with a set without rows: the other alone, and a warning.
        out += [("median_statistics", (x,), {"Y": y[:0]}),
                ("median_statistics", (x[:0],), {"Y": y}),
                ("distance_quantiles", (x, [0, 0.1, 0.5, 1]), {}),
                ("distance_quantiles", (x, 0.3, y), {"output": "width"}),
                ("distance_quantiles", (x, [[0.25], [0.75]], y, True), {})]
    if LABELLED:
        out += [("labelled_statistics", (x,), {}),
                ("labelled_width", (x,), {"label": "last"})]
    if FORM:
        table = [[0.5, 2.0], [1.5, 4.0]]
        out += [("form_statistics", (x,), {}),
                ("form_width", (x, table), {"output": "sigma"})]
    return out


def check_core(x, y, sizes):
    xd = chunked(x, sizes)
    yd = chunked(y, (1, len(y) - 1)) if len(y) > 1 else chunked(y, (1,))
    for name, args, kwargs in calls(xd, yd):
        memory = [a.compute() if hasattr(a, "dask") else a for a in args]
        kept = {k: v.compute() if hasattr(v, "dask") else v
                for k, v in kwargs.items()}
        assert recorded(getattr(kd, name), *args, **kwargs) == recorded(
            getattr(kw, name), *memory, **kept), (name, sizes)


@needs_dask
@pytest.mark.skipif(not ANY_ENGINE, reason="no engine in the core")
@pytest.mark.parametrize("name,x,y", SETS, ids=[s[0] for s in SETS])
def test_the_same_bits_as_in_memory_on_threads(name, x, y):
    for sizes in chunkings(len(x)).values():
        check_core(x, y, sizes)


@needs_dask
@pytest.mark.skipif(not ANY_ENGINE, reason="no engine in the core")
def test_the_same_bits_as_in_memory_on_a_cluster(cluster):
    with cluster.as_current():
        for name, x, y in SETS[1], SETS[2]:
            check_core(x, y, coarse(len(x)))


@needs_dask
def test_a_killed_worker_costs_time_not_bits(cluster, tmp_path):
    """A worker process killed in its first piece: its tasks and the blocks
    it held are computed again elsewhere, and the result is the same."""
    name, x, y = SETS[1]
    xd = chunked(x, coarse(len(x)))
    for path in standin.KILL_ARMED, standin.KILL_DONE:
        with contextlib.suppress(FileNotFoundError):
            os.remove(path)
    open(standin.KILL_ARMED, "w").close()
    try:
        with cluster.as_current(), engine("test_dask_standin:KILLING_CORE"):
            got = [bits(kd.median_statistics(xd, Y=y, cross=True)),
                   bits(kd.labelled_statistics(xd)),
                   bits(kd.form_statistics(xd))]
    finally:
        os.remove(standin.KILL_ARMED)
    assert os.path.exists(standin.KILL_DONE)
    os.remove(standin.KILL_DONE)
    cluster.wait_for_workers(2, timeout=30)
    assert got[0] == (bits(kw.median_statistics(x, Y=y, cross=True))
                      if SELECTION else standin_expected(x, y, True))
    assert got[1] == (bits(kw.labelled_statistics(x)) if LABELLED
                      else standin_labelled(x[:, 1:]))
    assert got[2] == (bits(kw.form_statistics(x)) if FORM else
                      bits(kw.FormStatistics(*standin.form_reference(x))))


@needs_dask
def test_columns_in_chunks_are_rechunked_with_a_note():
    name, x, y = SETS[1]
    xd = da.from_array(x, chunks=(64, 2))
    with engine("kernel_width._core" if SELECTION
                else "test_dask_standin:ENGINE"):
        with pytest.warns(RuntimeWarning) as caught:
            got = kd.median_statistics(xd)
    assert [str(w.message) for w in caught] == [
        "median_statistics: X's 5 columns come in 3 chunks: rechunked into "
        "one (chunk the rows only)"]
    assert caught[0].filename == __file__
    expected = (bits(kw.median_statistics(x)) if SELECTION
                else standin_expected(x, None, False))
    assert bits(got) == expected


# --- Blocks on bands of 8 ---------------------------------------------------

ALIGNED = [  # row chunks -> the blocks' sizes (each boundary to the nearest
             # multiple of 8, halves up)
    ((8, 8, 3), (8, 8, 3)),
    ((1, 7, 30, 1, 13), (8, 32, 12)),
    ((3,), (3,)),
    ((3, 1), (4,)),
    ((4, 4), (8,)),
    ((12, 12), (16, 8)),
    ((7, 9), (8, 8)),
    ((9, 7), (8, 8)),
    ((5, 5, 5, 5, 5), (8, 8, 8, 1)),
    ((4, 1, 20), (8, 16, 1)),
    ((0, 16, 0), (16,)),
]


@needs_dask
@pytest.mark.parametrize("chunks,sizes", ALIGNED)
def test_blocks_start_on_multiples_of_8(chunks, sizes):
    x = da.zeros((sum(chunks), 2), chunks=(chunks, 2))
    assert _arrays.aligned(x).chunks[0] == sizes


SPREAD = [  # (rows, worker threads, across) -> the blocks' sizes: a few
            # large ones on bands of 8, about 4 pieces per thread
    ((2047, 2, False), None),  # below two blocks of MIN_ROWS: as chunked
    ((2048, 2, False), (1024, 1024)),  # room for 2 blocks, not the 4 wanted
    ((10_000, 2, False), (2496, 2504, 2504, 2496)),  # 10 pieces for 8
    ((10_000, 1, False), (3336, 3328, 3336)),  # 6 pieces for 4
    ((10_000, 2, True), (3336, 3328, 3336)),  # 3 x 3 pieces for 8
    ((10_001, 3, False), (2000, 2000, 2000, 2000, 2001)),  # 15 for 12
]


@needs_dask
@pytest.mark.parametrize("shape,sizes", SPREAD)
def test_the_driver_cuts_a_few_blocks_on_bands_of_8(shape, sizes):
    rows, slots, across = shape
    x = da.zeros((rows, 2), chunks=(1000, 2))
    count = _arrays.block_count(rows, 2, slots, across)
    got = _arrays.spread(x, count).chunks[0]
    assert got == (sizes or x.chunks[0])
    assert all(size % 8 == 0 for size in got[:-1])


@needs_dask
@pytest.mark.skipif(not FORM, reason="no form engine in the core")
def test_form_runs_a_few_rounds_however_many_rows_it_sums_again(monkeypatch):
    """Data whose running sums cross binades and whose terms tie: every
    row that step 4 sums again comes in one round with the doubtful rows'
    records, so a run takes a few rounds; the same bits as in memory."""
    from kernel_width.dask import _drive
    rng = np.random.default_rng(3)
    x = np.vstack([rng.integers(0, 16, (900, 1)) * 0.25 + 4096,
                   np.ldexp(1.0, rng.integers(0, 40, (900, 1)))])
    monkeypatch.setattr(_arrays, "MIN_ROWS", 64)
    rounds = []
    real = _drive.round_of

    def counted(*args):
        rounds.append(args[2])
        return real(*args)
    monkeypatch.setattr(_drive, "round_of", counted)
    got = recorded(kd.form_statistics, da.from_array(x, chunks=(100, 1)))
    assert got == recorded(kw.form_statistics, x)
    # The moments and estimates, then each pass: rounding, the records
    # with the rows summed again, and a few rows the prediction missed.
    assert 6 <= len(rounds) <= 10, len(rounds)


# --- Arguments, as the in-memory functions take them ------------------------

BAD = [  # (function, args, kwargs)
    ("median_width", (np.zeros((4, 3)),), {"label": 4}),
    ("median_width", (np.zeros((4, 3)),), {"cross": True}),
    ("median_width", (np.zeros((4, 3)),), {"cross": 1, "Y": np.zeros((2, 3))}),
    ("median_width", (np.zeros((4, 3)),), {"Y": np.zeros((2, 2))}),
    ("median_width", (np.zeros((4, 3)),), {"Y": np.zeros((0, 3)),
                                           "cross": True}),
    ("median_width", (np.zeros((4, 3)),), {"threads": 1025}),
    ("median_width", (np.zeros((4, 3)),), {"output": "scale"}),
    ("median_width", (np.zeros((0, 3)),), {}),
    ("median_width", (np.zeros((4, 0)),), {}),
    ("median_width", (np.zeros((0, 3)),), {"Y": np.zeros((0, 3))}),
    ("median_width", (np.array([["a", "b"]]),), {}),
    ("median_width", (np.zeros(4),), {}),
    ("distance_quantiles", (np.zeros((4, 3)), [0.5, 1.5]), {}),
    ("distance_quantiles", (np.zeros((4, 3)), 0.5), {"label": "first"}),
    ("labelled_width", (np.zeros((4, 3)),), {"first_column": 3}),
    ("labelled_width", (np.zeros((4, 3)),), {"first_column": 0, "label": 1}),
    ("labelled_width", (np.zeros((4, 1)),), {}),
    ("form_width", (np.zeros((4, 3)), np.zeros(2)), {}),
    ("form_statistics", (np.zeros((0, 3)),), {}),
    ("form_width", (np.zeros((0, 3)), [[0.5, 2.0]]), {}),
    ("form_width", (np.zeros((4, 3)), [[0.5, 2.0]]), {"output": "scale"}),
    ("labelled_statistics", (np.zeros((0, 3)),), {}),
    ("labelled_statistics", (np.zeros((3, 3)),), {"first_column": -1}),
    ("labelled_statistics", (np.zeros((3, 3)),), {"first_column": 1.0}),
]


def raised(function, args, kwargs):
    try:
        function(*args, **kwargs)
    except Exception as error:  # the kind and the words compared
        return type(error), str(error)
    return None


@needs_dask
@pytest.mark.parametrize("name,args,kwargs", BAD)
def test_bad_arguments_raise_as_in_memory(name, args, kwargs):
    expected = raised(getattr(kw, name), args, kwargs)
    assert expected is not None
    assert raised(getattr(kd, name), args, kwargs) == expected
    wrapped = [da.from_array(a) if isinstance(a, np.ndarray) and a.ndim == 2
               and a.dtype.kind != "U" else a for a in args]
    assert raised(getattr(kd, name), wrapped, kwargs) == expected


@needs_dask
def test_a_text_label_column_is_cut_before_the_work():
    x = np.array([[1.0, 2.0, "a"], [3.0, 5.0, "b"], [0.5, 1.0, "c"]],
                 dtype=object)
    with engine("test_dask_standin:ENGINE"):
        got = kd.median_statistics(da.from_array(x, chunks=(2, 3)),
                                   label="last")
    assert bits(got) == standin_expected(x[:, :2].astype(float), None, False)
    bad = x.copy()
    bad[2, 1] = "z"
    with pytest.raises(TypeError, match=r"not str \(row 2, column 1\)"):
        kd.median_statistics(da.from_array(bad, chunks=(2, 3)),
                             label="last")


# --- The core's partial results refuse what is not theirs ------------------

def partial_results():
    """(merge function, two partial results that merge: rows 0-7 and 8-15
    of the same plan)."""
    x = np.random.default_rng(5).normal(size=(16, 3))
    top, bottom = x[:8], x[8:]
    out = []
    if LABELLED:
        chain = _core.labelled_piece(None, top, None, 0, 0, 1)
        out.append((_core.labelled_merge,
                    _core.labelled_piece(chain, top, bottom, 0, 8, 1),
                    _core.labelled_piece(None, bottom, None, 8, 8, 1)))
    for kind, driver in (("selection", lambda run: _core.selection_median(
            (16, 0, 3, False), run, 1)), ("form", lambda run: (
                _core.form_statistics(16, 3, run, lambda r: x[r], 1)))):
        if not standin.core_has(kind):
            continue
        piece = getattr(_core, kind + "_piece")
        plans = []

        def run(plan):
            plans.append(plan)
            return piece(plan, x, None, 0, 0, 1)
        driver(run)
        out.append((getattr(_core, kind + "_merge"),
                    piece(plans[0], top, None, 0, 0, 1),
                    piece(plans[0], top, bottom, 0, 8, 1)))
    return out


@pytest.mark.skipif(not ANY_ENGINE, reason="no engine in the core")
def test_truncated_and_foreign_buffers_raise_value_error():
    found = partial_results()
    for at, (merge, good, other) in enumerate(found):
        merge(good, other)
        foreign = found[(at + 1) % len(found)][1]
        bad = [good[:len(good) // 2], good[:-1], b"", b"\0" * len(good),
               good + b"\0"]
        if len(found) > 1:
            bad.append(foreign)
        for wrong in bad:
            for pair in (other, wrong), (wrong, other):
                with pytest.raises(ValueError):
                    merge(*pair)


@pytest.mark.parametrize("kind", ["selection", "form"])
def test_a_driver_given_the_partial_results_merges_them_or_refuses_them(kind):
    if not standin.core_has(kind):
        pytest.skip("no engine in the core")
    x = np.random.default_rng(6).normal(size=(20, 3))
    piece = getattr(_core, kind + "_piece")
    if kind == "selection":
        def driver(run):
            return _core.selection_median((20, 0, 3, False), run, 1)
    else:
        def driver(run):
            return _core.form_statistics(20, 3, run, lambda r: x[r], 1)

    def parts(plan):
        return [piece(plan, x[:8], None, 0, 0, 1),
                piece(plan, x[:8], x[8:], 0, 8, 1),
                piece(plan, x[8:], None, 8, 8, 1)]
    assert driver(parts) == driver(lambda plan: piece(plan, x, None, 0, 0, 1))
    for wrong in (lambda p: p[:-1], lambda p: p + b"\0"):
        with pytest.raises(ValueError):
            driver(lambda plan: [*parts(plan)[:2], wrong(parts(plan)[2])])
    with pytest.raises(TypeError):
        driver(lambda plan: [*parts(plan)[:2], "not bytes"])


# --- Without dask -----------------------------------------------------------

HIDE = """
import sys
import threading
import time
class Hide:
    def find_spec(self, name, path=None, target=None):
        if name.split(".")[0] in ("dask", "distributed"):
            raise ModuleNotFoundError(f"No module named {name!r}")
sys.meta_path.insert(0, Hide())
import numpy as np
import kernel_width.dask as kd
try:
    kd.median_width(np.zeros((3, 2)))
except ImportError as error:
    print(error)
"""


def test_without_dask_the_import_works_and_a_call_says_what_to_install():
    done = subprocess.run([sys.executable, "-c", HIDE], capture_output=True,
                          text=True, timeout=50)
    assert done.returncode == 0, done.stderr
    assert done.stdout.rstrip().endswith(
        "install python3-dask and python3-distributed (Debian), or pip "
        "install \"dask[array]\" distributed")


# --- Ctrl-C -----------------------------------------------------------------

def round_tasks(client):
    """The keys of this module's rounds that the scheduler still has."""
    def keys(dask_scheduler):
        return [str(k) for k in dask_scheduler.tasks
                if "kernel-width-selection" in str(k)]
    return client.run_on_scheduler(keys)


@needs_dask
@pytest.mark.skipif(threading.current_thread() is not threading.main_thread(),
                    reason="SIGINT reaches the main thread only")
def test_ctrl_c_cancels_the_round_on_the_cluster(cluster):
    name, x, y = SETS[0]
    for path in standin.HOLD_STARTED, standin.HOLD_RELEASE:
        with contextlib.suppress(FileNotFoundError):
            os.remove(path)

    def interrupt_once_started():
        while not os.path.exists(standin.HOLD_STARTED):
            time.sleep(0.05)
        os.kill(os.getpid(), signal.SIGINT)

    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    timer = threading.Thread(target=interrupt_once_started)
    timer.start()
    try:
        with cluster.as_current(), engine("test_dask_standin:HOLDING"):
            with pytest.raises(KeyboardInterrupt):
                kd.median_width(chunked(x, coarse(len(x))))
            timer.join()
            # The round's tasks are gone from the scheduler while its
            # pieces are still held on the workers.
            for _ in range(100):
                if not round_tasks(cluster):
                    break
                time.sleep(0.05)
            assert round_tasks(cluster) == []
    finally:
        signal.signal(signal.SIGINT, previous)
        open(standin.HOLD_RELEASE, "w").close()
    # The cluster takes the next call as before.
    with cluster.as_current(), engine("test_dask_standin:HOLDING"):
        assert bits(kd.median_statistics(chunked(x, coarse(len(x))))) == \
            standin_expected(x, None, False)
    for path in standin.HOLD_STARTED, standin.HOLD_RELEASE:
        os.remove(path)
