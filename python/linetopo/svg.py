"""SVG picture of a centerline run: input strokes, buffer polygons, chains and their nodes."""

from __future__ import annotations

import math
from typing import Iterable, Sequence
from xml.sax.saxutils import escape

from .geojson import node_degrees

Point = tuple[float, float]

# Distinct hues that stay readable on white and on the light buffer fill; no grey, which
# belongs to the input strokes.
_CHAIN_COLOURS = (
    "#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e",
    "#17becf", "#8c564b", "#e377c2", "#bcbd22", "#393b79",
)
_JUNCTION_COLOUR = "#000000"
_TIP_COLOUR = "#d62728"
_OTHER_NODE_COLOUR = "#555555"


class _Formatter:
    """Writes coordinates with the y axis flipped and as many decimals as the extent needs; the
    demo's picture and the SVG writer of ``io_svg`` both use it."""

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


def _bounds(point_sets: Iterable[Iterable[Point]]) -> tuple[float, float, float, float] | None:
    xs: list[float] = []
    ys: list[float] = []
    for points in point_sets:
        for x, y in points:
            xs.append(x)
            ys.append(y)
    if not xs:
        return None
    return min(xs), min(ys), max(xs), max(ys)


def render_svg(
    curves: Sequence[Sequence[Point]],
    polygons: Sequence[tuple[Sequence[Point], Sequence[Sequence[Point]]]],
    chains: Sequence[Sequence[Point]],
    nodes: Sequence[Point],
    chain_node_ids: Sequence[tuple[int, int]],
    *,
    size: int = 800,
    title: str = "linetopo centerline",
    colour_groups: Sequence[int] | None = None,
) -> str:
    """Returns an SVG document; data y grows upwards, so every y is negated on output.

    Chains are coloured one by one, or by group when ``colour_groups[i]`` gives chain i's group
    (its stroke, for instance).
    """
    rings = [outer for outer, _ in polygons] + [h for _, holes in polygons for h in holes]
    box = _bounds([*curves, *rings, *chains, nodes])
    if box is None:
        box = (0.0, 0.0, 1.0, 1.0)
    min_x, min_y, max_x, max_y = box
    extent = max(max_x - min_x, max_y - min_y)
    if not extent > 0:
        extent = max(abs(min_x), abs(min_y), 1.0)  # one point only: any sensible frame will do
    margin = 0.05 * extent
    # In flipped coordinates the top edge of the frame is -max_y.
    vb_x, vb_y = min_x - margin, -max_y - margin
    vb_w, vb_h = (max_x - min_x) + 2 * margin, (max_y - min_y) + 2 * margin
    vb_w, vb_h = max(vb_w, 2 * margin), max(vb_h, 2 * margin)
    scale = size / max(vb_w, vb_h)
    fmt = _Formatter(extent)
    stroke = extent / 400  # line widths in data units, tied to the drawing's size

    out: list[str] = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<svg xmlns="http://www.w3.org/2000/svg"'
        f' viewBox="{fmt.num(vb_x)} {fmt.num(vb_y)} {fmt.num(vb_w)} {fmt.num(vb_h)}"'
        f' width="{round(vb_w * scale)}" height="{round(vb_h * scale)}">',
        f"<title>{escape(title)}</title>",
        f'<rect x="{fmt.num(vb_x)}" y="{fmt.num(vb_y)}" width="{fmt.num(vb_w)}"'
        f' height="{fmt.num(vb_h)}" fill="#ffffff"/>',
    ]

    out.append('<g id="buffer" fill="#9ecae1" fill-opacity="0.35" fill-rule="evenodd"'
               f' stroke="#6baed6" stroke-width="{fmt.num(stroke)}">')
    for outer, holes in polygons:
        d = " ".join(fmt.path(r, closed=True) for r in (outer, *holes) if len(r))
        if d:
            out.append(f'<path d="{d}"/>')
    out.append("</g>")

    out.append(f'<g id="input" fill="none" stroke="#999999" stroke-width="{fmt.num(stroke)}"'
               ' stroke-linejoin="round" stroke-linecap="round">')
    for curve in curves:
        if len(curve):
            out.append(f'<path d="{fmt.path(curve, closed=False)}"/>')
    out.append("</g>")

    out.append(f'<g id="chains" fill="none" stroke-width="{fmt.num(3 * stroke)}"'
               ' stroke-linejoin="round" stroke-linecap="round">')
    for i, chain in enumerate(chains):
        group = i if colour_groups is None else colour_groups[i]
        colour = _CHAIN_COLOURS[group % len(_CHAIN_COLOURS)]
        out.append(f'<path stroke="{colour}" d="{fmt.path(chain, closed=False)}"/>')
    out.append("</g>")

    # Junctions (three or more chain ends) and tips (one) are what a reader looks for; the
    # degree-2 start of a closed loop is drawn small so the loop is not mistaken for a break.
    degrees = node_degrees(len(nodes), chain_node_ids)
    out.append('<g id="nodes">')
    for (x, y), degree in zip(nodes, degrees):
        if degree >= 3:
            colour, radius, kind = _JUNCTION_COLOUR, 5 * stroke, "junction"
        elif degree == 1:
            colour, radius, kind = _TIP_COLOUR, 4 * stroke, "tip"
        else:
            colour, radius, kind = _OTHER_NODE_COLOUR, 2.5 * stroke, "node"
        out.append(f'<circle class="{kind}" cx="{fmt.num(x)}" cy="{fmt.num(-y)}"'
                   f' r="{fmt.num(radius)}" fill="{colour}"/>')
    out.append("</g>")
    out.append("</svg>")
    return "\n".join(out) + "\n"

