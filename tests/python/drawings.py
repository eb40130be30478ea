"""Small curve sets and helpers shared by the Python tests."""

import math
from concurrent.futures import ThreadPoolExecutor


def stroke(x0, y0, x1, y1, n=20):
    return [(x0 + (x1 - x0) * i / (n - 1), y0 + (y1 - y0) * i / (n - 1)) for i in range(n)]


def cross(size=10.0, n=20, ox=0.0, oy=0.0):
    """Two strokes crossing at (ox, oy): one junction of degree 4."""
    return [stroke(ox - size, oy, ox + size, oy, n), stroke(ox, oy - size, ox, oy + size, n)]


def tee():
    return [stroke(-10, 0, 10, 0), stroke(0, 0, 0, 10)]


def circle(r=10.0, n=64):
    pts = [(r * math.cos(2 * math.pi * i / n), r * math.sin(2 * math.pi * i / n)) for i in range(n)]
    return pts + [pts[0]]


def in_threads(fn, count):
    """Results of `fn()` called at once from `count` Python threads."""
    with ThreadPoolExecutor(count) as pool:
        futures = [pool.submit(fn) for _ in range(count)]
    return [f.result() for f in futures]
