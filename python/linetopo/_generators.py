"""Generated inputs at any size for the tests and the benchmarks, deterministic in their seeds.

Every generator but ``scribble`` returns a list of curves (lists of (x, y)) with about ``points``
points in all, together with the buffer and feature size that suit it. Benchmark figures and test
expectations were taken on these very curves: a change that alters one random draw changes them.
"""

from __future__ import annotations

import math
import random
from typing import Callable

Point = tuple[float, float]
Curve = list[Point]
Generated = tuple[list[Curve], float, float]


def _wander(rng: random.Random, side: float, steps: int, step: float,
            turn: Callable[[], float]) -> Curve:
    """A start and a heading drawn in a square of ``side``, then ``steps`` steps of ``step``, each
    after turning by ``turn()``: ``steps + 1`` positions."""
    x, y, a = rng.uniform(0, side), rng.uniform(0, side), rng.uniform(0, 2 * math.pi)
    path = [(x, y)]
    for _ in range(steps):
        a += turn()
        x += step * math.cos(a)
        y += step * math.sin(a)
        path.append((x, y))
    return path


def scribble(seed: int, strokes: int = 6, points: int = 40, size: float = 50.0, step: float = 1.0,
             noise: float = 0.4) -> list[Curve]:
    """Wandering strokes that cross and overlap: ``points`` points each (the start left out),
    the heading turning by up to ``noise`` radians per step."""
    rng = random.Random(seed)
    return [_wander(rng, size, points, step, lambda: rng.uniform(-noise, noise))[1:]
            for _ in range(strokes)]


def random_walks(points: int, seed: int = 1, length: int = 50, step: float = 1.0,
                 noise: float = 0.15) -> Generated:
    """Strokes of `length` points whose heading wanders by up to `noise` radians per step,
    spread so that the density of ink stays the same at every size."""
    count = max(1, points // length)
    side = 5.0 * math.sqrt(count * length)
    return scribble(seed, count, length, size=side, step=step, noise=noise), 1.5, 3.0


def drawing(points: int, seed: int = 2, length: int = 40) -> Generated:
    """Short smooth strokes, each drawn again two to four times with a small wobble, as a pen
    goes over the same line."""
    rng = random.Random(seed)
    out: list[Curve] = []
    total = 0
    shapes = max(1, points // (3 * length))
    side = 9.0 * math.sqrt(shapes * length)
    while total < points:
        x, y = rng.uniform(0, side), rng.uniform(0, side)
        a, bend = rng.uniform(0, 2 * math.pi), rng.uniform(-0.08, 0.08)
        base: Curve = []
        for _ in range(length):
            a += bend
            x += 1.5 * math.cos(a)
            y += 1.5 * math.sin(a)
            base.append((x, y))
        for _ in range(rng.randint(2, 4)):
            dx, dy = rng.gauss(0, 0.3), rng.gauss(0, 0.3)
            curve = [(px + dx + rng.gauss(0, 0.15), py + dy + rng.gauss(0, 0.15))
                     for px, py in base]
            if rng.random() < 0.5:
                curve.reverse()
            out.append(curve)
            total += len(curve)
    return out, 1.5, 3.0


def gps(points: int, seed: int = 3, across: float = 5000.0, block: float = 150.0,
        origin: Point = (446000.0, 4636000.0)) -> Generated:
    """GPS-like traces at UTM-sized coordinates: a jittered street grid about `across` metres
    wide, routes of random turns along it, a fix every 20-40 m with 5-10 m of noise."""
    rng = random.Random(seed)
    n = int(across / block) + 1
    ox, oy = origin
    grid = [[(ox + i * block + rng.uniform(-25, 25), oy + j * block + rng.uniform(-25, 25))
             for j in range(n)] for i in range(n)]
    out: list[Curve] = []
    total = 0
    while total < points:
        i, j = rng.randrange(n), rng.randrange(n)
        di, dj = rng.choice(((1, 0), (-1, 0), (0, 1), (0, -1)))
        noise = rng.uniform(5, 10)
        trace: Curve = []
        x, y = grid[i][j]
        carry = 0.0
        while len(trace) < 130:
            if rng.random() < 0.3:
                di, dj = rng.choice(((dj, di), (-dj, -di)))
            ni, nj = i + di, j + dj
            if not (0 <= ni < n and 0 <= nj < n):
                di, dj = -di, -dj
                continue
            tx, ty = grid[ni][nj]
            seg = math.hypot(tx - x, ty - y)
            s = carry
            while s < seg and len(trace) < 130:
                f = s / seg
                trace.append((x + f * (tx - x) + rng.gauss(0, noise),
                              y + f * (ty - y) + rng.gauss(0, noise)))
                s += rng.uniform(20, 40)
            carry = s - seg
            i, j, x, y = ni, nj, tx, ty
        out.append(trace)
        total += len(trace)
    return out, 12.0, 25.0


def dense(points: int, seed: int = 1, length: int = 50, step: float = 1.0,
          noise: float = 0.15) -> Generated:
    """Random walks four times denser than `random_walks`: the ink covers most of the area, so
    the union is one polygon with thousands of holes. Each stroke keeps its start, not its last
    step."""
    rng = random.Random(seed)
    count = max(1, points // length)
    side = math.sqrt(points) * step * 2.0
    strokes = [_wander(rng, side, length, step, lambda: rng.gauss(0, noise))[:-1]
               for _ in range(count)]
    return strokes, 1.5, 3.0


def segments(points: int, seed: int = 7, spacing: float = 20.0) -> Generated:
    """Scattered straight two-point segments 2 to 10 long, one per spacing² of area on average,
    as many GIS layers hold: most buffers lie alone, a few cross."""
    rng = random.Random(seed)
    count = max(1, points // 2)
    side = math.sqrt(count) * spacing
    curves = []
    for _ in range(count):
        x, y = rng.uniform(0, side), rng.uniform(0, side)
        a, length = rng.uniform(0, 2 * math.pi), rng.uniform(2, 10)
        curves.append([(x, y), (x + length * math.cos(a), y + length * math.sin(a))])
    return curves, 1.0, 2.0


def random_polylines(count: int = 300, length: int = 40, side: float = 3000.0,
                     seed: int = 4) -> Generated:
    """Long straight-edged polylines between random points of a square: a dense arrangement."""
    rng = random.Random(seed)
    curves = [[(rng.uniform(0, side), rng.uniform(0, side)) for _ in range(length)]
              for _ in range(count)]
    return curves, 3.0, 2.0


def spiral(points: int = 200_000) -> Generated:
    """One long curve whose turns nearly touch: r = 1 + 0.02 a."""
    curve = []
    for i in range(points):
        a = 0.01 * i
        r = 1.0 + 0.02 * a
        curve.append((r * math.cos(a), r * math.sin(a)))
    return [curve], 0.05, 0.1


def concentric(rings: int, points: int = 1000) -> Generated:
    """Closed circles of radius 5, 10, ... 5 ``rings``, of ``points`` points each: at radius 1.5
    each buffer is an annulus in the hole of the next, so the answer is one loop per circle."""
    turn = 2 * math.pi / points
    return [[(5 * k * math.cos(turn * i), 5 * k * math.sin(turn * i)) for i in range(points + 1)]
            for k in range(1, rings + 1)], 1.5, 3.0


def row(scribbles: int, upright: bool = False) -> Generated:
    """Densely inked 60 x 60 scribbles side by side in a row (or one above the other): each
    scanline of a sweep along the row crosses all of them."""
    curves = []
    for i in range(scribbles):
        for c in scribble(i, strokes=30, points=60, size=60.0):
            points = [(x + 62.0 * i, y) for x, y in c]
            curves.append([(y, x) for x, y in points] if upright else points)
    return curves, 1.0, 1.0


# The inputs that take any size, by the names the scale benchmark gives them.
SCALED: dict[str, Callable[..., Generated]] = {
    "random walks": random_walks, "drawing": drawing, "gps": gps, "dense": dense,
    "segments": segments}
