"""The package installed: with pip into a virtual environment (and checked
by mypy there), and by cmake --install."""

import importlib.util
import os
import pathlib
import shutil
import subprocess
import sys

import numpy as np
import pytest

import kernel_width as kw

TOP = pathlib.Path(__file__).resolve().parents[2]

# Printed by a script run with the installed package, from another directory.
PROBE = """\
import sys
import numpy as np
import kernel_width as kw
x = np.random.default_rng(9).normal(size=(300, 5))
print(kw.__file__)
print(repr(kw.form_statistics(x, threads=2)))
print(repr(kw.labelled_statistics(x, threads=3)))
print(repr(kw.form_width(x, [[0.5, 2.0], [1.5, 4.0]])))
print(repr(kw.distance_quantiles(x, [0.1, 0.5], x[:100], cross=True)))
"""


def probe_here():
    """What PROBE prints after the file name, from the module under test."""
    x = np.random.default_rng(9).normal(size=(300, 5))
    return [repr(kw.form_statistics(x, threads=2)),
            repr(kw.labelled_statistics(x, threads=3)),
            repr(kw.form_width(x, [[0.5, 2.0], [1.5, 4.0]])),
            repr(kw.distance_quantiles(x, [0.1, 0.5], x[:100], cross=True))]


TYPED = """\
import numpy as np
import numpy.typing as npt
import kernel_width as kw
x = np.zeros((3, 2))
s: kw.FormStatistics = kw.form_statistics(x, threads=2)
n: int = s.n
w: float = kw.form_width(x, [[0.5, 2.0]]) + kw.labelled_width(x.tolist())
l: kw.LabelledStatistics = kw.labelled_statistics(x, first_column=0)
v: np.float64 = kw.distance_quantiles(x, 0.5, label="last")
a: npt.NDArray[np.float64] = kw.distance_quantiles(
    x, [0.1, 0.9], x, True, threads=np.int64(2))
g: float = kw.median_width(x, Y=x, cross=True, output="gamma")
m: kw.MedianStatistics = kw.median_statistics(x, label=1)
sigma: float = m.sigma + l.gamma + kw.labelled_statistics(x, label=2).sigma
vg: np.float64 = kw.distance_quantiles(x, 0.5, output="gamma")
aw: npt.NDArray[np.float64] = kw.distance_quantiles(x, [0.5], output="width")
sm: kw.SampledMedianStatistics = kw.median_statistics(x, sample=10, seed=3)
lo: float = sm.low.width + kw.labelled_statistics(x, sample=5).high.gamma
"""

# Each line a mistake that mypy must find.
MISTAKES = """\
import numpy as np
import kernel_width as kw
x = np.zeros((3, 2))
kw.form_statistics(x, threads="2")
kw.form_width(x)
kw.labelled_width(x, first_column=1.5)
name: str = kw.form_statistics(x).mean
kw.form_statistics(x).width
kw.median_width(x, threads=True)
kw.labelled_width(x, output="scale")
kw.distance_quantiles(x, 0.5, label=1.5)
kw.median_statistics(x, Y=x, cross="yes")
kw.distance_quantiles(x, [0.5], output="scale")
kw.median_width(x, sample=1.5)
"""


def missing(*modules):
    return [m for m in modules if importlib.util.find_spec(m) is None]


def files(directory):
    return sorted(p.name for p in directory.iterdir()
                  if p.name != "__pycache__")


# The package's files in the source tree: each must be installed.
SOURCES = files(TOP / "python" / "kernel_width")


def shipped(package):
    """An installed package kernel_width's files other than the core's
    shared library, and the number of those (one)."""
    core = [n for n in files(package)
            if n.startswith("_core.cpython-") and n.endswith(".so")]
    return [n for n in files(package) if n not in core], len(core)


@pytest.mark.skipif(bool(missing("venv", "pip", "setuptools", "wheel")),
                    reason="needs python3-venv, python3-pip, "
                    "python3-setuptools and python3-wheel")
@pytest.mark.builds_the_core
def test_pip_install_into_a_virtual_environment(tmp_path):
    # A clean copy of the tree, as a fresh clone has it.
    source = tmp_path / "source"
    def ignore(directory, names):
        top = pathlib.Path(directory) == TOP
        return [n for n in names if n in (".git", "__pycache__")
                or n.endswith(".egg-info") or (top and n.startswith("build"))]

    shutil.copytree(TOP, source, ignore=ignore)
    env = tmp_path / "env"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages",
                    str(env)], check=True)
    python = str(env / "bin" / "python")
    # Unoptimised (CFLAGS comes after the interpreter's own -O2), which
    # compiles the kernels several times faster; the numbers below must be
    # the same bits at any optimisation level.
    done = subprocess.run([python, "-m", "pip", "install", "--no-index",
                           "--no-build-isolation", "--quiet", str(source)],
                          env={**os.environ, "CFLAGS": "-O0"},
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr

    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    clean = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    done = subprocess.run([python, "-c", PROBE], cwd=elsewhere, env=clean,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[0].startswith(str(env)) and lines[0].endswith("__init__.py")
    assert shipped(pathlib.Path(lines[0]).parent) == (SOURCES, 1)
    # Compiled by setuptools, the same numbers as compiled by CMake.
    assert lines[1:] == probe_here()
    # The licence in the metadata, by its SPDX identifier, and its text.
    done = subprocess.run(
        [python, "-c", "from importlib import metadata as m; "
         "d = m.distribution('kernel-width'); print(d.metadata['License']); "
         "print(any(f.name == 'LICENSE' for f in d.files))"],
        cwd=elsewhere, env=clean, capture_output=True, text=True)
    assert done.stdout.splitlines() == ["BSD-3-Clause", "True"], done.stderr

    mypy = shutil.which("mypy")
    if mypy is None:
        pytest.skip("mypy is not installed")
    for name, text in (("typed.py", TYPED), ("mistakes.py", MISTAKES)):
        (elsewhere / name).write_text(text)
    # Both files in one run (most of mypy's time is numpy's stubs): none
    # of its errors in typed.py, one on each line of mistakes.py.
    done = subprocess.run([mypy, "--python-executable", python,
                           "--no-incremental", "--cache-dir",
                           str(tmp_path / "cache"), "typed.py", "mistakes.py"],
                          cwd=elsewhere, env=clean, capture_output=True,
                          text=True)
    errors = [line.split(":")[:2] for line in done.stdout.splitlines()
              if ": error:" in line]
    assert all(name == "mistakes.py" for name, _ in errors), done.stdout
    assert {line for _, line in errors} == {str(n) for n in range(4, 15)}, \
        done.stdout + done.stderr


BUILD = os.environ.get("KERNEL_WIDTH_BUILD_DIR")
CMAKE = os.environ.get("CMAKE_COMMAND")


@pytest.mark.skipif(not BUILD or not CMAKE, reason="build directory unknown")
def test_cmake_install_puts_the_package_under_the_prefix(tmp_path):
    prefix = tmp_path / "prefix"
    subprocess.run([CMAKE, "--install", BUILD, "--prefix", str(prefix)],
                   check=True, capture_output=True)
    version = "%d.%d" % sys.version_info[:2]
    package = prefix / "lib" / f"python{version}" / "dist-packages"
    assert shipped(package / "kernel_width") == (SOURCES, 1)

    clean = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    done = subprocess.run([sys.executable, "-c", PROBE], cwd=tmp_path,
                          env={**clean, "PYTHONPATH": str(package)},
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[0] == str(package / "kernel_width" / "__init__.py")
    assert lines[1:] == probe_here()
    # Debian's place for the licence, in its machine-readable form.
    copyright = (prefix / "share" / "doc" / "kernel-width" /
                 "copyright").read_text()
    assert "\nLicense: BSD-3-Clause\n Redistribution and use" in copyright
    assert copyright.endswith(" OF THIS SOFTWARE, EVEN IF ADVISED OF THE "
                              "POSSIBILITY OF SUCH DAMAGE.\n")
