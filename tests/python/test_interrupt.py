"""Ctrl-C stops a long topologize_batch between jobs with KeyboardInterrupt."""

import os
import signal
import subprocess
import sys
import time

from drawings import scribble
from linetopo import topologize_batch

CHILD = """
import signal, sys, time
sys.path.insert(0, {here!r})
from test_interrupt import jobs
from linetopo import topologize_batch
signal.signal(signal.SIGINT, signal.default_int_handler)  # even when started with SIGINT ignored
work = jobs({count})
print("ready", flush=True)
try:
    topologize_batch(work)
    print("finished")
except KeyboardInterrupt:
    print("interrupted")
"""


def jobs(count):
    return [(scribble(seed, strokes=20, points=60), 1.0, 1.0) + (None,) * 8 for seed in range(count)]


def timed_batch(count):
    work = jobs(count)
    start = time.monotonic()
    topologize_batch(work)
    return time.monotonic() - start


def test_ctrl_c_stops_a_long_batch_between_jobs():
    # About three seconds of jobs on this machine, timed here in full for comparison.
    count = max(20, round(20 * 3.0 / timed_batch(20)))
    full = timed_batch(count)
    child = subprocess.Popen([sys.executable, "-c", CHILD.format(here=os.path.dirname(__file__), count=count)],
                             stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "ready\n"
    time.sleep(1.0)
    child.send_signal(signal.SIGINT)
    sent = time.monotonic()
    out, _ = child.communicate(timeout=60)
    stopped = time.monotonic() - sent
    assert out == "interrupted\n" and child.returncode == 0
    # Left alone it would have run about `full - 1` seconds more; each job takes a few tens of ms.
    assert stopped < (full - 1.0) / 3, (stopped, full)
