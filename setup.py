"""The extension kernel_width._core, with the library compiled in.

pyproject.toml holds the rest. The flags are those of the CMake build that
matter to the results: C++20 and no contraction into fused multiply-adds.
"""

import os
import pathlib
import re
import tempfile

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

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
    + sorted(str(p.relative_to(TOP)) for p in (TOP / "python").glob("*.cpp")),
    include_dirs=["include", "src"] + pybind11_include(),
    define_macros=[("KERNEL_WIDTH_VERSION", '"%s"' % version())],
    extra_compile_args=["-std=c++20", "-ffp-contract=off",
                        "-fvisibility=hidden", "-pthread", "-g0"],
    extra_link_args=["-pthread"],
    language="c++",
)

# Flags that only quieten a compiler's notes: given where the compiler
# takes them (GCC's -Wno-psabi, on vector arguments' ABI).
OPTIONAL_FLAGS = ["-Wno-psabi"]


class ProbedBuild(build_ext):
    """build_ext with the optional flags this compiler takes, on any
    architecture: the sources choose their kernels for it themselves."""

    def build_extensions(self):
        taken = [f for f in OPTIONAL_FLAGS if self.takes(f)]
        for extension in self.extensions:
            extension.extra_compile_args += taken
        super().build_extensions()

    def takes(self, flag):
        with tempfile.TemporaryDirectory() as where:
            probe = os.path.join(where, "probe.cpp")
            with open(probe, "w") as f:
                f.write("int main() { return 0; }\n")
            try:
                self.compiler.compile([probe], output_dir=where,
                                      extra_postargs=["-Werror", flag])
            except Exception:  # distutils' CompileError, however imported
                return False
        return True


def cores():
    """The cores this process may run on (its affinity, where the system
    has one)."""
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0))
    return os.cpu_count() or 1


# Objects in build-pip/, apart from CMake's build/, compiled on every core.
setup(version=version(), ext_modules=[core],
      cmdclass={"build_ext": ProbedBuild},
      options={"build": {"build_base": "build-pip"},
               "build_ext": {"parallel": cores()}})
