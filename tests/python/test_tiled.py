"""Tiled topologize against the untiled call: the same centerline, up to small differences."""

import math
import random

import numpy as np
import pytest
from drawings import cross
from linetopo import _internal, _tiles, topologize
from linetopo._generators import SCALED, gps, random_walks, scribble


def distances(points, chains):
    """Distance from each point to the nearest segment of the chains."""
    a = np.array([c[i] for c in chains for i in range(len(c) - 1)])
    b = np.array([c[i + 1] for c in chains for i in range(len(c) - 1)])
    out = []
    for chunk in np.array_split(np.asarray(points), max(1, len(points) // 256)):
        d = b - a
        t = np.clip(((chunk[:, None, :] - a) * d).sum(-1) / np.maximum((d * d).sum(-1), 1e-300), 0, 1)
        nearest = a + t[..., None] * d
        out.append(np.sqrt(((chunk[:, None, :] - nearest) ** 2).sum(-1)).min(1))
    return np.concatenate(out)


def degrees(result):
    d = [0] * len(result[1])
    for s, e in result[2]:
        d[s] += 1
        d[e] += 1
    return d


def border_distance(p, tile, origin):
    return min(abs((v - o) / tile - round((v - o) / tile)) * tile for v, o in zip(p, origin))


CASES = {
    "cross": lambda: (cross(10.0, 41), 1.0, 1.0, 7.0),
    "gps": lambda: (*gps(8_000), 900.0),
    "scribble": lambda: (scribble(5, strokes=40, points=60, size=120.0), 1.0, 2.0, 35.0),
}


@pytest.mark.parametrize("name", sorted(CASES))
def test_tiled_matches_untiled(name):
    curves, r, fs, tile = CASES[name]()
    whole = topologize(curves, r, fs)
    tiled = _internal.topologize_tiled(curves, r, fs, tile_size=tile)
    points = lambda res: [p for c in res[0] for p in c]  # noqa: E731
    assert distances(points(whole), tiled[0]).max() <= fs / 2
    assert distances(points(tiled), whole[0]).max() <= fs / 2
    # Same invariants as topologize: ids index nodes, chains start and end at them.
    for chain, (s, e) in zip(tiled[0], tiled[2]):
        assert len(chain) >= 2 and chain[0] == tiled[1][s] and chain[-1] == tiled[1][e]
    origin = _tiles.plan(curves, {"buffer_distance": r, "feature_size": fs, "tile_size": tile}, None, False)[0][:2]
    whole_deg, tiled_deg = degrees(whole), degrees(tiled)
    for node, degree in zip(tiled[1], tiled_deg):
        near = [i for i, q in enumerate(whole[1]) if math.dist(node, q) <= fs]
        if degree == 1 and border_distance(node, tile, origin) <= fs / 2:
            assert any(whole_deg[i] == 1 for i in near), node  # no tip made by a border
        if border_distance(node, tile, origin) > 2 * fs and near:
            assert degree in [whole_deg[i] for i in near], node


def hausdorff(a, b, fs):
    """The Hausdorff distance between two chain lists, over points every fs / 8 along each."""
    def dense(chains):
        out = []
        for c in map(np.asarray, chains):
            for p, q in zip(c[:-1], c[1:]):
                n = max(1, math.ceil(math.dist(p, q) / (fs / 8)))
                out.extend(p + (q - p) * t for t in np.arange(n) / n)
            out.append(c[-1])
        return out
    return max(distances(dense(a), b).max(), distances(dense(b), a).max())


def tiling_case(kind, seed, points):
    if kind == "walks":
        return random_walks(points, seed=seed)[0], 2.0, 4.0
    return gps(points, seed=seed)


# The tiled result follows the untiled one within fs / 2, with as many chains give or take two.
# A tip whose pruning sits at its threshold close to a tile border can come out otherwise (about
# two tilings in a hundred): the bound there is the pruning length, min_tip_fraction x fs.
def test_random_tilings_follow_the_untiled_result():
    rng = random.Random(7)
    far = []
    for case in range(50):
        curves, r, fs = tiling_case(["walks", "gps"][case % 2], rng.randrange(1000), 1000)
        tile = rng.choice([5, 8, 10, 15, 25, 40, 60]) * fs
        whole = topologize(curves, r, fs)
        tiled = _internal.topologize_tiled(curves, r, fs, tile_size=tile)
        h = hausdorff(whole[0], tiled[0], fs)
        assert h <= 2 * fs, (case, tile / fs)
        assert abs(len(tiled[0]) - len(whole[0])) <= 2, (case, tile / fs)
        far += [(case, tile / fs, h / fs)] if h > fs / 2 else []
    assert len(far) <= 2, far


# Where the offset pieces of one long trace overlapped, the union left a crack one grid unit
# wide along a piece's flat end; a tile holding part of the trace cut it into other pieces, and
# a tip grew there in one result and not in the other.
@pytest.mark.parametrize("seed, tile_fs", [(352, 25), (317, 5)])
def test_tilings_that_once_met_a_crack(seed, tile_fs):
    curves, r, fs = tiling_case("gps", seed, 3000)
    whole = topologize(curves, r, fs)
    tiled = _internal.topologize_tiled(curves, r, fs, tile_size=tile_fs * fs)
    assert hausdorff(whole[0], tiled[0], fs) <= fs / 2
    assert len(tiled[0]) == len(whole[0])


def test_tile_errors_and_arguments():
    with pytest.raises(ValueError, match="tile_size must be a positive finite number, got 0"):
        _internal.topologize_tiled(scribble(1), 1.0, 2.0, tile_size=0.0)
    with pytest.raises(TypeError):
        _internal.topologize_tiled(scribble(1), 1.0, 2.0, 10.0)  # tile_size is keyword-only
    with pytest.raises(ValueError, match=r"tile \(-?\d+, -?\d+\) failed: skeleton has"):
        _internal.topologize_tiled(scribble(1), 1.0, 2.0, tile_size=20.0, max_nodes=1)
    assert _internal.topologize_tiled([], 1.0, 2.0, tile_size=5.0) == ([], [], [], [])
    with pytest.raises(TypeError, match="value must be a number, not bool"):
        _internal.topologize_tiled(scribble(1), 1.0, 2.0, tile_size=True)


def test_tiles_far_smaller_than_their_halo_are_refused_before_any_work():
    curves, r, fs = SCALED["random walks"](4000)
    with pytest.raises(ValueError, match=r"more than 52000 tiles to visit \(the most for 4000 input"):
        _internal.topologize_tiled(curves, r, fs, tile_size=2.0)
    assert _internal.topologize_tiled(curves, r, fs, tile_size=4.0)[0]  # the same input, larger tiles


def test_tile_steps_leave_the_callers_options_alone():
    options = {"buffer_distance": 1.0, "feature_size": 2.0, "tile_size": 20.0}
    grid, tolerance, tiles = _tiles.plan(cross(), options, None, False)
    pieces = [p for col, row, _, parts, widths in tiles
              for p in _tiles.run(parts, widths, col, row, grid, options)]
    assert options == {"buffer_distance": 1.0, "feature_size": 2.0, "tile_size": 20.0}
    assert _tiles.stitch(pieces, grid, tolerance) == _internal.topologize_tiled(cross(), **options)
    # Lists where tuples are written read the same; anything else is a TypeError, not a crash.
    as_lists = [[list(points), list(widths), start, end] for points, widths, start, end in pieces]
    assert _tiles.stitch(as_lists, list(grid), tolerance) == _tiles.stitch(pieces, grid, tolerance)
    for bad in ([pieces[0][:3]], 7):
        with pytest.raises(TypeError, match="argument 'pieces'"):
            _tiles.stitch(bad, grid, tolerance)


@pytest.mark.parametrize("tip, merge", [(None, None), (1.0, 0.5)])
def test_each_tile_gets_the_curves_within_the_documented_halo(tip, merge):
    r, fs, tile = 1.5, 2.0, 50.0
    options = {"buffer_distance": r, "feature_size": fs, "tile_size": tile}
    if tip is not None:
        options.update(min_tip_fraction=tip, junction_merge_fraction=merge)
    halo = 2 * r + 2 * fs * ((2.0 if tip is None else tip) + (1.5 if merge is None else merge)) + fs
    grid, _, tiles = _tiles.plan([[(-500.0, 10.0), (500.0, 10.0)]], options, None, False)
    inner = [(col, parts) for col, row, _, parts, _ in tiles if -400 < grid[0] + col * tile < 400]
    assert inner
    for col, parts in inner:
        xs = [x for part in parts for x, _ in part]
        x0 = grid[0] + col * tile
        assert min(xs) == pytest.approx(x0 - halo) and max(xs) == pytest.approx(x0 + tile + halo)
