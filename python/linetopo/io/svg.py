"""SVG drawings in and out: stroked shapes flattened to curves, centerlines written over them,
and the picture of a run (input strokes, buffer polygons, chains and their nodes)."""

from __future__ import annotations

import io
import json
import math
import statistics
import xml.etree.ElementTree as ET
from dataclasses import dataclass, field
from typing import Any, BinaryIO, Mapping, Sequence
from xml.sax.saxutils import escape, quoteattr

from .._extras import require
from ._svg_format import Formatter, Point, fit
from ._svg_shapes import area, flatten, length, polygons_of
from .geojson import node_degrees

# The root attributes that place user units on the page; copied to the output so that it lays
# exactly over the drawing it came from.
_FRAME_ATTRIBUTES = ("width", "height", "viewBox", "preserveAspectRatio")
_SHAPES = "path, line, polyline, polygon, rect, circle or ellipse"
# Bounds on what a small file may expand into: the nesting the reader walks, and the elements
# <use> references copy in, as a multiple of the file's own and at most an absolute count.
_MAX_DEPTH = 200
_USE_FACTOR = 100
_MIN_EXPANDED = 10_000
_MAX_EXPANDED = 1_000_000
# A stroke narrower than this share of the drawing's diagonal cannot set the feature size: the
# curves would be flattened into more points than any drawing needs.
_MIN_WIDTH_SHARE = 1e-4
# Curves are flattened at least this finely relative to the diagonal, however fine the tolerance.
_MIN_TOLERANCE_SHARE = 1e-6
_XLINK = "{http://www.w3.org/1999/xlink}href"
# Distinct hues that stay readable on white and on the light buffer fill; no grey, which
# belongs to the input strokes.
_CHAIN_COLOURS = (
    "#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e",
    "#17becf", "#8c564b", "#e377c2", "#bcbd22", "#393b79",
)
_JUNCTION_COLOUR = "#000000"
_TIP_COLOUR = "#d62728"
_OTHER_NODE_COLOUR = "#555555"


@dataclass
class Drawing:
    """The stroked shapes of an SVG document, in the user units of its root element.

    ``paths`` are svgelements Paths with every transform applied, ``stroke_widths`` one width per
    path in the same units, ``frame`` the root's sizing attributes as written and ``colours``
    each path's stroke colour as ``#rrggbb`` (``#rrggbbaa`` when not opaque). ``filled`` are
    the shapes painted with a fill and no stroke, and ``fill_colours`` their fill colours.
    """

    paths: list[Any]
    stroke_widths: list[float]
    frame: dict[str, str] = field(default_factory=dict)
    name: str = "the drawing"
    colours: list[str] = field(default_factory=list)
    filled: list[Any] = field(default_factory=list)
    fill_colours: list[str] = field(default_factory=list)

    def median_stroke_width(self) -> float:
        """The median of the shapes' stroke widths; for a drawing of filled shapes only, the
        median of their widths, each twice its area over its outline's length.

        Raises ValueError when it is below 1e-4 of the drawing's diagonal: flattened at such a
        scale, its curves would take more points than any drawing needs.
        """
        width = statistics.median(self.stroke_widths) if self.paths else self._fill_width()
        diagonal = self.diagonal()
        if not width >= _MIN_WIDTH_SHARE * diagonal:
            raise ValueError(f"the median stroke width of {self.name}, {width:g}, is below "
                             f"{_MIN_WIDTH_SHARE:g} of its diagonal ({diagonal:g}); give the "
                             "feature size instead")
        return width

    def _fill_width(self) -> float:
        """For a drawing of filled shapes only: the median of twice each shape's area over its
        outline's length, the width of a long thin shape."""
        widths = []
        for polygons in self._fill_polygons(1e-3 * self.diagonal()):
            rings = [r for outer, holes in polygons for r in [outer, *holes]]
            outline = sum(length(r) for r in rings)
            covered = sum(abs(area(outer)) - sum(abs(area(h)) for h in holes)
                          for outer, holes in polygons)
            if outline > 0 and covered > 0:
                widths.append(2 * covered / outline)
        return statistics.median(widths) if widths else 0.0

    def diagonal(self) -> float:
        """The diagonal of the box round every path."""
        try:
            boxes = [box for box in (path.bbox() for path in self.paths + self.filled)
                     if box is not None]
        except (ArithmeticError, ValueError) as err:
            raise ValueError(f"cannot read {self.name}: {_numeric_fault(err)}") from None
        if not boxes:
            return 0.0
        x0, y0 = min(b[0] for b in boxes), min(b[1] for b in boxes)
        x1, y1 = max(b[2] for b in boxes), max(b[3] for b in boxes)
        diagonal = math.hypot(x1 - x0, y1 - y0)
        if not math.isfinite(diagonal):
            raise ValueError(f"cannot read {self.name}: its shapes reach beyond finite numbers")
        return diagonal

    def flatten(self, tolerance: float) -> list[Any]:
        """Every subpath as an ``(n, 2)`` array of points within ``tolerance`` of the curve,
        and never closer than 1e-6 of the drawing's diagonal."""
        return self.flatten_paths(tolerance)[0]

    def flatten_paths(self, tolerance: float) -> tuple[list[Any], list[int]]:
        """What :meth:`flatten` gives, with the index of each curve's path."""
        tolerance = max(tolerance, _MIN_TOLERANCE_SHARE * self.diagonal())
        curves: list[Any] = []
        path_of: list[int] = []
        try:
            for i, path in enumerate(self.paths):
                pieces = flatten(path, tolerance)
                curves += pieces
                path_of += [i] * len(pieces)
        except (ArithmeticError, ValueError) as err:
            raise ValueError(f"cannot read {self.name}: {_numeric_fault(err)}") from None
        return curves, path_of

    def flatten_fills(self, tolerance: float) -> tuple[list[Any], list[int]]:
        """The filled shapes as polygons ``(outer, holes)`` of ``(n, 2)`` arrays, flattened as
        :meth:`flatten` does, with the index of each polygon's shape in ``filled``."""
        tolerance = max(tolerance, _MIN_TOLERANCE_SHARE * self.diagonal())
        polygons: list[Any] = []
        shape_of: list[int] = []
        for i, found in enumerate(self._fill_polygons(tolerance)):
            polygons += found
            shape_of += [i] * len(found)
        return polygons, shape_of

    def _fill_polygons(self, tolerance: float) -> list[list[Any]]:
        try:
            return [polygons_of(flatten(path, tolerance)) for path in self.filled]
        except (ArithmeticError, ValueError) as err:
            raise ValueError(f"cannot read {self.name}: {_numeric_fault(err)}") from None


def _check_expansion(data: bytes, name: str) -> None:
    """Refuses, before the reader expands it, a document nested too deeply, with a ``<use>``
    that reaches itself, or whose ``<use>`` copies would multiply its elements past the bounds.
    """
    try:
        events = ET.iterparse(io.BytesIO(data), events=("start", "end"))
        depth, deepest, own = 0, 0, 0
        elements: list[ET.Element] = []
        children: list[list[int]] = []
        by_id: dict[str, int] = {}
        stack: list[int] = []
        for event, element in events:
            if event == "start":
                depth += 1
                deepest = max(deepest, depth)
                if deepest > _MAX_DEPTH:
                    raise ValueError(f"cannot read {name}: elements nested more than "
                                     f"{_MAX_DEPTH} deep")
                index = len(elements)
                elements.append(element)
                children.append([])
                if stack:
                    children[stack[-1]].append(index)
                stack.append(index)
                if element.get("id") is not None:
                    by_id.setdefault(element.get("id"), index)
            else:
                depth -= 1
                stack.pop()
                own += 1
    except ET.ParseError:
        return  # the reader says what is wrong with the XML
    if not elements:
        return
    # What each element expands into: itself, its children's expansions, and for a <use> the
    # expansion of what it references. Computed children first, with an explicit stack.
    refs: list[int | None] = []
    for element in elements:
        href = element.get("href") or element.get(_XLINK) or ""
        target = by_id.get(href[1:]) if element.tag.endswith("use") and href.startswith("#") else None
        refs.append(target)
    limit = min(_MAX_EXPANDED, max(_MIN_EXPANDED, _USE_FACTOR * own))
    size = [0] * len(elements)
    state = [0] * len(elements)  # 0 unseen, 1 on the stack, 2 done
    todo = [0]
    while todo:
        node = todo[-1]
        if state[node] == 0:
            state[node] = 1
            ref = refs[node]
            for nxt in children[node] + ([ref] if ref is not None else []):
                if state[nxt] == 1:
                    raise ValueError(f"cannot read {name}: a <use> element refers to itself "
                                     "or to an element that contains it")
                if state[nxt] == 0:
                    todo.append(nxt)
            continue
        todo.pop()
        if state[node] == 2:
            continue
        state[node] = 2
        total = 1 + sum(size[c] for c in children[node])
        ref = refs[node]
        if ref is not None:
            total += size[ref]
        size[node] = min(total, limit + 1)
    if size[0] > limit:
        raise ValueError(f"cannot read {name}: its <use> elements expand its {own} elements "
                         f"to more than {limit}")


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
        if isinstance(source, str):
            with open(source, "rb") as file:
                data = file.read()
        else:
            data = source.read()
    except OSError as err:
        raise ValueError(f"cannot read {name}: {err.strerror or err}") from None
    _check_expansion(data, name)
    try:
        root = svgelements.SVG.parse(io.BytesIO(data))
    except ET.ParseError as err:
        raise ValueError(f"cannot read {name}: not well-formed XML ({err})") from None
    except (ArithmeticError, ValueError, RecursionError) as err:
        raise ValueError(f"cannot read {name}: {_numeric_fault(err)}") from None
    if not isinstance(root, svgelements.SVG):
        raise ValueError(f"cannot read {name}: not an SVG document")
    try:
        paths, widths, colours, filled, fills = _shapes(root, svgelements)
    except (ArithmeticError, ValueError, RecursionError) as err:
        raise ValueError(f"cannot read {name}: {_numeric_fault(err)}") from None
    if not paths and not filled:
        raise ValueError(f"no stroked or filled {_SHAPES} in {name}")
    attributes = root.values.get("attributes", {})
    frame = {key: attributes[key] for key in _FRAME_ATTRIBUTES if key in attributes}
    return Drawing(paths, widths, frame, name, colours, filled, fills)


def _shapes(root: Any, svgelements: Any) -> tuple[list[Any], list[float], list[str], list[Any],
                                                  list[str]]:
    """The stroked shapes with their widths and colours, then the filled ones (a fill and no
    stroke) with their fill colours. White fills are taken for backgrounds and left out."""
    # svgelements maps the viewBox onto the page in pixels; undoing that keeps the numbers the
    # drawing was written in, which are the units the options are given in.
    to_user = ~svgelements.Matrix(root.viewbox_transform)
    scale = math.sqrt(abs(to_user.determinant))
    paths, widths, colours, filled, fills = [], [], [], [], []
    for element in root.elements():
        if not isinstance(element, svgelements.Shape):
            continue
        width = (element.stroke_width or 0.0) * scale
        stroked = element.stroke is not None and element.stroke.value is not None and width > 0
        fill = element.fill
        painted = fill is not None and fill.value is not None and fill.alpha > 0
        if not stroked and not (painted and fill.hexrgb != "#ffffff"):
            continue
        path = svgelements.Path(element)
        path *= to_user
        if stroked:
            paths.append(path.reify())
            widths.append(width)
            colours.append(str(element.stroke.hex))
        else:
            filled.append(path.reify())
            fills.append(str(fill.hex))
    return paths, widths, colours, filled, fills


def _numeric_fault(err: BaseException) -> str:
    """One line for a number the SVG library could not work with."""
    if isinstance(err, RecursionError):
        return "nested too deeply to read"
    detail = str(err).splitlines()[0] if str(err) else type(err).__name__
    return f"a size, transform or path in it is out of range ({detail})"


def dumps_svg(
    lines: Sequence[Sequence[tuple[float, float]]],
    columns: Mapping[str, Sequence[Any]],
    frame: dict[str, str] | None,
    stroke_width: float | None,
    styles: Sequence[tuple[str | None, float | None]] | None = None,
    curves: Sequence[Any] | None = None,
) -> str:
    """An SVG document with one ``path`` per line, its columns as ``data-`` attributes.

    With the ``frame`` of a drawing read by :func:`read_svg`, the coordinates are its user units
    and the root element gets the same size and viewBox, so the result lays over the drawing.
    Without one, y is taken to grow upwards (map and GeoJSON data) and the page fits the lines.
    ``stroke_width`` defaults to a fraction of the extent. ``styles`` gives a line its own
    stroke colour and width where they are not None. ``curves`` draws each line as its cubic
    Bézier pieces (from :func:`linetopo.fit_curves`) instead of its points.
    """
    box, extent = fit(lines)
    fmt = Formatter(extent)
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

    def xy(p: Any) -> str:
        return f"{fmt.num(p[0])},{fmt.num(-p[1] if flip else p[1])}"

    for i, line in enumerate(lines):
        if curves is not None and curves[i]:
            d = "M" + xy(curves[i][0][0]) + "".join(
                f" C{xy(a)} {xy(b)} {xy(c)}" for _, a, b, c in curves[i])
        else:
            d = "M" + " L".join(xy(p) for p in line)
        # A missing value is no attribute, as a missing attribute reads back as None.
        data = "".join(
            f" data-{name.replace('_', '-')}={quoteattr(_attribute(values[i]))}"
            for name, values in columns.items() if values[i] is not None)
        style = ""
        if styles is not None:
            colour, width = styles[i]
            if colour is not None:
                style += f" stroke={quoteattr(colour)}"
            if width is not None and width > 0 and math.isfinite(width):
                style += f' stroke-width="{fmt.num(width)}"'
        out.append(f'<path d="{d}"{style}{data}/>')
    out += ["</g>", "</svg>"]
    return "\n".join(out) + "\n"


def _attribute(value: Any) -> str:
    if isinstance(value, (list, tuple)):
        return json.dumps(value, separators=(",", ":"))
    return str(value)


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
    (min_x, min_y, max_x, max_y), extent = fit([*curves, *rings, *chains, nodes])
    margin = 0.05 * extent
    # In flipped coordinates the top edge of the frame is -max_y.
    vb_x, vb_y = min_x - margin, -max_y - margin
    vb_w, vb_h = (max_x - min_x) + 2 * margin, (max_y - min_y) + 2 * margin
    vb_w, vb_h = max(vb_w, 2 * margin), max(vb_h, 2 * margin)
    scale = size / max(vb_w, vb_h)
    fmt = Formatter(extent)
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
