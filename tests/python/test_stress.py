"""Many threads at once and many calls in a row: the same results as one at a time, and memory that
stays flat."""

import math
import os
import threading
from concurrent.futures import ThreadPoolExecutor

import pytest
from drawings import cross, tee
from linetopo import (
    inflate_curves,
    strokes,
    topologize,
    topologize_batch,
    triangulate_curves,
)
from linetopo._generators import scribble


def at_once(calls):
    """The results of the calls, each in its own thread, all released together."""
    start = threading.Barrier(len(calls))

    def run(call):
        start.wait()
        return call()

    with ThreadPoolExecutor(len(calls)) as pool:
        return list(pool.map(run, calls))


INPUTS = [scribble(seed, strokes=5, points=40) for seed in range(16)]


def test_sixteen_threads_agree_with_serial_calls():
    serial = [topologize(c, 1.0, 1.0, compute_widths=True) for c in INPUTS]
    repeat = lambda c: [topologize(c, 1.0, 1.0, compute_widths=True) for _ in range(3)]  # noqa: E731
    assert at_once([lambda c=c: repeat(c) for c in INPUTS]) == [[r] * 3 for r in serial]


def test_four_threads_of_batches_agree_with_a_serial_batch():
    jobs = [(c, 1.0, 1.0) + (None,) * 8 for c in INPUTS]
    serial = topologize_batch(jobs)
    rotated = [jobs[k:] + jobs[:k] for k in (0, 4, 8, 12)]
    assert at_once([lambda j=j: topologize_batch(j) for j in rotated]) == [serial[k:] + serial[:k]
                                                                           for k in (0, 4, 8, 12)]


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


class ShortSequence:
    """Claims three items and has none."""

    def __len__(self):
        return 3

    def __getitem__(self, i):
        raise IndexError(i)


def failing(exception, call, *args, **kwargs):
    def run():
        with pytest.raises(exception):
            call(*args, **kwargs)
    return run


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer holds freed memory in quarantine")
def test_ten_thousand_calls_keep_memory_flat():
    small = cross(n=8)
    chains, nodes, ids, _ = topologize(small, 1.0, 1.0)
    job = (small, 1.0, 1.0) + (None,) * 8
    # Every entry point, on its result and on its error paths.
    calls = [
        lambda: topologize(small, 1.0, 1.0, compute_widths=True),
        failing(ValueError, topologize, [[(0.0, 0.0), (math.nan, 1.0)]], 1.0, 1.0),
        failing(TypeError, topologize, [[(0.0, 0.0), [1.0, 1.0]]], 1.0, 1.0),
        failing(IndexError, topologize, ShortSequence(), 1.0, 1.0),
        lambda: topologize_batch([job, (tee(), 1.0, 1.0) + (None,) * 8]),
        failing(ValueError, topologize_batch, [job[:6] + (0,) + job[7:]]),  # max_nodes=0
        lambda: inflate_curves(small, 1.0, 1.0),
        lambda: triangulate_curves(small, 1.0, 1.0),
        lambda: strokes(chains, nodes, ids),
        failing(ValueError, strokes, chains, nodes, ids, max_turn=math.nan),
    ]
    for i in range(1000):  # warm up the allocators first
        calls[i % len(calls)]()
    before = resident_bytes()
    for i in range(10_000):
        calls[i % len(calls)]()
    # A leak of one result, curve copy or exception per call would add megabytes.
    assert resident_bytes() - before < 1 << 20
