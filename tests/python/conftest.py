"""A watchdog for every test: a test still running after its time (a
computation that never ends, a child process that waits forever) ends the
run with every thread's traceback instead of stalling it. It runs on a
thread of its own, so it fires inside the C++ core too. pip's build of the
package compiles the core, and has longer."""

import faulthandler

import pytest

SECONDS = 60
BUILD_SECONDS = 900


@pytest.fixture(autouse=True)
def watchdog(request):
    builds = request.node.get_closest_marker("builds_the_core") is not None
    faulthandler.dump_traceback_later(BUILD_SECONDS if builds else SECONDS,
                                      exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "builds_the_core: compiles the C++ core (a longer watchdog)")
