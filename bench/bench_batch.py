"""Batch speed-up: 64 jobs of moderate size on one worker thread against the default pool.

Run: scripts/in-env .venv/bin/python bench/bench_batch.py
Each pool size runs in its own process, because the pool is sized once per process.
"""

import os
import subprocess
import sys

CHILD = r"""
import sys, time
sys.path.insert(0, {here!r})
from scribble import scribble
from linetopo import topologize_batch
jobs = [(scribble(seed, strokes=8, points=150), 1.0, 1.0) + (None,) * 8 for seed in range(64)]
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
    code = CHILD.format(here=os.path.dirname(os.path.abspath(__file__)))
    return float(subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                                text=True, check=True).stdout)


if __name__ == "__main__":
    one = run(1)
    default = run(None)
    print(f"64 jobs: 1 thread {one * 1000:.0f} ms, default pool ({os.cpu_count()} CPUs) "
          f"{default * 1000:.0f} ms, speed-up {one / default:.2f}x")
