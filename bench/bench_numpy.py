"""Conversion cost of one million points given as an (n, 2) array against a list of tuples.

Run: .venv/bin/python bench/bench_numpy.py
inflate_curves with a negative feature_size fails right after conversion, so the timing is the
conversion alone.
"""

import time

import numpy as np
from linetopo import inflate_curves

N = 1_000_000


def convert_time(curves, repeat=5):
    best = float("inf")
    for _ in range(repeat):
        t = time.perf_counter()
        try:
            inflate_curves(curves, 1.0, -1.0)
        except ValueError:
            pass
        best = min(best, time.perf_counter() - t)
    return best


if __name__ == "__main__":
    rng = np.random.default_rng(1)
    array = rng.random((N, 2)) * 1000.0
    tuples = [tuple(p) for p in array.tolist()]
    strided = np.zeros((N, 4))
    strided[:, ::2] = array
    t_array = convert_time([array])
    t_strided = convert_time([strided[:, ::2]])
    t_tuples = convert_time([tuples])
    print(f"1M points: tuples {t_tuples * 1000:.1f} ms, array {t_array * 1000:.1f} ms, "
          f"strided array {t_strided * 1000:.1f} ms; array is {t_tuples / t_array:.1f}x faster")
