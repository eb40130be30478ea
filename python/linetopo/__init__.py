"""Clean topological centerlines from 2-D polylines.

The functions come from the compiled core ``linetopo._internal``:

- :func:`topologize`: one curve set in; chains, nodes, chain-to-node ids and optional widths out;
- :func:`topologize_batch`: many independent curve sets in parallel;
- :func:`topologize_tiled`: one large curve set tile by tile, stitched;
- :func:`topologize_polygons`: the centerline of polygons (rivers, road areas, glyphs);
- :func:`density_centerline`: the streets that many traces follow;
- :func:`inflate_curves`: the buffer polygons the skeleton is computed from;
- :func:`triangulate_curves`: the triangles of the prepared buffer polygons;
- :func:`strokes`: a result's chains joined through its junctions into one polyline per drawn line;
- :func:`chain_sources`: the input curves that run along each chain of a result;
- :func:`fit_curves`: a chain as smooth cubic Bézier pieces within a tolerance.

:mod:`linetopo.raster` takes scans: the centerline of an image's ink.

A curve is a sequence of ``(x, y)`` tuples or an ``(n, 2)`` float NumPy array.
"""

from importlib.metadata import version as _version

from linetopo._internal import (
    chain_sources,
    density_centerline,
    fit_curves,
    inflate_curves,
    strokes,
    topologize,
    topologize_batch,
    topologize_polygons,
    topologize_tiled,
    triangulate_curves,
)

__all__ = [
    "chain_sources",
    "density_centerline",
    "fit_curves",
    "inflate_curves",
    "strokes",
    "topologize",
    "topologize_batch",
    "topologize_polygons",
    "topologize_tiled",
    "triangulate_curves",
]
__version__ = _version("linetopo")  # the one written in pyproject.toml
