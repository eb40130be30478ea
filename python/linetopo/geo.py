"""shapely and GeoPandas in and out: line geometries to centerline chains and their nodes."""

from __future__ import annotations

import warnings
from typing import Any

from ._extras import require
from .io.geojson import node_degrees

__all__ = ["centerline"]

_LINE_TYPES = (1, 2)  # LineString, LinearRing
_POLYGON_TYPE = 3
_COLLECTION_TYPES = (5, 6, 7)  # MultiLineString, MultiPolygon, GeometryCollection


def _parts(geoms: Any, shapely: Any, np: Any) -> tuple[list[Any], list[int], list[Any],
                                                       list[int]]:
    """The coordinates of every line part, one ``(n, 2)`` array each, without a loop per point,
    and the position of each part's geometry among ``geoms``; then the polygon parts as
    (outer, holes) and theirs."""
    if isinstance(geoms, shapely.Geometry):
        array = np.array([geoms], dtype=object)
    else:
        array = np.asarray(list(geoms), dtype=object).ravel()
    owner = np.flatnonzero(~shapely.is_missing(array))
    array = array[owner]
    kinds = shapely.get_type_id(array)  # also refuses objects that are not geometries
    while np.isin(kinds, _COLLECTION_TYPES).any():
        array, part_of = shapely.get_parts(array, return_index=True)
        owner = owner[part_of]
        kinds = shapely.get_type_id(array)
    empty = shapely.is_empty(array)
    areas = (kinds == _POLYGON_TYPE) & ~empty
    wrong = ~np.isin(kinds, _LINE_TYPES) & ~areas & ~empty
    if wrong.any():
        raise TypeError("centerline takes line and polygon geometries, got a "
                        f"{array[wrong][0].geom_type}")
    polygons = [(shapely.get_coordinates(shapely.get_exterior_ring(g)),
                 [shapely.get_coordinates(shapely.get_interior_ring(g, k))
                  for k in range(shapely.get_num_interior_rings(g))]) for g in array[areas]]
    polygon_of = owner[areas].tolist()
    lines, line_of = array[~areas], owner[~areas]
    coords, index = shapely.get_coordinates(lines, return_index=True)
    if not len(coords):
        return [], [], polygons, polygon_of
    starts = np.concatenate([[0], np.flatnonzero(np.diff(index)) + 1])
    return np.split(coords, starts[1:]), line_of[index[starts]].tolist(), polygons, polygon_of


def _attributes(frame: Any) -> dict[str, list[Any]]:
    """A GeoDataFrame's columns other than its geometry, missing values as None."""
    columns = {}
    for name in frame.columns:
        if name == frame.geometry.name:
            continue
        values = frame[name]
        columns[str(name)] = values.astype(object).where(values.notna(), None).tolist()
    return columns


def centerline(geoms: Any, buffer_distance: float | None, feature_size: float, *, crs: Any = None,
               planar: bool = False, attributes: str = "mode", nodes: bool | str = False,
               **options: Any) -> Any:
    """The centerline of shapely line and polygon geometries: its chains, each with the
    attributes of the input rows it comes from, and on request their end nodes.

    Parameters
    ----------
    geoms : shapely geometry, sequence of geometries, GeoSeries or GeoDataFrame
        LineStrings, LinearRings, MultiLineStrings, Polygons and MultiPolygons, or collections
        of them; missing and empty geometries are skipped, any other kind is a TypeError.
        Polygons (rivers, road areas) give the centerline of their area, through
        :func:`linetopo.topologize_polygons`; lines are buffered and united with them.
    buffer_distance, feature_size : float
        As for :func:`linetopo.topologize`; in ground metres when the CRS is longitude/latitude
        or its unit is not a ground metre at the data (Web Mercator, feet). For polygons the
        buffer only sets the scale of boundary refinement (half the feature size suits), and
        None, allowed where there are no lines, takes
        :func:`linetopo.topologize_polygons`' default.
    crs : optional
        The CRS of the geometries (anything pyproj reads); by default the GeoSeries' own. With
        such a CRS the run happens in metres in the UTM zone of the data's centre and the result
        is projected back.
    planar : bool
        Take the coordinates as they are, whatever the CRS.
    attributes : {"mode", "first", "list", "none", "sum", "mean", "max"}
        How a chain takes each column of a GeoDataFrame from its sources, the input rows whose
        lines run along at least half of it or for at least half of their own length (within
        ``buffer_distance + feature_size / 2``, in about its direction; see
        :func:`linetopo.chain_sources`) and whose polygons hold its middle point: the value that
        runs along most of it (ties: the first source's), the first source's, the list of
        distinct values, no columns, or for columns of numbers their sum, mean (weighted by the
        length each runs along the chain) or largest, other columns then taking the mode. A
        column whose name the result uses is given ``input_`` before its name.
    nodes : bool or "mixed"
        Also return the chains' end nodes, as a second frame. ``"mixed"`` returns the form of
        earlier releases, chains and nodes in one frame told apart by a ``kind`` column; it is
        deprecated (a frame of lines and points cannot be written to most GIS formats or styled
        as one layer) and will be removed.
    **options
        Any other option of :func:`linetopo.topologize`, such as ``compute_widths=True``.

    Returns
    -------
    chains : GeoDataFrame, or a dict of the same columns when GeoPandas is not installed
        One row per chain: a LineString with ``start_node``, ``end_node``, ``length``, with
        ``compute_widths`` ``widths``, ``support``, its number of sources, and the input's
        columns. The CRS is the input's; lengths and widths are in ground metres where the run
        was in UTM.
    nodes : GeoDataFrame or dict, with ``nodes=True`` only
        One row per node: a Point with ``id`` (the numbers ``start_node`` and ``end_node``
        give) and ``degree``, the number of chain ends there.

    Examples
    --------
    >>> from shapely import LineString
    >>> from linetopo.geo import centerline
    >>> cross = [LineString([(0, 0), (10, 0)]), LineString([(5, -5), (5, 5)])]
    >>> chains, nodes = centerline(cross, 0.5, 1.0, nodes=True)
    >>> len(chains), sorted(nodes["degree"].tolist())
    (4, [1, 1, 1, 1, 4])
    >>> chains["support"].tolist()  # each chain lies along one input line
    [1, 1, 1, 1]
    """
    if nodes not in (False, True, "mixed"):
        raise ValueError(f"linetopo.geo.centerline: nodes must be True, False or 'mixed', got "
                         f"{nodes!r}")
    if nodes == "mixed":
        warnings.warn("linetopo.geo.centerline(nodes='mixed') is deprecated and will be removed: "
                      "use nodes=True, which returns the chains and the nodes as two frames",
                      FutureWarning, stacklevel=2)
    from . import _features, _frame, _internal, _provenance
    from .io import lonlat

    shapely = require("shapely", "linetopo.geo")
    np = require("numpy", "linetopo.geo")
    columns_in: dict[str, list[Any]] = {}
    if hasattr(geoms, "geometry") and hasattr(geoms, "columns"):
        columns_in = _attributes(geoms)
        geoms = geoms.geometry  # a GeoDataFrame: its active geometry column
    if crs is None:
        crs = getattr(geoms, "crs", None)
    curves, feature_of, polygons, polygon_of = _parts(geoms, shapely, np)
    if buffer_distance is None and curves:
        raise TypeError("linetopo.geo.centerline: buffer_distance must be a number where there "
                        "are lines to buffer; only polygons can leave it None")
    # Without lines the buffer only scales the polygons' refinement: topologize_polygons' own.
    buffer = (_internal._AREA_BUFFER_FRACTION * feature_size if buffer_distance is None
              else buffer_distance)
    rings = [ring for outer, holes in polygons for ring in [outer, *holes]]
    # The command line's rules for the working CRS: ground metres unless planar.
    frame = (_frame.choose("gis", crs, curves + rings, buffer, planar=planar, geographic=False,
                           name="the geometries") if curves or rings else _frame.Frame(crs))
    if curves:
        curves = frame.to_work(curves)
    polygons = lonlat.map_polygons(frame.to_work, polygons)
    result = _features.run(curves, polygons, buffer, feature_size, options)
    chains, node_points, chain_node_ids, _ = result
    # Lengths and widths in metres when the run was in UTM.
    chain_columns = _features.chain_columns(result, bool(options.get("compute_widths")))
    if "widths" in chain_columns:
        chain_columns["widths"] = [np.asarray(w, dtype=float) for w in chain_columns["widths"]]
    # The radius is for lines only; polygons are sources where they hold a chain's middle.
    along = _features.chain_sources(result, chain_columns["length"], curves, feature_of,
                                    polygons, polygon_of, buffer, feature_size)

    sizes = [len(c) for c in chains]
    coords = (np.concatenate([np.asarray(c, dtype=float).reshape(-1, 2) for c in chains])
              if chains else np.empty((0, 2)))
    points = np.asarray(node_points, dtype=float).reshape(-1, 2)
    if frame.utm is not None:
        coords, points = frame.utm.back([coords, points])
    indices = np.repeat(np.arange(len(chains)), sizes)
    lines = list(shapely.linestrings(coords, indices=indices)) if chains else []
    node_columns = {"id": list(range(len(points))),
                    "degree": node_degrees(len(points), chain_node_ids),
                    "geometry": list(shapely.points(points))}
    taken = ["kind", *chain_columns, *node_columns] if nodes == "mixed" else [
        *chain_columns, "geometry"]
    from_sources, _ = _provenance.attribute_columns(along, columns_in, attributes, taken)
    chain_columns.update(from_sources)
    chain_columns["geometry"] = lines
    if nodes == "mixed":
        return _data_frame(_mixed(chain_columns, node_columns), crs)
    if nodes:
        return _data_frame(chain_columns, crs), _data_frame(node_columns, crs)
    return _data_frame(chain_columns, crs)


def _mixed(chain_columns: dict[str, list[Any]],
           node_columns: dict[str, list[Any]]) -> dict[str, list[Any]]:
    """Chains, then nodes, in one table told apart by `kind`; each kind's columns empty on the
    other's rows."""
    n, m = len(chain_columns["geometry"]), len(node_columns["geometry"])
    columns: dict[str, list[Any]] = {"kind": ["chain"] * n + ["node"] * m}
    for name, values in chain_columns.items():
        if name != "geometry":
            columns[name] = values + [None] * m
    columns["id"] = [None] * n + node_columns["id"]
    columns["degree"] = [None] * n + node_columns["degree"]
    columns["geometry"] = chain_columns["geometry"] + node_columns["geometry"]
    return columns


def _data_frame(columns: dict[str, list[Any]], crs: Any) -> Any:
    """A GeoDataFrame of the columns, or the columns themselves without GeoPandas."""
    try:
        import geopandas
    except ImportError:
        return columns
    frame = geopandas.GeoDataFrame(columns, geometry="geometry", crs=crs)
    for name in ("start_node", "end_node", "id", "degree", "support"):
        if name in frame:
            # Whole numbers, with gaps on the other kind's rows in the mixed form.
            frame[name] = frame[name].astype("Int64")
    return frame
