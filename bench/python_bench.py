#!/usr/bin/env python3
"""The Python module against scipy's pdist route, in separate processes.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [n] [d]
       PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py --memory

For n samples of d clustered values (default 20,000 x 16) prints the wall
time and the peak memory above the interpreter's own (with numpy and the
array loaded) of: the module's form statistics, labelled mean, median
and 10 %, 50 % and 90 % quantiles of the distances, and the same numbers
through scipy.spatial.distance.pdist (numpy.median and numpy.quantile of
it for the last two), best of 3 runs each, with the bound on the
module's memory: twice the array plus 16 MiB for the sums, plus 40 MiB
for the median and the quantiles.

With --memory: the peak memory of the median and of three quantiles at
n = 100,000, d = 16, on clustered samples, on a grid of ties and with a
NaN, against twice the packed samples plus 40 MiB.
"""

import resource
import subprocess
import sys
import time

CHILD = r"""
import resource, sys, time
import numpy as np
n, d, what = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
rng = np.random.default_rng(n + d)
x = rng.normal(0.0, 3.0, (n, d)) + rng.uniform(-10, 10, (5, d))[rng.integers(0, 5, n)]
if what.endswith("_ties"):
    x = rng.integers(0, 8, (n, d)).astype(float)
if what.endswith("_nan"):
    x[n // 2, d // 2] = np.nan
if what.startswith("scipy"):
    from scipy.spatial.distance import pdist
else:
    import kernel_width as kw
base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
if what == "module_form":
    s = kw.form_statistics(x)
    result = (s.mean, s.variance)
elif what == "module_labelled":
    result = (kw.labelled_statistics(x, first_column=0).mean,)
elif what.startswith("module_median"):
    result = (kw.median_statistics(x).median,)
elif what == "scipy_median":
    result = (np.median(pdist(x)),)
elif what.startswith("module_quantiles"):
    result = tuple(kw.distance_quantiles(x, [0.1, 0.5, 0.9]))
elif what == "scipy_quantiles":
    result = tuple(np.quantile(pdist(x), [0.1, 0.5, 0.9]))
elif what == "scipy_form":
    p = pdist(x)
    mean = 2.0 * p.sum() / (n * n)
    p -= mean
    p *= p
    result = (mean, (2.0 * p.sum() + n * mean * mean) / (n * n))
else:
    result = (2.0 * pdist(x).sum() / (n * n - n),)
seconds = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(seconds, (peak - base) / 1024.0, x.nbytes / 2**20, *result)
"""


def run(n, d, what):
    out = subprocess.run([sys.executable, "-c", CHILD, str(n), str(d), what],
                         check=True, capture_output=True, text=True).stdout
    values = [float(v) for v in out.split()]
    return values[0], values[1], values[2], values[3:]


def memory():
    n, d = 100000, 16
    bound = 2 * n * d * 8 / 2**20 + 40
    print("n = %d, d = %d: peak memory above the interpreter with numpy and "
          "the array loaded; bound %.1f MiB\n" % (n, d, bound))
    print("| data | median s | median MiB | quantiles s | quantiles MiB |")
    print("|---|---:|---:|---:|---:|")
    for data, suffix in [("clustered", ""), ("grid of ties", "_ties"),
                         ("one NaN", "_nan")]:
        median = run(n, d, "module_median" + suffix)
        three = run(n, d, "module_quantiles" + suffix)
        print("| %s | %.2f | %.1f | %.2f | %.1f |" % (
            data, median[0], median[1], three[0], three[1]))


def main():
    if sys.argv[1:] == ["--memory"]:
        memory()
        return
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    d = int(sys.argv[2]) if len(sys.argv) > 2 else 16
    print("n = %d, d = %d, best of 3; memory: peak above the interpreter "
          "with numpy and the array loaded\n" % (n, d))
    print("| computation | module s | module MiB | pdist s | pdist MiB "
          "| pdist / module | pdist MiB / module MiB | bound MiB "
          "| relative difference |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name in ("form", "labelled", "median", "quantiles"):
        ours = min((run(n, d, "module_" + name) for _ in range(3)),
                   key=lambda r: r[0])
        theirs = min((run(n, d, "scipy_" + name) for _ in range(3)),
                     key=lambda r: r[0])
        diff = max(abs(a - b) / abs(b) for a, b in zip(ours[3], theirs[3]))
        print("| %s | %.3f | %.1f | %.3f | %.1f | %.1f | %.0f | %.1f | %.1e |"
              % (name, ours[0], ours[1], theirs[0], theirs[1],
                 theirs[0] / ours[0], theirs[1] / max(ours[1], 0.1),
                 # The sums' bound, and the selection's with its kept part.
                 2 * ours[2] + (16 if name in ("form", "labelled") else 40),
                 diff))


if __name__ == "__main__":
    main()
