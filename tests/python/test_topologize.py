"""End to end: what topologize, inflate_curves and triangulate_curves make of real drawings."""

import collections
import gzip
import json
import math
import os
import re
import threading
import time

import pytest
from drawings import circle, cross, in_threads, stroke, tee
from linetopo import inflate_curves, topologize, topologize_polygons, triangulate_curves
from linetopo._generators import scribble


def degrees(ids):
    return collections.Counter(i for pair in ids for i in pair)


def ring_area(ring):
    return 0.5 * sum(ring[i - 1][0] * ring[i][1] - ring[i][0] * ring[i - 1][1] for i in range(len(ring)))


def polygon_area(polygons):
    return sum(ring_area(outer) + sum(ring_area(h) for h in holes) for outer, holes in polygons)


@pytest.mark.parametrize("curves", [[], [[]], [[(1.0, 2.0)]], [[(0.0, 0.0)], [(5.0, 5.0)]]])
@pytest.mark.parametrize("max_nodes", [None, 0])
def test_nothing_to_skeletonize_gives_four_empty_lists(curves, max_nodes):
    assert topologize(curves, 1.0, 1.0, max_nodes=max_nodes) == ([], [], [], [])
    assert triangulate_curves(curves, 1.0, 1.0) == []


def test_straight_stroke_gives_one_chain_between_two_tips():
    chains, nodes, ids, widths = topologize([stroke(0, 0, 40, 0)], 1.0, 1.0)
    assert len(chains) == 1 and ids == [(0, 1)] and widths == []
    assert nodes == [chains[0][0], chains[0][-1]]
    assert all(abs(y) < 0.05 and -1.5 < x < 41.5 for x, y in chains[0])
    assert abs(chains[0][0][0] - chains[0][-1][0]) > 36


@pytest.mark.parametrize(
    "curves, kwargs, expected",
    [(cross(), {}, [1, 1, 1, 1, 4]), (tee(), {}, [1, 1, 1, 3]),
     # Without merging, the two junction triangles at the crossing stay two nodes.
     (cross(), dict(junction_merge_fraction=0.0), [1, 1, 1, 1, 3, 3])],
)
def test_junctions_sit_where_strokes_meet(curves, kwargs, expected):
    chains, nodes, ids, _ = topologize(curves, 1.0, 1.0, **kwargs)
    deg = degrees(ids)
    assert sorted(deg.values()) == expected
    assert all(math.hypot(*nodes[n]) < 0.5 for n, d in deg.items() if d >= 3)
    assert all(c[0] == nodes[a] and c[-1] == nodes[b] for c, (a, b) in zip(chains, ids))


def test_closed_loop_is_one_chain_on_one_node():
    assert len(inflate_curves([circle(10.0)], 1.0, 1.0)[0][1]) == 1
    chains, nodes, ids, _ = topologize([circle(10.0)], 1.0, 1.0)
    assert len(chains) == 1 and len(nodes) == 1 and ids == [(0, 0)]
    assert chains[0][0] == chains[0][-1]
    assert all(abs(math.hypot(x, y) - 10.0) < 0.3 for x, y in chains[0])


def test_widths_measure_the_band_around_a_stroke():
    # Unsimplified, so that the chain keeps points along its middle.
    chains, _, _, widths = topologize([stroke(0, 0, 40, 0)], 2.0, 1.0, simplification=0.0, compute_widths=True)
    assert [len(w) for w in widths] == [len(c) for c in chains]
    # Square caps give short corner branches at each end; the band's axis is the longest chain.
    axis, band = max(zip(chains, widths), key=lambda cw: len(cw[0]))
    middle = [w for (x, _), w in zip(axis, band) if 8 < x < 32]
    assert middle and all(3.6 < w < 4.4 for w in middle)


def test_node_limit_counts_the_graph_as_built():
    curves = scribble(3)
    with pytest.raises(ValueError) as err:
        topologize(curves, 1.0, 1.0, max_nodes=0)
    m = re.fullmatch(r"skeleton has (\d+) nodes, exceeding max_nodes limit of 0", str(err.value))
    assert m, str(err.value)
    count = int(m.group(1))
    # The limit applies before pruning and merging, so the result has far fewer nodes.
    assert len(topologize(curves, 1.0, 1.0, max_nodes=count)[1]) < count
    with pytest.raises(ValueError) as err:
        topologize(curves, 1.0, 1.0, max_nodes=count - 1)
    assert str(err.value) == f"skeleton has {count} nodes, exceeding max_nodes limit of {count - 1}"


@pytest.mark.parametrize(
    "kwargs",
    [dict(), dict(min_tip_fraction=0.0), dict(min_tip_fraction=math.nan), dict(junction_merge_fraction=0.0),
     dict(simplification=0.0), dict(simplification=-1.0), dict(merge_tolerance=0.0), dict(merge_tolerance=math.nan),
     dict(resample=0.3), dict(boundary_simplification=0.0), dict(subdivision_ratio=0.25), dict(per_curve_widths=[])],
)
def test_options_give_consistent_topology(kwargs):
    chains, nodes, ids, widths = topologize(scribble(5), 1.0, 1.0, **kwargs)
    assert len(chains) == len(ids) and widths == []
    for chain, (a, b) in zip(chains, ids):
        assert len(chain) >= 2
        assert chain[0] == nodes[a] and chain[-1] == nodes[b]
    assert sorted({i for pair in ids for i in pair}) == list(range(len(nodes)))


@pytest.mark.parametrize(
    "curves, on, off, measure",
    [(cross(), {}, dict(min_tip_fraction=0.0), lambda r: len(r[1])),
     ([circle(10.0)], dict(simplification=2.0), dict(simplification=0.0), lambda r: len(r[0][0]))],
)
def test_switching_a_stage_off_keeps_more(curves, on, off, measure):
    assert measure(topologize(curves, 1.0, 1.0, **off)) > measure(topologize(curves, 1.0, 1.0, **on)) >= 3


def test_results_repeat_exactly_and_across_threads():
    curves = scribble(11, strokes=10)
    expected = topologize(curves, 1.0, 1.0, compute_widths=True)
    assert topologize(curves, 1.0, 1.0, compute_widths=True) == expected
    assert in_threads(lambda: topologize(curves, 1.0, 1.0, compute_widths=True), 4) == [expected] * 4


def test_inflated_segment_is_a_rectangle_with_square_caps():
    polygons = inflate_curves([[(0.0, 0.0), (10.0, 0.0)]], 1.0, 1.0)
    assert len(polygons) == 1 and polygons[0][1] == []
    xs, ys = zip(*polygons[0][0])
    assert (min(xs), max(xs), min(ys), max(ys)) == pytest.approx((-1.0, 11.0, -1.0, 1.0))
    assert ring_area(polygons[0][0]) == pytest.approx(24.0)


def test_per_vertex_widths_inflate_each_point():
    curve = stroke(0, 0, 20, 0, n=5)
    uniform = polygon_area(inflate_curves([curve], 1.0, 1.0))
    varied = inflate_curves([curve], 1.0, 1.0, per_curve_widths=[[1.0, 1.0, 3.0, 1.0, 1.0]])
    assert polygon_area(varied) > uniform * 1.1
    same = inflate_curves([curve], 1.0, 1.0, per_curve_widths=[[1.0] * 5])
    assert polygon_area(same) == pytest.approx(uniform, rel=1e-6)


@pytest.mark.parametrize("tolerance, merged", [(None, True), (0.5, True), (0.0, False), (-5.0, False),
                                               (math.nan, False)])
def test_merge_tolerance_switch(tolerance, merged):
    # Two legs of an L: joined, the corner is bevelled; apart, the square caps fill it.
    legs = [[(0.0, 0.0), (10.0, 0.0)], [(10.0, 0.0), (10.0, 10.0)]]
    ((outer, holes),) = inflate_curves(legs, 1.0, 1.0, merge_tolerance=tolerance)
    assert holes == [] and len(outer) == (7 if merged else 6) and ((11.0, -1.0) in outer) != merged


def test_bad_coordinates_are_value_errors():
    with pytest.raises(ValueError, match="finite"):
        topologize([[(0.0, 0.0), (math.nan, 1.0)]], 1.0, 1.0)


def pinched_strip_traces():
    # GPS traces whose dense union, cut into strips, has an outer ring that its holes pinch into
    # parts at single points: the join across the seam gets the parts back as rings of their own.
    path = os.path.join(os.path.dirname(__file__), "..", "data", "strip_seam_hole.json.gz")
    with gzip.open(path, "rt") as f:
        return [[tuple(p) for p in c] for c in json.load(f)]


def loops(count, step=5.0, x=0.0, points=400):
    return [[(x + step * k * math.cos(2 * math.pi * i / points),
              step * k * math.sin(2 * math.pi * i / points)) for i in range(points + 1)]
            for k in range(1, count + 1)]


@pytest.mark.parametrize("rings", [loops(30), loops(120, points=200), loops(12) + loops(12, x=200.0)],
                         ids=["30 concentric", "120 concentric", "two groups side by side"])
def test_nested_rings_keep_their_own_holes(rings):
    # Each ring's buffer is an annulus in the hole of the next. An outer ring cut by a seam once
    # took the hole of the first outer ring around it that also held all of it.
    polygons = inflate_curves(rings, 1.5, 3.0)
    assert len(polygons) == len(rings) and all(len(holes) == 1 for _, holes in polygons)
    assert len(topologize(rings, 1.5, 3.0)[0]) == len(rings)
    assert len(topologize_polygons(polygons, 3.0, buffer_distance=1.5)[0]) == len(rings)


def test_islands_in_lakes_on_islands_stay_apart():
    # Annuli one inside the hole of the next, given as polygons: each keeps its own hole.
    r5, r10, r15, r20, r25, r30 = (c[:-1] for c in loops(6, points=200))
    polygons = [(r30, [r25]), (r20, [r15]), (r10, [r5])]
    chains = topologize_polygons(polygons, 1.0)[0]
    assert len(chains) == 3 and all(c[0] == c[-1] for c in chains)


def test_a_pinched_region_across_a_strip_seam_keeps_its_holes():
    curves = pinched_strip_traces()
    area = polygon_area(inflate_curves(curves, 12.0, 25.0))
    exact = triangulate_curves(curves, 12.0, 25.0, boundary_simplification=0.0)
    assert sum(abs(ring_area(list(t))) for t in exact) == pytest.approx(area, rel=1e-9)
    assert len(topologize(curves, 12.0, 25.0)[0]) > 1000


@pytest.mark.parametrize("curves", [[circle(10.0)], cross(), scribble(13)])
def test_triangles_tile_the_polygons(curves):
    area = polygon_area(inflate_curves(curves, 1.0, 1.0))
    exact = triangulate_curves(curves, 1.0, 1.0, boundary_simplification=0.0)
    assert sum(abs(ring_area(list(t))) for t in exact) == pytest.approx(area, rel=1e-9)
    simplified = triangulate_curves(curves, 1.0, 1.0)
    assert all(len(t) == 3 and all(len(p) == 2 for p in t) for t in simplified)
    assert sum(abs(ring_area(list(t))) for t in simplified) == pytest.approx(area, rel=0.03)
    assert triangulate_curves(curves, 1.0, 1.0) == simplified


def test_other_threads_run_while_topologize_computes():
    curves = scribble(17, strokes=60, points=200, size=120.0)
    span, ticks = [], []
    worker = threading.Thread(target=lambda: span.append(timed(topologize, curves, 1.0, 1.0)))
    worker.start()
    while worker.is_alive():
        ticks.append(time.perf_counter())
        time.sleep(0.001)
    # Holding the interpreter lock for the whole call would leave a gap as long as the call.
    gaps = [b - a for a, b in zip(ticks, ticks[1:])]
    assert len(ticks) > 10 and max(gaps) < 0.5 * span[0]


def timed(fn, *args):
    start = time.perf_counter()
    fn(*args)
    return time.perf_counter() - start


def test_utm_sized_coordinates_give_the_same_topology():
    dx, dy = 446000.0, 4636000.0
    curves = scribble(19)
    chains, nodes, ids, _ = topologize(curves, 1.0, 1.0)
    s_chains, s_nodes, s_ids, _ = topologize([[(x + dx, y + dy) for x, y in c] for c in curves], 1.0, 1.0)
    assert len(s_chains) == len(chains) and len(s_nodes) == len(nodes)
    assert sorted(degrees(s_ids).values()) == sorted(degrees(ids).values())
    moved = sorted((x - dx, y - dy) for x, y in s_nodes)
    assert all(math.hypot(ax - bx, ay - by) < 0.05 for (ax, ay), (bx, by) in zip(sorted(nodes), moved))
