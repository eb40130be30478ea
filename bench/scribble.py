"""Deterministic scribbles for the benchmarks: wandering strokes that cross and overlap."""

import math
import random


def scribble(seed, strokes, points, size=200.0, step=1.0, noise=0.3):
    rng = random.Random(seed)
    out = []
    for _ in range(strokes):
        x, y = rng.uniform(0, size), rng.uniform(0, size)
        a = rng.uniform(0, 2 * math.pi)
        curve = []
        for _ in range(points):
            a += rng.uniform(-noise, noise)
            x += step * math.cos(a)
            y += step * math.sin(a)
            curve.append((x, y))
        out.append(curve)
    return out
