"""A small hand-drawn-looking sample: the word "Ate" written with over-drawn, wobbly strokes."""

from __future__ import annotations

import math
import random

Point = tuple[float, float]

# The strokes are about 100 units tall; this scale gives centerlines free of spurs on them.
SAMPLE_FEATURE_SIZE = 8.0
SAMPLE_BUFFER = SAMPLE_FEATURE_SIZE / 2

_STEP = 2.0  # spacing of the drawn points, like a pen sampled at a steady rate


def _ideal_strokes() -> list[tuple[list[Point], int]]:
    """The clean pen paths with how many times each is traced over."""
    cx, cy, r = 215.0, 38.0, 32.0
    # The "e": its bar, then round counter-clockwise past the bar's start, stopping short of it.
    e_arc = [
        (cx + r * math.cos(math.radians(a)), cy + r * math.sin(math.radians(a)))
        for a in range(0, 321, 10)
    ]
    return [
        ([(0.0, 0.0), (40.0, 100.0), (80.0, 0.0)], 3),  # "A" legs: a loop with the bar below
        ([(16.0, 40.0), (64.0, 40.0)], 3),  # "A" bar: two T-junctions
        ([(130.0, 100.0), (130.0, 0.0)], 2),  # "t" stem
        ([(108.0, 65.0), (152.0, 65.0)], 2),  # "t" cross: a junction of degree 4
        ([(cx - r, cy)] + e_arc, 3),  # "e": a loop, a junction and a tail
    ]


def _walk(path: list[Point], s: float) -> tuple[Point, Point]:
    """Position and unit tangent at arc length s along a polyline (clamped to its ends)."""
    for (ax, ay), (bx, by) in zip(path, path[1:]):
        length = math.hypot(bx - ax, by - ay)
        if length == 0:
            continue
        if s <= length:
            t = max(s, 0.0) / length
            return (ax + t * (bx - ax), ay + t * (by - ay)), ((bx - ax) / length, (by - ay) / length)
        s -= length
    (ax, ay), (bx, by) = path[-2], path[-1]
    length = math.hypot(bx - ax, by - ay) or 1.0
    return (bx, by), ((bx - ax) / length, (by - ay) / length)


def _trace(path: list[Point], rng: random.Random) -> list[Point]:
    """One pass of the pen: shifted a little, wobbling sideways, ends not quite where meant."""
    total = sum(math.hypot(bx - ax, by - ay) for (ax, ay), (bx, by) in zip(path, path[1:]))
    start, end = rng.uniform(0.0, 2.5), total - rng.uniform(0.0, 2.5)
    shift_x, shift_y = rng.uniform(-1.5, 1.5), rng.uniform(-1.5, 1.5)
    waves = [
        (rng.uniform(0.3, 1.0), rng.uniform(30.0, 80.0), rng.uniform(0.0, 2 * math.pi))
        for _ in range(2)
    ]
    count = max(1, round((end - start) / _STEP))
    points: list[Point] = []
    for k in range(count + 1):
        s = start + (end - start) * k / count
        (x, y), (tx, ty) = _walk(path, s)
        side = sum(a * math.sin(2 * math.pi * s / wavelength + phase)
                   for a, wavelength, phase in waves)
        x += shift_x - ty * side + rng.gauss(0.0, 0.25)
        y += shift_y + tx * side + rng.gauss(0.0, 0.25)
        # Rounding keeps the sample identical wherever the last bit of sin() differs.
        points.append((round(x, 3), round(y, 3)))
    return points


def sample_curves(seed: int = 2024) -> list[list[Point]]:
    """Returns the sample's curves; the same seed always gives the same drawing."""
    rng = random.Random(seed)
    return [_trace(path, rng) for path, passes in _ideal_strokes() for _ in range(passes)]
