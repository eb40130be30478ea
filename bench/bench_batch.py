"""Batch speed-up: 32 jobs of 4k random-walk points on one worker thread against two.

Run: .venv/bin/python bench/bench_batch.py
Each pool size runs in its own process, because the pool is sized once per process.
"""

import os
import subprocess
import sys

CHILD = r"""
import time
from linetopo import topologize_batch
from linetopo._generators import random_walks
jobs = []
for seed in range(32):
    curves, r, fs = random_walks(4000, seed=seed)
    jobs.append((curves, r, fs) + (None,) * 8)
topologize_batch(jobs[:2])  # warm the pool
best = float("inf")
for _ in range(3):
    t = time.perf_counter()
    topologize_batch(jobs)
    best = min(best, time.perf_counter() - t)
print(best)
"""


def run(threads):
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON")}
    if threads:
        env["RAYON_NUM_THREADS"] = str(threads)
    return float(subprocess.run([sys.executable, "-c", CHILD], env=env, capture_output=True,
                                text=True, check=True).stdout)


if __name__ == "__main__":
    one = run(1)
    two = run(2)
    print(f"32 jobs of 4k random-walk points: 1 thread {one * 1000:.0f} ms, 2 threads "
          f"{two * 1000:.0f} ms, speed-up {one / two:.2f}x")
