"""The extension kernel_width._core, with the library compiled in.

pyproject.toml holds the rest. The flags are those of the CMake build that
matter to the results: C++20 and no contraction into fused multiply-adds.
"""

import os
import pathlib
import re

from setuptools import Extension, setup

TOP = pathlib.Path(__file__).resolve().parent


def version():
    """The version in CMakeLists.txt's project(), the one source of it."""
    text = (TOP / "CMakeLists.txt").read_text()
    return re.search(r"project\(kernel_width VERSION ([0-9.]+)", text)[1]


def pybind11_include():
    """pybind11's headers: Debian's pybind11-dev puts them on the default
    path; a pybind11 Python package knows its own."""
    try:
        import pybind11
    except ImportError:
        return []
    return [pybind11.get_include()]


core = Extension(
    "kernel_width._core",
    sources=sorted(str(p.relative_to(TOP)) for p in (TOP / "src").glob("*.cpp"))
    + ["python/module.cpp"],
    include_dirs=["include", "src"] + pybind11_include(),
    define_macros=[("KERNEL_WIDTH_VERSION", '"%s"' % version())],
    extra_compile_args=["-std=c++20", "-ffp-contract=off", "-Wno-psabi",
                        "-fvisibility=hidden", "-pthread", "-g0"],
    extra_link_args=["-pthread"],
    language="c++",
)

# Objects in build-pip/, apart from CMake's build/, compiled on every core.
setup(version=version(), ext_modules=[core],
      options={"build": {"build_base": "build-pip"},
               "build_ext": {"parallel": len(os.sched_getaffinity(0))}})
