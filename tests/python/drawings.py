"""Small curve sets shared by the Python tests."""

import math


def stroke(x0, y0, x1, y1, n=20):
    return [(x0 + (x1 - x0) * i / (n - 1), y0 + (y1 - y0) * i / (n - 1)) for i in range(n)]


def cross():
    """Two strokes crossing at the origin: one junction of degree 4."""
    return [stroke(-10, 0, 10, 0), stroke(0, -10, 0, 10)]


def circle(r=10.0, n=64, cx=0.0, cy=0.0):
    pts = [(cx + r * math.cos(2 * math.pi * i / n), cy + r * math.sin(2 * math.pi * i / n)) for i in range(n)]
    return pts + [pts[0]]


def tee():
    return [stroke(-10, 0, 10, 0), stroke(0, 0, 0, 10)]


def scribble(seed, strokes=6, points=40, size=50.0):
    """Deterministic wandering strokes."""
    import random

    rng = random.Random(seed)
    out = []
    for _ in range(strokes):
        x, y = rng.uniform(0, size), rng.uniform(0, size)
        a = rng.uniform(0, 2 * math.pi)
        curve = []
        for _ in range(points):
            a += rng.uniform(-0.4, 0.4)
            x += math.cos(a)
            y += math.sin(a)
            curve.append((x, y))
        out.append(curve)
    return out
