"""GeoJSON reading of input curves and writing of centerline results, standard library only."""

from __future__ import annotations

import json
import math
from dataclasses import dataclass, field
from typing import Any, Iterator, Mapping, Sequence

Point = tuple[float, float]
Curve = list[Point]
Polygon = tuple[Curve, list[Curve]]


@dataclass
class Features:
    """The lines and polygons of a document: LineStrings and MultiLineString members as curves,
    Polygons and MultiPolygon members as (outer, holes), each with its feature, and every
    feature's properties, a column per property name (None where a feature lacks it)."""

    curves: list[Curve] = field(default_factory=list)
    feature_of: list[int] = field(default_factory=list)
    polygons: list[Polygon] = field(default_factory=list)
    polygon_feature_of: list[int] = field(default_factory=list)
    columns: dict[str, list[Any]] = field(default_factory=dict)


class GeoJSONError(ValueError):
    """The document is not GeoJSON we can take curves from."""


def _position(value: Any, where: str) -> Point:
    # GeoJSON allows a third (altitude) value; the centerline is planar, so only x and y are kept.
    if not isinstance(value, list) or len(value) < 2:
        raise GeoJSONError(f"{where}: a position must be an array of at least two numbers")
    x, y = value[0], value[1]
    for v in (x, y):
        if isinstance(v, bool) or not isinstance(v, (int, float)) or not math.isfinite(v):
            raise GeoJSONError(f"{where}: coordinates must be finite numbers, got {v!r}")
    return (x, y)


def _line(value: Any, where: str) -> Curve:
    if not isinstance(value, list):
        raise GeoJSONError(f"{where}: coordinates must be an array of positions")
    return [_position(p, where) for p in value]


def _geometries(obj: Any, properties: list[dict]) -> Iterator[tuple[dict, str, int]]:
    """Yields every geometry object in a document, with a short path for error messages and the
    index of the feature it belongs to, appending each feature's properties to ``properties``;
    a geometry outside any Feature is a feature of its own, without properties."""
    # An explicit stack keeps nested GeometryCollections from recursing on input depth.
    stack: list[tuple[Any, str, int | None]] = [(obj, "document", None)]
    while stack:
        node, where, feature = stack.pop()
        if node is None:
            continue  # a Feature may have a null geometry
        if not isinstance(node, dict):
            raise GeoJSONError(f"{where}: expected a GeoJSON object")
        kind = node.get("type")
        if kind == "FeatureCollection":
            features = node.get("features")
            if not isinstance(features, list):
                raise GeoJSONError(f"{where}: FeatureCollection without a features array")
            stack.extend((f, f"feature {i}", None) for i, f in reversed(list(enumerate(features))))
            continue
        if feature is None:
            feature = len(properties)
            own = node.get("properties") if kind == "Feature" else None
            properties.append(own if isinstance(own, dict) else {})
        if kind == "Feature":
            stack.append((node.get("geometry"), where, feature))
        elif kind == "GeometryCollection":
            members = node.get("geometries")
            if not isinstance(members, list):
                raise GeoJSONError(f"{where}: GeometryCollection without a geometries array")
            stack.extend((g, where, feature) for g in reversed(members))
        elif isinstance(kind, str):
            yield node, where, feature
        else:
            raise GeoJSONError(f"{where}: object without a GeoJSON type")


def _polygon(value: Any, where: str) -> Polygon | None:
    """(outer, holes), or None for a polygon without rings."""
    if not isinstance(value, list):
        raise GeoJSONError(f"{where}: Polygon coordinates must be an array of rings")
    rings = [_line(ring, where) for ring in value]
    return (rings[0], rings[1:]) if rings else None


def features_from_geojson(obj: Any) -> Features:
    """Collects the lines and polygons of a document in document order, with their features.

    Other geometry types are skipped; a document with no line or polygon geometry at all is an
    error, since running the pipeline on nothing almost always means the wrong file was given.
    """
    out = Features()
    properties: list[dict] = []
    found = False
    for geometry, where, feature in _geometries(obj, properties):
        kind = geometry["type"]
        coords: Any = geometry.get("coordinates")
        if kind in ("MultiLineString", "MultiPolygon") and not isinstance(coords, list):
            raise GeoJSONError(f"{where}: {kind} coordinates must be an array")
        if kind == "LineString":
            found = True
            out.curves.append(_line(coords, where))
            out.feature_of.append(feature)
        elif kind == "MultiLineString":
            found = True
            out.curves.extend(_line(part, where) for part in coords)
            out.feature_of.extend([feature] * len(coords))
        elif kind in ("Polygon", "MultiPolygon"):
            found = True
            for part in [coords] if kind == "Polygon" else coords:
                polygon = _polygon(part, where)
                if polygon is not None:
                    out.polygons.append(polygon)
                    out.polygon_feature_of.append(feature)
    if not found:
        raise GeoJSONError("no LineString, MultiLineString, Polygon or MultiPolygon geometry in "
                           "the input")
    names = list(dict.fromkeys(name for p in properties for name in p))
    out.columns = {name: [p.get(name) for p in properties] for name in names}
    return out


def curves_from_geojson(obj: Any) -> list[Curve]:
    """The curves of :func:`features_from_geojson`."""
    return features_from_geojson(obj).curves


def crs_of(obj: Any) -> str | None:
    """The CRS a document names in a top-level ``crs`` member (the 2008 GeoJSON form that GDAL
    and QGIS still write), or None for RFC 7946's longitude/latitude default."""
    member = obj.get("crs") if isinstance(obj, dict) else None
    if member is None:
        return None
    name = member.get("properties", {}).get("name") if isinstance(member, dict) else None
    if (not isinstance(member, dict) or member.get("type") != "name"
            or not isinstance(member.get("properties"), dict) or not isinstance(name, str)):
        raise GeoJSONError('a crs member must be {"type": "name", "properties": {"name": ...}}')
    return name


def loads_features(text: str) -> tuple[Features, str | None]:
    """Parses GeoJSON text into what :func:`features_from_geojson` gives and the CRS its ``crs``
    member names, if any."""
    try:
        obj = json.loads(text)
    except json.JSONDecodeError as err:
        raise GeoJSONError(f"invalid JSON: {err}") from None
    except RecursionError:
        # The standard decoder recurses once per level of nesting.
        raise GeoJSONError("invalid JSON: nested too deeply to read") from None
    return features_from_geojson(obj), crs_of(obj)


def loads(text: str) -> tuple[list[Curve], str | None]:
    """Parses GeoJSON text into curves and the CRS its ``crs`` member names, if any."""
    features, crs = loads_features(text)
    return features.curves, crs


def loads_curves(text: str) -> list[Curve]:
    """Parses GeoJSON text into curves; malformed JSON raises GeoJSONError."""
    return loads(text)[0]


def node_degrees(node_count: int, chain_node_ids: Sequence[tuple[int, int]]) -> list[int]:
    """Counts chain ends per node; a closed loop adds two to the node it starts and ends at."""
    degrees = [0] * node_count
    for start, end in chain_node_ids:
        degrees[start] += 1
        degrees[end] += 1
    return degrees


def lines_to_geojson(
    lines: Sequence[Sequence[Point]],
    columns: Mapping[str, Sequence[Any]],
    nodes: Sequence[Point] = (),
    degrees: Sequence[int] = (),
    crs_name: str | None = None,
) -> dict:
    """Builds a FeatureCollection: one LineString per line, whose properties hold its value in
    each column, then one Point per node with ``id`` and ``degree``. ``crs_name`` becomes a
    ``crs`` member, for coordinates that are not longitude/latitude."""
    features: list[dict] = []
    for i, line in enumerate(lines):
        features.append(
            {
                "type": "Feature",
                "geometry": {"type": "LineString", "coordinates": [[x, y] for x, y in line]},
                "properties": {name: values[i] for name, values in columns.items()},
            }
        )
    for i, ((x, y), degree) in enumerate(zip(nodes, degrees)):
        features.append(
            {
                "type": "Feature",
                "geometry": {"type": "Point", "coordinates": [x, y]},
                "properties": {"id": i, "degree": degree},
            }
        )
    document: dict[str, Any] = {"type": "FeatureCollection", "features": features}
    if crs_name is not None:
        document["crs"] = {"type": "name", "properties": {"name": crs_name}}
    return document


def result_to_geojson(
    chains: Sequence[Sequence[Point]],
    nodes: Sequence[Point],
    chain_node_ids: Sequence[tuple[int, int]],
    widths: Sequence[Sequence[float]] = (),
) -> dict:
    """Builds a FeatureCollection: one LineString per chain, then one Point per node."""
    columns: dict[str, list[Any]] = {"start_node": [s for s, _ in chain_node_ids],
                                     "end_node": [e for _, e in chain_node_ids]}
    if widths:
        columns["widths"] = [list(w) for w in widths]
    return lines_to_geojson(chains, columns, nodes, node_degrees(len(nodes), chain_node_ids))


def dumps(obj: dict) -> str:
    # allow_nan=False: a non-finite value would make a file other GeoJSON readers reject.
    return json.dumps(obj, allow_nan=False, separators=(",", ":")) + "\n"
