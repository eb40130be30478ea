"""SVG drawings in and out: stroked shapes flattened to curves, centerlines written over them."""

from __future__ import annotations

import json
import math
import statistics
import xml.etree.ElementTree as ET
from dataclasses import dataclass, field
from typing import Any, BinaryIO, Sequence
from xml.sax.saxutils import quoteattr

from ._extras import require
from .svg import _Formatter

# The root attributes that place user units on the page; copied to the output so that it lays
# exactly over the drawing it came from.
_FRAME_ATTRIBUTES = ("width", "height", "viewBox", "preserveAspectRatio")
_SHAPES = "path, line, polyline, polygon, rect, circle or ellipse"


@dataclass
class Drawing:
    """The stroked shapes of an SVG document, in the user units of its root element.

    ``paths`` are svgelements Paths with every transform applied, ``stroke_widths`` one width per
    path in the same units, and ``frame`` the root's sizing attributes as written.
    """

    paths: list[Any]
    stroke_widths: list[float]
    frame: dict[str, str] = field(default_factory=dict)

    def median_stroke_width(self) -> float:
        """The median of the shapes' stroke widths."""
        return statistics.median(self.stroke_widths)

    def flatten(self, tolerance: float) -> list[Any]:
        """Every subpath as an ``(n, 2)`` array of points within ``tolerance`` of the curve."""
        return [curve for path in self.paths for curve in _flatten(path, tolerance)]


def read_svg(source: str | BinaryIO, name: str) -> Drawing:
    """Reads the stroked shapes of an SVG document.

    Parameters
    ----------
    source : str or binary file
        A file name or an open file.
    name : str
        The name to give the document in error messages.

    Returns
    -------
    Drawing
        The shapes whose stroke is painted with a positive width, transforms applied, in the
        user units of the root element (its viewBox units when it has one).

    Examples
    --------
    >>> drawing = read_svg("sketch.svg", "sketch.svg")  # doctest: +SKIP
    >>> curves = drawing.flatten(drawing.median_stroke_width() / 20)  # doctest: +SKIP
    """
    svgelements = require("svgelements", "reading SVG")
    try:
        root = svgelements.SVG.parse(source)
    except OSError as err:
        raise ValueError(f"cannot read {name}: {err.strerror or err}") from None
    except ET.ParseError as err:
        raise ValueError(f"cannot read {name}: not well-formed XML ({err})") from None
    if not isinstance(root, svgelements.SVG):
        raise ValueError(f"cannot read {name}: not an SVG document")
    # svgelements maps the viewBox onto the page in pixels; undoing that keeps the numbers the
    # drawing was written in, which are the units the options are given in.
    to_user = ~svgelements.Matrix(root.viewbox_transform)
    scale = math.sqrt(abs(to_user.determinant))
    paths, widths = [], []
    for element in root.elements():
        if not isinstance(element, svgelements.Shape):
            continue
        width = (element.stroke_width or 0.0) * scale
        if element.stroke is None or element.stroke.value is None or not width > 0:
            continue  # unstroked shapes are fills or backgrounds, not lines
        path = svgelements.Path(element)
        path *= to_user
        paths.append(path.reify())
        widths.append(width)
    if not paths:
        raise ValueError(f"no stroked {_SHAPES} in {name}")
    attributes = root.values.get("attributes", {})
    frame = {key: attributes[key] for key in _FRAME_ATTRIBUTES if key in attributes}
    return Drawing(paths, widths, frame)


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
        step = 2 * math.acos(max(-1.0, 1 - tolerance / radius))
        return max(1, math.ceil(abs(segment.sweep) / step))
    return max(1, math.ceil(math.sqrt(bend / (8 * tolerance))))


def _flatten(path: Any, tolerance: float) -> list[Any]:
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


def dumps_svg(
    lines: Sequence[Sequence[tuple[float, float]]],
    columns: dict[str, Sequence[Any]],
    frame: dict[str, str] | None,
    stroke_width: float | None,
) -> str:
    """An SVG document with one ``path`` per line, its columns as ``data-`` attributes.

    With the ``frame`` of a drawing read by :func:`read_svg`, the coordinates are its user units
    and the root element gets the same size and viewBox, so the result lays over the drawing.
    Without one, y is taken to grow upwards (map and GeoJSON data) and the page fits the lines.
    ``stroke_width`` defaults to a fraction of the extent.
    """
    xs = [p[0] for line in lines for p in line]
    ys = [p[1] for line in lines for p in line]
    box = (min(xs), min(ys), max(xs), max(ys)) if xs else (0.0, 0.0, 1.0, 1.0)
    extent = max(box[2] - box[0], box[3] - box[1])
    if not extent > 0:
        extent = max(abs(box[0]), abs(box[1]), 1.0)
    fmt = _Formatter(extent)
    flip = frame is None
    if frame is None:
        margin = 0.05 * extent
        w, h = box[2] - box[0] + 2 * margin, box[3] - box[1] + 2 * margin
        scale = 800 / max(w, h)
        frame = {"width": str(round(w * scale)), "height": str(round(h * scale)),
                 "viewBox": " ".join(fmt.num(v) for v in (box[0] - margin, -box[3] - margin, w, h))}
    if stroke_width is None:
        stroke_width = extent / 300
    root = " ".join(f"{key}={quoteattr(value)}" for key, value in frame.items())
    out = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        f'<svg xmlns="http://www.w3.org/2000/svg" {root}>',
        f'<g id="centerline" fill="none" stroke="#000000" stroke-width="{fmt.num(stroke_width)}"'
        ' stroke-linecap="round" stroke-linejoin="round">',
    ]
    for i, line in enumerate(lines):
        d = "M" + " L".join(f"{fmt.num(x)},{fmt.num(-y if flip else y)}" for x, y in line)
        data = "".join(
            f" data-{name.replace('_', '-')}={quoteattr(_attribute(values[i]))}"
            for name, values in columns.items())
        out.append(f'<path d="{d}"{data}/>')
    out += ["</g>", "</svg>"]
    return "\n".join(out) + "\n"


def _attribute(value: Any) -> str:
    if isinstance(value, (list, tuple)):
        return json.dumps(value, separators=(",", ":"))
    return str(value)
