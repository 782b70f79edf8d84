"""examples/svm_width.py end to end on iris, into a temporary directory."""

import pathlib
import runpy

import numpy as np
import pytest

import kernel_width as kw

pytest.importorskip("sklearn")
pytest.importorskip("matplotlib")

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "svm_width.py"


def test_svm_width_on_iris(tmp_path):
    from sklearn.datasets import load_iris
    from sklearn.preprocessing import StandardScaler

    example = runpy.run_path(str(EXAMPLE))
    assert example["main"](["--out", str(tmp_path), "--data", "iris"]) == 0

    png = (tmp_path / "svm_width.png").read_bytes()
    assert png.startswith(b"\x89PNG\r\n\x1a\n") and len(png) > 10_000

    lines = (tmp_path / "svm_width.md").read_text().splitlines()
    assert len(lines) == 3  # header, alignment row, one data set
    assert lines[0].startswith("| data set | n | d | width |")
    assert set(lines[1]) <= set("|-:")
    cells = [c.strip() for c in lines[2].strip("|").split("|")]
    assert len(cells) == lines[0].count("|") - 1
    name, n, d = cells[:3]
    width, gamma, accuracy, best, best_gamma, scale = (
        float(c.rstrip(" %")) for c in cells[3:])
    assert (name, n, d) == ("iris", "150", "4")

    # The width of the standardised features, not of the raw ones.
    x = load_iris().data
    want = kw.labelled_width(StandardScaler().fit_transform(x), first_column=0)
    assert width == pytest.approx(want, rel=1e-3)
    assert gamma == pytest.approx(1 / want, rel=1e-3)
    # (12.95 raw against 12.60: close, but apart at this tolerance)
    assert width != pytest.approx(kw.labelled_width(x, first_column=0),
                                  rel=1e-3)

    # Accuracies in percent from a real fit (iris is easy), the best one
    # taken over the sweep's gammas.
    for a in (accuracy, best, scale):
        assert 90 <= a <= 100
    assert any(np.isclose(best_gamma, g, rtol=5e-3)
               for g in example["GAMMAS"])
