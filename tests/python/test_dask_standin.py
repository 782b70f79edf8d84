"""A pure-numpy engine with kernel_width._core's engine functions, slow and
exact in its own way: each piece returns the pairs it saw and their
distances, so a driver that misses a pair, counts one twice, breaks a
chain or cuts a block off a band of 8 is caught. The dask tests run their
graphs on it, on the threaded scheduler and on a cluster (whose workers
import this module by name)."""

import functools
import os
import pickle
import signal
import time
from types import SimpleNamespace

import numpy as np


def distances(a, b):
    """The distance from each row of a to each row of b (numpy's sum of
    squares, the same for a pair wherever its rows lie)."""
    return np.sqrt(((a[:, None, :] - b[None, :, :]) ** 2).sum(axis=-1))


def reference_pairs(x, y, cross):
    """Every pair once, as (first row, second row, distance) in the rows of
    the whole data set (pooled, Y's after X's; across, each set's from
    0)."""
    if cross:
        d = distances(x, y)
        i, j = np.indices(d.shape)
        return i.ravel(), j.ravel(), d.ravel()
    rows = x if y is None else np.vstack([x, y])
    i, j = np.triu_indices(len(rows), 1)
    return i, j, distances(rows, rows)[i, j]


def _pairs_of(a, b, a_first, b_first):
    if a_first % 8:
        raise AssertionError(f"a block starts at row {a_first}")
    if b is None:
        i, j = np.triu_indices(len(a), 1)
        return i + a_first, j + a_first, distances(a, a)[i, j]
    d = distances(a, b)
    i, j = np.indices(d.shape)
    return i.ravel() + a_first, j.ravel() + b_first, d.ravel()


def _dump(i, j, d):
    return pickle.dumps((np.asarray(i), np.asarray(j), np.asarray(d)))


def _join(a, b):
    a, b = pickle.loads(a), pickle.loads(b)
    return _dump(*(np.concatenate([p, q]) for p, q in zip(a, b)))


def _ordered(merged, expected):
    """The distances in pair order, once each pair of expected is seen
    exactly once."""
    i, j, d = pickle.loads(merged)
    order = np.lexsort((j, i))
    i, j, d = i[order], j[order], d[order]
    ei, ej = expected
    if len(i) != len(ei) or (i != ei).any() or (j != ej).any():
        raise AssertionError(f"{len(i)} pairs seen, {len(ei)} expected")
    return d


def _expected(n, n_y, cross):
    if cross:
        i, j = np.indices((n, n_y))
        return i.ravel(), j.ravel()
    return np.triu_indices(n + n_y, 1)


def _gamma(width):
    with np.errstate(divide="ignore", invalid="ignore"):
        return float(np.float64(1) / np.float64(width))


def selection_piece(plan, a, b, a_first, b_first, threads):
    if pickle.loads(plan) == "count":
        return pickle.dumps(len(_pairs_of(a, b, a_first, b_first)[0]))
    return _dump(*_pairs_of(a, b, a_first, b_first))


def selection_merge(a, b):
    if isinstance(pickle.loads(a), int):
        return pickle.dumps(pickle.loads(a) + pickle.loads(b))
    return _join(a, b)


def _merged(got, merge):
    """A pass's merged result: a driver may be given the partial results
    as a list, to merge itself."""
    return functools.reduce(merge, got) if isinstance(got, list) else got


def _selected(n, n_y, cross, run_pass):
    """Two passes, as the engine makes more than one: a count, then every
    distance."""
    count = pickle.loads(_merged(run_pass(pickle.dumps("count")),
                                 selection_merge))
    d = _ordered(_merged(run_pass(pickle.dumps("all")), selection_merge),
                 _expected(n, n_y, cross))
    if count != len(d):
        raise AssertionError(f"{count} pairs counted, {len(d)} seen")
    return d


def selection_median(shape, run_pass, threads):
    n, n_y, columns, cross = shape
    d = _selected(n, n_y, cross, run_pass)
    m = float(np.median(d)) if len(d) else float("nan")
    width = 2 * m * m
    return (n, n_y, columns, len(d), m, width, m, _gamma(width),
            int((d == 0).sum()))


def selection_quantiles(shape, p, run_pass, threads):
    n, n_y, _, cross = shape
    d = _selected(n, n_y, cross, run_pass)
    values = np.quantile(d, p)
    widths = 2 * values * values
    return values, widths, np.array([_gamma(w) for w in widths]), len(d), \
        int((d == 0).sum())


def labelled_piece(state, a, b, a_first, b_first, threads):
    """A chain: the diagonal block first (no state), then the next blocks
    in order, each starting where the one before ended."""
    if (state is None) != (b is None):
        raise AssertionError("a chain starts with its diagonal block")
    if state is None:
        return pickle.dumps((a_first, a_first + len(a),
                             _dump(*_pairs_of(a, None, a_first, 0))))
    first, end, pairs = pickle.loads(state)
    if first != a_first or b_first != end:
        raise AssertionError(f"block {b_first} after {end} in {first}'s chain")
    joined = _join(pairs, _dump(*_pairs_of(a, b, a_first, b_first)))
    return pickle.dumps((first, b_first + len(b), joined))


def labelled_merge(a, b):
    return pickle.dumps((-1, -1, _join(pickle.loads(a)[2],
                                       pickle.loads(b)[2])))


def labelled_final(merged, n, columns):
    d = _ordered(pickle.loads(merged)[2], _expected(n, 0, False))
    total = float(np.sum(d))
    mean = total / len(d) if len(d) else float("nan")
    width = 2 * mean * mean
    return (n, columns, total, len(d), mean, width, mean, _gamma(width))


def form_piece(step, a, b, a_first, b_first, threads):
    return _dump(*_pairs_of(a, b, a_first, b_first))


def form_merge(a, b):
    return _join(a, b)


# Rows form asks for: out of order, one twice.
def form_rows(n):
    return [n - 1, 0, n // 2, 0]


def form_statistics(n, columns, run_step, fetch_rows, threads):
    d = _ordered(_merged(run_step(pickle.dumps("sums")), form_merge),
                 _expected(n, 0, False))
    rows = fetch_rows(form_rows(n))
    return (n, columns, float(np.sum(d)), float(np.sum(d * d)),
            float(np.sum(rows * np.arange(1, rows.size + 1).reshape(
                rows.shape))))


def form_reference(x):
    """form_statistics' tuple for x, as the stand-in makes it."""
    _, _, d = reference_pairs(x, None, False)
    rows = x[form_rows(len(x))]
    return (len(x), x.shape[1], float(np.sum(d)), float(np.sum(d * d)),
            float(np.sum(rows * np.arange(1, rows.size + 1).reshape(
                rows.shape))))


ENGINE = SimpleNamespace(**{name: globals()[name] for name in [
    "selection_piece", "selection_merge", "selection_median",
    "selection_quantiles", "labelled_piece", "labelled_merge",
    "labelled_final", "form_piece", "form_merge", "form_statistics"]})


# A worker that runs a piece while the file KILL_ARMED exists ends itself
# (SIGKILL, as a crash or the kernel's OOM killer would), once: the first
# to create KILL_DONE. The paths come from the environment, which the
# workers inherit.
KILL_ARMED = os.environ.setdefault(
    "KW_DASK_KILL", f"/tmp/kw-dask-kill-{os.getpid()}") + ".armed"
KILL_DONE = os.environ["KW_DASK_KILL"] + ".done"
MAIN = int(os.environ.setdefault("KW_DASK_MAIN", str(os.getpid())))


def _maybe_die():
    if os.getpid() == MAIN or not os.path.exists(KILL_ARMED):
        return
    try:
        os.close(os.open(KILL_DONE, os.O_CREAT | os.O_EXCL))
    except FileExistsError:
        return
    os.kill(os.getpid(), signal.SIGKILL)


def _killing(engine):
    """engine with each piece a chance to kill its worker."""
    def piece(name):
        def run(*args):
            _maybe_die()
            return getattr(engine, name)(*args)
        return run
    functions = {name: getattr(engine, name) for name in vars(ENGINE)}
    for name in "selection_piece", "labelled_piece", "form_piece":
        functions[name] = piece(name)
    return SimpleNamespace(**functions)


KINDS = {"selection": ["selection_piece", "selection_merge",
                        "selection_median", "selection_quantiles"],
         "labelled": ["labelled_piece", "labelled_merge", "labelled_final"],
         "form": ["form_piece", "form_merge", "form_statistics"]}


def core_has(kind):
    from kernel_width import _core
    return hasattr(_core, kind + "_piece")


def _core_or_standin():
    """The core's functions of each kind it has, the stand-in's of the
    others."""
    from kernel_width import _core
    functions = {}
    for kind, names in KINDS.items():
        source = _core if core_has(kind) else ENGINE
        functions.update((name, getattr(source, name)) for name in names)
    return SimpleNamespace(**functions)


KILLING = _killing(ENGINE)
KILLING_CORE = _killing(_core_or_standin())


# A piece that says it started (the file HOLD_STARTED) and then waits for
# HOLD_RELEASE, 30 s at most: a round that stays running until the test
# lets it go.
HOLD_STARTED = os.environ["KW_DASK_KILL"] + ".started"
HOLD_RELEASE = os.environ["KW_DASK_KILL"] + ".release"


def _held_piece(*args):
    open(HOLD_STARTED, "a").close()
    for _ in range(300):
        if os.path.exists(HOLD_RELEASE):
            break
        time.sleep(0.1)
    return selection_piece(*args)


HOLDING = SimpleNamespace(**{**vars(ENGINE), "selection_piece": _held_piece})
