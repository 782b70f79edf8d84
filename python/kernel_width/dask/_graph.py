"""The rounds' graphs: one task per piece over the persisted blocks, the
partial results merged by a tree of merge tasks, as dask's own
reductions merge (split_every); labelled's pieces as one chain per row
block."""

from __future__ import annotations

from typing import Any, Optional

import numpy as np

from . import _tasks
from ._schedule import Blocks, Cluster, name, run


# Partial results each merge task joins: fewer tasks than a binary tree
# (the scheduler's cost per task is the larger one here), few levels.
SPLIT_EVERY = 8
# Up to this many partial results go to the client as they are: a merge
# task would wait for the slowest of its parts and then move them again.
GATHERED = 16


def tree(graph: dict, prefix: str, keys: list, engine: str,
         kind: str) -> list:
    """Merge tasks over keys, SPLIT_EVERY at a time, level by level, into
    graph, until GATHERED or fewer are left: their keys, which the client
    merges itself."""
    level = 0
    while len(keys) > GATHERED:
        merged = []
        for at in range(0, len(keys), SPLIT_EVERY):
            group = keys[at:at + SPLIT_EVERY]
            if len(group) == 1:
                merged.append(group[0])
                continue
            key = (prefix + "-merge", level, at)
            graph[key] = (_tasks.merge, engine, kind, group)
            merged.append(key)
        keys, level = merged, level + 1
    return keys


def gathered(where: Cluster, graph: dict, keys: list, engine: str,
             kind: str, merged: bool = True) -> Any:
    """The partial results at keys computed, and merged here (merged
    False: as a list, for a caller that merges them itself)."""
    parts = list(run(where, graph, keys))
    return _tasks.merge(engine, kind, parts) if merged else parts


def pairs(a: Blocks, b: Optional[Blocks]) -> list:
    """The pieces (i, j) that cover every pair once: within one set, each
    i < j, then each diagonal block (j None), which holds half as many
    pairs; across, every i of a with every j of b. The larger pieces come
    first, as the scheduler takes them, so that a round ends on small
    pieces on every worker rather than on one large piece on one."""
    if b is not None:
        return [(i, j) for i in range(len(a.refs)) for j in range(len(b.refs))]
    count = len(a.refs)
    return ([(i, j) for i in range(count) for j in range(i + 1, count)]
            + [(i, None) for i in range(count)])


def round_of(where: Cluster, engine: str, kind: str, plan: bytes,
             sets: tuple, threads: int, merged: bool = True) -> Any:
    """One pass (selection) or step (form): the merge of kind's piece
    against plan over every piece of the pairs (merged False: the
    partial results that are left for the client to merge, a list).
    sets is (a, b): b None within one set, the other set's blocks
    across."""
    a, b = sets
    other = a if b is None else b
    prefix = name(kind)
    graph: dict = {(prefix + "-plan",): plan}
    keys = []
    for index, (i, j) in enumerate(pairs(a, b)):
        key = (prefix + "-piece", index)
        b_ref, b_first = ((None, a.firsts[i]) if j is None
                          else (other.refs[j], other.firsts[j]))
        graph[key] = (_tasks.piece, engine, kind, (prefix + "-plan",),
                      a.refs[i], b_ref, a.firsts[i], b_first, threads)
        keys.append(key)
    return gathered(where, graph, tree(graph, prefix, keys, engine, kind),
                    engine, kind, merged)


def chains(where: Cluster, engine: str, a: Blocks, threads: int) -> bytes:
    """labelled's partial result: for each row block i a chain of pieces,
    its diagonal first, then each later block in order, the state passed
    along; the finished row blocks merged by a tree."""
    prefix = name("labelled")
    graph: dict = {}
    ends = []
    for i in range(len(a.refs)):
        state = None
        for j in [None, *range(i + 1, len(a.refs))]:
            key = (prefix + "-link", i, i if j is None else j)
            graph[key] = (_tasks.chain, engine, state, a.refs[i],
                          None if j is None else a.refs[j], a.firsts[i],
                          a.firsts[i if j is None else j], threads)
            state = key
        ends.append(state)
    return gathered(where, graph,
                    tree(graph, prefix, ends, engine, "labelled"), engine,
                    "labelled")


def rows_of(where: Cluster, a: Blocks, rows: list,
            columns: int) -> np.ndarray:
    """Those global rows (a few: form's estimates) as a 2-D float64 array
    in the order asked, fetched from the blocks that hold them."""
    wanted = [int(r) for r in rows]
    ends = np.array(a.firsts, dtype=np.int64) + np.array(a.rows,
                                                        dtype=np.int64)
    home = np.searchsorted(ends, wanted, side="right").tolist()
    blocks = sorted(set(home))
    prefix = name("rows")
    graph: dict = {}
    for block in blocks:
        local = [r - a.firsts[block] for r, h in zip(wanted, home)
                 if h == block]
        graph[(prefix, block)] = (_tasks.take, a.refs[block], local)
    graph[(prefix + "-all",)] = (list, [(prefix, b) for b in blocks])
    parts = dict(zip(blocks, run(where, graph, (prefix + "-all",))))
    taken = dict.fromkeys(blocks, 0)
    out = np.empty((len(wanted), columns), dtype=np.float64)
    for at, block in enumerate(home):
        out[at] = parts[block][taken[block]]
        taken[block] += 1
    return out
