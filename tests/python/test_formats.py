"""Files in and out of `linetopo centerline`: SVG, GIS formats through GDAL, and their errors."""

import io
import json
import math
import os
import struct
import sys
import xml.etree.ElementTree as ET

import numpy as np
import pytest
from drawings import cross
from linetopo import topologize
from linetopo.cli import main
from linetopo.io import formats

SVG_NS = "{http://www.w3.org/2000/svg}"
H, V = cross(50.0, 41)
FS = ["--feature-size", "5"]
GIS = {"gpkg", "shp", "fgb", "gpx"}


def svg_text(paths, attributes='viewBox="0 0 100 100"', stroke=' stroke="black" stroke-width="5"'):
    body = "".join(f'<path d="{d}"{stroke} fill="none"/>' for d in paths)
    return f'<svg xmlns="http://www.w3.org/2000/svg" {attributes}>{body}</svg>'


def wkb(line):
    coords = np.asarray(line, dtype="<f8")
    return struct.pack("<BII", 1, 2, len(coords)) + coords.tobytes()


def unwkb(blob):
    assert blob[0] == 1 and struct.unpack_from("<I", blob, 1)[0] == 2  # a little-endian LineString
    return np.frombuffer(blob, dtype="<f8", offset=9).reshape(-1, 2).tolist()


def write_lines(path, lines, crs="EPSG:32633"):
    """Writes lines in the format of path's extension, without linetopo's writers."""
    ext = path.suffix[1:]
    if ext == "geojson":
        path.write_text(json.dumps({"type": "MultiLineString", "coordinates": lines}))
    elif ext == "svg":
        path.write_text(svg_text(["M" + " L".join(f"{x},{y}" for x, y in line) for line in lines]))
    elif ext == "gpx":  # lat/lon attributes: written by hand, beside a waypoint to skip
        tracks = "".join("<trk><trkseg>" + "".join(f'<trkpt lat="{y}" lon="{x}"/>' for x, y in line)
                         + "</trkseg></trk>" for line in lines)
        path.write_text('<gpx version="1.1" creator="t" xmlns="http://www.topografix.com/GPX/1/1">'
                        f'<wpt lat="1" lon="2"/>{tracks}</gpx>')
    else:  # the driver follows from the extension
        pytest.importorskip("pyogrio").raw.write(
            str(path), np.array([wkb(line) for line in lines], dtype=object), [], [],
            layer="lines", geometry_type="LineString", crs=crs)


def _json_or_text(value):
    try:
        return json.loads(value)
    except json.JSONDecodeError:
        return value  # an input attribute's text


def read_back(path):
    """The lines of a written result and their attributes, read as a user of that format would."""
    ext = path.suffix[1:]
    if ext == "geojson":
        features = json.loads(path.read_text())["features"]
        lines = [f for f in features if f["geometry"]["type"] == "LineString"]
        return ([f["geometry"]["coordinates"] for f in lines],
                {k: [f["properties"][k] for f in lines] for k in (lines or [{}])[0].get(
                    "properties", {})})
    if ext == "svg":
        paths = list(ET.parse(path).getroot().iter(f"{SVG_NS}path"))
        lines = [[tuple(map(float, p.lstrip("ML").split(","))) for p in e.get("d").split()]
                 for e in paths]
        return lines, {k[5:].replace("-", "_"): [_json_or_text(e.get(k)) for e in paths]
                       for k in paths[0].keys() if k.startswith("data-")}
    pyogrio = pytest.importorskip("pyogrio")
    layer = {"gpx": "routes", "gpkg": "chains"}.get(ext)
    meta, _, geoms, values = pyogrio.raw.read(str(path), layer=layer)
    columns = {name.removeprefix("ogr_"): [_json_or_text(v) if isinstance(v, str) else v for v in col]
               for name, col in zip(meta["fields"], values)}
    return [unwkb(g) for g in geoms], columns


@pytest.mark.parametrize("ext", ["geojson", "svg", "gpkg", "shp", "fgb", "gpx"])
def test_every_format_reads_and_writes_the_same_centerline(tmp_path, ext):
    if ext == "svg":
        pytest.importorskip("svgelements")
    elif ext in GIS:
        pytest.importorskip("pyogrio")
    src, out = tmp_path / f"in.{ext}", tmp_path / f"out.{ext}"
    write_lines(src, [H, V])
    # GPX holds longitude/latitude only; --planar keeps the numbers the GeoJSON run has. SVG
    # output of a drawing is Bézier curves unless told otherwise; here its points are compared.
    extra = ["--planar"] if ext == "gpx" else ["--curves", "0"] if ext == "svg" else []
    assert main(["centerline", str(src), "-o", str(out), *FS, "--widths", *extra]) == 0
    chains, nodes, ids, widths = topologize([H, V], 2.5, 5.0, compute_widths=True)
    lines, columns = read_back(out)
    # SVG coordinates carry about five significant digits.
    tol = 1e-3 if ext == "svg" else 1e-9
    assert len(lines) == len(chains) == 4
    for line, chain in zip(lines, chains):
        assert len(line) == len(chain)
        assert max(math.dist(p, q) for p, q in zip(line, chain)) < tol
    assert list(zip(columns["start_node"], columns["end_node"])) == [tuple(i) for i in ids]
    assert columns["length"] == pytest.approx([sum(map(math.dist, c, c[1:])) for c in chains])
    assert columns["widths"] == [pytest.approx(list(w)) for w in widths]
    if ext == "gpkg":
        pyogrio = pytest.importorskip("pyogrio")
        meta, _, _, (_, degrees) = pyogrio.raw.read(str(out), layer="nodes")
        assert meta["crs"] == "EPSG:32633" and sorted(degrees) == [1, 1, 1, 1, 4]
    assert not any(name.startswith(".linetopo") for name in os.listdir(tmp_path))


def test_lines_inside_geometry_collections_are_read(tmp_path):
    pyogrio = pytest.importorskip("pyogrio")
    header = lambda kind, count: struct.pack("<BII", 1, kind, count)  # noqa: E731
    point = struct.pack("<BIdd", 1, 1, 0.0, 0.0)
    square = header(3, 0)  # a polygon without rings, which holds no area
    # H among a point and a polygon, and V in a MultiLineString in a nested collection.
    collection = header(7, 4) + point + wkb(H) + square + header(7, 2) + point + header(5, 1) + wkb(V)
    src, out = tmp_path / "in.gpkg", tmp_path / "out.geojson"
    pyogrio.raw.write(str(src), np.array([collection], dtype=object), [], [], layer="lines",
                      geometry_type="GeometryCollection", crs="EPSG:32633")
    assert main(["centerline", str(src), "-o", str(out), *FS]) == 0
    lines, _ = read_back(out)
    chains = topologize([H, V], 2.5, 5.0)[0]
    assert len(lines) == len(chains) == 4
    for line, chain in zip(lines, chains):
        assert max(math.dist(p, q) for p, q in zip(line, chain)) < 1e-9


def test_stdin_and_stdout_take_svg_with_format(monkeypatch, capsys):
    pytest.importorskip("svgelements")
    text = svg_text(["M" + " L".join(f"{x},{y}" for x, y in line) for line in (H, V)])
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(text.encode())))
    assert main(["centerline", "-", "-o", "-", "--format", "svg"]) == 0
    out = capsys.readouterr()
    assert "feature size 5" in out.err
    root = ET.fromstring(out.out)
    assert root.get("viewBox") == "0 0 100 100" and len(list(root.iter(f"{SVG_NS}path"))) == 4


def bezier_and_arcs():
    """A drawing whose centerlines are known: y = x² and y = x³ as Béziers and an ellipse of
    arcs, under scalings, a mirror and a viewBox that maps 4 user units onto 1 mm."""
    group = '<g transform="{}" stroke="black" fill="none" stroke-width="{}"><path d="{}"/></g>'
    shapes = [
        group.format("translate(80,60) scale(40)", 0.1, "M-1,1 Q0,-1 1,1"),
        group.format("translate(200,150) scale(40,-40)", 0.1, f"M-1,-1 C{-1/3},1 {1/3},-1 1,1"),
        group.format("translate(320,60) scale(2,1)", 4 / math.sqrt(2),
                     "M10,0 A10,10 0 0 1 -10,0 A10,10 0 0 1 10,0 Z"),
        '<rect width="400" height="200" fill="white"/><text x="1" y="1">not a line</text>',
    ]
    curves = [  # distance of (x, y) to each curve, good enough near it
        lambda x, y: abs(y - (60 + (x - 80) ** 2 / 40)) / math.hypot(1, (x - 80) / 20),
        lambda x, y: (abs(y - 150 + (x - 200) ** 3 / 1600)
                      / math.hypot(1, 3 * (x - 200) ** 2 / 1600)),
        lambda x, y: abs(math.hypot((x - 320) / 20, (y - 60) / 10) - 1) * 10,
    ]
    return svg_text([], 'width="100mm" height="50mm" viewBox="0 0 400 200"', "").replace(
        "</svg>", "".join(shapes) + "</svg>"), curves


def test_svg_curves_under_transforms_give_their_analytic_centerlines(tmp_path, capsys):
    pytest.importorskip("svgelements")
    from linetopo.io import svg

    text, curves = bezier_and_arcs()
    src, out = tmp_path / "drawing.svg", tmp_path / "clean.svg"
    src.write_text(text)
    # The flattened input lies on the curves, its chords within the tolerance, and no more
    # points are spent than the tolerance needs.
    flat = svg.read_svg(str(src), "drawing").flatten(0.05)
    for line, distance in zip(flat, curves):
        mids = [((p[0] + q[0]) / 2, (p[1] + q[1]) / 2) for p, q in zip(line[:-1], line[1:])]
        assert max(distance(*p) for p in line) < 1e-9
        assert 0.01 < max(distance(*m) for m in mids) <= 0.05 and len(line) < 200

    assert main(["centerline", str(src), "-o", str(out), "--curves", "0"]) == 0
    assert "feature size 4," in capsys.readouterr().err  # the strokes' width, scaled as drawn
    root = ET.parse(out).getroot()
    assert [root.get(k) for k in ("width", "height", "viewBox")] == ["100mm", "50mm", "0 0 400 200"]
    lines, columns = read_back(out)
    chains = sorted(zip(lines, columns["length"], columns["start_node"], columns["end_node"]),
                    key=lambda chain: chain[0][0][0])
    assert len(chains) == 3
    for (line, length, _, _), distance, expected in zip(chains, curves, (118.32, 123.83, 96.88)):
        assert max(distance(*p) for p in line) < 0.5  # an eighth of the stroke width
        assert length == pytest.approx(expected, rel=0.02)  # from end to end, or once around
    assert [start == end for _, _, start, end in chains] == [False, False, True]


LINE = json.dumps({"type": "LineString", "coordinates": H})
# Inputs that are small but would expand without bound.
_NS = 'xmlns="http://www.w3.org/2000/svg"'
_PATH = '<path id="a0" d="M0,0 L10,10" stroke="black" stroke-width="1"/>'
_USE_LEVELS = "".join(f'<g id="a{k}">' + f'<use href="#a{k - 1}"/>' * 10 + "</g>" for k in range(1, 6))

# (input file, its text, arguments after INPUT, words of the message, the extra's library)
ERRORS = {
    "svg <use> ten to the fifth": ("in.svg", f'<svg {_NS}><defs>{_PATH}{_USE_LEVELS}</defs>'
                                   '<use href="#a5"/></svg>', [], "expand its 59 elements to more "
                                   "than 10000", "svgelements"),
    "svg <use> cycle": ("in.svg", f'<svg {_NS}>{_PATH}<g id="g"><g><use href="#g"/></g></g></svg>',
                        [], "refers to itself", "svgelements"),
    "svg nested 5000 deep": ("in.svg", f"<svg {_NS}>" + "<g>" * 5000 + _PATH + "</g>" * 5000 +
                             "</svg>", [], "nested more than 200 deep", "svgelements"),
    "svg hairline stroke": ("in.svg", f'<svg {_NS}><circle cx="5" cy="5" r="4" stroke="black" '
                            'stroke-width="1e-12"/></svg>', [], "is below 0.0001 of its diagonal",
                            "svgelements"),
    "svg empty viewBox": ("in.svg", f'<svg {_NS} viewBox="0 0 0 0">{_PATH}</svg>', [],
                          "out of range", "svgelements"),
    "geojson nested 100000 deep": ("in.geojson", "[" * 100_000 + "]" * 100_000, FS,
                                   "nested too deeply", None),
    "unreadable svg": ("in.svg", "<svg xmlns='http://www.w3.org/2000/svg'><path", [],
                       "not well-formed", "svgelements"),
    "svg without strokes": ("in.svg", svg_text(["M0,0 L9,9"], stroke=""), [], "no stroked",
                            "svgelements"),
    "empty svg": ("in.svg", "", [], "cannot read", "svgelements"),
    "one-point svg lines": ("in.svg", svg_text(["M1,1", "M5,5"]), [], "two or more points",
                            "svgelements"),
    "geographic svg": ("in.svg", svg_text(["M0,0 L9,9"]), ["--geographic"], "does not apply",
                       "svgelements"),
    "one-point lines": ("in.geojson", '{"type": "LineString", "coordinates": [[1, 2]]}', FS,
                        "two or more points", None),
    "empty geojson": ("in.geojson", "", FS, "invalid JSON", None),
    "unknown format": ("in.geojson", LINE, [*FS, "--format", "bogus"], "unknown format 'bogus'",
                       "pyogrio"),
    "unknown extension": ("in.geojson", LINE, [*FS, "-o", "OUT.xyz"], "unknown format of",
                          "pyogrio"),
    "metres as degrees": ("in.geojson", json.dumps({"type": "LineString", "coordinates": [
        [5e5, 5e6], [5e5 + 9, 5e6]]}), [*FS, "--geographic"], "not longitude/latitude", "pyproj"),
    "missing layer": ("in.gpkg", None, [*FS, "--layer", "nope"], "no layer 'nope'", "pyogrio"),
    "empty gpkg": ("in.gpkg", "", FS, "cannot read", "pyogrio"),
}


@pytest.mark.parametrize("case", sorted(ERRORS))
def test_bad_input_exits_2_with_one_line_and_no_output(tmp_path, capsys, case):
    name, text, extra, expected, module = ERRORS[case]
    if module:
        pytest.importorskip(module)
    src, out = tmp_path / name, tmp_path / "out.geojson"
    if text is None:
        write_lines(src, [H, V])
    else:
        src.write_text(text)
    out.write_text("old")
    extra = [a.replace("OUT", str(tmp_path / "out")) for a in extra]
    assert main(["centerline", str(src), "-o", str(out), "--overwrite", *extra]) == 2
    (line,) = capsys.readouterr().err.splitlines()
    assert line.startswith("linetopo: error: ") and expected in line
    assert out.read_text() == "old"  # a failed run leaves an earlier result alone
    assert sorted(os.listdir(tmp_path)) == sorted([name, "out.geojson"])


@pytest.mark.parametrize("ext", ["geojson", "gpkg"])
def test_a_write_that_fails_half_way_leaves_nothing(tmp_path, monkeypatch, capsys, ext):
    src, out = tmp_path / "in.geojson", tmp_path / f"out.{ext}"
    write_lines(src, [H, V])
    if ext == "gpkg":
        pyogrio = pytest.importorskip("pyogrio")
        write = pyogrio.raw.write

        def fail_on_second_layer(path, *args, layer=None, **kwargs):
            write(path, *args, layer=layer, **kwargs)  # the chains are in the file by now
            if layer == "nodes":
                raise pyogrio.errors.DataSourceError("disk full")

        monkeypatch.setattr(pyogrio.raw, "write", fail_on_second_layer)
    else:
        def fail(*args):
            raise OSError(28, "No space left on device")

        monkeypatch.setattr(formats.os, "replace", fail)
    assert main(["centerline", str(src), "-o", str(out), *FS]) == 2
    assert "cannot write" in capsys.readouterr().err
    assert os.listdir(tmp_path) == ["in.geojson"]


@pytest.mark.parametrize("module, src, args, extra", [
    ("pyogrio", "in.geojson", ["-o", "OUT.gpkg"], "gis"),
    ("svgelements", "in.svg", ["-o", "OUT.geojson"], "svg"),
    ("pyproj", "in.geojson", ["-o", "OUT.geojson", "--geographic"], "gis"),
])
def test_a_missing_extra_is_named(tmp_path, monkeypatch, capsys, module, src, args, extra):
    src = tmp_path / src
    write_lines(src, [[(10.0, 50.0), (10.01, 50.0)]])
    args = [a.replace("OUT", str(tmp_path / "out")) for a in args]
    monkeypatch.setitem(sys.modules, module, None)  # as if not installed
    assert main(["centerline", str(src), *args, *FS]) == 2
    (line,) = capsys.readouterr().err.splitlines()
    assert line.endswith(f"needs {module}: pip install linetopo[{extra}]")
    assert os.listdir(tmp_path) == [src.name]


@pytest.mark.parametrize("args, projected, said", [
    ([], True, "no crs member"),                      # RFC 7946's default, sizes in metres
    (["--planar"], False, "taken as degrees"),        # degrees: one blob, pruned away
    (["--buffer", "0.001"], False, "shorter than the pruning length"),
])
def test_geojson_without_crs_is_longitude_latitude_when_sizes_are_metres(tmp_path, capsys, args,
                                                                           projected, said):
    src, out = tmp_path / "traces.geojson", tmp_path / "out.geojson"
    write_lines(src, [[(10.0 + i * 1e-4, 50.0) for i in range(50)],
                      [(10.0025, 49.998 + i * 1e-4) for i in range(50)]])
    if projected:
        pytest.importorskip("pyproj")
    assert main(["centerline", str(src), "-o", str(out), "--buffer", "12", "--feature-size", "25",
                 *args]) == 0
    (line,) = capsys.readouterr().err.splitlines()
    assert line.startswith("linetopo: warning: ") and said in line
    lines, columns = read_back(out)
    assert bool(lines) == projected
    if projected:  # lengths in metres, coordinates back in degrees, no crs member
        assert 300 < max(columns["length"]) < 400 and all(9 < x < 11 for x, _ in lines[0])
        assert "crs" not in json.loads(out.read_text())


@pytest.mark.parametrize("extra, paths", [([], 2), (["--no-keep-components"], 1)])
def test_an_svg_drawing_keeps_its_dots(monkeypatch, capsys, extra, paths):
    # A stem and, above it, a dot drawn as one short stroke as wide as the stem.
    pytest.importorskip("svgelements")
    text = svg_text(["M50,90 L50,30", "M50,20 L50,18"])
    monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(text.encode())))
    assert main(["centerline", "-", "-o", "-", "--format", "svg", *extra]) == 0
    root = ET.fromstring(capsys.readouterr().out)
    assert len(list(root.iter(f"{SVG_NS}path"))) == paths
