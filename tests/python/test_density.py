"""density_centerline: streets many traces drove, decided locally against the busiest nearby."""

import os
import random
import subprocess
import sys

import linetopo
import pytest

CHILD = r"""
import random, sys
import linetopo
rng = random.Random(4)
traces = []
for y in (0.0, 40.0):
    for _ in range(20):
        off = rng.gauss(0, 8)
        traces.append([(x, y + off + rng.gauss(0, 2)) for x in range(0, 801, 20)])
print(repr(linetopo.density_centerline(traces, 25.0, compute_widths=True)))
"""


def noisy_street(rng, y, count, spread, length=1000.0, step=20.0):
    """`count` traces along y, each offset across by N(0, spread) and jittered by 2 m."""
    traces = []
    for _ in range(count):
        off = rng.gauss(0, spread)
        traces.append([(float(x), y + off + rng.gauss(0, 2))
                       for x in range(0, int(length) + 1, int(step))])
    return traces


def crossings(chains, x):
    """The heights at which the chains cross the vertical line at x."""
    ys = []
    for chain in chains:
        for (ax, ay), (bx, by) in zip(chain, chain[1:]):
            if (ax - x) * (bx - x) <= 0 and ax != bx:
                ys.append(ay + (x - ax) / (bx - ax) * (by - ay))
    return sorted(ys)


@pytest.mark.parametrize("quiet_y", [100.0, -120.0])
def test_a_quiet_street_beside_an_avenue_is_kept(quiet_y):
    rng = random.Random(1)
    traces = noisy_street(rng, 0.0, 50, 4.0) + noisy_street(rng, quiet_y, 1, 0.0)
    chains, _nodes, _ids, _widths = linetopo.density_centerline(traces, 25.0)
    ys = crossings(chains, 500.0)
    assert len(ys) == 2
    assert abs(ys[0] - min(0.0, quiet_y)) < 8 and abs(ys[1] - max(0.0, quiet_y)) < 8


def test_parallel_streets_stay_two_chains_without_loops():
    rng = random.Random(2)
    traces = noisy_street(rng, 0.0, 20, 8.0) + noisy_street(rng, 40.0, 20, 8.0)
    chains, _nodes, ids, _widths = linetopo.density_centerline(traces, 25.0)
    assert len(chains) == 2 and all(a != b for a, b in ids)
    for x in (100.0, 500.0, 900.0):
        low, high = crossings(chains, x)
        assert abs(low) < 8 and abs(high - 40) < 8


def test_a_trace_counts_once_however_often_it_loops():
    line = [(float(x), 0.0) for x in range(0, 501, 10)]
    looping = [p for _ in range(20) for p in (line + line[::-1])]
    # Road needs twice one trace's peak: twenty passes of one trace are still one trace.
    assert linetopo.density_centerline([looping], 25.0, relative=0, min_count=2)[0] == []
    three = [[(x, y + k) for x, y in line] for k in range(3)]
    assert len(linetopo.density_centerline(three, 25.0, relative=0, min_count=2)[0]) == 1


def test_a_raster_beyond_one_tile_runs_in_tiles_and_closes():
    # A square loop 10 km a side: about 4800 x 4800 cells, tiled and stitched into one ring.
    rng = random.Random(3)
    corners = [(0, 0), (10000, 0), (10000, 10000), (0, 10000), (0, 0)]
    traces = []
    for _ in range(5):
        loop = []
        for (ax, ay), (bx, by) in zip(corners, corners[1:]):
            for i in range(500):
                f = i / 500
                loop.append((ax + f * (bx - ax) + rng.gauss(0, 3), ay + f * (by - ay) + rng.gauss(0, 3)))
        traces.append(loop + [loop[0]])
    chains, nodes, ids, _widths = linetopo.density_centerline(traces, 25.0)
    assert len(chains) == 1 and ids == [(0, 0)] and len(nodes) == 1


@pytest.mark.parametrize("options, message", [
    ({"relative": 1.5}, "relative must be from 0 to 1, got 1.5"),
    ({"cell": 0}, "cell must be positive and finite, got 0"),
    ({"sigma": float("nan")}, "sigma must be at least 0 and finite, got NaN"),
    ({"min_count": -1}, "min_count must be at least 0 and finite, got -1"),
    ({"cell": 0.001}, "sigma and radius reach"),
    ({"sigma": 1e12}, "sigma and radius reach"),  # refused before any kernel is made
])
def test_options_out_of_range_are_refused(options, message):
    with pytest.raises(ValueError, match=message):
        linetopo.density_centerline([[(0, 0), (100, 0)]], 25.0, **options)


def test_the_cell_limit_is_refused_clearly(monkeypatch):
    monkeypatch.setenv("LINETOPO_MAX_DENSITY_CELLS", "1000")
    with pytest.raises(ValueError, match="more than the limit of 1000; give a larger cell, or "
                                         "set LINETOPO_MAX_DENSITY_CELLS"):
        linetopo.density_centerline([[(0, 0), (1000, 0)]], 25.0)
    monkeypatch.delenv("LINETOPO_MAX_DENSITY_CELLS")
    assert linetopo.density_centerline([], 25.0) == ([], [], [], [])


def test_one_thread_and_many_give_identical_results():
    def run(threads):
        env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON")}
        if threads:
            env["RAYON_NUM_THREADS"] = str(threads)
        return subprocess.run([sys.executable, "-c", CHILD], env=env, capture_output=True,
                              text=True, check=True).stdout
    assert run(1) == run(4)
