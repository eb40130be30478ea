"""Ctrl-C stops a long topologize_batch between jobs, a long topologize_tiled between tiles,
inflate_curves and triangulate_curves inside their stages, and fit_curves between pieces, with
KeyboardInterrupt."""

import os
import signal
import subprocess
import sys
import time

import pytest
from linetopo import (
    fit_curves,
    inflate_curves,
    topologize_batch,
    topologize_tiled,
    triangulate_curves,
)
from linetopo._generators import scribble

CHILD = """
import signal, sys, time
sys.path.insert(0, {here!r})
from test_interrupt import run
signal.signal(signal.SIGINT, signal.default_int_handler)  # even when started with SIGINT ignored
work = run({call!r}, {count})
print("ready", flush=True)
try:
    work()
    print("finished")
except KeyboardInterrupt:
    print("interrupted")
"""


def jobs(count):
    return [(scribble(seed, strokes=20, points=60), 1.0, 1.0) + (None,) * 8 for seed in range(count)]


def run(call, count):
    """A call of about `count` scribbles' work, ready to start."""
    if call == "batch":
        work = jobs(count)
        return lambda: topologize_batch(work)
    # One scribble per 60 x 60 tile, in a row for the tiles. The single calls take them in a square:
    # in a long row the union's last sweep crosses every scribble on each scanline, one step that
    # grows with the square of the row's length and that no check can enter.
    side = 1 if call == "tiled" else max(1, round(count ** 0.5))
    curves = [[(x + 60 * (seed // side), y + 60 * (seed % side)) for x, y in c]
              for seed in range(count) for c in scribble(seed, strokes=20, points=60)]
    if call == "inflate":
        return lambda: inflate_curves(curves, 1.0, 1.0)
    if call == "triangulate":
        return lambda: triangulate_curves(curves, 1.0, 1.0)
    if call == "fit":  # the scribbles as one long chain
        chain = [p for c in curves for p in c]
        return lambda: fit_curves(chain, 1.0)
    return lambda: topologize_tiled(curves, 1.0, 1.0, tile_size=60.0)


def timed(call, count):
    work = run(call, count)
    start = time.monotonic()
    work()
    return time.monotonic() - start


@pytest.mark.parametrize("call", ["batch", "tiled", "inflate", "triangulate", "fit"])
def test_ctrl_c_stops_a_long_run_between_jobs_or_tiles(call):
    # About three seconds of work on this machine, timed here in full for comparison; the cost per
    # scribble falls as more of them fill the pool, so the count is scaled again once.
    count = max(20, round(20 * 3.0 / timed(call, 20)))
    full = timed(call, count)
    # Under the sanitizers and on a loaded machine the first timing runs short; a run of at least
    # 2.5 s leaves the interrupt's deadline clear of scheduling noise.
    for _ in range(3):
        if full >= 2.5:
            break
        count = round(count * 3.0 / full)
        full = timed(call, count)
    child = subprocess.Popen([sys.executable, "-c", CHILD.format(here=os.path.dirname(__file__), call=call,
                                                                 count=count)],
                             stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "ready\n"
    time.sleep(1.0)
    child.send_signal(signal.SIGINT)
    sent = time.monotonic()
    out, _ = child.communicate(timeout=60)
    stopped = time.monotonic() - sent
    assert out == "interrupted\n" and child.returncode == 0
    # Left alone it would have run about `full - 1` seconds more; each job or tile takes a few
    # tens of ms.
    assert stopped < (full - 1.0) / 3, (stopped, full)
