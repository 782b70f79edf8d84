"""Ctrl-C stops a running computation; the module stays usable."""

import os
import signal
import threading
import time

import numpy as np
import pytest

import kernel_width as kw

pytestmark = pytest.mark.skipif(
    not hasattr(signal, "SIGINT") or not hasattr(os, "kill")
    or threading.current_thread() is not threading.main_thread(),
    reason="SIGINT cannot be sent to this process here")


def interrupt_after(seconds, handler):
    """A timer thread that sends SIGINT to this process, with handler
    installed until the returned function restores the previous one."""
    previous = signal.signal(signal.SIGINT, handler)
    timer = threading.Timer(seconds, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()

    def restore():
        timer.join()
        signal.signal(signal.SIGINT, previous)

    return restore


@pytest.mark.parametrize("compute", [kw.form_statistics,
                                     kw.labelled_statistics])
def test_ctrl_c_raises_keyboard_interrupt(compute):
    x = np.random.default_rng(2).normal(size=(80_000, 16))
    # The same computation on a quarter of the samples does 1/16 of the
    # work: the whole one takes about 16 times as long.
    start = time.monotonic()
    small = compute(x[:20_000], threads=2)
    whole = 16 * (time.monotonic() - start)

    # Well before the end, so that the signal never comes after it.
    restore = interrupt_after(min(0.5, whole / 4), signal.default_int_handler)
    start = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            compute(x, threads=2)
    finally:
        restore()
    assert time.monotonic() - start < 0.5 + whole / 2

    # Usable afterwards, and the same numbers as before.
    assert compute(x[:20_000], threads=2) == small


def test_a_handler_that_does_not_raise_lets_the_computation_finish():
    x = np.random.default_rng(3).normal(size=(8_000, 16))
    want = kw.form_statistics(x, threads=1)
    calls = []
    restore = interrupt_after(0.02, lambda number, frame: calls.append(number))
    try:
        got = kw.form_statistics(x, threads=1)
    finally:
        restore()
    assert got == want
    assert calls == [signal.SIGINT]


@pytest.fixture(scope="module")
def fast_selection():
    """60,000 samples of 16 values, skipping when the selection's passes
    over the pairs are not there yet: a plain sort of every distance would
    take minutes on them."""
    x = np.random.default_rng(5).normal(size=(60_000, 16))
    start = time.monotonic()
    kw.median_statistics(x[:5_000], threads=2)
    took = time.monotonic() - start
    if took > 2.0:
        pytest.skip("a median of 5,000 samples took %.1f s: needs the fast "
                    "selection" % took)
    return x


@pytest.mark.parametrize("compute", [
    lambda x: kw.median_statistics(x, threads=2),
    lambda x: kw.distance_quantiles(x, [0.1, 0.5, 0.9], threads=2),
    lambda x: kw.median_width(x, Y=x[::-1], cross=True, threads=2),
])
def test_ctrl_c_stops_a_selection(compute, fast_selection):
    x = fast_selection
    start = time.monotonic()
    small = compute(x[:5_000])
    whole = 144 * (time.monotonic() - start)  # 144 times the pairs

    # Well before the end, so that the signal never comes after it.
    restore = interrupt_after(min(0.5, whole / 4), signal.default_int_handler)
    start = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            compute(x)
    finally:
        restore()
    assert time.monotonic() - start < 0.5 + max(whole / 2, 0.5)
    assert np.array_equal(compute(x[:5_000]), small)
