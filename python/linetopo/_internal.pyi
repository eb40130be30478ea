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
    keep_components: bool | None = None,
    tip_rule: str | None = None,
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
    keep_components: bool | None = None,
    tip_rule: str | None = None,
) -> tuple[list[list[Point]], list[Point], list[tuple[int, int]], list[list[float]]]: ...
def density_centerline(
    curves: Sequence[Curve],
    feature_size: SupportsFloat,
    *,
    cell: SupportsFloat | None = None,
    sigma: SupportsFloat | None = None,
    radius: SupportsFloat | None = None,
    relative: SupportsFloat = 0.35,
    min_count: SupportsFloat = 0.5,
    **options: Any,
) -> tuple[list[list[Point]], list[Point], list[tuple[int, int]], list[list[float]]]: ...
def topologize_polygons(
    polygons: Sequence[tuple[Curve, Sequence[Curve]]],
    feature_size: SupportsFloat,
    *,
    buffer_distance: SupportsFloat | None = None,
    simplification: SupportsFloat | None = None,
    min_tip_fraction: SupportsFloat | None = None,
    junction_merge_fraction: SupportsFloat | None = None,
    compute_widths: bool = False,
    subdivision_ratio: SupportsFloat | None = None,
    max_nodes: int | None = None,
    resample: SupportsFloat | None = None,
    boundary_simplification: SupportsFloat | None = None,
    keep_components: bool | None = None,
    tip_rule: str | None = None,
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
def fit_curves(
    chain: Curve,
    tolerance: SupportsFloat,
) -> list[tuple[Point, Point, Point, Point]]: ...
def chain_sources(
    chains: Sequence[Curve],
    curves: Sequence[Curve],
    radius: SupportsFloat,
    *,
    max_angle: SupportsFloat = 45.0,
    min_share: SupportsFloat = 0.5,
) -> list[list[tuple[int, float]]]: ...

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
