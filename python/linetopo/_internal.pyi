from collections.abc import Sequence
from typing import Any, SupportsFloat, TypeAlias

Point: TypeAlias = tuple[float, float]
Curve: TypeAlias = Sequence[tuple[SupportsFloat, SupportsFloat]] | Any  # or an (n, 2) float array
Polygon: TypeAlias = tuple[list[Point], list[list[Point]]]
Triangle: TypeAlias = tuple[Point, Point, Point]

def inflate_curves(
    curves: Sequence[Curve],
    buffer_distance: SupportsFloat,
    feature_size: SupportsFloat,
    per_curve_widths: Sequence[Sequence[SupportsFloat]] | None = None,
    merge_tolerance: SupportsFloat | None = None,
) -> list[Polygon]: ...
def triangulate_curves(
    curves: Sequence[Curve],
    buffer_distance: SupportsFloat,
    feature_size: SupportsFloat,
    per_curve_widths: Sequence[Sequence[SupportsFloat]] | None = None,
    subdivision_ratio: SupportsFloat | None = None,
    resample: SupportsFloat | None = None,
    boundary_simplification: SupportsFloat | None = None,
    merge_tolerance: SupportsFloat | None = None,
) -> list[Triangle]: ...
def topologize(
    curves: Sequence[Curve],
    buffer_distance: SupportsFloat,
    feature_size: SupportsFloat,
    simplification: SupportsFloat | None = None,
    min_tip_fraction: SupportsFloat | None = None,
    junction_merge_fraction: SupportsFloat | None = None,
    per_curve_widths: Sequence[Sequence[SupportsFloat]] | None = None,
    compute_widths: bool = False,
    subdivision_ratio: SupportsFloat | None = None,
    max_nodes: int | None = None,
    resample: SupportsFloat | None = None,
    boundary_simplification: SupportsFloat | None = None,
    merge_tolerance: SupportsFloat | None = None,
) -> tuple[list[list[Point]], list[Point], list[tuple[int, int]], list[list[float]]]: ...
def topologize_tiled(
    curves: Sequence[Curve],
    buffer_distance: SupportsFloat,
    feature_size: SupportsFloat,
    *,
    tile_size: SupportsFloat,
    simplification: SupportsFloat | None = None,
    min_tip_fraction: SupportsFloat | None = None,
    junction_merge_fraction: SupportsFloat | None = None,
    per_curve_widths: Sequence[Sequence[SupportsFloat]] | None = None,
    compute_widths: bool = False,
    subdivision_ratio: SupportsFloat | None = None,
    max_nodes: int | None = None,
    resample: SupportsFloat | None = None,
    boundary_simplification: SupportsFloat | None = None,
    merge_tolerance: SupportsFloat | None = None,
) -> tuple[list[list[Point]], list[Point], list[tuple[int, int]], list[list[float]]]: ...
def topologize_batch(
    jobs: Sequence[tuple[Any, ...]],
) -> list[tuple[list[list[Point]], list[Point], list[tuple[int, int]]]]: ...
def strokes(
    chains: Sequence[Curve],
    nodes: Sequence[tuple[SupportsFloat, SupportsFloat]] | Any,
    chain_node_ids: Sequence[tuple[int, int]],
    *,
    max_turn: SupportsFloat = 45.0,
    tangent_reach: SupportsFloat | None = None,
) -> tuple[list[list[Point]], list[list[tuple[int, bool]]]]: ...

# The option table and the signatures built from it, and the versions the core was built with.
_PARAMETERS: list[dict[str, Any]]
_SIGNATURES: dict[str, tuple[str, ...]]
_VERSIONS: dict[str, str]

# The steps of topologize_tiled, for runners that spread the tiles themselves (linetopo.dask).
# grid: (origin x, origin y, tile size); a tile: (col, row, reached, parts, widths or None); a
# piece: (points, widths, start cut, end cut).
TileGrid: TypeAlias = tuple[float, float, float]
def _plan_tiles(
    curves: Sequence[Curve],
    options: dict[str, Any],
    origin: tuple[float, float] | None,
    all_tiles: bool,
) -> tuple[TileGrid, float, list[tuple[int, int, bool, list[list[Point]], list[list[float]] | None]]]: ...
def _run_tile(
    curves: Sequence[Curve],
    widths: Sequence[Sequence[SupportsFloat]] | None,
    col: int,
    row: int,
    grid: TileGrid,
    options: dict[str, Any],
) -> list[tuple[list[Point], list[float], bool, bool]]: ...
def _stitch(
    pieces: Sequence[tuple[Any, ...]],
    grid: TileGrid,
    tolerance: float,
) -> tuple[list[list[Point]], list[Point], list[tuple[int, int]], list[list[float]]]: ...
