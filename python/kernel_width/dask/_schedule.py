"""Where the tasks run: dask.distributed's default client when there is
one, otherwise dask's threaded scheduler in this process. The blocks are
persisted once, so each round's graph refers to them where they lie; a
round's graph runs to one key, its merged result."""

from __future__ import annotations

import sys
import uuid
from dataclasses import dataclass, field
from typing import Any, Optional


@dataclass
class Cluster:
    """The client (None: the threaded scheduler) and, for the threaded
    scheduler, the persisted blocks that every round's graph holds."""
    client: Any
    data: dict = field(default_factory=dict)


@dataclass
class Blocks:
    """One set's row blocks: what a task names each by (a key of
    Cluster.data, or a distributed Future), its first row in the data set
    and its rows."""
    refs: list
    firsts: list
    rows: list


def cluster() -> Cluster:
    """The default distributed client's cluster, or this process's
    threads."""
    if "distributed" in sys.modules:
        from distributed import default_client
        try:
            return Cluster(default_client())
        except ValueError:  # no client
            pass
    return Cluster(None)


def slots(where: Cluster) -> int:
    """The tasks that run at once: the workers' threads, or this
    process's cores."""
    if where.client is None:
        import os
        return os.cpu_count() or 1
    workers = where.client.scheduler_info().get("workers", {})
    return max(1, sum(w.get("nthreads", 1) for w in workers.values()))


def persist(where: Cluster, array: Any, first: int) -> Blocks:
    """array's row blocks computed once and kept (on the workers, or here),
    the first numbered first in the data set."""
    if where.client is None:
        array = array.persist(scheduler="threads")
    else:
        array = where.client.persist(array)
    graph = dict(array.__dask_graph__())
    keys = [row[0] for row in array.__dask_keys__()]
    if where.client is None:
        where.data.update((key, graph[key]) for key in keys)
        refs = keys
    else:
        refs = [graph[key] for key in keys]
    firsts, at = [], first
    for size in array.chunks[0]:
        firsts.append(at)
        at += size
    return Blocks(refs, firsts, list(array.chunks[0]))


def name(what: str) -> str:
    """A key prefix of its own for each round: a key of an earlier round
    that a worker still holds is never taken for this round's."""
    return f"kernel-width-{what}-{uuid.uuid4().hex}"


def run(where: Cluster, graph: dict, key: Any) -> Any:
    """The value of key in graph (of each key, for a list); on a cluster,
    Ctrl-C (or any error while waiting) cancels the round's tasks before
    it propagates."""
    if where.client is None:
        import dask.threaded
        return dask.threaded.get({**where.data, **graph}, key)
    future = where.client.get(graph, key, sync=False)
    try:
        return where.client.gather(future)
    except BaseException:
        where.client.cancel(future)
        raise


def release(where: Cluster, blocks: Optional[Blocks]) -> None:
    """Let the persisted blocks go. On a cluster the references are only
    dropped, never cancelled: the caller may hold the same keys."""
    if blocks is not None and where.client is None:
        for key in blocks.refs:
            where.data.pop(key, None)
    if blocks is not None:
        blocks.refs = []
