"""Results do not depend on the size of the worker pool."""

import os
import subprocess
import sys

CHILD = r"""
import math, random, sys
from linetopo import topologize
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
print(repr(topologize(curves, 1.0, 1.0, compute_widths=True)))
"""


def run(threads):
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON")}
    if threads:
        env["RAYON_NUM_THREADS"] = str(threads)
    return subprocess.run([sys.executable, "-c", CHILD], env=env, capture_output=True,
                          text=True, check=True).stdout


def test_one_thread_and_many_give_identical_results():
    one = run(1)
    assert one == run(4)
    assert one == run(None)
