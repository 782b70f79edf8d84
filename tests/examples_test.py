"""Runs the examples of README.md and doc/*.md and checks what they print.

An example is a fenced block marked for running:

- a `console` block: lines `$ COMMAND` (a line ending in a backslash goes
  on to the next), each followed by the output it must print, standard
  output and standard error together; a line `...` stands for any number
  of lines. A command that shows no output must end with status 0.
- a `python` or `r` block right after a line `<!-- example -->`: it runs
  as a whole, and its lines `#> TEXT` are the output it must print, in
  order (none: it must only run without an error).

A console block's expected lines are standard output and standard error
merged; each stream must match in its own order, in any order between
the two, since mpirun does not keep it.

Every block runs in a directory of its own holding a copy of examples/,
with the built programs on PATH and the Python module importable. Blocks
that need mpirun, R or the Python module are skipped where they are
missing. Unmarked blocks (sh, text, a python block without the comment)
are never run.

usage: examples_test.py SOURCE_DIR BUILD_DIR [PYTHON_PATH]
"""

import concurrent.futures
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

MARK = "<!-- example -->"
FENCE = re.compile(r"^(```+|~~~+)\s*([\w+-]*)")
SEPARATOR = "\x1eexample-status"


class Block:
    def __init__(self, path, line, kind, text):
        self.path, self.line, self.kind, self.text = path, line, kind, text

    def where(self):
        return f"{self.path}:{self.line}"


def blocks_of(path, shown):
    """The marked blocks of one Markdown file."""
    lines = path.read_text(encoding="utf-8").split("\n")
    found = []
    i = 0
    previous = ""
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            if lines[i].strip():
                previous = lines[i].strip()
            i += 1
            continue
        fence, info = m.group(1), m.group(2).lower()
        start = i + 1
        i = start
        while i < len(lines) and not lines[i].startswith(fence):
            i += 1
        text = "\n".join(lines[start:i])
        marked = previous == MARK
        if info == "console" or (marked and info in ("python", "r")):
            found.append(Block(shown, start, info, text))
        previous = ""
        i += 1
    return found


def console_steps(text):
    """[(command, expected lines or None)] of a console block."""
    steps = []
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        if not lines[i].startswith("$ "):
            if lines[i].strip() and not steps:
                raise ValueError(f"text before the first command: {lines[i]!r}")
            if steps:
                steps[-1][1].append(lines[i])
            i += 1
            continue
        command = lines[i][2:]
        while command.endswith("\\") and i + 1 < len(lines):
            i += 1
            command = command[:-1] + "\n" + lines[i]
        steps.append((command, []))
        i += 1
    return [(c, trimmed(out)) for c, out in steps]


def trimmed(lines):
    while lines and not lines[-1].strip():
        lines = lines[:-1]
    return lines


def matches(expected, actual):
    """Whether the lines match, a line `...` standing for any lines."""
    return interleaves(expected, actual, [])


def interleaves(expected, out, err):
    """Whether the expected lines are the lines of two streams, each in its
    own order, merged in some order: a line `...` stands for any lines of
    either. Processes that write both streams (mpirun's ranks above all)
    do not keep the order between them, so only each stream's own order is
    checked."""
    seen = {}

    def match(i, j, k):
        key = (i, j, k)
        if key not in seen:
            seen[key] = step(i, j, k)
        return seen[key]

    def step(i, j, k):
        if i == len(expected):
            return j == len(out) and k == len(err)
        if expected[i] == "...":
            return any(match(i + 1, a, b) for a in range(j, len(out) + 1)
                       for b in range(k, len(err) + 1))
        return (j < len(out) and out[j] == expected[i] and
                match(i + 1, j + 1, k)) or \
            (k < len(err) and err[k] == expected[i] and match(i + 1, j, k + 1))

    return match(0, 0, 0)


def needs(block):
    """What a block needs beyond the programs: mpi, python, r."""
    if block.kind in ("python", "r"):
        return {block.kind}
    commands = [c for c, _ in console_steps(block.text)]
    wanted = set()
    for c in commands:
        if re.search(r"(^|[|;&(]\s*)(R|Rscript)\b", c):
            wanted.add("r")
        if re.search(r"\bpython3?\b", c):
            wanted.add("python")
        if re.search(r"\bmpirun\b", c):
            wanted.add("mpi")
    return wanted


def streams_of(text):
    """A script's standard output or error cut at the separators: one text
    for each command."""
    parts = text.split(SEPARATOR)
    # After the first, each part begins with the rest of its separator line.
    return [parts[0]] + [p.split("\n", 1)[1] if "\n" in p else ""
                         for p in parts[1:]], parts


def run_console(block, env, directory):
    """The failures of a console block, as text."""
    steps = console_steps(block.text)
    script = []
    for command, _ in steps:
        script.append(command)
        script.append(f"__s=$?; printf '{SEPARATOR} %d\\n' $__s; "
                      f"printf '\\n{SEPARATOR}\\n' >&2; (exit $__s)")
    done = subprocess.run(["bash", "-c", "\n".join(script)], cwd=directory,
                          env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, timeout=60)
    outs, parts = streams_of(done.stdout.decode("utf-8", "backslashreplace"))
    errs, _ = streams_of(done.stderr.decode("utf-8", "backslashreplace"))
    failures = []
    for k, (command, expected) in enumerate(steps):
        if k + 1 >= len(parts) or k >= len(errs):
            failures.append(f"$ {command}\n  did not finish")
            break
        status = int(parts[k + 1].split("\n", 1)[0].strip() or 1)
        out = trimmed(outs[k].split("\n"))
        err = trimmed(errs[k].split("\n"))
        if expected and not interleaves(expected, out, err):
            failures.append(f"$ {command}\n  expected:\n" + indent(expected) +
                            "\n  printed on standard output:\n" + indent(out) +
                            "\n  printed on standard error:\n" + indent(err))
        elif not expected and status != 0:
            failures.append(f"$ {command}\n  ended with status {status}:\n" +
                            indent(out + err))
    return failures


def indent(lines):
    return "\n".join("    " + line for line in lines) or "    (nothing)"


def expected_comments(text):
    return [line[3:] if line.startswith("#> ") else line[2:]
            for line in text.split("\n") if line.startswith("#>")]


def run_script(block, command, suffix, env, directory):
    """The failures of a python or r block, run as a script."""
    script = pathlib.Path(directory) / f"example{suffix}"
    script.write_text(block.text + "\n", encoding="utf-8")
    done = subprocess.run(command + [str(script)], cwd=directory, env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, timeout=60)
    out = done.stdout.decode("utf-8", "backslashreplace")
    err = done.stderr.decode("utf-8", "backslashreplace")
    if done.returncode != 0:
        return [f"ended with status {done.returncode}:\n" +
                indent(trimmed((out + err).split("\n")))]
    expected = expected_comments(block.text)
    actual = trimmed(out.split("\n"))
    if expected and not matches(expected, actual):
        return ["expected:\n" + indent(expected) + "\n  printed:\n" +
                indent(actual)]
    return []


def available(source, build, python_path):
    """What this machine has: {'mpi', 'python', 'r'} and the R library."""
    have = set()
    if shutil.which("mpirun") and (build / "mpi").is_dir():
        have.add("mpi")
    if python_path:
        have.add("python")
    # The package as make r-install or R CMD check (make r-check) left it.
    places = [build / "r" / "library", build / "r" / "kernelwidth.Rcheck"]
    r_library = next((p for p in places if (p / "kernelwidth").is_dir()),
                     places[0])
    if shutil.which("Rscript") and (r_library / "kernelwidth").is_dir():
        have.add("r")
    return have, r_library


def environment(source, build, python_path, r_library):
    env = dict(os.environ)
    env["PATH"] = os.pathsep.join(
        [str(build / "programs"), str(build / "mpi"), env.get("PATH", "")])
    if python_path:
        env["PYTHONPATH"] = os.pathsep.join(
            p for p in [python_path, env.get("PYTHONPATH", "")] if p)
    env["R_LIBS"] = str(r_library)
    env["LC_ALL"] = "C"
    env.pop("KERNEL_WIDTH_MPI_SHARE", None)
    # mpirun refuses root and more ranks than cores unless told.
    env["OMPI_ALLOW_RUN_AS_ROOT"] = "1"
    env["OMPI_ALLOW_RUN_AS_ROOT_CONFIRM"] = "1"
    env["OMPI_MCA_rmaps_base_oversubscribe"] = "1"
    return env


def run_block(block, source, env):
    """The failures of one block, run in a directory of its own."""
    with tempfile.TemporaryDirectory(prefix="kernel_width_example.") as d:
        shutil.copytree(source / "examples", pathlib.Path(d) / "examples")
        if block.kind == "console":
            return run_console(block, env, d)
        if block.kind == "python":
            return run_script(block, [sys.executable], ".py", env, d)
        return run_script(block, ["Rscript"], ".R", env, d)


def main():
    source = pathlib.Path(sys.argv[1]).resolve()
    build = pathlib.Path(sys.argv[2]).resolve()
    python_path = str(pathlib.Path(sys.argv[3]).resolve()) \
        if len(sys.argv) > 3 and sys.argv[3] else ""
    have, r_library = available(source, build, python_path)
    env = environment(source, build, python_path, r_library)
    files = [source / "README.md"] + sorted((source / "doc").glob("*.md"))
    blocks = []
    for f in files:
        blocks += blocks_of(f, f.relative_to(source))
    runnable, skipped = [], {}
    for block in blocks:
        missing = needs(block) - have
        for m in missing:
            skipped[m] = skipped.get(m, 0) + 1
        if not missing:
            runnable.append(block)
    # Most of the time goes to starting processes (mpirun above all), so
    # the blocks run a few at a time, the slowest kinds first.
    slow = {"mpi": 0, "r": 1, "python": 2}
    first = sorted(range(len(runnable)), key=lambda k: min(
        [slow[m] for m in needs(runnable[k])] + [3]))
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        done = dict(zip(first, pool.map(
            lambda k: run_block(runnable[k], source, env), first)))
    results = [done[k] for k in range(len(runnable))]
    failed = 0
    for block, failures in zip(runnable, results):
        for f in failures:
            failed += 1
            print(f"{block.where()}: {block.kind} example:\n  {f}\n")
    ran = len(runnable)
    notes = {"mpi": "mpirun or the MPI programs", "python": "the Python module",
             "r": "R or the installed R package (make r-install)"}
    for m, count in sorted(skipped.items()):
        print(f"skipped {count} block(s) that need {notes[m]}")
    print(f"{ran} example block(s) run, {failed} failure(s)")
    return 1 if failed or ran == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
