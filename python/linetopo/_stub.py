"""The type stub of the compiled core, ``_internal.pyi``, made from the core itself: each
function's parameters, their order, kinds and defaults come from its text signature, and the
types of the options from the core's option table. Only the types of what the table does not
hold (results, and the arguments of strokes, fit_curves, chain_sources, density_centerline and
topologize_batch) are written here.

    python -m linetopo._stub > python/linetopo/_internal.pyi
"""

from __future__ import annotations

import inspect

from . import _internal

HEADER = '''from collections.abc import Sequence
from typing import Any, SupportsFloat, TypeAlias

Point: TypeAlias = tuple[float, float]
Curve: TypeAlias = Sequence[tuple[SupportsFloat, SupportsFloat]] | Any  # or an (n, 2) float array
Polygon: TypeAlias = tuple[list[Point], list[list[Point]]]
Triangle: TypeAlias = tuple[Point, Point, Point]
'''
FOOTER = '''
# The option table and the signatures built from it, and the versions the core was built with.
_PARAMETERS: list[dict[str, Any]]
_MAX_POINTS_VARIABLE: str
_BOUNDARY_POINTS_PER_INPUT_POINT: int
_BOUNDARY_POINTS_PER_CURVE: int
_AREA_BUFFER_FRACTION: float
_SIGNATURES: dict[str, tuple[str, ...]]
_SIGNATURE_DEFAULTS: dict[str, dict[str, str]]
_DENSITY_DEFAULTS: dict[str, float]
_VERSIONS: dict[str, str]

# The steps of topologize_tiled; linetopo._tiles gives them types and documentation.
_tiles: Any
# Point in polygon, with which the readers give a polygon's chains their sources.
_regions: Any
# The centerline of a grey image's ink; linetopo.raster reads the image.
_raster: Any
'''
# The type of each kind of option in the table.
KINDS = {
    "curves": "Sequence[Curve]",
    "polygons": "Sequence[tuple[Curve, Sequence[Curve]]]",
    "float": "SupportsFloat",
    "optional float": "SupportsFloat | None",
    "optional int": "int | None",
    "bool": "bool",
    "optional widths": "Sequence[Sequence[SupportsFloat]] | None",
    "optional bool": "bool | None",
    "optional text": "str | None",
}
# Arguments the table does not hold.
OTHERS = {
    "jobs": "Sequence[tuple[Any, ...]]",
    "chains": "Sequence[Curve]",
    "nodes": "Sequence[tuple[SupportsFloat, SupportsFloat]] | Any",
    "chain_node_ids": "Sequence[tuple[int, int]]",
    "max_turn": "SupportsFloat",
    "tangent_reach": "SupportsFloat",
    "chain": "Curve",
    "tolerance": "SupportsFloat",
    "radius": "SupportsFloat",
    "max_angle": "SupportsFloat",
    "min_share": "SupportsFloat",
    "cell": "SupportsFloat",
    "sigma": "SupportsFloat",
    "relative": "SupportsFloat",
    "min_count": "SupportsFloat",
    "options": "Any",
}
RESULT = "tuple[list[list[Point]], list[Point], list[tuple[int, int]], list[list[float]]]"
RETURNS = {
    "inflate_curves": "list[Polygon]",
    "triangulate_curves": "list[Triangle]",
    "topologize": RESULT,
    "topologize_tiled": RESULT,
    "density_centerline": RESULT,
    "topologize_polygons": RESULT,
    "topologize_batch": "list[tuple[list[list[Point]], list[Point], list[tuple[int, int]]]]",
    "strokes": "tuple[list[list[Point]], list[list[tuple[int, bool]]]]",
    "fit_curves": "list[tuple[Point, Point, Point, Point]]",
    "chain_sources": "list[list[tuple[int, float]]]",
}


def _annotation(parameter: inspect.Parameter, kinds: dict[str, str]) -> str:
    if parameter.name in OTHERS:
        text = OTHERS[parameter.name]
    else:
        text = KINDS[kinds[parameter.name]]
    # What defaults to None takes None: an option the table requires that this function leaves
    # optional (the buffer of polygons), the density's own radius.
    if parameter.default is None and not text.endswith("| None"):
        text += " | None"
    return text


def _function(name: str, kinds: dict[str, str]) -> str:
    signature = inspect.signature(getattr(_internal, name))
    lines, star = [], False
    for p in signature.parameters.values():
        if p.kind is p.KEYWORD_ONLY and not star:
            lines.append("    *,")
            star = True
        if p.kind is p.VAR_KEYWORD:
            lines.append(f"    **{p.name}: {_annotation(p, kinds)},")
            continue
        default = "" if p.default is p.empty else f" = {p.default!r}"
        lines.append(f"    {p.name}: {_annotation(p, kinds)}{default},")
    return f"def {name}(\n" + "\n".join(lines) + f"\n) -> {RETURNS[name]}: ...\n"


def stub() -> str:
    """The text of ``_internal.pyi``."""
    kinds = {p["name"]: p["kind"] for p in _internal._PARAMETERS}
    return HEADER + "\n" + "".join(_function(name, kinds) for name in RETURNS) + FOOTER


if __name__ == "__main__":
    print(stub(), end="")
