"""The centerline of polygons: topologize_polygons on shapes with a known answer, and on the
buffer polygons of curves, where it must give topologize's result."""

import math

import pytest
from drawings import cross
from linetopo import inflate_curves, topologize, topologize_polygons
from linetopo._generators import scribble

RECTANGLE = [(0.0, 0.0), (100.0, 0.0), (100.0, 10.0), (0.0, 10.0)]
T_SHAPE = [(0, 0), (100, 0), (100, 10), (55, 10), (55, 60), (45, 60), (45, 10), (0, 10)]


def length(line):
    return sum(map(math.dist, line, line[1:]))


@pytest.mark.parametrize("curves, buffer, fs", [(cross(), 1.0, 2.0), (scribble(4), 0.8, 1.5),
                                                (scribble(5, strokes=9), 1.2, 3.0)])
@pytest.mark.parametrize("options", [{}, {"compute_widths": True, "resample": 0.3},
                                     {"boundary_simplification": 0.0, "min_tip_fraction": 1.0}])
def test_the_buffer_polygons_give_topologize_exactly(curves, buffer, fs, options):
    polygons = inflate_curves(curves, buffer, fs)
    as_curves = {"keep_components": False, "tip_rule": "length"}
    assert topologize_polygons(polygons, fs, buffer_distance=buffer, **options,
                               **as_curves) == topologize(curves, buffer, fs, **options)


@pytest.mark.parametrize("offset, scale", [(4e9, 1.0), (1e11, 1.0), (0.0, 1e-6), (3e8, 1e-5)])
def test_shapes_far_from_the_origin_or_tiny_give_what_they_give_at_unit_size(offset, scale):
    """Coordinates within the documented 1e12 that the integer grid once lost silently."""
    def runs(o, k):
        moved = [(x * k + o, y * k + o) for x, y in RECTANGLE]
        return (topologize_polygons([(moved, [])], 5.0 * k)[0],
                topologize([[(o, o + 5 * k), (o + 100 * k, o + 5 * k)]], 2.5 * k, 5.0 * k)[0])

    for near, far in zip(runs(0.0, 1.0), runs(offset, scale)):
        assert len(far) == len(near) == 1
        assert length(far[0]) == pytest.approx(scale * length(near[0]), rel=0.01)
        # The same ends, either way round, within the arc tolerance (a fifth of the feature size).
        ends = [(x * scale + offset, y * scale + offset) for x, y in (near[0][0], near[0][-1])]
        assert min(max(map(math.dist, ends, pair)) for pair in
                   ((far[0][0], far[0][-1]), (far[0][-1], far[0][0]))) < scale


def test_shapes_far_apart_each_keep_their_centerline():
    # Areas of small rings far from the origin once rounded off to the wrong sign.
    o = 5e11
    chains = topologize([[(0, 5), (100, 5)], [(o, o + 5), (o + 100, o + 5)]], 2.5, 5.0)[0]
    assert sorted(round(length(c)) for c in chains) == [102, 102]


def test_buffer_distance_none_is_the_default_the_signature_shows():
    rectangle = [([(0, 0), (100, 0), (100, 10), (0, 10)], [])]
    default = topologize_polygons(rectangle, 5.0)
    assert topologize_polygons(rectangle, 5.0, buffer_distance=None) == default
    assert topologize_polygons(rectangle, 5.0, buffer_distance=2.5) == default


def test_shapes_with_a_known_centerline():
    chains, nodes, ids, _ = topologize_polygons([(RECTANGLE, [])], 4.0)
    assert len(chains) == 1 and length(chains[0]) >= 85
    assert all(abs(y - 5) < 0.5 for _, y in chains[0])

    circle = [(math.cos(2 * math.pi * k / 60), math.sin(2 * math.pi * k / 60)) for k in range(60)]
    outer, inner = [(50 * x, 50 * y) for x, y in circle], [(40 * x, 40 * y) for x, y in circle]
    chains, nodes, ids, _ = topologize_polygons([(outer, [inner])], 4.0)
    assert len(chains) == 1 and ids[0][0] == ids[0][1] and chains[0][0] == chains[0][-1]
    assert all(abs(math.hypot(*p) - 45) < 0.5 for p in chains[0])

    chains, nodes, ids, _ = topologize_polygons([(T_SHAPE, [])], 4.0)
    assert len(chains) == 3
    [junction] = {s for s, _ in ids} & {e for _, e in ids} or [None]
    assert sum((s, e).count(junction) for s, e in ids) == 3


def test_polygons_as_users_have_them():
    """Closed or not, either way round, with repeated points, as arrays, overlapping: the same
    region gives the same centerline; a ring of fewer than 3 distinct points is skipped."""
    numpy = pytest.importorskip("numpy")
    clean = topologize_polygons([(T_SHAPE, [])], 4.0)
    messy = [(list(reversed(T_SHAPE)) + [T_SHAPE[-1]], []),
             (numpy.array([(0, 0), (50, 0), (50, 0), (50, 10), (0, 10), (0, 0)], float), []),
             ([(1, 1), (2, 2), (1, 1)], [])]
    chains, nodes, ids, _ = topologize_polygons(messy, 4.0)
    assert len(chains) == 3
    for got, want in zip(sorted(chains, key=length), sorted(clean[0], key=length)):
        assert length(got) == pytest.approx(length(want), abs=1e-6)


@pytest.mark.parametrize("polygons, error, message", [
    ([(RECTANGLE, [[(1, 1), (2, 1), (math.nan, 2)]])], ValueError,
     "x coordinate of polygon 0, hole 0, point 2 is NaN; it must be a finite number"),
    ([(RECTANGLE, [])] * 2 + [([(0, 0), (1, math.inf), (1, 1)], [])], ValueError,
     "y coordinate of polygon 2, outer ring, point 1 is inf; it must be a finite number"),
    ([RECTANGLE], TypeError, "polygon 0 must be an (outer, holes) tuple"),
    ([(RECTANGLE, [[(1, 1, 1)]])], TypeError, "polygon 0, hole 0, point 0 must be a tuple"),
])
def test_errors_name_the_polygon_and_ring(polygons, error, message):
    with pytest.raises(error) as caught:
        topologize_polygons(polygons, 4.0)
    assert message in str(caught.value)
    with pytest.raises(ValueError, match="feature_size"):
        topologize_polygons([(RECTANGLE, [])], 0.0)


def polygon_wkb(outer, holes=()):
    import struct

    numpy = pytest.importorskip("numpy")
    rings = [list(outer) + [outer[0]]] + [list(h) + [h[0]] for h in holes]
    return struct.pack("<BII", 1, 3, len(rings)) + b"".join(
        struct.pack("<I", len(r)) + numpy.array(r, "<f8").tobytes() for r in rings)


def test_command_line_on_a_polygon_geopackage(tmp_path, capsys):
    pyogrio, numpy = pytest.importorskip("pyogrio"), pytest.importorskip("numpy")
    from linetopo.cli import main
    from test_formats import read_back

    src, out = tmp_path / "areas.gpkg", tmp_path / "out.gpkg"
    road = [(200 + x, y) for x, y in T_SHAPE]
    pyogrio.raw.write(str(src), numpy.array([polygon_wkb(RECTANGLE), polygon_wkb(road)], object),
                      [numpy.array(["river", "road"], object), numpy.array([30, 50])],
                      ["name", "speed"], layer="areas", geometry_type="Polygon",
                      crs="EPSG:32633")
    assert main(["centerline", str(src), "-o", str(out), "--feature-size", "4"]) == 0
    lines, columns = read_back(out)
    assert sorted(zip(columns["name"], columns["speed"], columns["support"])) == [
        ("river", 30, 1), ("road", 50, 1), ("road", 50, 1), ("road", 50, 1)]
    assert main(["centerline", str(src), "-o", str(tmp_path / "b.gpkg"), "--feature-size", "4",
                 "--buffer", "2"]) == 2
    assert "--buffer applies to lines, and " in capsys.readouterr().err


def test_command_line_on_lines_and_polygons_and_filled_drawings(tmp_path, capsys):
    import json
    import xml.etree.ElementTree as ET

    from linetopo.cli import main

    src, out = tmp_path / "mixed.geojson", tmp_path / "out.geojson"
    src.write_text(json.dumps({"type": "FeatureCollection", "features": [
        {"type": "Feature", "properties": {"kind": "area"},
         "geometry": {"type": "Polygon", "coordinates": [RECTANGLE]}},
        {"type": "Feature", "properties": {"kind": "line"},
         "geometry": {"type": "LineString", "coordinates": [[0, 60], [100, 60]]}}]}))
    assert main(["centerline", str(src), "-o", str(out), "--feature-size", "4"]) == 0
    assert "holds lines and polygons" in capsys.readouterr().err
    kinds = sorted(f["properties"]["kind"] for f in json.loads(out.read_text())["features"]
                   if f["geometry"]["type"] == "LineString")
    assert kinds == ["area", "line"]

    pytest.importorskip("svgelements")
    drawing, picture = tmp_path / "in.svg", tmp_path / "out.svg"
    drawing.write_text('<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 200">'
                       '<rect width="200" height="200" fill="white"/>'
                       '<rect x="10" y="10" width="100" height="10" fill="#ff0000"/></svg>')
    assert main(["centerline", str(drawing), "-o", str(picture)]) == 0
    # The width of the filled shape sets the feature size: twice its area over its outline.
    assert "feature size 9.09091," in capsys.readouterr().err
    [path] = ET.parse(picture).getroot().iter("{http://www.w3.org/2000/svg}path")
    assert path.get("stroke") == "#ff0000"
    assert "data-stroke" not in path.keys()  # a fill has no stroke, not the text "None"


@pytest.mark.parametrize("keep, chains", [(None, 2), (True, 2), (False, 1)])
def test_a_dot_beside_a_stem_is_kept_by_default(keep, chains):
    # The dot of an i: an 8 x 8 square beside an 8 x 60 bar, its whole skeleton below the tip
    # length, kept unless asked not to.
    stem = ([(0, 0), (8, 0), (8, 60), (0, 60)], [])
    dot = ([(0, 70), (8, 70), (8, 78), (0, 78)], [])
    options = {} if keep is None else {"keep_components": keep}
    result = topologize_polygons([stem, dot], 8.0, **options)
    assert len(result[0]) == chains
    if chains == 2:
        assert all(70 < y < 78 for x, y in result[0][0])
    # Curves keep the old default: a speck goes, unless kept.
    lines = [[(0, 0), (0, 60)], [(0, 70), (0, 71)]]
    assert len(topologize(lines, 4, 8, keep_components=keep)[0]) == (2 if keep else 1)


@pytest.mark.parametrize("rule, chains", [(None, 4), ("protrusion", 4), ("length", 1)])
def test_a_crossbar_is_measured_past_the_stroke_it_leaves(rule, chains):
    # A t: a stem 10 wide, a crossbar reaching 18 past either side (under twice the stem's
    # width, the tip length by length) and a bump of 3 on the stem, which always goes.
    t = [(45, 0), (55, 0), (55, 20), (58, 20), (58, 26), (55, 26), (55, 50), (73, 50),
         (73, 60), (55, 60), (55, 80), (45, 80), (45, 60), (27, 60), (27, 50), (45, 50)]
    options = {} if rule is None else {"tip_rule": rule}
    assert len(topologize_polygons([(t, [])], 10.0, **options)[0]) == chains
