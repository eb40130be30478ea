"""Chains keep their input: sources, support and attributes through the command line, GeoPandas
and SVG drawings."""

import json
import math
import pathlib
import re
import xml.etree.ElementTree as ET

import pytest
from linetopo import _provenance, chain_sources
from linetopo.cli import main

# Two streets named A drawn 3 apart and a street B crossing them; buffer 5, feature size 10.
A1, A2, B = [(0.0, 0.0), (100.0, 0.0)], [(100.0, 3.0), (0.0, 3.0)], [(50.0, -50.0), (50.0, 50.0)]
STREETS = {"type": "FeatureCollection", "features": [
    {"type": "Feature", "properties": {"name": name, "lanes": lanes},
     "geometry": {"type": "LineString", "coordinates": coords}}
    for name, lanes, coords in (("A", 2, A1), ("A", None, A2), ("B", 1, B))]}
SIZES = ["--buffer", "5", "--feature-size", "10", "--planar"]


def along_a(coords):
    return all(abs(y - 1.5) < 1 for _, y in coords)


@pytest.mark.parametrize("ext", ["geojson", "gpkg"])
def test_streets_keep_their_names_and_support(tmp_path, ext):
    if ext == "gpkg":
        pytest.importorskip("pyogrio")
    src, out = tmp_path / "streets.geojson", tmp_path / f"out.{ext}"
    src.write_text(json.dumps(STREETS))
    assert main(["centerline", str(src), "-o", str(out), *SIZES]) == 0
    from test_formats import read_back

    lines, columns = read_back(out)
    assert len(lines) == 4
    for i, line in enumerate(lines):
        # The junction does not make B a source of A, nor A of B.
        want = ("A", 2, 2) if along_a(line) else ("B", 1, 1)
        assert (columns["name"][i], columns["support"][i], columns["lanes"][i]) == want
        assert columns["length"][i] == pytest.approx(sum(map(math.dist, line, line[1:])))


def test_attribute_choices_and_strokes(tmp_path):
    src = tmp_path / "streets.geojson"
    src.write_text(json.dumps(STREETS))

    def props(*extra):
        out = tmp_path / "out.geojson"
        assert main(["centerline", str(src), "-o", str(out), "--overwrite", *SIZES, *extra]) == 0
        features = json.loads(out.read_text())["features"]
        return [(f["properties"], f["geometry"]["coordinates"]) for f in features
                if f["geometry"]["type"] == "LineString"]

    for p, coords in props("--attributes", "list"):
        assert (p["name"], p["lanes"]) == ((["A"], [2]) if along_a(coords) else (["B"], [1]))
    for p, _ in props("--attributes", "none"):
        assert set(p) == {"start_node", "end_node", "length", "support"}
    strokes = props("--strokes")
    assert sorted((p["name"], p["support"], len(p["chains"])) for p, _ in strokes) == [
        ("A", 2, 2), ("B", 1, 2)]


def segmented_grid():
    """OpenStreetMap-style streets: a grid of named streets 100 m apart, reaching 60 m past the
    last crossing, each cut at every junction and every 20 m."""
    features = []
    for k in range(4):
        for start in range(-60, 360, 20):
            ts = [float(t) for t in range(start, start + 21, 5)]
            features.append((f"Row {k}", [(t, 100.0 * k) for t in ts]))
            features.append((f"Column {k}", [(100.0 * k, t) for t in ts]))
    return features


def test_a_street_cut_into_short_pieces_names_each_of_its_chains(tmp_path):
    src, out = tmp_path / "streets.geojson", tmp_path / "out.geojson"
    src.write_text(json.dumps({"type": "FeatureCollection", "features": [
        {"type": "Feature", "properties": {"name": name},
         "geometry": {"type": "LineString", "coordinates": coords}}
        for name, coords in segmented_grid()]}))
    assert main(["centerline", str(src), "-o", str(out), "--buffer", "6", "--feature-size", "12",
                 "--planar"]) == 0
    chains = [f for f in json.loads(out.read_text())["features"]
              if f["geometry"]["type"] == "LineString"]
    assert len(chains) == 40  # five a street: two ends and three between crossings
    for f in chains:
        (x0, y0), (x1, y1) = f["geometry"]["coordinates"][0], f["geometry"]["coordinates"][-1]
        along_x = abs(x1 - x0) > abs(y1 - y0)
        want = f"Row {round(y0 / 100)}" if along_x else f"Column {round(x0 / 100)}"
        assert f["properties"]["support"] >= 4 and f["properties"]["name"] == want, f


@pytest.mark.parametrize("values, how, want", [
    (["x", "y", "y", None], "mode", "y"),
    (["x", "y", None, "x", "y"], "mode", "x"),  # a tie goes to the lowest source's value
    ([None, "y", "x"], "first", "y"),
    ([[1], "y", [1], None], "list", [[1], "y"]),
    ([None, None], "mode", None),
])
def test_aggregation(values, how, want):
    assert _provenance.aggregate(values, how) == want


def test_the_value_that_runs_along_most_of_a_line_wins():
    assert _provenance.aggregate(["x", "y", "y"], "mode", [90.0, 20.0, 30.0]) == "x"
    assert _provenance.aggregate(["x", None, "y"], "mode", [10.0, 50.0, 10.0]) == "x"


@pytest.mark.parametrize("how, lanes, name", [
    ("sum", 6, "b"), ("mean", 3.5, "b"), ("max", 4, "b"), ("first", 2, "a")])
def test_numeric_columns_aggregate_and_the_others_take_the_mode(how, lanes, name):
    columns, _ = _provenance.attribute_columns(
        [{0: 1.0, 1: 3.0}, {}], {"lanes": [2, 4], "name": ["a", "b"]}, how, [])
    assert columns == {"support": [2, 0], "lanes": [lanes, None], "name": [name, None]}


def test_input_columns_named_like_ours_are_renamed():
    columns, notes = _provenance.attribute_columns(
        [{0: 1.0}, {}], {"LENGTH": [7, 8], "support": ["s", "t"], "id": [2 ** 64, 1]}, "first",
        ["length"])
    assert columns == {"support": [1, 0], "input_LENGTH": [7, None],
                       "input_support": ["s", None], "id": [str(2 ** 64), None]}
    assert notes == ["the input column 'LENGTH' is written as 'input_LENGTH'",
                     "the input column 'support' is written as 'input_support'",
                     "the input column 'id' holds integers beyond 64 bits: written as text"]


def test_geodataframe_keeps_rows_attributes_and_crs():
    geopandas, shapely = pytest.importorskip("geopandas"), pytest.importorskip("shapely")
    from linetopo.geo import centerline

    frame = geopandas.GeoDataFrame(
        {"name": ["A", "A", "B"], "length": [1.0, 2.0, 3.0]},
        geometry=[shapely.LineString(A1), shapely.MultiLineString([A2]), shapely.LineString(B)],
        crs="EPSG:32633")
    chains, nodes = centerline(frame, 5.0, 10.0, nodes=True)
    assert chains.crs == nodes.crs == frame.crs
    for _, row in chains.iterrows():
        a = along_a(row.geometry.coords)
        assert (row["name"], row.support, row.input_length) == (
            ("A", 2, 1.0) if a else ("B", 1, 3.0))
    assert list(nodes.columns) == ["id", "degree", "geometry"]


def test_drawing_keeps_its_colours(tmp_path):
    pytest.importorskip("svgelements")
    src, out = tmp_path / "in.svg", tmp_path / "out.svg"
    src.write_text('<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 100 100">'
                   '<path d="M10 50 L90 50" stroke="red" stroke-width="4" fill="none"/>'
                   '<path d="M50 10 C 40 40, 60 60, 50 90" stroke="#0000ff" stroke-width="2" '
                   'fill="none"/></svg>')
    assert main(["centerline", str(src), "-o", str(out), "--curves", "0"]) == 0
    paths = list(ET.parse(out).getroot().iter("{http://www.w3.org/2000/svg}path"))
    assert len(paths) == 4
    for path in paths:
        ys = [float(p.split(",")[1]) for p in path.get("d").lstrip("M").split(" L")]
        horizontal = max(ys) - min(ys) < 5
        want = ("#ff0000", "4") if horizontal else ("#0000ff", "2")
        assert (path.get("stroke"), path.get("stroke-width")) == want


def test_chain_sources_defaults_are_the_documented_ones():
    """The defaults that the docstring, the stub and the guide state are the ones used: a
    curve turned 44 degrees along half a chain is a source only at both defaults."""
    root = pathlib.Path(__file__).resolve().parents[2]
    texts = [chain_sources.__doc__, (root / "python/linetopo/_internal.pyi").read_text(),
             (root / "docs/guides/gps.md").read_text()]
    defaults = {}
    for name in ("max_angle", "min_share"):
        written = rf"{name}(?:: SupportsFloat)? ?= ?([\d.]+)|{name} : float, default ([\d.]+)"
        found = {float(a or b) for t in texts for a, b in re.findall(written, t)}
        assert len(found) == 1, (name, found)
        defaults[name] = found.pop()
    c, s = math.cos(math.radians(44)), math.sin(math.radians(44))
    chain = [(float(x), 0.0) for x in range(101)]
    curve = [(50 - 30 * c, -30 * s), (50 + 30 * c, 30 * s)]
    # Within 30 of the chain along 30 / tan(44) on either side: about 62 of its 100.
    implicit = chain_sources([chain], [curve], 30.0)
    assert implicit == chain_sources([chain], [curve], 30.0, **defaults)
    assert [i for i, _ in implicit[0]] == [0]
    assert chain_sources([chain], [curve], 30.0, max_angle=0.95 * defaults["max_angle"]) == [[]]
    assert chain_sources([chain], [curve], 30.0, min_share=1.1 * implicit[0][0][1]) == [[]]


def test_chain_sources_errors():
    with pytest.raises(ValueError, match="^radius must be a positive finite number, got -1$"):
        chain_sources([], [], -1.0)
    with pytest.raises(ValueError, match=r"^curves\[0\]\[1\] is \(nan|NaN"):
        chain_sources([[(0, 0), (1, 0)]], [[(0, 0), (math.nan, 0)]], 1.0)
    with pytest.raises(TypeError):
        chain_sources([[(0, 0), (1, 0)]], [], "1")
