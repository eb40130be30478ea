"""End to end: what topologize, inflate_curves and triangulate_curves make of real drawings."""

import collections
import math
import re
import threading

import pytest

from linetopo import inflate_curves, topologize, triangulate_curves
from drawings import circle, cross, scribble, stroke, tee


def degrees(ids):
    count = collections.Counter()
    for a, b in ids:
        count[a] += 1
        count[b] += 1
    return count


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
    for x, y in chains[0]:
        assert abs(y) < 0.05 and -1.5 < x < 41.5
    assert abs(chains[0][0][0] - chains[0][-1][0]) > 36


def test_cross_meets_at_one_junction_of_degree_four():
    chains, nodes, ids, _ = topologize(cross(), 1.0, 1.0)
    deg = degrees(ids)
    junctions = [n for n, d in deg.items() if d >= 3]
    assert len(chains) == 4 and len(junctions) == 1 and deg[junctions[0]] == 4
    jx, jy = nodes[junctions[0]]
    assert math.hypot(jx, jy) < 0.5
    for chain, (a, b) in zip(chains, ids):
        assert chain[0] == nodes[a] and chain[-1] == nodes[b]


def test_tee_has_a_junction_of_degree_three():
    _, nodes, ids, _ = topologize(tee(), 1.0, 1.0)
    deg = degrees(ids)
    assert sorted(deg.values()) == [1, 1, 1, 3]


def test_closed_loop_is_one_chain_on_one_node():
    chains, nodes, ids, _ = topologize([circle(10.0)], 1.0, 1.0)
    assert len(chains) == 1 and len(nodes) == 1 and ids == [(0, 0)]
    assert chains[0][0] == chains[0][-1]
    for x, y in chains[0]:
        assert abs(math.hypot(x, y) - 10.0) < 0.3


def test_widths_measure_the_band_around_a_stroke():
    # Unsimplified, so that the chain keeps points along its middle.
    chains, _, _, widths = topologize([stroke(0, 0, 40, 0)], 2.0, 1.0, simplification=0.0, compute_widths=True)
    assert [len(w) for w in widths] == [len(c) for c in chains]
    # Square caps give short corner branches at each end; the band's axis is the longest chain.
    axis = max(range(len(chains)), key=lambda k: len(chains[k]))
    middle = [w for (x, _), w in zip(chains[axis], widths[axis]) if 8 < x < 32]
    assert middle and all(3.6 < w < 4.4 for w in middle)


def node_count(curves, **kw):
    with pytest.raises(ValueError) as err:
        topologize(curves, 1.0, 1.0, max_nodes=0, **kw)
    m = re.fullmatch(r"skeleton has (\d+) nodes, exceeding max_nodes limit of 0", str(err.value))
    assert m, str(err.value)
    return int(m.group(1))


def test_node_limit_counts_the_graph_as_built():
    curves = scribble(3)
    count = node_count(curves)
    chains, nodes, _, _ = topologize(curves, 1.0, 1.0, max_nodes=count)
    # The limit applies before pruning and merging, so the result has far fewer nodes.
    assert len(nodes) < count
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


def test_switching_pruning_off_keeps_more_tips():
    curves = scribble(7)
    pruned = topologize(curves, 1.0, 1.0)
    unpruned = topologize(curves, 1.0, 1.0, min_tip_fraction=0.0)
    assert len(unpruned[0]) >= len(pruned[0])


def test_simplification_off_keeps_more_points():
    curves = [circle(10.0)]
    simple = topologize(curves, 1.0, 1.0, simplification=2.0)[0]
    full = topologize(curves, 1.0, 1.0, simplification=0.0)[0]
    assert len(full[0]) > len(simple[0]) >= 3


def test_results_repeat_exactly_and_across_threads():
    curves = scribble(11, strokes=10)
    expected = topologize(curves, 1.0, 1.0, compute_widths=True)
    assert topologize(curves, 1.0, 1.0, compute_widths=True) == expected
    results = [None] * 4

    def work(i):
        results[i] = topologize(curves, 1.0, 1.0, compute_widths=True)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [expected] * 4


def test_inflated_segment_is_a_rectangle_with_square_caps():
    polygons = inflate_curves([[(0.0, 0.0), (10.0, 0.0)]], 1.0, 1.0)
    assert len(polygons) == 1 and polygons[0][1] == []
    xs = [p[0] for p in polygons[0][0]]
    ys = [p[1] for p in polygons[0][0]]
    assert min(xs) == pytest.approx(-1.0) and max(xs) == pytest.approx(11.0)
    assert min(ys) == pytest.approx(-1.0) and max(ys) == pytest.approx(1.0)
    assert ring_area(polygons[0][0]) == pytest.approx(24.0)


def test_loop_keeps_its_hole_and_triangles_cover_the_polygon():
    polygons = inflate_curves([circle(10.0)], 1.0, 1.0)
    assert len(polygons) == 1 and len(polygons[0][1]) == 1
    triangles = triangulate_curves([circle(10.0)], 1.0, 1.0)
    area = sum(abs(ring_area(list(t))) for t in triangles)
    assert area == pytest.approx(polygon_area(polygons), rel=0.03)
    assert all(len(t) == 3 and all(len(p) == 2 for p in t) for t in triangles)


def test_per_vertex_widths_inflate_each_point():
    curve = stroke(0, 0, 20, 0, n=5)
    uniform = inflate_curves([curve], 1.0, 1.0)
    varied = inflate_curves([curve], 1.0, 1.0, per_curve_widths=[[1.0, 1.0, 3.0, 1.0, 1.0]])
    assert polygon_area(varied) > polygon_area(uniform) * 1.1
    same = inflate_curves([curve], 1.0, 1.0, per_curve_widths=[[1.0] * 5])
    assert polygon_area(same) == pytest.approx(polygon_area(uniform), rel=1e-6)


def test_merge_tolerance_joins_pieces_of_one_stroke():
    # Two halves whose ends nearly meet: merged, they are one curve and one chain.
    halves = [stroke(0, 0, 20, 0), stroke(20.004, 0, 40, 0)]
    merged = topologize(halves, 1.0, 1.0)
    assert len(merged[0]) == 1


def test_bad_coordinates_are_value_errors():
    with pytest.raises(ValueError, match="finite"):
        topologize([[(0.0, 0.0), (math.nan, 1.0)]], 1.0, 1.0)


@pytest.mark.parametrize("curves", [[circle(10.0)], cross(), scribble(13)])
def test_triangles_tile_the_polygons_exactly_without_simplification(curves):
    polygons = inflate_curves(curves, 1.0, 1.0)
    triangles = triangulate_curves(curves, 1.0, 1.0, boundary_simplification=0.0)
    assert sum(abs(ring_area(list(t))) for t in triangles) == pytest.approx(polygon_area(polygons), rel=1e-9)
    assert triangulate_curves(curves, 1.0, 1.0) == triangulate_curves(curves, 1.0, 1.0)


def test_other_threads_run_while_topologize_computes():
    import time

    curves = scribble(17, strokes=60, points=200, size=120.0)
    done = threading.Event()
    span = []

    def work():
        t = time.perf_counter()
        topologize(curves, 1.0, 1.0)
        span.append(time.perf_counter() - t)
        done.set()

    worker = threading.Thread(target=work)
    ticks = []
    worker.start()
    while not done.is_set():
        ticks.append(time.perf_counter())
        time.sleep(0.001)
    worker.join()
    # Holding the interpreter lock for the whole call would leave a gap as long as the call.
    gaps = [b - a for a, b in zip(ticks, ticks[1:])]
    assert len(ticks) > 10 and max(gaps) < 0.5 * span[0]


def test_utm_sized_coordinates_give_the_same_topology():
    dx, dy = 446000.0, 4636000.0
    curves = scribble(19)
    shifted = [[(x + dx, y + dy) for x, y in c] for c in curves]
    chains, nodes, ids, _ = topologize(curves, 1.0, 1.0)
    s_chains, s_nodes, s_ids, _ = topologize(shifted, 1.0, 1.0)
    assert len(s_chains) == len(chains) and len(s_nodes) == len(nodes)
    assert sorted(degrees(s_ids).values()) == sorted(degrees(ids).values())
    moved = sorted((x - dx, y - dy) for x, y in s_nodes)
    for (ax, ay), (bx, by) in zip(sorted(nodes), moved):
        assert math.hypot(ax - bx, ay - by) < 0.05
