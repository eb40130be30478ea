"""The `linetopo` command end to end: GeoJSON in and out, pictures, the demo and error reports."""

from __future__ import annotations

import io
import json
import math
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest

from linetopo import geojson
from linetopo.cli import main
from linetopo.sample import sample_curves

SVG_NS = "{http://www.w3.org/2000/svg}"


def _stroke(a, b, n=40):
    return [[a[0] + (b[0] - a[0]) * k / n, a[1] + (b[1] - a[1]) * k / n] for k in range(n + 1)]


def _cross(ox=0.0, oy=0.0):
    horizontal = _stroke((ox - 50, oy), (ox + 50, oy))
    vertical = _stroke((ox, oy - 50), (ox, oy + 50))
    return horizontal, vertical


def _line_feature(coords):
    return {"type": "Feature", "properties": {},
            "geometry": {"type": "LineString", "coordinates": coords}}


def _cross_documents():
    h, v = _cross()
    point = {"type": "Feature", "properties": {}, "geometry": {"type": "Point", "coordinates": [9, 9]}}
    return {
        "collection": {"type": "FeatureCollection",
                       "features": [_line_feature(h), point, _line_feature(v)]},
        "feature": {"type": "Feature", "properties": None,
                    "geometry": {"type": "MultiLineString", "coordinates": [h, v]}},
        "geometry": {"type": "MultiLineString", "coordinates": [h, v]},
        "geometry-collection": {"type": "GeometryCollection", "geometries": [
            {"type": "LineString", "coordinates": h}, {"type": "Polygon", "coordinates": []},
            {"type": "LineString", "coordinates": v}]},
    }


def _write_json(path, obj):
    path.write_text(json.dumps(obj), encoding="utf-8")
    return path


def _split(fc):
    chains = [f for f in fc["features"] if f["geometry"]["type"] == "LineString"]
    nodes = [f for f in fc["features"] if f["geometry"]["type"] == "Point"]
    return chains, nodes


def _check_consistent(fc):
    """Node ids are 0..n-1, chain ends sit on their nodes and degrees count chain ends."""
    chains, nodes = _split(fc)
    assert [n["properties"]["id"] for n in nodes] == list(range(len(nodes)))
    counted = [0] * len(nodes)
    for chain in chains:
        props, coords = chain["properties"], chain["geometry"]["coordinates"]
        for end, position in (("start_node", coords[0]), ("end_node", coords[-1])):
            node = nodes[props[end]]
            assert node["geometry"]["coordinates"] == position
            counted[props[end]] += 1
    assert [n["properties"]["degree"] for n in nodes] == counted
    return chains, nodes


@pytest.mark.parametrize("form", sorted(_cross_documents()))
def test_cross_gives_one_junction_of_degree_four(tmp_path, form):
    src = _write_json(tmp_path / "in.geojson", _cross_documents()[form])
    out = tmp_path / "out.geojson"
    assert main(["centerline", str(src), "-o", str(out), "--feature-size", "5", "--widths"]) == 0
    chains, nodes = _check_consistent(json.loads(out.read_text()))
    assert len(chains) == 4
    assert sorted(n["properties"]["degree"] for n in nodes) == [1, 1, 1, 1, 4]
    (junction,) = [n for n in nodes if n["properties"]["degree"] == 4]
    assert math.dist(junction["geometry"]["coordinates"], (0, 0)) < 2.5
    for chain in chains:
        widths = chain["properties"]["widths"]
        assert len(widths) == len(chain["geometry"]["coordinates"])
        assert all(w > 0 for w in widths)


def test_coordinates_stay_in_the_callers_frame(tmp_path, monkeypatch, capsys):
    # Far from the origin and read from stdin, written to stdout: nothing is shifted or scaled.
    h, v = _cross(1.0e6, -2.0e6)
    doc = {"type": "MultiLineString", "coordinates": [h, v]}
    monkeypatch.setattr(sys, "stdin", io.StringIO(json.dumps(doc)))
    assert main(["centerline", "-", "-o", "-", "--feature-size", "5"]) == 0
    fc = json.loads(capsys.readouterr().out)
    chains, nodes = _check_consistent(fc)
    assert "widths" not in chains[0]["properties"]
    (junction,) = [n for n in nodes if n["properties"]["degree"] == 4]
    assert math.dist(junction["geometry"]["coordinates"], (1.0e6, -2.0e6)) < 2.5


def test_reader_keeps_only_planar_line_coordinates():
    doc = {"type": "FeatureCollection", "features": [
        {"type": "Feature", "geometry": None, "properties": {}},
        _line_feature([[1, 2, 30], [3.5, 4]]),
        {"type": "Feature", "properties": {},
         "geometry": {"type": "MultiLineString", "coordinates": [[[5, 6], [7, 8]], []]}},
    ]}
    assert geojson.curves_from_geojson(doc) == [[(1, 2), (3.5, 4)], [(5, 6), (7, 8)], []]


def _error_cases():
    good = json.dumps({"type": "MultiLineString", "coordinates": list(_cross())})
    points = json.dumps({"type": "FeatureCollection", "features": [
        {"type": "Feature", "properties": {}, "geometry": {"type": "Point", "coordinates": [0, 0]}}]})
    fs = ["--feature-size", "5"]
    # (input text or None for a missing file, extra arguments, expected words in the message)
    return {
        "unreadable json": ("{not json", fs, "invalid JSON"),
        "no line geometry": (points, fs, "no LineString"),
        "bad position": ('{"type": "LineString", "coordinates": [[0, "a"], [1, 1]]}', fs,
                         "finite numbers"),
        "not geojson": ("[1, 2]", fs, "GeoJSON object"),
        "missing file": (None, fs, "cannot read"),
        "missing feature size": (good, [], "--feature-size"),
        "bad float": (good, ["--feature-size", "big"], "invalid float"),
        "unknown option": (good, fs + ["--bogus"], "--bogus"),
        "negative max nodes": (good, fs + ["--max-nodes", "-1"], "negative"),
        "library feature size": (good, ["--feature-size", "0"],
                                 "feature_size must be a positive finite number, got 0"),
        "library node limit": (good, fs + ["--max-nodes", "1"], "exceeding max_nodes limit of 1"),
    }


@pytest.mark.parametrize("case", sorted(_error_cases()))
def test_bad_input_exits_2_with_one_message_line(tmp_path, capsys, case):
    text, extra, expected = _error_cases()[case]
    src = tmp_path / "in.geojson"
    if text is not None:
        src.write_text(text, encoding="utf-8")
    out = tmp_path / "out.geojson"
    assert main(["centerline", str(src), "-o", str(out), *extra]) == 2
    err = capsys.readouterr().err
    lines = err.splitlines()
    # argparse adds its usage line before the message; our own errors are the message alone.
    if lines and lines[0].startswith("usage:"):
        lines = lines[1:]
    assert len(lines) == 1, err
    assert lines[0].startswith("linetopo") and expected in lines[0]
    assert "Traceback" not in err
    assert not out.exists()


def _viewbox(root):
    x, y, w, h = map(float, root.get("viewBox").split())
    return x, y, x + w, y + h


def test_svg_is_well_formed_and_frames_the_data(tmp_path):
    h, v = _cross(300.0, 700.0)
    src = _write_json(tmp_path / "in.geojson", {"type": "MultiLineString", "coordinates": [h, v]})
    out, picture = tmp_path / "out.geojson", tmp_path / "out.svg"
    assert main(["centerline", str(src), "-o", str(out), "--feature-size", "5",
                 "--svg", str(picture)]) == 0
    root = ET.parse(picture).getroot()
    assert root.tag == f"{SVG_NS}svg"
    x0, y0, x1, y1 = _viewbox(root)
    # The picture's y axis points down, so data y appears negated.
    for x, y in h + v:
        assert x0 < x < x1 and y0 < -y < y1
    groups = {g.get("id"): g for g in root.iter(f"{SVG_NS}g")}
    assert groups["buffer"].get("fill-rule") == "evenodd"
    assert len(groups["buffer"]) >= 1 and len(groups["input"]) == 2 and len(groups["chains"]) == 4
    kinds = sorted(c.get("class") for c in groups["nodes"])
    assert kinds == ["junction", "tip", "tip", "tip", "tip"]


def _cycle_rank(chains, nodes):
    """Independent loops of the chain graph: edges - nodes + connected components."""
    parent = list(range(len(nodes)))

    def find(i):
        while parent[i] != i:
            parent[i] = parent[parent[i]]
            i = parent[i]
        return i

    for chain in chains:
        parent[find(chain["properties"]["start_node"])] = find(chain["properties"]["end_node"])
    components = len({find(i) for i in range(len(nodes))})
    return len(chains) - len(nodes) + components


def test_demo_writes_picture_and_geojson(tmp_path, capsys):
    picture, result = tmp_path / "demo.svg", tmp_path / "demo.geojson"
    assert main(["demo", "--svg", str(picture), "--geojson", str(result)]) == 0
    (summary,) = capsys.readouterr().out.splitlines()
    chains, nodes = _check_consistent(json.loads(result.read_text()))
    junctions = sum(1 for n in nodes if n["properties"]["degree"] >= 3)
    assert f"{len(sample_curves())} curves in" in summary
    assert f"{len(chains)} chains, {len(nodes)} nodes, {junctions} junctions" in summary
    assert junctions >= 2 and _cycle_rank(chains, nodes) >= 1
    ET.parse(picture)


def test_module_runs_as_a_program(tmp_path):
    proc = subprocess.run([sys.executable, "-m", "linetopo", "demo"], cwd=tmp_path,
                          capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    assert "linetopo-demo.svg" in proc.stdout
    ET.parse(tmp_path / "linetopo-demo.svg")
