"""The `linetopo` command end to end: GeoJSON in and out, pictures, the demo and error reports."""

import json
import math
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest
from drawings import cross
from linetopo._sample import sample_curves
from linetopo.cli import _centerline, main
from linetopo.cli._request import Request
from linetopo.cli._shapes import UsageError
from linetopo.io import geojson

SVG_NS = "{http://www.w3.org/2000/svg}"
H, V = cross(50.0, 41)
FS = ["--feature-size", "5"]


def line(coords):
    return {"type": "Feature", "properties": {}, "geometry": {"type": "LineString", "coordinates": coords}}


def point(x, y):
    return {"type": "Feature", "properties": {}, "geometry": {"type": "Point", "coordinates": [x, y]}}


DOCUMENTS = {
    "collection": {"type": "FeatureCollection", "features": [line(H), point(9, 9), line(V)]},
    "feature": {"type": "Feature", "properties": None,
                "geometry": {"type": "MultiLineString", "coordinates": [H, V]}},
    "geometry": {"type": "MultiLineString", "coordinates": [H, V]},
    "geometry-collection": {"type": "GeometryCollection", "geometries": [
        {"type": "LineString", "coordinates": H}, {"type": "Polygon", "coordinates": []},
        {"type": "LineString", "coordinates": V}]},
}


def check_consistent(fc):
    """Node ids are 0..n-1, chain ends sit on their nodes and degrees count chain ends."""
    chains = [f for f in fc["features"] if f["geometry"]["type"] == "LineString"]
    nodes = [f for f in fc["features"] if f["geometry"]["type"] == "Point"]
    assert [n["properties"]["id"] for n in nodes] == list(range(len(nodes)))
    counted = [0] * len(nodes)
    for chain in chains:
        props, coords = chain["properties"], chain["geometry"]["coordinates"]
        for end, position in (("start_node", coords[0]), ("end_node", coords[-1])):
            assert nodes[props[end]]["geometry"]["coordinates"] == position
            counted[props[end]] += 1
    assert [n["properties"]["degree"] for n in nodes] == counted
    return chains, nodes


def junction_of_cross(fc):
    chains, nodes = check_consistent(fc)
    assert len(chains) == 4
    assert sorted(n["properties"]["degree"] for n in nodes) == [1, 1, 1, 1, 4]
    (junction,) = [n for n in nodes if n["properties"]["degree"] == 4]
    return chains, junction["geometry"]["coordinates"]


@pytest.mark.parametrize("form", sorted(DOCUMENTS))
def test_cross_gives_one_junction_of_degree_four(tmp_path, form):
    src, out = tmp_path / "in.geojson", tmp_path / "out.geojson"
    src.write_text(json.dumps(DOCUMENTS[form]), encoding="utf-8")
    assert main(["centerline", str(src), "-o", str(out), *FS, "--widths"]) == 0
    chains, junction = junction_of_cross(json.loads(out.read_text()))
    assert math.dist(junction, (0, 0)) < 2.5
    for chain in chains:
        widths = chain["properties"]["widths"]
        assert len(widths) == len(chain["geometry"]["coordinates"]) and all(w > 0 for w in widths)


def test_a_run_is_plain_values_without_the_parser(tmp_path):
    src, out = tmp_path / "in.geojson", tmp_path / "out.geojson"
    src.write_text(json.dumps(DOCUMENTS["collection"]), encoding="utf-8")
    request = Request(inputs=(str(src),), output=str(out),
                      options={"feature_size": 5.0, "compute_widths": True})
    assert _centerline.run_centerline(request) == 0
    chains, _ = junction_of_cross(json.loads(out.read_text()))
    assert all(chain["properties"]["widths"] for chain in chains)
    # A feature size no input can tell is asked for in one line, not a crash.
    with pytest.raises(UsageError, match="needs a feature size"):
        _centerline.run_centerline(Request(inputs=(str(src),), output=str(tmp_path / "o.json")))


def test_program_keeps_coordinates_in_the_callers_frame():
    # Far from the origin, through stdin and stdout: nothing is shifted or scaled.
    doc = {"type": "MultiLineString", "coordinates": cross(50.0, 41, 1.0e6, -2.0e6)}
    proc = subprocess.run([sys.executable, "-m", "linetopo", "centerline", "-", "-o", "-", *FS],
                          input=json.dumps(doc), capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    chains, junction = junction_of_cross(json.loads(proc.stdout))
    assert "widths" not in chains[0]["properties"]
    assert math.dist(junction, (1.0e6, -2.0e6)) < 2.5


def test_density_maps_the_streets_traces_follow_with_their_support(tmp_path):
    # Ten traces along each of two streets 60 apart.
    traces = [[[x, y + 0.3 * k] for x in range(0, 401, 20)] for y in (0, 60) for k in range(10)]
    doc = {"type": "FeatureCollection", "features": [line(t) for t in traces]}
    src, out = tmp_path / "traces.geojson", tmp_path / "roads.geojson"
    src.write_text(json.dumps(doc), encoding="utf-8")
    assert main(["centerline", str(src), "-o", str(out), "--feature-size", "25", "--density"]) == 0
    chains = [f for f in json.loads(out.read_text())["features"]
              if f["geometry"]["type"] == "LineString"]
    assert len(chains) == 2 and [c["properties"]["support"] for c in chains] == [10, 10]


def test_reader_keeps_only_planar_line_coordinates():
    doc = {"type": "FeatureCollection", "features": [
        {"type": "Feature", "geometry": None, "properties": {}}, line([[1, 2, 30], [3.5, 4]]),
        {"type": "Feature", "properties": {},
         "geometry": {"type": "MultiLineString", "coordinates": [[[5, 6], [7, 8]], []]}}]}
    assert geojson.curves_from_geojson(doc) == [[(1, 2), (3.5, 4)], [(5, 6), (7, 8)], []]


GOOD = json.dumps(DOCUMENTS["geometry"])
# (input text or None for a missing file, extra arguments, expected words in the message)
ERRORS = {
    "unreadable json": ("{not json", FS, "invalid JSON"),
    "no line geometry": (json.dumps({"type": "FeatureCollection", "features": [point(0, 0)]}), FS,
                         "no LineString"),
    "bad position": ('{"type": "LineString", "coordinates": [[0, "a"], [1, 1]]}', FS, "finite numbers"),
    "not geojson": ("[1, 2]", FS, "GeoJSON object"),
    "missing file": (None, FS, "cannot read"),
    "missing feature size": (GOOD, [], "--feature-size"),
    "bad float": (GOOD, ["--feature-size", "big"], "invalid float"),
    "unknown option": (GOOD, FS + ["--bogus"], "--bogus"),
    "negative max nodes": (GOOD, FS + ["--max-nodes", "-1"], "negative"),
    "library feature size": (GOOD, ["--feature-size", "0"], "feature_size must be a positive finite number, got 0"),
    "library node limit": (GOOD, FS + ["--max-nodes", "1"], "exceeding max_nodes limit of 1"),
    "relative without density": (GOOD, FS + ["--relative", "0.5"], "--relative applies with --density"),
    "density out of range": (GOOD, FS + ["--density", "--relative", "2"], "relative must be from 0 to 1"),
    # 3.5 million boundary points from a 60-byte file: refused at once, not a minute's work.
    "tiny file, tiny feature size": ('{"type": "LineString", "coordinates": [[0, 0], [7e5, 0]]}',
                                     ["--feature-size", "0.27"],
                                     "more than the limit of 400000; set LINETOPO_MAX_POINTS"),
}


@pytest.mark.parametrize("case", sorted(ERRORS))
def test_bad_input_exits_2_with_one_message_line(tmp_path, capsys, case):
    text, extra, expected = ERRORS[case]
    src, out = tmp_path / "in.geojson", tmp_path / "out.geojson"
    if text is not None:
        src.write_text(text, encoding="utf-8")
    assert main(["centerline", str(src), "-o", str(out), *extra]) == 2
    err = capsys.readouterr().err
    # argparse adds its usage line before the message; our own errors are the message alone.
    lines = err.splitlines()
    lines = lines[1:] if lines and lines[0].startswith("usage:") else lines
    assert len(lines) == 1, err
    assert lines[0].startswith("linetopo") and expected in lines[0]
    assert "Traceback" not in err and not out.exists()
    assert "LINETOPO_MAX_POINTS" not in os.environ  # a file's budget ends with it


@pytest.mark.parametrize("size, curves, limit", [
    (None, 0, 16_000_000), (100, 0, 400_000), (10**6, 0, 16_000_000), (20_000, 0, 640_000),
    (None, 500_000, 32_000_000), (10**6, 500_000, 32_000_000)])
def test_a_files_budget_grows_with_its_points_but_not_beyond_its_bytes(size, curves, limit):
    # SVG circles of a few bytes each flatten into thousands of points: an 8.5 KB file of them
    # ran for seconds on the budget its points allowed.
    with _centerline._point_budget(10**6, curves, size):
        assert os.environ["LINETOPO_MAX_POINTS"] == str(limit)


def test_svg_is_well_formed_and_frames_the_data(tmp_path):
    h, v = cross(50.0, 41, 300.0, 700.0)
    src, out, picture = tmp_path / "in.geojson", tmp_path / "out.geojson", tmp_path / "out.svg"
    src.write_text(json.dumps({"type": "MultiLineString", "coordinates": [h, v]}), encoding="utf-8")
    assert main(["centerline", str(src), "-o", str(out), *FS, "--svg", str(picture)]) == 0
    root = ET.parse(picture).getroot()
    assert root.tag == f"{SVG_NS}svg"
    x0, y0, w, h_ = map(float, root.get("viewBox").split())
    # The picture's y axis points down, so data y appears negated.
    assert all(x0 < x < x0 + w and y0 < -y < y0 + h_ for x, y in h + v)
    groups = {g.get("id"): g for g in root.iter(f"{SVG_NS}g")}
    assert groups["buffer"].get("fill-rule") == "evenodd"
    assert len(groups["buffer"]) >= 1 and len(groups["input"]) == 2 and len(groups["chains"]) == 4
    assert sorted(c.get("class") for c in groups["nodes"]) == ["junction", "tip", "tip", "tip", "tip"]


def test_demo_writes_picture_and_geojson(tmp_path, capsys, monkeypatch):
    monkeypatch.chdir(tmp_path)
    assert main(["demo", "--geojson", "demo.geojson"]) == 0
    (summary,) = capsys.readouterr().out.splitlines()
    chains, nodes = check_consistent(json.loads((tmp_path / "demo.geojson").read_text()))
    junctions = sum(1 for n in nodes if n["properties"]["degree"] >= 3)
    assert f"{len(sample_curves())} curves in" in summary and "linetopo-demo.svg" in summary
    assert f"{len(chains)} chains, {len(nodes)} nodes, {junctions} junctions" in summary
    # Cycle rank (chains - nodes + components) counts the independent loops.
    component = list(range(len(nodes)))
    for chain in chains:
        a, b = component[chain["properties"]["start_node"]], component[chain["properties"]["end_node"]]
        component = [b if c == a else c for c in component]
    assert junctions >= 2 and len(chains) - len(nodes) + len(set(component)) >= 1
    ET.parse(tmp_path / "linetopo-demo.svg")
    assert main(["demo", "--svg", "other.svg"]) == 0
    ET.parse(tmp_path / "other.svg")


def test_version_names_the_package_and_its_libraries(capsys):
    assert main(["--version"]) == 0
    text = capsys.readouterr().out
    assert len(re.findall(r"\d+\.\d+", text)) == 4
    assert all(name in text for name in ("linetopo", "Clipper2", "CGAL", "oneTBB"))


def test_several_inputs_are_independent_sets_in_a_folder(tmp_path, capsys):
    sources = []
    for name, doc in (("a.geojson", DOCUMENTS["geometry"]), ("b.json", DOCUMENTS["feature"])):
        sources.append(tmp_path / name)
        sources[-1].write_text(json.dumps(doc))
    single = tmp_path / "single.geojson"
    assert main(["centerline", str(sources[0]), "-o", str(single), *FS]) == 0
    assert main(["centerline", *map(str, sources), "-o", str(tmp_path / "out"), *FS]) == 0
    assert (tmp_path / "out" / "a.geojson").read_text() == single.read_text()
    assert json.loads((tmp_path / "out" / "b.json").read_text())["features"]
    assert capsys.readouterr().err.splitlines()[-1] == f"linetopo: 2/2 {sources[1]}"
    assert main(["centerline", str(sources[0]), str(sources[0]), "-o", str(tmp_path / "o2"), *FS]) == 2
