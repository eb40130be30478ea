"""One path from features to attributed chains, for linetopo.geo and the command line: the run
over lines and polygons, the chains' own columns and the input features each chain comes from."""

from __future__ import annotations

from typing import Any, Callable, Sequence

from . import _provenance
from .io import formats


def run(curves: list, polygons: list, buffer: float, feature_size: float,
        options: dict[str, Any], lines: Callable[..., tuple] | None = None) -> tuple:
    """The centerline of the features: with polygons, of the polygons and the lines buffered
    and united with them (the polygons' centerline follows their own outline); without, of the
    lines, by ``lines(curves, buffer, feature_size, options)``, ``topologize`` by default."""
    from . import inflate_curves, topologize, topologize_polygons

    if polygons:
        rest = dict(options)
        merge = rest.pop("merge_tolerance", None)
        drawn = [c for c in curves if len(c) >= 2]
        shapes = list(polygons) + (inflate_curves(drawn, buffer, feature_size,
                                                  merge_tolerance=merge) if drawn else [])
        return topologize_polygons(shapes, feature_size, buffer_distance=buffer, **rest)
    if lines is None:
        return topologize(curves, buffer, feature_size, **options)
    return lines(curves, buffer, feature_size, options)


def chain_columns(result: tuple, widths: bool) -> dict[str, list]:
    """Each chain's end nodes and length, in the run's units, and its widths on request."""
    chains, _, chain_node_ids, chain_widths = result
    columns: dict[str, list] = {"start_node": [s for s, _ in chain_node_ids],
                                "end_node": [e for _, e in chain_node_ids],
                                "length": formats.lengths(chains)}
    if widths:
        columns["widths"] = [list(w) for w in chain_widths]
    return columns


def chain_sources(result: tuple, lengths: Sequence[float], curves: Sequence[Any],
                  feature_of: Sequence[int], polygons: Sequence[Any], polygon_of: Sequence[int],
                  buffer: float, feature_size: float) -> list[dict[int, float]]:
    """Per chain, the length of it each input feature runs along: the features whose lines run
    along it, and those whose polygons hold it (see linetopo.chain_sources)."""
    radius = _provenance.source_radius(buffer, feature_size)
    return _provenance.sources(result[0], lengths, curves, feature_of, radius, polygons,
                               polygon_of)
