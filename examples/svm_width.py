#!/usr/bin/env python3
"""RBF support vector machines with gamma = 1 / labelled_width.

Shows, on four data sets bundled with scikit-learn (iris, wine,
breast_cancer, digits; no download), how the 5-fold cross-validated
accuracy of an RBF ``SVC(C=1)`` with ``gamma = 1 / width``, where
``width = kernel_width.labelled_width(X_std, first_column=0)`` on the
standardised features, compares with a log-spaced sweep of gamma and
with scikit-learn's ``gamma="scale"``.

Writes ``svm_width.png`` (one panel per data set) and ``svm_width.md``
(a Markdown table) to ``--out``, by default the repository's ``doc/``::

    PYTHONPATH=build/python /usr/bin/python3 examples/svm_width.py [--out DIR]

Needs the module ``kernel_width`` on the import path (PYTHONPATH or
installed), scikit-learn and matplotlib. An example only: the module
does not depend on either.
"""

import argparse
import math
import pathlib
import sys

import numpy as np

try:
    import kernel_width
except ImportError:  # reported by main()
    kernel_width = None

DATA_SETS = ("iris", "wine", "breast_cancer", "digits")
GAMMAS = np.logspace(-4, 1, 26)  # 10^-4 .. 10^1, five points a decade
DEFAULT_OUT = pathlib.Path(__file__).resolve().parent.parent / "doc"


def evaluate(name):
    """Width, gammas and cross-validated accuracies for one data set."""
    from sklearn import datasets
    from sklearn.model_selection import StratifiedKFold, cross_val_score
    from sklearn.preprocessing import StandardScaler
    from sklearn.svm import SVC

    x, y = getattr(datasets, "load_" + name)(return_X_y=True)
    # The scaler is fitted on all rows, without the labels, so that one
    # width describes the data set; the cross-validation then runs on
    # these standardised features.
    x_std = StandardScaler().fit_transform(x)
    width = kernel_width.labelled_width(x_std, first_column=0)
    folds = StratifiedKFold(5, shuffle=True, random_state=0)

    def accuracy(gamma):
        return cross_val_score(SVC(C=1.0, gamma=gamma), x_std, y,
                               cv=folds).mean()

    sweep = np.array([accuracy(g) for g in GAMMAS])
    best = int(np.argmax(sweep))
    return dict(name=name, n=x.shape[0], d=x.shape[1], width=width,
                gamma=1.0 / width, accuracy=accuracy(1.0 / width),
                sweep=sweep, best_gamma=GAMMAS[best], best=sweep[best],
                scale_gamma=1.0 / (x_std.shape[1] * x_std.var()),
                scale=accuracy("scale"))


def plot(results, path):
    """One panel per data set: accuracy against gamma, log axis."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    cols = min(2, len(results))
    rows = math.ceil(len(results) / cols)
    fig, axes = plt.subplots(rows, cols, figsize=(5.5 * cols, 3.8 * rows),
                             squeeze=False)
    for ax, r in zip(axes.flat, results):
        ax.semilogx(GAMMAS, 100 * r["sweep"], "o-", color="0.55", ms=3,
                    label="gamma sweep")
        ax.axvline(r["gamma"], color="C0", lw=1)
        ax.plot(r["gamma"], 100 * r["accuracy"], "o", color="C0", ms=8,
                label="gamma = 1 / labelled_width")
        ax.axvline(r["scale_gamma"], color="C1", lw=1, ls="--")
        ax.plot(r["scale_gamma"], 100 * r["scale"], "s", color="C1", ms=6,
                label='gamma = "scale"')
        ax.set_title("%s (n=%d, d=%d)" % (r["name"], r["n"], r["d"]))
        ax.set_xlabel("gamma")
        ax.set_ylabel("5-fold CV accuracy (%)")
        ax.grid(True, which="major", alpha=0.3)
    for ax in list(axes.flat)[len(results):]:
        ax.set_visible(False)
    fig.suptitle("RBF SVC (C=1) on standardised features")
    fig.legend(*axes[0, 0].get_legend_handles_labels(), loc="lower center",
               ncol=3, frameon=False)
    fig.tight_layout(rect=(0, 0.05, 1, 1))
    fig.savefig(path, dpi=100)
    plt.close(fig)


def table(results):
    """The results as a Markdown table, accuracies in percent."""
    lines = ["| data set | n | d | width | gamma = 1/width | accuracy "
             "| best sweep accuracy | its gamma | accuracy, gamma=\"scale\" |",
             "|---|--:|--:|--:|--:|--:|--:|--:|--:|"]
    for r in results:
        lines.append("| %s | %d | %d | %.4g | %.4g | %.1f %% | %.1f %% "
                     "| %.3g | %.1f %% |" % (
                         r["name"], r["n"], r["d"], r["width"], r["gamma"],
                         100 * r["accuracy"], 100 * r["best"],
                         r["best_gamma"], 100 * r["scale"]))
    return "\n".join(lines) + "\n"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", type=pathlib.Path, default=DEFAULT_OUT,
                        help="directory for svm_width.png and svm_width.md "
                             "(default: the repository's doc/)")
    parser.add_argument("--data", nargs="+", choices=DATA_SETS,
                        default=list(DATA_SETS),
                        help="data sets to run (default: all four)")
    args = parser.parse_args(argv)
    if kernel_width is None:
        sys.exit("svm_width.py: cannot import the module kernel_width; "
                 "build it and set PYTHONPATH (e.g. PYTHONPATH=build/python) "
                 "or install it")

    results = [evaluate(name) for name in args.data]
    args.out.mkdir(parents=True, exist_ok=True)
    plot(results, args.out / "svm_width.png")
    text = table(results)
    (args.out / "svm_width.md").write_text(text)
    print(text, end="")
    return 0


if __name__ == "__main__":
    sys.exit(main())
