"""Results do not depend on the size of the worker pool."""

import os
import subprocess
import sys

import pytest

CHILD = r"""
import math, random, sys
from linetopo import inflate_curves, topologize, topologize_polygons
rng = random.Random(7)
curves = []
for _ in range(120):
    x, y, a = rng.uniform(0, 150), rng.uniform(0, 150), rng.uniform(0, 6.3)
    curve = []
    for _ in range(40):
        a += rng.uniform(-0.3, 0.3)
        x, y = x + math.cos(a), y + math.sin(a)
        curve.append((x, y))
    curves.append(curve)
# One curve long enough to be offset in pieces.
curves.append([(200 + 0.05 * i, 20 * math.sin(0.01 * i)) for i in range(3000)])
if sys.argv[1] == "dense":  # ink over most of its square: united in strips, triangulated in strips
    curves = []
    for _ in range(1400):
        x, y, a = rng.uniform(0, 530), rng.uniform(0, 530), rng.uniform(0, 6.3)
        curve = []
        for _ in range(50):
            curve.append((x, y))
            a += rng.gauss(0, 0.15)
            x, y = x + math.cos(a), y + math.sin(a)
        curves.append(curve)
    print(repr(topologize(curves, 1.5, 3.0)))
elif sys.argv[1] == "nested":  # rings in each other's holes, in two groups: united apart
    curves = [[(x + 5 * k * math.cos(i / 100), 5 * k * math.sin(i / 100)) for i in range(629)]
              for k in range(1, 25) for x in (0, 300)]
    polygons = inflate_curves(curves, 1.5, 3.0)
    print(repr(topologize(curves, 1.5, 3.0)), repr(topologize_polygons(polygons, 3.0)))
else:
    print(repr(topologize(curves, 1.0, 1.0, compute_widths=True)))
"""


def run(threads, kind):
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON")}
    if threads:
        env["RAYON_NUM_THREADS"] = str(threads)
    return subprocess.run([sys.executable, "-c", CHILD, kind], env=env, capture_output=True,
                          text=True, check=True).stdout


@pytest.mark.parametrize("kind", ["sparse", "dense", "nested"])
def test_one_thread_and_many_give_identical_results(kind):
    one = run(1, kind)
    assert one == run(4, kind)
    assert one == run(None, kind)
