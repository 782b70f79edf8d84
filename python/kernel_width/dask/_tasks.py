"""The functions that run as tasks on the workers: a piece, a merge, a
step of labelled's chain, the rows that form's estimates read. Each takes
the engine's module name and imports it where it runs."""

from __future__ import annotations

import importlib
from typing import Optional

import numpy as np


def engine_of(name: str):
    """The module name, or "module:attribute" for an object in a module
    that has the engine's functions."""
    module, _, attribute = name.partition(":")
    found = importlib.import_module(module)
    return getattr(found, attribute) if attribute else found


def piece(engine: str, kind: str, plan: bytes, a: np.ndarray,
          b: Optional[np.ndarray], a_first: int, b_first: int,
          threads: int) -> bytes:
    """kind's piece ("selection", "form") of the pairs in a (b None) or
    across a and b, against the round's plan or step."""
    compute = getattr(engine_of(engine), kind + "_piece")
    return compute(plan, a, b, a_first, b_first, threads)


def merge(engine: str, kind: str, parts: list) -> bytes:
    """Partial results of kind merged (exact in any grouping): all at once
    where the engine can (kind_merge_all, each value copied once), else
    pairwise: a merge costs the size of its inputs, which a merge of the
    selection's kept values adds up, so each value is copied once per
    level."""
    module = engine_of(engine)
    join_all = getattr(module, kind + "_merge_all", None)
    if join_all is not None and len(parts) > 1:
        return join_all(list(parts))
    join = getattr(module, kind + "_merge")
    while len(parts) > 1:
        parts = [join(parts[k], parts[k + 1]) if k + 1 < len(parts)
                 else parts[k] for k in range(0, len(parts), 2)]
    return parts[0]


def chain(engine: str, state: Optional[bytes], a: np.ndarray,
          b: Optional[np.ndarray], a_first: int, b_first: int,
          threads: int) -> bytes:
    """One link of labelled's chain for a row block."""
    return engine_of(engine).labelled_piece(state, a, b, a_first, b_first,
                                          threads)


def take(block: np.ndarray, rows: list) -> np.ndarray:
    """Those rows of a block (numbered in the block)."""
    return np.ascontiguousarray(block[rows], dtype=np.float64)
