"""The engine's drivers fed from the cluster: the selection's passes and
form's steps are rounds that the engine asks for through run_pass /
run_step, each a graph over the persisted blocks; labelled is one graph
of chains. Each returns exactly the tuple of the in-memory _core
function."""

from __future__ import annotations

from typing import Any, Callable

from . import _engine
from ._tasks import engine_of
from ._arrays import Sets, block_count, spread
from ._graph import chains, round_of, rows_of
from ._schedule import Cluster, cluster, persist, release, slots


def _with_blocks(sets: Sets, work: Callable[[Any, Cluster, tuple], Any]
                 ) -> Any:
    """work(engine module, cluster, (a, b)) with the sets' blocks cut
    afresh (block_count), persisted for its whole run and let go after.
    Across, Y's rows are numbered from 0 as X's are (pooled, Y follows X
    in one array)."""
    engine = engine_of(_engine.NAME)
    where = cluster()
    tasks = slots(where)
    a = persist(where, spread(sets.x, block_count(
        sets.x.shape[0], sets.columns, tasks, sets.y is not None)), 0)
    b = None if sets.y is None else persist(where, spread(
        sets.y, block_count(sets.y.shape[0], sets.columns, tasks, True)), 0)
    try:
        return work(engine, where, (a, b))
    finally:
        release(where, a)
        release(where, b)


def _passes(where: Cluster, blocks: tuple, kind: str, threads: int,
            merged: bool = True) -> Callable[[bytes], Any]:
    """The run_pass / run_step callback: one round over every piece, its
    partial results merged (merged False: as a list, which the engine's
    driver merges itself, each value copied once)."""
    def run_round(plan: bytes) -> Any:
        return round_of(where, _engine.NAME, kind, bytes(plan), blocks,
                        threads, merged)
    return run_round


def _shape(sets: Sets) -> tuple:
    """The pairs as the selection drivers take them."""
    return sets.n, sets.n_y, sets.columns, sets.cross


def median(sets: Sets, threads: int) -> tuple:
    """_core.median's tuple."""
    def work(engine, where, blocks):
        return engine.selection_median(
            _shape(sets),
            _passes(where, blocks, "selection", threads, merged=False),
            threads)
    return _with_blocks(sets, work)


def quantiles(sets: Sets, p: Any, threads: int) -> tuple:
    """_core.quantiles's tuple for the probabilities p (1-D)."""
    def work(engine, where, blocks):
        return engine.selection_quantiles(
            _shape(sets), p,
            _passes(where, blocks, "selection", threads, merged=False),
            threads)
    return _with_blocks(sets, work)


def labelled(sets: Sets, threads: int) -> tuple:
    """_core.labelled's tuple."""
    def work(engine, where, blocks):
        merged = chains(where, _engine.NAME, blocks[0], threads)
        return engine.labelled_final(merged, sets.n, sets.columns)
    return _with_blocks(sets, work)


def form(sets: Sets, threads: int) -> tuple:
    """_core.form's tuple."""
    def work(engine, where, blocks):
        def fetch_rows(rows: list) -> Any:
            return rows_of(where, blocks[0], rows, sets.columns)
        return engine.form_statistics(
            sets.n, sets.columns,
            _passes(where, blocks, "form", threads, merged=False),
            fetch_rows, threads)
    return _with_blocks(sets, work)
