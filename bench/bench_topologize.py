"""Where one topologize call on about 100k input points spends its time, seen from Python.

Run: .venv/bin/python bench/bench_topologize.py
Conversion is timed with inflate_curves and a negative feature_size, which fails right after the
curves are converted. The C++ stage split comes from bench_pipeline when it is built (pass its
path as the first argument, default build/bench/bench/bench_pipeline).
"""

import os
import subprocess
import sys
import time

from linetopo import inflate_curves, topologize
from linetopo._generators import scribble

STROKES, POINTS, SIZE = 100, 1000, 400.0


def best_of(fn, repeat=3):
    best = float("inf")
    for _ in range(repeat):
        t = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t)
    return best


def convert_only(curves):
    try:
        inflate_curves(curves, 1.0, -1.0)
    except ValueError:
        return
    raise AssertionError("inflate_curves accepted a negative feature_size")


def main():
    curves = scribble(1, STROKES, POINTS, size=SIZE, noise=0.3)
    n = sum(len(c) for c in curves)
    rows = [("conversion (list of tuples)", best_of(lambda: convert_only(curves)))]
    try:
        import numpy as np

        arrays = [np.asarray(c, dtype=float) for c in curves]
        rows.append(("conversion (numpy arrays)", best_of(lambda: convert_only(arrays))))
    except ImportError:
        pass
    result = []
    rows.append(("topologize", best_of(lambda: result.append(topologize(curves, 1.0, 1.0)))))
    rows.append(("topologize, compute_widths",
                 best_of(lambda: topologize(curves, 1.0, 1.0, compute_widths=True))))
    chains = result[-1][0]

    print(f"{STROKES} strokes x {POINTS} points = {n} points, buffer 1, feature 1, best of 3; "
          f"{len(chains)} chains")
    total = dict(rows)["topologize"]
    for name, seconds in rows:
        print(f"  {name:<30} {seconds * 1000:9.1f} ms  {100 * seconds / total:5.1f}% of topologize")

    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "bench",
                           "bench", "bench_pipeline")
    program = sys.argv[1] if len(sys.argv) > 1 else default
    if os.access(program, os.X_OK):
        # 200 strokes of 500 points: the same 100k input size, drawn by the C++ scribble.
        out = subprocess.run([program, "200"], capture_output=True, text=True, check=True).stdout
        print("C++ stage split (bench_pipeline 200):")
        print(out.rstrip())
    else:
        print(f"(no C++ stage split: {program} is not built)")


if __name__ == "__main__":
    main()
