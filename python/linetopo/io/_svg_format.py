"""The numbers of the SVG files we write: the frame round the data and coordinates written with y
flipped, shared by the centerline writer and the picture of a run in :mod:`linetopo.io.svg`."""

from __future__ import annotations

import math
from typing import Iterable, Sequence

Point = tuple[float, float]
Box = tuple[float, float, float, float]


def fit(point_sets: Iterable[Iterable[Sequence[float]]]) -> tuple[Box, float]:
    """The box round every point, ``(0, 0, 1, 1)`` without any, and its larger side: the extent
    that margins, line widths and decimals are taken from."""
    xs: list[float] = []
    ys: list[float] = []
    for points in point_sets:
        for p in points:
            xs.append(p[0])
            ys.append(p[1])
    box = (min(xs), min(ys), max(xs), max(ys)) if xs else (0.0, 0.0, 1.0, 1.0)
    extent = max(box[2] - box[0], box[3] - box[1])
    if not extent > 0:
        extent = max(abs(box[0]), abs(box[1]), 1.0)  # one point only: any sensible frame will do
    return box, extent


class Formatter:
    """Writes coordinates with the y axis flipped and as many decimals as the extent needs."""

    def __init__(self, extent: float) -> None:
        # About five significant digits relative to the drawing keeps files small yet sharp.
        self.decimals = max(0, min(12, 5 - math.floor(math.log10(extent))))

    def num(self, v: float) -> str:
        text = f"{v:.{self.decimals}f}"
        if "." in text:
            text = text.rstrip("0").rstrip(".")
        return "0" if text in ("-0", "") else text

    def xy(self, p: Point) -> str:
        return f"{self.num(p[0])},{self.num(-p[1])}"

    def path(self, points: Sequence[Point], closed: bool) -> str:
        if len(points) == 0:  # also (n, 2) arrays
            return ""
        tail = " Z" if closed else ""
        return "M" + " L".join(self.xy(p) for p in points) + tail
