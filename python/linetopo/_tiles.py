"""The steps of ``topologize_tiled``, for runners that spread the tiles themselves.

``linetopo.dask`` plans the tiles, runs each one where it likes and stitches the pieces; the
result is that of ``topologize_tiled`` with the same options.
"""

from __future__ import annotations

from typing import Any, Mapping, Sequence

from ._internal import _tiles as _core

Point = tuple[float, float]
# (origin x, origin y, tile size): tile (col, row) is the square from origin + (col, row) × size.
Grid = tuple[float, float, float]
# A tile's input: (col, row, reached, curves clipped to the tile and its halo, their radii or None).
# ``reached`` is whether any of its curves comes near the tile's own square.
Tile = tuple[int, int, bool, list[list[Point]], list[list[float]] | None]
# A chain clipped to a tile's square: (points, widths or [], start is a cut, end is a cut).
Piece = tuple[list[Point], list[float], bool, bool]


def plan(curves: Sequence[Any], options: Mapping[str, Any], origin: Point | None = None,
         all_tiles: bool = False) -> tuple[Grid, float, list[Tile]]:
    """Cuts the curves into tiles.

    Parameters
    ----------
    curves : sequence of curves
        As ``topologize_tiled`` takes them.
    options : mapping
        ``topologize_tiled``'s keyword arguments, ``tile_size`` among them.
    origin : (x, y), optional
        Where the grid starts; by default a little below and left of the curves' least
        coordinates. Plans of parts of one input share the grid of the whole this way.
    all_tiles : bool
        Also list the tiles whose curves only pass through their halo.

    Returns
    -------
    grid, tolerance, tiles
        The grid, the stitch tolerance, and the tiles in (row, col) order.
    """
    return _core.plan(curves, dict(options), origin, all_tiles)


def run(curves: Sequence[Any], widths: Sequence[Sequence[float]] | None, col: int, row: int,
        grid: Grid, options: Mapping[str, Any]) -> list[Piece]:
    """Runs one tile: ``topologize`` on its curves, the chains clipped to its square."""
    return _core.run(curves, widths, col, row, grid, dict(options))


def stitch(pieces: Sequence[Piece], grid: Grid, tolerance: float) -> tuple:
    """Joins the pieces of every tile into one result, as ``topologize_tiled`` returns it."""
    return _core.stitch(pieces, grid, tolerance)
