#!/usr/bin/env python3
"""kernel_width.dask on a cluster of two worker processes against the
in-memory functions on two threads.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/dask_bench.py [n] [d]

For n samples of d clustered values (default 100,000 x 16) starts a
LocalCluster of 2 worker processes x 1 thread, persists the array there
in blocks (8 per worker), and times the median, labelled and form on it
(threads=1 per task), best of 3, against median_width(X, threads=2) and
the others in memory, best of 3; checks that the numbers agree bit for
bit and prints the times and the ratios dask / in memory, and each
worker's peak resident memory in one more run above what it held before
that run (its share of the persisted array is in neither). The machine's
load average is printed too: a busy machine slows both.
KW_DASK_BENCH=median,labelled picks the estimators (all three by
default).
"""

import os
import sys
import time

import numpy as np


def best(run, times=3):
    """(fastest wall time, result) of a few runs."""
    found = []
    for _ in range(times):
        start = time.perf_counter()
        result = run()
        found.append((time.perf_counter() - start, result))
    return min(found, key=lambda f: f[0])[0], found[0][1]


def worker_memory():
    """This process's resident and peak resident MiB (VmRSS, VmHWM),
    the peak then reset to the resident size where the kernel allows."""
    found = {}
    with open("/proc/self/status") as status:
        for line in status:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                found[key] = int(value.split()[0]) / 1024
    try:
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")
    except OSError:
        pass
    return found


def samples(n, d):
    rng = np.random.default_rng(n + d)
    centres = rng.uniform(-10, 10, (5, d))
    return rng.normal(0.0, 3.0, (n, d)) + centres[rng.integers(0, 5, n)]


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    d = int(sys.argv[2]) if len(sys.argv) > 2 else 16
    import dask.array as da
    from distributed import Client, LocalCluster

    import kernel_width as kw
    import kernel_width.dask as kd

    x = samples(n, d)
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                           dashboard_address=None, silence_logs=40)
    client = Client(cluster)
    rows = -(-n // 16 // 8) * 8
    xd = client.persist(da.from_array(x, chunks=(rows, d)))
    client.wait_for_workers(2)
    print(f"n = {n}, d = {d}: {len(xd.chunks[0])} blocks of {rows} rows, "
          "2 workers x 1 thread; load average "
          + " ".join(f"{v:.2f}" for v in os.getloadavg()))
    only = os.environ.get("KW_DASK_BENCH", "median,labelled,form").split(",")
    cases = [
        ("median", lambda: kd.median_width(xd),
         lambda: kw.median_width(x, threads=2)),
        ("labelled", lambda: kd.labelled_width(xd, first_column=0),
         lambda: kw.labelled_width(x, threads=2, first_column=0)),
        ("form", lambda: kd.form_statistics(xd),
         lambda: kw.form_statistics(x, threads=2)),
    ]
    print(f"{'':10} {'dask s':>9} {'memory s':>9} {'ratio':>7}  same bits"
          "  workers' peak MiB in a run", flush=True)
    for name, on_cluster, in_memory in cases:
        if name not in only:
            continue
        try:
            spread, got = best(on_cluster)
        except (AttributeError, ImportError) as error:  # no engine yet
            print(f"{name:10} not run: {error}")
            continue
        before = client.run(worker_memory)
        on_cluster()
        after = client.run(worker_memory)
        peaks = " ".join(f"{after[w]['VmHWM'] - before[w]['VmRSS']:.0f}"
                         for w in sorted(after))
        alone, expected = best(in_memory)
        same = repr(got) == repr(expected)
        print(f"{name:10} {spread:9.3f} {alone:9.3f} {spread / alone:7.2f}"
              f"  {'yes' if same else 'NO ':9}  {peaks}", flush=True)
    client.close()
    cluster.close()


if __name__ == "__main__":
    main()
