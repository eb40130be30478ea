"""GIS files through GDAL (pyogrio): line layers in, centerline layers out, geometry as WKB."""

from __future__ import annotations

import json
import os
import re
import struct
import warnings
from dataclasses import dataclass, field
from typing import Any, Mapping, Sequence

from .._extras import require

# Short names for the formats people ask for most; any other GDAL driver name works too.
DRIVERS = {"gpkg": "GPKG", "shp": "ESRI Shapefile", "fgb": "FlatGeobuf", "gpx": "GPX"}
# Drivers that keep several layers in one file, so that the nodes can go beside the chains.
_MULTI_LAYER = {"GPKG", "SQLite", "OpenFileGDB"}
_SHAPEFILE_TEXT_LIMIT = 254
# The mark of the layers we write, in the layer metadata of the formats that keep it
# (GeoPackage): --overwrite replaces a layer there only if it carries it.
MARK = "linetopo"

_POINT, _LINESTRING, _POLYGON = 1, 2, 3
_COLLECTIONS = (4, 5, 6, 7)  # MultiPoint, MultiLineString, MultiPolygon, GeometryCollection
_KNOWN = (_POINT, _LINESTRING, _POLYGON) + _COLLECTIONS
_TYPE_NAMES = {1: "Point", 2: "LineString", 3: "Polygon", 4: "MultiPoint", 5: "MultiLineString",
               6: "MultiPolygon", 7: "GeometryCollection"}
# Layers of these geometry types hold neither lines nor polygons (GDAL names them so, with " Z"
# and the like added).
_NOT_LINES = ("Point", "MultiPoint", "None")
# Layers of areas: without --layer they are read only where a file has no layer of lines, so
# that the water and land use of a map do not join its streets.
_AREAS = ("Polygon", "MultiPolygon", "CurvePolygon", "MultiSurface", "Surface")


def _pyogrio() -> Any:
    return require("pyogrio", "reading and writing GIS formats")


def driver_for(path: str, named: str | None) -> str:
    """The GDAL driver that writes ``path``: the one ``named`` (a short name or a driver name),
    else the one its extension calls for; ValueError when neither tells."""
    pyogrio = _pyogrio()
    if named is not None:
        drivers = {d.lower(): d for d in pyogrio.list_drivers(write=True)}
        driver = DRIVERS.get(named.lower()) or drivers.get(named.lower())
        if driver is None:
            raise ValueError(f"unknown format {named!r}: use geojson, svg, "
                             f"{', '.join(DRIVERS)} or a GDAL vector driver name")
        return driver
    try:
        return pyogrio.detect_write_driver(path)
    except ValueError:
        raise ValueError(f"unknown format of {path}: name it with --format") from None


def _parts_of(wkb: bytes) -> tuple[list[Any], list[tuple[Any, list[Any]]]]:
    """The LineString and Polygon parts of one 2-D WKB geometry, also those in multi-part
    geometries and collections, in order: lines, and polygons as (outer, holes); nothing for a
    geometry of another kind. ValueError for a part inside a collection that WKB cannot tell the
    size of (a curved one), which would hide the rest."""
    np = require("numpy", "reading GIS formats")
    lines: list[Any] = []
    polygons: list[tuple[Any, list[Any]]] = []
    order = "<" if wkb[0] == 1 else ">"
    if struct.unpack_from(order + "I", wkb, 1)[0] not in _KNOWN:
        return lines, polygons

    def points(at: int) -> tuple[Any, int]:
        (n,) = struct.unpack_from(order + "I", wkb, at)
        coords = np.frombuffer(wkb, dtype=order + "f8", count=2 * n, offset=at + 4)
        return coords.reshape(n, 2).astype(float), at + 4 + 16 * n

    # A stack of how many parts each open collection has still to give, so that nesting depth
    # never turns into recursion.
    stack = [1]
    offset = 0
    while stack:
        if stack[-1] == 0:
            stack.pop()
            continue
        stack[-1] -= 1
        order = "<" if wkb[offset] == 1 else ">"
        (kind,) = struct.unpack_from(order + "I", wkb, offset + 1)
        offset += 5
        if kind == _POINT:
            offset += 16
        elif kind == _LINESTRING:
            line, offset = points(offset)
            lines.append(line)
        elif kind == _POLYGON:
            (count,) = struct.unpack_from(order + "I", wkb, offset)
            offset += 4
            rings = []
            for _ in range(count):
                ring, offset = points(offset)
                rings.append(ring)
            if rings:
                polygons.append((rings[0], rings[1:]))
        elif kind in _COLLECTIONS:
            stack.append(struct.unpack_from(order + "I", wkb, offset)[0])
            offset += 4
        else:
            raise ValueError(f"cannot read a part of WKB geometry type {kind} in a collection")
    return lines, polygons


def _clean(err: Exception) -> str:
    # GDAL's hint to prefix the path with a driver name does not apply to the command line.
    return re.split(r"[.;]*\s*It might help to specify the correct driver", str(err))[0]


def _open_error(path: str, err: Exception) -> ValueError:
    if os.path.isfile(path) and os.path.getsize(path) == 0:
        return ValueError(f"cannot read {path}: the file is empty")
    return ValueError(f"cannot read {path}: {_clean(err)}")


def list_layers(path: str) -> list[tuple[str, str]]:
    """The layers of a GIS file with the geometry type GDAL gives each."""
    pyogrio = _pyogrio()
    try:
        return [(str(name), str(kind)) for name, kind in pyogrio.list_layers(path)]
    except (pyogrio.errors.DataSourceError, pyogrio.errors.DataLayerError) as err:
        raise _open_error(path, err) from None


def line_layers(path: str, layer: str | None,
                layers: list[tuple[str, str]] | None = None) -> list[str]:
    """The layers :func:`read_features` reads: ``layer``, or every one whose type may hold
    lines, or, where none may, every one of polygons.
    ``layers`` is the file's :func:`list_layers` when the caller has it already."""
    if layers is None:
        layers = list_layers(path)
    if layer is not None:
        if layer not in {name for name, _ in layers}:
            names = ", ".join(name for name, _ in layers)
            raise ValueError(f"no layer {layer!r} in {path} (it has: {names})")
        return [layer]
    shapes = [(name, kind) for name, kind in layers if not kind.startswith(_NOT_LINES)]
    lines = [name for name, kind in shapes if not kind.startswith(_AREAS)]
    return lines or [name for name, _ in shapes]


def _layers_left(chosen: list[str], layers: list[tuple[str, str]]) -> str | None:
    """The note that says which layers of lines or polygons were left unread, if any."""
    left = [f"{name!r} ({kind})" for name, kind in layers
            if name not in chosen and not kind.startswith(_NOT_LINES)]
    if not left:
        return None
    return (f"read the line layer(s) {', '.join(map(repr, chosen))} and left "
            f"{', '.join(left)}: --layer NAME reads another")


def _type_name(wkb: bytes) -> str:
    try:
        code = struct.unpack_from("<I" if wkb[0] == 1 else ">I", wkb, 1)[0] % 1000
    except (struct.error, IndexError):
        return "unreadable"
    return _TYPE_NAMES.get(code, f"type {code}")


@dataclass
class GisLines:
    """What :func:`read_features` reads: the curves, their CRS and notes as :func:`read_gis`
    gives them, the polygons as (outer, holes), each curve's and polygon's feature (counted over
    the layers read) and every feature's attributes, a column per field (None where a layer
    lacks the field or the value is null)."""

    curves: list[Any]
    crs: str | None
    notes: list[str]
    feature_of: list[int] = field(default_factory=list)
    columns: dict[str, list[Any]] = field(default_factory=dict)
    polygons: list[tuple[Any, list[Any]]] = field(default_factory=list)
    polygon_feature_of: list[int] = field(default_factory=list)


def _plain_values(values: Any) -> list[Any]:
    """A field's values as JSON-ready Python values: nulls (NaN where GDAL gives a float) as
    None, bytes as hex; dates come as ISO text already."""
    out = [v.hex() if isinstance(v, bytes) else v for v in values.tolist()]
    return [None if isinstance(v, float) and v != v else v for v in out]


def read_gis(path: str, layer: str | None,
             skip_invalid: bool = False) -> tuple[list[Any], str | None, list[str]]:
    """Reads the lines of a GIS file and its CRS as GDAL reports it.

    Parameters
    ----------
    path : str
        Any file GDAL reads: GeoPackage, Shapefile, FlatGeobuf, GPX, ...
    layer : str, optional
        The layer to read; by default every layer whose geometry may hold lines (a GPX file's
        routes and tracks, say).
    skip_invalid : bool
        Skip features whose geometry GDAL cannot read (a corrupt record, or none at all) and say
        so in the notes, instead of raising ValueError naming the first.

    Returns
    -------
    curves : list of (n, 2) float arrays
        Every LineString part, also of MultiLineStrings and GeometryCollections, Z and M
        dropped; other geometries are skipped.
    crs : str or None
        ``"EPSG:code"`` or WKT, None when the file has none.
    notes : list of str
        What was skipped, for the user.

    Examples
    --------
    >>> curves, crs, notes = read_gis("traces.gpx", None)  # doctest: +SKIP
    """
    read = read_features(path, layer, skip_invalid, attributes=False, polygons=False)
    return read.curves, read.crs, read.notes


def read_features(path: str, layer: str | None, skip_invalid: bool = False,
                  attributes: bool = True, polygons: bool = True) -> GisLines:
    """Reads what :func:`read_gis` reads, with each curve's feature, the polygons (unless
    ``polygons`` is False) and, unless ``attributes`` is False, the features' attribute
    columns."""
    pyogrio = _pyogrio()
    layers = list_layers(path)
    chosen = line_layers(path, layer, layers)
    left = None if layer is not None else _layers_left(chosen, layers)
    curves: list[Any] = []
    feature_of: list[int] = []
    shapes: list[tuple[Any, list[Any]]] = []
    shape_of: list[int] = []
    columns: dict[str, list[Any]] = {}
    features = 0
    crs_seen: list[Any] = []
    found: list[str] = []
    notes = [left] if left else []
    try:
        for name in chosen:
            meta, fids, geometries, values = pyogrio.raw.read(
                path, layer=name, columns=None if attributes else [], force_2d=True,
                return_fids=True, datetime_as_string=True)
            crs_seen.append(meta["crs"])
            for field_name, data in zip(meta["fields"], values):
                column = columns.setdefault(str(field_name), [None] * features)
                column += _plain_values(data)
            features += len(fids)
            for column in columns.values():
                column += [None] * (features - len(column))
            kinds: dict[str, int] = {}
            skipped = []
            first = features - len(fids)
            for k, (fid, wkb) in enumerate(zip(fids, geometries if geometries is not None
                                               else ())):
                try:
                    if wkb is None:
                        raise ValueError("no geometry GDAL could read (none, or a corrupt record)")
                    lines, rings = _parts_of(wkb)
                except (ValueError, struct.error, IndexError) as err:
                    if not skip_invalid:
                        raise ValueError(
                            f"cannot read feature {fid} of layer {name!r} in {path}: "
                            f"{err}; --skip-invalid skips such features with a warning") from None
                    skipped.append(str(fid))
                    continue
                curves.extend(lines)
                feature_of.extend([first + k] * len(lines))
                if polygons:
                    shapes.extend(rings)
                    shape_of.extend([first + k] * len(rings))
                kind = _type_name(wkb)
                kinds[kind] = kinds.get(kind, 0) + 1
            if skipped:
                notes.append(f"skipped {len(skipped)} feature(s) of layer {name!r} without a "
                             f"readable geometry: {', '.join(skipped[:10])}"
                             + (", ..." if len(skipped) > 10 else ""))
            found.append(f"layer {name!r}: " + (", ".join(
                f"{n} {k}" for k, n in sorted(kinds.items())) or "no features"))
    except (pyogrio.errors.DataSourceError, pyogrio.errors.DataLayerError) as err:
        raise _open_error(path, err) from None
    if len(set(crs_seen)) > 1:
        raise ValueError(f"the layers of {path} have different CRS: pick one with --layer")
    if not curves and not shapes:
        found += [f"layer {name!r}: {kind}" for name, kind in layers if name not in chosen]
        wanted = "LineString, MultiLineString, Polygon or MultiPolygon" if polygons else (
            "LineString or MultiLineString")
        raise ValueError(f"no {wanted} geometry in {path} ({'; '.join(found) or 'no layers'})")
    return GisLines(curves, crs_seen[0] if crs_seen else None, notes, feature_of, columns, shapes,
                    shape_of)


def _wkb_linestring(line: Any) -> bytes:
    np = require("numpy", "writing GIS formats")
    coords = np.ascontiguousarray(line, dtype="<f8").reshape(-1, 2)
    return struct.pack("<BII", 1, _LINESTRING, len(coords)) + coords.tobytes()


def _field(name: str, values: Sequence[Any], driver: str, np: Any) -> tuple[Any, Any]:
    """A column as a field's array and null mask: numbers and booleans keep their type, lists
    and mappings (widths, a stroke's chains, listed attributes) become JSON text, anything else
    text; None is null."""
    present = [v for v in values if v is not None]
    mask = np.array([v is None for v in values], dtype=bool)
    if any(isinstance(v, (list, tuple, dict)) for v in present):
        text = [None if v is None else json.dumps(v, separators=(",", ":")) for v in values]
        longest = max((len(t) for t in text if t is not None), default=0)
        if driver == "ESRI Shapefile" and longest > _SHAPEFILE_TEXT_LIMIT:
            raise ValueError(
                f"{name} of {longest} characters do not fit a Shapefile text field "
                f"({_SHAPEFILE_TEXT_LIMIT}): write GeoPackage or FlatGeobuf instead")
        return np.array(text, dtype=object), mask
    kinds = {bool if isinstance(v, bool) else int if isinstance(v, int) else
             float if isinstance(v, float) else str for v in present}
    if kinds == {bool} or kinds <= {int} or kinds <= {int, float}:
        fill = kinds.pop() if len(kinds) == 1 else float
        array = np.array([fill(0) if v is None else v for v in values],
                         dtype={bool: bool, int: np.int64, float: np.float64}[fill])
    else:
        array = np.array([None if v is None else str(v) for v in values], dtype=object)
    return array, mask


def written_by_us(path: str, layer: str) -> bool:
    """Whether ``layer`` of ``path`` is one we wrote: it carries our mark, or, in a format that
    keeps no layer metadata, it has the fields of our chains or nodes."""
    pyogrio = _pyogrio()
    info = pyogrio.read_info(path, layer=layer)
    if MARK in (info.get("layer_metadata") or {}):
        return True
    if info.get("driver") == "GPKG":
        return False
    fields, kind = [str(f) for f in info["fields"]], str(info.get("geometry_type") or "")
    return ((kind.startswith("Point") and fields == ["id", "degree"]) or
            (kind.startswith("LineString") and fields[:3] == ["start_node", "end_node", "length"]))


def nodes_beside(driver: str) -> bool | None:
    """Where a driver's file takes the nodes: True in a layer of its own, False in a file beside
    it (one geometry type per file), None nowhere (GPX holds lines and waypoints, but GDAL writes
    it in one go)."""
    if driver in _MULTI_LAYER:
        return True
    return None if driver == "GPX" else False


def write_gis(
    path: str,
    driver: str,
    layer: str,
    lines: Sequence[Any],
    columns: Mapping[str, Sequence[Any]],
    crs: str | None,
    nodes: tuple[str, str, Sequence[tuple[float, float]], Sequence[int]] | None = None,
    run_id: str | None = None,
) -> None:
    """Writes the lines as layer ``layer`` of ``path`` with their attribute columns, and
    ``nodes`` = ``(file, layer, points, degrees)`` as points with ``id`` and ``degree``: a layer
    of the same file when ``file`` is ``path``, else a file of the same driver.

    A file that exists keeps its other layers; a layer of the same name is replaced. List values
    (widths, a stroke's chains) are written as JSON text, which every format holds. ``run_id``
    goes into a GeoPackage's layer metadata beside our mark.

    Examples
    --------
    >>> write_gis("out.gpkg", "GPKG", "chains", [[(0, 0), (1, 1)]],
    ...           {"start_node": [0], "end_node": [1], "length": [1.414]}, "EPSG:32633",
    ...           ("out.gpkg", "nodes", [(0, 0), (1, 1)], [1, 1]))  # doctest: +SKIP
    """
    pyogrio = _pyogrio()
    np = require("numpy", "writing GIS formats")
    fields, data, masks = [], [], []
    for name, values in columns.items():
        if driver == "GPX" and all(v is None for v in values):
            # A GPX input brings GPX's dozen standard fields, mostly empty; given all of them,
            # GDAL's writer fills them with our columns in order.
            continue
        array, mask = _field(name, values, driver, np)
        fields.append(name)
        data.append(array)
        masks.append(mask)
    geometries = np.array([_wkb_linestring(line) for line in lines], dtype=object)
    writes: list[tuple[str, str, Any, list[str], list[Any], list[Any] | None, str]] = [
        (path, layer, geometries, fields, data, masks, "LineString")]
    if nodes is not None:
        where, name, points, degrees = nodes
        blobs = np.array([struct.pack("<BIdd", 1, _POINT, x, y) for x, y in points],
                         dtype=object)
        writes.append((where, name, blobs, ["id", "degree"],
                       [np.arange(len(points)), np.asarray(degrees, dtype=np.int64)], None,
                       "Point"))
    options: dict[str, Any] = {}
    if driver == "GPX":
        options["dataset_options"] = {"GPX_USE_EXTENSIONS": "YES"}  # else GPX takes no fields
    if driver == "FlatGeobuf":
        options["layer_options"] = {"SPATIAL_INDEX": "NO"}  # the index would reorder features
    if driver == "GPKG":
        options["layer_metadata"] = {MARK: "centerline"}
        if run_id is not None:
            # Tells a run that finishes a killed one's commit whether these layers landed.
            options["layer_metadata"][f"{MARK}_run"] = run_id
    with warnings.catch_warnings():
        # Data without a CRS (a drawing) is written without one on purpose.
        warnings.filterwarnings("ignore", message=".*'crs' was not provided")
        # Never append: in a file that exists, a layer of the same name is replaced whole and
        # the others are kept.
        for where, name, geoms, names, values, mask, kind in writes:
            pyogrio.raw.write(where, geoms, values, names, field_mask=mask, layer=name,
                              driver=driver, geometry_type=kind, crs=crs, **options)
