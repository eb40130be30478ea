"""Dask: many independent curve sets as a bag, and one large set tile by tile on a cluster.

Needs the ``dask`` extra (``pip install linetopo[dask]``: dask and distributed). Work runs on
whatever scheduler Dask would use, or on the given ``distributed.Client``; the stitch of a tiled
run happens on the client.
"""

from __future__ import annotations

import importlib
import re
from typing import Any, Sequence

from . import _internal, _tiles
from ._extras import require

__all__ = ["topologize_bag", "topologize_tiled"]

_JOB_OPTIONS = tuple(_internal._SIGNATURES["topologize_batch job"][3:])
_TILED_OPTIONS = tuple(_internal._SIGNATURES["topologize_tiled"][3:])
_JOB_FAILURE = re.compile(r"topologize_batch job (\d+) failed: (.*)", re.S)


def _dask():
    dask = require("dask", "linetopo.dask")
    importlib.import_module("dask.bag")  # the bag module, once dask is known to be there
    return dask


def _check_options(options: dict, allowed: Sequence[str], function: str) -> None:
    unknown = sorted(set(options) - set(allowed))
    if unknown:
        raise TypeError(f"{function}() got an unexpected keyword argument '{unknown[0]}'")


def _batch_partition(sets: Sequence, partition: int, buffer_distance: float,
                     feature_size: float, options: dict) -> list:
    extra = tuple(options.get(name) for name in _JOB_OPTIONS)
    jobs = [(curves, buffer_distance, feature_size, *extra) for curves in sets]
    try:
        return _internal.topologize_batch(jobs)
    except ValueError as err:
        found = _JOB_FAILURE.fullmatch(str(err))
        if found is None:
            raise
        raise ValueError(f"curve set {found.group(1)} of partition {partition} failed: "
                         f"{found.group(2)}") from None


def topologize_bag(bag: Any, buffer_distance: float, feature_size: float, **options: Any) -> Any:
    """Topologize every curve set of a ``dask.bag.Bag``.

    Parameters
    ----------
    bag : dask.bag.Bag
        Each element is one independent curve set (a list of curves).
    buffer_distance, feature_size : float
        As for :func:`linetopo.topologize`, for every set.
    **options
        The options of a ``topologize_batch`` job: simplification, min_tip_fraction,
        junction_merge_fraction, max_nodes, subdivision_ratio, resample,
        boundary_simplification, merge_tolerance.

    Returns
    -------
    dask.bag.Bag
        One ``(chains, nodes, chain_node_ids)`` per set, in the order of the sets. Each partition
        runs as one ``topologize_batch``; a failing set raises ValueError naming its partition and
        its position there.

    Examples
    --------
    >>> import dask.bag
    >>> from linetopo.dask import topologize_bag
    >>> cross = [[(0, 0), (10, 0)], [(5, -5), (5, 5)]]
    >>> sets = dask.bag.from_sequence([cross, cross[:1]], npartitions=2)
    >>> results = topologize_bag(sets, 0.5, 1.0).compute(scheduler="sync")
    >>> [len(chains) for chains, nodes, chain_node_ids in results]
    [4, 1]
    """
    dask = _dask()
    _check_options(options, _JOB_OPTIONS, "topologize_bag")
    parts = [
        dask.delayed(_batch_partition)(part, i, buffer_distance, feature_size, options)
        for i, part in enumerate(bag.to_delayed())
    ]
    return dask.bag.from_delayed(parts)


def _tile_options(buffer_distance: float, feature_size: float, tile_size: float,
                  options: dict) -> dict:
    return {"buffer_distance": buffer_distance, "feature_size": feature_size,
            "tile_size": tile_size, **options}


def _run(curves: list, widths: list | None, col: int, row: int, grid: tuple,
         options: dict) -> list:
    return _tiles.run(curves, widths, col, row, grid, options)


def _corner(curves: Sequence) -> list:
    xs = [p[0] for c in curves for p in c]
    ys = [p[1] for c in curves for p in c]
    return [(min(xs), min(ys))] if xs else []


def _partition_tiles(curves: Sequence, partition: int, origin: tuple, options: dict) -> list:
    _, _, tiles = _tiles.plan(list(curves), options, origin, True)
    return [((col, row), [(partition, reached, parts)]) for col, row, reached, parts, _ in tiles]


def _key(item: tuple) -> tuple:
    return item[0]


def _add(acc: list, item: tuple) -> list:
    return acc + item[1]


def _join(a: list, b: list) -> list:
    return a + b


def topologize_tiled(curves: Any, buffer_distance: float, feature_size: float, *,
                     tile_size: float, client: Any = None, **options: Any) -> tuple:
    """:func:`linetopo.topologize_tiled` with the tiles as Dask tasks.

    Parameters
    ----------
    curves : sequence of curves, or dask.bag.Bag of curves
        A bag never has to fit in the client's memory: each partition is cut into tiles where
        it lies, and the parts of each tile are gathered on a worker. Per-vertex widths need a
        sequence.
    buffer_distance, feature_size, tile_size : float
        As for :func:`linetopo.topologize_tiled`.
    client : distributed.Client, optional
        Where the tiles run; by default Dask's current scheduler.
    **options
        The other options of :func:`linetopo.topologize_tiled`.

    Returns
    -------
    tuple
        ``(chains, nodes, chain_node_ids, widths)``, as :func:`linetopo.topologize_tiled`
        returns. A failing tile raises ValueError naming it.

    Examples
    --------
    >>> import dask
    >>> from linetopo.dask import topologize_tiled
    >>> cross = [[(0, 0), (10, 0)], [(5, -5), (5, 5)]]
    >>> with dask.config.set(scheduler="sync"):
    ...     chains, nodes, ids, widths = topologize_tiled(cross, 0.5, 1.0, tile_size=4.0)
    >>> len(chains), len(nodes)
    (4, 5)
    """
    dask = _dask()
    _check_options(options, _TILED_OPTIONS, "topologize_tiled")
    opts = _tile_options(buffer_distance, feature_size, tile_size, options)
    if isinstance(curves, dask.bag.Bag):
        if options.get("per_curve_widths") is not None:
            raise TypeError("topologize_tiled(): per_curve_widths needs the curves as a sequence")
        corners = _compute(dask, client, curves.map_partitions(_corner))
        if not corners:
            return [], [], [], []
        corner = (min(c[0] for c in corners), min(c[1] for c in corners))
        # The grid of the curves' least corner, as a plan of the whole would place it.
        grid, tolerance, _ = _tiles.plan([[corner]], opts, None, False)
        origin = grid[:2]
        # Parts are gathered per tile and put back in partition order, so that a tile sees its
        # curves in the order a single plan would give them.
        planned = dask.bag.from_delayed([
            dask.delayed(_partition_tiles)(part, i, origin, opts)
            for i, part in enumerate(curves.to_delayed())
        ])
        gathered = planned.foldby(_key, _add, [], _join, [])
        done = _compute(dask, client, gathered.map(_run_gathered, grid, opts))
        # The stitch takes the tiles in (row, col) order, as a local run does.
        pieces = [p for _, tile in sorted(done, key=lambda t: (t[0][1], t[0][0])) for p in tile]
    else:
        grid, tolerance, tiles = _tiles.plan(curves, opts, None, False)
        tasks = [dask.delayed(_run)(parts, widths, col, row, grid, opts)
                 for col, row, _, parts, widths in tiles]
        pieces = [p for tile in _compute(dask, client, tasks) for p in tile]
    return _tiles.stitch(pieces, grid, tolerance)


def _run_gathered(item: tuple, grid: tuple, options: dict) -> tuple[tuple[int, int], list]:
    (col, row), contributions = item
    contributions = sorted(contributions, key=lambda c: c[0])
    if not any(reached for _, reached, _ in contributions):
        return (col, row), []
    parts = [p for _, _, ps in contributions for p in ps]
    return (col, row), _run(parts, None, col, row, grid, options)


def _compute(dask: Any, client: Any, work: Any) -> list:
    if client is not None:
        futures = client.compute(work)
        return client.gather(futures)
    if isinstance(work, list):
        return list(dask.compute(*work))
    return work.compute()
