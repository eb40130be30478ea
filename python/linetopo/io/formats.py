"""Files in and out: which format a name calls for, reading its curves, writing a result whole."""

from __future__ import annotations

import math
import os
import sys
import warnings
from dataclasses import dataclass, field
from typing import Any, Sequence

from . import _targets, geojson
from ._transaction import Transaction

GEOJSON, SVG, GIS, RASTER = "geojson", "svg", "gis", "raster"
# Images read through Pillow, as scans whose ink is traced.
_RASTER_EXTENSIONS = (".png", ".jpg", ".jpeg", ".tif", ".tiff")
# Extensions read and written without GDAL; every other one is left to it.
_EXTENSIONS = {".geojson": GEOJSON, ".json": GEOJSON, ".svg": SVG}


@dataclass
class Source:
    """What a reader found: the curves (for SVG, the drawing to flatten first) and their CRS,
    and, where the format has them, each curve's feature and the features' attribute columns."""

    curves: list[Any]
    crs: str | None = None
    drawing: Any = None  # an svg.Drawing for SVG input
    notes: list[str] = field(default_factory=list)  # what the reader skipped, for the user
    feature_of: list[int] | None = None  # None: every curve a feature of its own
    attributes: dict[str, list[Any]] = field(default_factory=dict)  # per feature
    polygons: list[tuple[Any, list[Any]]] = field(default_factory=list)  # (outer, holes)
    polygon_feature_of: list[int] = field(default_factory=list)
    image: tuple[bytes | bytearray, int, int] | None = None  # a scan's grey levels and size


@dataclass
class Table:
    """What a run writes: lines with one value per line in each column, then the nodes."""

    name: str
    lines: list[Any]
    columns: dict[str, list[Any]]
    nodes: list[Any] = field(default_factory=list)
    degrees: list[int] = field(default_factory=list)
    with_nodes: bool = True  # False for strokes, which have no nodes
    styles: list[tuple[str | None, float | None]] | None = None  # stroke colour and width, SVG
    curves: list[Any] | None = None  # per line, its cubic Bézier pieces, for SVG


def _named(path: str, named: str | None) -> str | None:
    """The format a known extension calls for, else the one named with --format, else None."""
    if path != "-":
        fmt = _EXTENSIONS.get(os.path.splitext(path)[1].lower())
        if fmt is not None:
            return fmt
    if named is None:
        return GEOJSON if path == "-" else None
    return named.lower() if named.lower() in (GEOJSON, SVG) else named


def is_svg(path: str, named: str | None) -> bool:
    """Whether ``path`` is read as SVG."""
    return _named(path, named) == SVG


def is_raster(path: str) -> bool:
    """Whether ``path`` is read as an image, by its extension."""
    return path != "-" and os.path.splitext(path)[1].lower() in _RASTER_EXTENSIONS


def check_format_name(named: str | None) -> None:
    """Refuses a --format that names no format, before any work is done."""
    if named is not None and named.lower() not in (GEOJSON, SVG):
        from . import gis

        gis.driver_for("", named)


def known_extension(path: str) -> bool:
    """Whether ``path`` ends in the extension of a format we know (so names a file)."""
    ext = os.path.splitext(path)[1].lower()
    return bool(ext) and (ext in _EXTENSIONS or ext in _RASTER_EXTENSIONS
                          or ext in _targets.SHAPEFILE_PARTS
                          or ext in _targets.EXTENSIONS.values())


def input_format(path: str, named: str | None) -> str:
    """``"geojson"``, ``"svg"``, ``"raster"`` (an image, by its extension) or ``"gis"`` (GDAL then
    tells the format from the content).

    ``named`` (--format) counts only where the name does not tell: it may be meant for the
    output alone.
    """
    if path != "-" and known_extension(path):
        named = None
    if is_raster(path):
        return RASTER
    fmt = _named(path, named)
    fmt = fmt if fmt in (GEOJSON, SVG) else GIS
    if path == "-" and fmt == GIS:
        raise ValueError("standard input takes GeoJSON or SVG: give GIS files by name")
    return fmt


def output_format(path: str, named: str | None) -> str:
    """``"geojson"``, ``"svg"`` or the GDAL driver that writes ``path``."""
    fmt = _named(path, named)
    if fmt in (GEOJSON, SVG):
        return fmt
    if path == "-":
        raise ValueError("standard output takes GeoJSON or SVG: give GIS files by name")
    from . import gis

    return gis.driver_for(path, fmt)


def read(path: str, fmt: str, layer: str | None = None, skip_invalid: bool = False) -> Source:
    """Reads ``path`` (``-`` for standard input) in format ``fmt`` from :func:`input_format`."""
    if layer is not None and fmt != GIS:
        raise ValueError(f"--layer applies to GIS files, not to {fmt} input")
    if fmt == RASTER:
        from .. import raster

        return Source([], image=raster.read_grey(path))
    if fmt == GEOJSON:
        try:
            found, crs = geojson.loads_features(_read_text(path))
            return Source(found.curves, crs, feature_of=found.feature_of, attributes=found.columns,
                          polygons=found.polygons, polygon_feature_of=found.polygon_feature_of)
        except geojson.GeoJSONError as err:
            raise ValueError(f"{'standard input' if path == '-' else path}: {err}") from None
    if fmt == SVG:
        from . import svg

        return Source([], drawing=svg.read_svg(sys.stdin.buffer if path == "-" else path,
                                               "standard input" if path == "-" else path))
    from . import gis

    lines = gis.read_features(path, layer, skip_invalid)
    return Source(lines.curves, lines.crs, notes=lines.notes, feature_of=lines.feature_of,
                  attributes=lines.columns, polygons=lines.polygons,
                  polygon_feature_of=lines.polygon_feature_of)


def _read_text(path: str) -> str:
    try:
        if path == "-":
            return sys.stdin.read()
        with open(path, encoding="utf-8") as f:
            return f.read()
    except OSError as err:
        raise ValueError(f"cannot read {path}: {err.strerror or err}") from None
    except UnicodeDecodeError:
        raise ValueError(f"cannot read {path}: not UTF-8 text") from None


def write_text(path: str, text: str) -> None:
    """Writes ``text`` to ``path`` whole, or to standard output for ``-``."""
    with Transaction() as run:
        stage_text(run, path, text)
        run.commit()


def write(
    target: _targets.Target,
    table: Table,
    run: Transaction,
    crs: str | None = None,
    frame: dict[str, str] | None = None,
    stroke_width: float | None = None,
    geojson_crs: str | None = None,
) -> list[str]:
    """Stages ``table`` for ``target`` in ``run``; returns notes for the user (what a format
    could not take, the driver's warnings).

    ``crs`` goes to GIS formats, ``geojson_crs`` (a crs member's name) to GeoJSON; ``frame`` (an
    SVG drawing's size and viewBox) and ``stroke_width`` to SVG.
    """
    path, fmt = target.output, target.fmt
    if fmt in (GEOJSON, SVG):
        if fmt == GEOJSON:
            text = geojson.dumps(geojson.lines_to_geojson(table.lines, table.columns, table.nodes,
                                                          table.degrees, geojson_crs))
        else:
            from . import svg

            text = svg.dumps_svg(table.lines, table.columns, frame, stroke_width, table.styles,
                                 table.curves)
        stage_text(run, path, text)
        return []
    from . import gis

    notes = []
    # A Shapefile's older parts go with it, whichever the new one has; a GeoPackage that gets
    # our layers stays.
    for old in (path, target.nodes_file):
        if old is not None and os.path.lexists(old) and not target.update:
            for part in _targets.parts(old):
                run.remove(part)
    if target.update:
        staged = run.stage_update(path, target.layers, target.replace_layers)
    else:
        staged = run.stage(path)
    nodes = None
    if table.with_nodes:
        beside = gis.nodes_beside(fmt)
        if beside is None:
            notes.append(f"{fmt} output takes the lines only: the {len(table.nodes)} nodes are "
                         f"not written to {path} (write GeoPackage to have them)")
        else:
            if beside:
                where = staged
            elif target.nodes_file is not None:
                where = run.stage(target.nodes_file)
            else:
                raise RuntimeError(f"internal error: no nodes file planned beside {path}")
            nodes = (where, target.layers[1], table.nodes, table.degrees)
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            gis.write_gis(staged, fmt, target.layers[0], table.lines, table.columns, crs, nodes,
                          run_id=run.id)
    except RuntimeError as err:  # the base of pyogrio's errors
        raise ValueError(f"cannot write {path}: {run.hide_scratch(str(err))}") from None
    notes += [run.hide_scratch(str(w.message)) for w in caught]
    return notes


def stage_text(run: Transaction, path: str, text: str) -> None:
    """Stages ``text`` as the whole of ``path``, or for standard output with ``-``."""
    if path == "-":
        run.print(text)
        return
    try:
        with open(run.stage(path), "w", encoding="utf-8") as f:
            f.write(text)
    except OSError as err:
        raise ValueError(f"cannot write {path}: {err.strerror or err}") from None


def lengths(lines: Sequence[Sequence[Any]]) -> list[float]:
    """The length of every polyline."""
    return [sum(map(math.dist, line[:-1], line[1:])) for line in lines]
