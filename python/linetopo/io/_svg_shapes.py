"""SVG shapes as polylines: curved segments flattened within a tolerance, and closed subpaths of
filled shapes sorted into polygons."""

from __future__ import annotations

import math
from typing import Any

from .._extras import require


def _pieces(segment: Any, tolerance: float, svgelements: Any) -> int:
    """How many equal parameter steps keep the chords within ``tolerance`` of a curved segment."""
    def size(p: Any) -> float:
        return math.hypot(p.x, p.y)

    if isinstance(segment, svgelements.QuadraticBezier):
        # Chord error over a step h is at most max|B''| h² / 8.
        bend = 2 * size(segment.start - 2 * segment.control + segment.end)
    elif isinstance(segment, svgelements.CubicBezier):
        bend = 6 * max(size(segment.start - 2 * segment.control1 + segment.control2),
                       size(segment.control1 - 2 * segment.control2 + segment.end))
    else:
        # An arc is c + u cos t + v sin t, with |second derivative| <= sqrt(|u|² + |v|²).
        u, v = segment.prx - segment.center, segment.pry - segment.center
        radius = math.hypot(size(u), size(v))
        if not radius > 0:
            return 1
        x = tolerance / radius
        # Near 0, acos(1 - x) is sqrt(2x); 1 - x itself would round to 1 for a huge radius.
        step = 2 * math.acos(max(-1.0, 1 - x)) if x > 1e-8 else 2 * math.sqrt(2 * x)
        return max(1, math.ceil(abs(segment.sweep) / step))
    return max(1, math.ceil(math.sqrt(bend / (8 * tolerance))))


def flatten(path: Any, tolerance: float) -> list[Any]:
    np = require("numpy", "reading SVG")
    svgelements = require("svgelements", "reading SVG")
    curves: list[Any] = []
    pieces: list[Any] = []
    for segment in path:
        if isinstance(segment, svgelements.Move):
            if pieces:
                curves.append(np.concatenate(pieces))
            pieces = [np.array([[segment.end.x, segment.end.y]], dtype=float)]
        elif isinstance(segment, (svgelements.Line, svgelements.Close)):
            pieces.append(np.array([[segment.end.x, segment.end.y]], dtype=float))
        elif isinstance(segment, (svgelements.QuadraticBezier, svgelements.CubicBezier,
                                  svgelements.Arc)):
            n = _pieces(segment, tolerance, svgelements)
            pieces.append(np.asarray(segment.npoint(np.linspace(0.0, 1.0, n + 1)[1:]), float))
    if pieces:
        curves.append(np.concatenate(pieces))
    return curves


def area(ring: Any) -> float:
    """The signed area of a ring of points, positive counter-clockwise in y-up axes."""
    xs, ys = ring[:, 0], ring[:, 1]
    return 0.5 * float((xs * (ys.take(range(1, len(ys) + 1), mode="wrap"))).sum()
                       - (ys * (xs.take(range(1, len(xs) + 1), mode="wrap"))).sum())


def length(ring: Any) -> float:
    """The length of a closed ring's outline."""
    return sum(map(math.dist, ring.tolist(), ring.tolist()[1:] + ring.tolist()[:1]))


def polygons_of(rings: list[Any]) -> list[tuple[Any, list[Any]]]:
    """One filled shape's closed subpaths as (outer, holes): a ring inside an even number of the
    others is an outer ring, one inside an odd number a hole of the smallest outer ring around
    it. That is the even-odd rule's region, and the non-zero rule's for shapes whose inner
    subpaths run the other way round (glyphs, donuts), as drawing programs write them."""
    from .._internal import _regions

    rings = [r for r in rings if len(r) >= 3 and abs(area(r)) > 0]
    areas = [abs(area(r)) for r in rings]
    # The rings each ring's first point lies in, found by the core in one pass.
    holding = _regions.polygons_at([tuple(r[0]) for r in rings], [(r, []) for r in rings])
    around = [[j for j in found if j != i and areas[j] > areas[i]]
              for i, found in enumerate(holding)]
    outers = [i for i in range(len(rings)) if len(around[i]) % 2 == 0]
    holes: dict[int, list[Any]] = {i: [] for i in outers}
    for i in range(len(rings)):
        if len(around[i]) % 2 == 1:
            owners = [j for j in around[i] if j in holes]
            if owners:
                holes[min(owners, key=lambda j: areas[j])].append(rings[i])
    return [(rings[i], holes[i]) for i in outers]
