"""Sampled widths: Python's numbers against the program's for the same
seed, in each pairing, output and confidence, with seeds at 2**64 - 1;
the interval's ends in the order of each output."""

import os
import subprocess

import numpy as np
import pytest

import kernel_width as kw

LABELLED = os.environ.get("LABELLED_PROGRAM")
MEDIAN = os.environ.get("MEDIAN_PROGRAM")

X = np.array([[((i * 7 + c * 13) % 17) / 4 + i / 100 for c in range(3)]
              for i in range(40)])
Y = np.array([[((i * 5 + c * 3) % 11) / 2 for c in range(3)]
              for i in range(15)])


def verbose(program, args, files):
    """The program's -v lines, one dict per estimate, and its output."""
    done = subprocess.run([program, "-v", *args, *map(str, files)],
                          capture_output=True, text=True, check=True)
    blocks, block = [], {}
    for line in done.stderr.splitlines():
        name, value = line.split(": ", 1)
        if name in block:
            blocks.append(block)
            block = {k: block[k] for k in ("n", "n_y", "columns") if k in block}
        block[name] = value
    blocks.append(block)
    return blocks, done.stdout


def write(tmp_path, name, a, label=False):
    path = tmp_path / name
    rows = np.hstack([np.arange(len(a))[:, None] % 3, a]) if label else a
    np.savetxt(path, rows, fmt="%.17g")
    return path


# (Y used, cross, q, output, seed, confidence)
CASES = [
    (False, False, [0.5], "width", 0, None),
    (True, False, [0.1, 0.9], "sigma", 3, 0.9),
    (True, True, [0.25, 1.0], "gamma", 2**64 - 1, 0.5),
    (True, True, [0.0], "width", 11, 0.999),
    (False, False, [0.3, 0.7], "gamma", 2**63, None),
]


@pytest.mark.skipif(not MEDIAN, reason="programs not built")
@pytest.mark.parametrize("two, cross, q, output, seed, confidence", CASES)
def test_quantiles_as_the_program(two, cross, q, output, seed, confidence,
                                  tmp_path):
    files = [write(tmp_path, "x.txt", X)] + (
        [write(tmp_path, "y.txt", Y)] if two else [])
    args = ["--sample", "700", "--seed", str(seed), "--output", output,
            "-q", ",".join(map(repr, q))] + (["--cross"] if cross else []) + (
            [] if confidence is None else ["--confidence", repr(confidence)])
    blocks, out = verbose(MEDIAN, args, files)
    other = Y if two else None
    got = kw.distance_quantiles(X, q, other, cross, sample=700, seed=seed,
                                confidence=confidence, output=output,
                                interval=True)
    estimate, low, high = (np.atleast_1d(v) for v in got)
    assert len(blocks) == len(q)
    for k, b in enumerate(blocks):
        assert float(b["low"]) == low[k]
        assert float(b["high"]) == high[k]
        assert float(b[output]) == estimate[k]
        assert low[k] <= estimate[k] <= high[k]
        assert b["seed"] == str(seed)
        assert b["confidence"] == repr(0.99 if confidence is None
                                       else confidence)
        assert int(b["pairs"]) == (len(X) * len(Y) if cross else
                                   (len(X) + len(Y) * two) *
                                   (len(X) + len(Y) * two - 1) // 2)
    if q == [0.5]:  # the median's statistics too
        s = kw.median_statistics(X, Y=other, cross=cross, sample=700,
                                 seed=seed, confidence=confidence)
        b = blocks[0]
        ranks = b["ranks"].split()
        assert [s.low.rank, s.high.rank] == [
            None if r == "none" else int(r) for r in ranks]
        # gamma reverses the order: the low gamma is the high width's
        assert s.low.gamma == 1 / s.high.width <= s.high.gamma
        assert s.low.width <= s.width <= s.high.width


@pytest.mark.skipif(not LABELLED, reason="programs not built")
@pytest.mark.parametrize("output, seed, confidence",
                         [("width", 0, None), ("gamma", 2**64 - 1, 0.9),
                          ("sigma", 5, 0.5)])
def test_mean_as_the_program(output, seed, confidence, tmp_path):
    path = write(tmp_path, "l.txt", X, label=True)
    args = ["--sample", "400", "--seed", str(seed), "--output", output] + (
        [] if confidence is None else ["--confidence", repr(confidence)])
    blocks, out = verbose(LABELLED, args, [path])
    b = blocks[0]
    s = kw.labelled_statistics(X, first_column=0, sample=400, seed=seed,
                               confidence=confidence)
    assert float(b["mean"]) == s.mean
    assert float(b["low"]) == getattr(s.low, output)
    assert float(b["high"]) == getattr(s.high, output)
    assert "ranks" not in b and b["seed"] == str(seed)
    assert s.low.gamma == 1 / s.high.width <= s.high.gamma
    assert s.low.width <= s.width <= s.high.width


@pytest.mark.skipif(not MEDIAN, reason="programs not built")
def test_defaults_and_the_ranks_at_the_ends_as_the_program(tmp_path):
    """No seed= nor confidence= is the program's default run; a rank of 0
    is a rank, a trivial end none (the program's "ranks: 0 none")."""
    x = np.array([[1.0, 2.0], [3.0, 4.0], [5.0, 7.0]])
    blocks, out = verbose(MEDIAN, ["--sample", "5"],
                          [write(tmp_path, "t.txt", x)])
    b = blocks[0]
    s = kw.median_statistics(x, sample=5)
    assert b["ranks"] == "0 none" and b["seed"] == "0"
    assert (s.low.rank, s.high.rank) == (0, None)
    assert (s.seed, s.confidence) == (0, 0.99)
    assert [s.low.width, s.width, s.high.width] == [
        float(b["low"]), float(b["width"]), float(b["high"])]
