"""Random drawings and options: the pipeline never crashes and its output is always consistent."""

import math
import os

from hypothesis import HealthCheck, given, settings, strategies as st

from linetopo import inflate_curves, topologize, topologize_batch, triangulate_curves

# LINETOPO_EXAMPLES raises the example count for a long local run.
EXAMPLES = int(os.environ.get("LINETOPO_EXAMPLES", "60"))

coordinate = st.one_of(st.floats(-30, 30, allow_nan=False), st.sampled_from([0.0, -0.0, 1.0, 10.0]))
point = st.tuples(coordinate, coordinate)
curve = st.one_of(
    st.lists(point, max_size=12),
    # Points on a small grid give repeated points, collinear runs and exact crossings.
    st.lists(st.tuples(st.integers(-6, 6), st.integers(-6, 6)), max_size=12),
)
option = st.one_of(st.none(), st.floats(-2, 3), st.just(math.nan))


def check_result(chains, nodes, ids, widths, compute_widths):
    assert len(chains) == len(ids)
    assert len(widths) == (len(chains) if compute_widths else 0)
    seen = set()
    for chain, (a, b) in zip(chains, ids):
        assert len(chain) >= 2
        assert chain[0] == nodes[a] and chain[-1] == nodes[b]
        assert all(math.isfinite(x) and math.isfinite(y) for x, y in chain)
        seen.update((a, b))
    assert seen == set(range(len(nodes)))
    for w, chain in zip(widths, chains):
        assert len(w) == len(chain) and all(v >= 0 for v in w)


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    curves=st.lists(curve, max_size=6),
    buffer=st.floats(0.05, 3.0),
    fs=st.floats(0.2, 4.0),
    simplification=option,
    tip=option,
    junction=option,
    ratio=option,
    resample=st.one_of(st.none(), st.floats(0.05, 2.0)),
    boundary=option,
    merge=option,
    compute_widths=st.booleans(),
)
def test_random_drawings_give_consistent_results(curves, buffer, fs, simplification, tip, junction,
                                                  ratio, resample, boundary, merge, compute_widths):
    result = topologize(curves, buffer, fs, simplification=simplification, min_tip_fraction=tip,
                        junction_merge_fraction=junction, compute_widths=compute_widths,
                        subdivision_ratio=ratio, resample=resample, boundary_simplification=boundary,
                        merge_tolerance=merge)
    check_result(*result, compute_widths)
    assert topologize_batch([(curves, buffer, fs, simplification, tip, junction, None, ratio, resample,
                              boundary, merge)]) == [result[:3]]
    for outer, holes in inflate_curves(curves, buffer, fs, merge_tolerance=merge):
        assert len(outer) >= 3 and all(len(h) >= 3 for h in holes)
    for triangle in triangulate_curves(curves, buffer, fs, subdivision_ratio=ratio, resample=resample,
                                       boundary_simplification=boundary, merge_tolerance=merge):
        assert len(triangle) == 3
