"""What the lines of a result keep of their input: the features that made each line (its
sources), how many there are (support), the main one, and one value per attribute column."""

from __future__ import annotations

import json
import math
from typing import Any, Mapping, Sequence

# How a line's value of an input column is made from its sources' values: the one that runs
# along most of the line (ties: the lowest source's), the lowest source's, the list of distinct
# values, no columns, or for columns of numbers their sum, their mean weighted by the length
# each runs along the line, or their largest (other columns then take the mode).
AGGREGATIONS = ("mode", "first", "list", "none", "sum", "mean", "max")
_NUMERIC = ("sum", "mean", "max")
DEFAULT_AGGREGATION = "mode"


def source_radius(buffer_distance: float, feature_size: float) -> float:
    """How near an input curve must pass to run along a chain: the buffer, which bridges the
    curves into one region, plus half the feature size the chains are smoothed at."""
    return buffer_distance + feature_size / 2


def sources(chains: Sequence[Any], lengths: Sequence[float], curves: Sequence[Any],
            feature_of: Sequence[int], radius: float,
            polygons: Sequence[tuple[Any, Sequence[Any]]] = (),
            polygon_of: Sequence[int] = ()) -> list[dict[int, float]]:
    """Per chain (of the given lengths), the length of it each source feature runs along, by
    feature index: the features of the curves that run along it, and of the polygons that
    hold it."""
    along = _curve_sources(chains, lengths, curves, feature_of, radius)
    if polygons:
        inside = _polygon_sources(chains, lengths, polygons, polygon_of)
        along = [{**a, **b} for a, b in zip(along, inside)]
    return along


def _curve_sources(chains: Sequence[Any], lengths: Sequence[float], curves: Sequence[Any],
                   feature_of: Sequence[int], radius: float) -> list[dict[int, float]]:
    """A curve is a source of a chain where it runs along at least the least share of the chain
    (``chain_sources``' default), or for that share of its own length: a street cut into short
    pieces between its junctions (as OpenStreetMap has them) gives each of its chains its
    pieces. Features made of several curves (the parts of a MultiLineString) count once, with
    the longest share of their curves."""
    import inspect

    from . import chain_sources

    least = inspect.signature(chain_sources).parameters["min_share"].default
    own: dict[int, float] = {}  # curve lengths, measured only for curves short of the chain share

    def own_length(curve: int) -> float:
        if curve not in own:
            c = curves[curve]
            own[curve] = sum(math.dist(p, q) for p, q in zip(c[:-1], c[1:]))
        return own[curve]

    out: list[dict[int, float]] = []
    for length, sources in zip(lengths, chain_sources(chains, curves, radius, min_share=0.0)):
        along: dict[int, float] = {}
        for curve, share in sources:
            # The length of the chain a curve runs along is about as much of its own.
            if share < least:
                mine = own_length(curve)
                if not (mine > 0.0 and share * length >= least * mine):
                    continue
            feature = feature_of[curve]
            along[feature] = max(along.get(feature, 0.0), share * length)
        out.append(along)
    return out


def _polygon_sources(chains: Sequence[Any], lengths: Sequence[float],
                     polygons: Sequence[tuple[Any, Sequence[Any]]],
                     feature_of: Sequence[int]) -> list[dict[int, float]]:
    """The polygons a chain lies in (as taken at its middle point), each with the chain's whole
    length: a polygon's centerline runs along all of it."""
    from ._internal import _regions

    middles = [_middle(c, length) for c, length in zip(chains, lengths)]
    return [{feature_of[p]: length for p in found}
            for length, found in zip(lengths, _regions.polygons_at(middles, polygons))]


def _middle(line: Any, length: float) -> tuple[float, float]:
    """The point halfway along a line."""
    left = length / 2
    for p, q in zip(line[:-1], line[1:]):
        step = math.dist(p, q)
        if step >= left and step > 0:
            t = left / step
            return (float(p[0]) + t * (float(q[0]) - float(p[0])),
                    float(p[1]) + t * (float(q[1]) - float(p[1])))
        left -= step
    return float(line[0][0]), float(line[0][1])


def joined(per_chain: Sequence[dict[int, float]],
           walks: Sequence[Sequence[tuple[int, bool]]]) -> list[dict[int, float]]:
    """The sources of lines made of chains (strokes): every source of their chains, with the
    lengths each runs along summed."""
    out = []
    for walk in walks:
        along: dict[int, float] = {}
        for chain, _ in walk:
            for feature, length in per_chain[chain].items():
                along[feature] = along.get(feature, 0.0) + length
        out.append(along)
    return out


def main_source(along: dict[int, float]) -> int | None:
    """The source that runs along most of the line (ties: the lowest), None without one."""
    return min(along, key=lambda f: (-along[f], f)) if along else None


def _key(value: Any) -> Any:
    """A hashable stand-in for counting values equal, lists and mappings included."""
    try:
        hash(value)
        return value
    except TypeError:
        return json.dumps(value, sort_keys=True, default=str)


def aggregate(values: Sequence[Any], how: str, lengths: Sequence[float] | None = None) -> Any:
    """One value from the sources' values, given in ascending source order with the length of
    the line each runs along (for ``mode``; by default one each); None (a missing value) counts
    only when every source lacks the value."""
    weights = [1.0] * len(values) if lengths is None else list(lengths)
    present = [v for v in values if v is not None]
    if not present:
        return None
    if how == "first":
        return present[0]
    if how in _NUMERIC:
        numbers = [(v, w) for v, w in zip(values, weights) if v is not None]
        if how == "sum":
            return sum(v for v, _ in numbers)
        if how == "max":
            return max(v for v, _ in numbers)
        total = sum(w for _, w in numbers)
        if total > 0:
            return sum(v * w for v, w in numbers) / total
        return sum(v for v, _ in numbers) / len(numbers)
    if how == "list":
        distinct: dict[Any, Any] = {}
        for v in present:
            distinct.setdefault(_key(v), v)
        return list(distinct.values())
    totals: dict[Any, float] = {}
    for v, w in zip(values, weights):
        if v is not None:
            totals[_key(v)] = totals.get(_key(v), 0.0) + w
    most = max(totals.values())
    return next(v for v in present if totals[_key(v)] == most)


def _numbers(values: Sequence[Any]) -> bool:
    """Whether a column holds numbers only (booleans are no numbers here), missing values aside."""
    return all(isinstance(v, (int, float)) and not isinstance(v, bool)
               for v in values if v is not None)


def attribute_columns(sources: Sequence[dict[int, float]], columns: Mapping[str, Sequence[Any]],
                      how: str, taken: Sequence[str]) -> tuple[dict[str, list[Any]], list[str]]:
    """``support`` and each input column aggregated per line, with notes for the user.

    An input column whose name one of ``taken`` (or ``support``) already has is written with
    ``input_`` before its name."""
    if how not in AGGREGATIONS:
        raise ValueError(f"attributes must be one of {', '.join(AGGREGATIONS)}, got {how!r}")
    out: dict[str, list[Any]] = {"support": [len(s) for s in sources]}
    notes: list[str] = []
    if how == "none":
        return out, notes
    # GIS formats take field names without regard to case: LENGTH clashes with length.
    used = {n.lower() for n in [*taken, *out]}
    for name, values in columns.items():
        written = name
        while written.lower() in used:
            written = f"input_{written}"
        if written != name:
            notes.append(f"the input column {name!r} is written as {written!r}")
        used.add(written.lower())
        column_how = how if how not in _NUMERIC or _numbers(values) else DEFAULT_AGGREGATION
        out[written] = [aggregate([values[f] for f in sorted(s)], column_how,
                                  [s[f] for f in sorted(s)]) for s in sources]
        if any(_beyond_64_bits(v) for v in out[written]):
            # No GIS format holds them as numbers; text keeps every digit.
            out[written] = [None if v is None else str(v) for v in out[written]]
            notes.append(f"the input column {name!r} holds integers beyond 64 bits: written as "
                         "text")
    return out, notes


def _beyond_64_bits(value: Any) -> bool:
    return (isinstance(value, int) and not isinstance(value, bool)
            and not -(2 ** 63) <= value < 2 ** 63)
