"""What `linetopo centerline` writes on real GIS files: never over an input, all or nothing, in
the CRS the data came in, and saying so when the result is empty or a record unreadable."""

import json
import os
import shutil
import signal
import struct
import subprocess

import numpy as np
import pytest
from linetopo.cli import _centerline, main
from test_formats import FS, H, V, read_back, wkb, write_lines

UTM = "EPSG:32633"
# Streets of a block in Prague, in UTM 33N metres: a grid of 5 by 5 lines 100 m apart.
PRAGUE = [[(458000.0 + i * 100, 5548000.0 + t) for t in range(0, 401, 20)] for i in range(5)] + \
         [[(458000.0 + t, 5548000.0 + i * 100) for t in range(0, 401, 20)] for i in range(5)]


def pyogrio():
    return pytest.importorskip("pyogrio")


def layers_of(path):
    return {str(name): str(kind) for name, kind in pyogrio().list_layers(str(path))}


def features(path, layer):
    """Every feature of a layer as (fid, geometry, field values), to compare byte for byte."""
    meta, fids, geoms, values = pyogrio().raw.read(str(path), layer=layer, return_fids=True)
    return meta["crs"], [(int(f), bytes(g) if g is not None else None,
                          tuple(str(v[i]) for v in values))
                         for i, (f, g) in enumerate(zip(fids, geoms))]


def write_layer(path, layer, geometries, kind, crs=UTM, **fields):
    pyogrio().raw.write(str(path), np.array(geometries, dtype=object),
                        [np.asarray(v) for v in fields.values()], list(fields), layer=layer,
                        geometry_type=kind, crs=crs)


def point(x, y):
    return struct.pack("<BIdd", 1, 1, x, y)


def square(x, y, side):
    ring = [(x, y), (x + side, y), (x + side, y + side), (x, y + side), (x, y)]
    return struct.pack("<BII", 1, 3, 1) + struct.pack("<I", 5) + np.array(ring, "<f8").tobytes()


def run(*args):
    return main(["centerline", *map(str, args)])


def test_a_geopackage_used_as_input_and_output_keeps_every_other_layer(tmp_path, capsys):
    city = tmp_path / "city.gpkg"
    write_layer(city, "streets", [wkb(line) for line in PRAGUE], "LineString",
                name=np.array([f"street {i}" for i in range(10)], dtype=object))
    write_layer(city, "buildings", [square(458010, 5548010, 30)], "Polygon", floors=[3])
    write_layer(city, "plots", [square(458000, 5548000, 50)], "Polygon", owner=["x"])
    write_layer(city, "trees", [point(458050, 5548050)], "Point", height=[12.5])
    write_layer(city, "tram", [wkb([(458000, 5548300), (458400, 5548310)])], "LineString")
    before = {name: features(city, name) for name in layers_of(city)}
    assert run(city, "--layer", "streets", "-o", city, "--buffer", 10, "--feature-size", 20) == 0
    after = layers_of(city)
    assert {name: features(city, name) for name in before} == before
    assert after["chains"] == "LineString" and after["nodes"] == "Point"
    assert len(features(city, "chains")[1]) >= 12

    # Our layers again: only with --overwrite; the input layer never, --overwrite or not.
    again = ["--layer", "streets", "-o", city, "--buffer", 10, "--feature-size", 20]
    assert run(city, *again) == 2
    assert "already has a layer 'chains'" in capsys.readouterr().err
    assert run(city, *again, "--overwrite") == 0
    assert run(city, "--layer", "chains", "-o", city, *FS, "--overwrite") == 2
    assert "would replace the input layer" in capsys.readouterr().err
    assert run(city, "--layer", "chains", "-o", city, *FS, "--layer-name", "second") == 0
    assert {"second_chains", "second_nodes"} <= set(layers_of(city))
    assert {name: features(city, name) for name in before} == before
    assert not [n for n in os.listdir(tmp_path) if n.startswith(".linetopo")]


def test_overwrite_never_replaces_a_layer_we_did_not_write(tmp_path, capsys):
    city = tmp_path / "city.gpkg"
    write_layer(city, "streets", [wkb(line) for line in PRAGUE], "LineString")
    write_layer(city, "nodes", [point(458050, 5548050)], "Point", id=[7], degree=[1])
    before = features(city, "nodes")
    args = ["--layer", "streets", "-o", city, "--buffer", 10, "--feature-size", 20, "--overwrite"]
    assert run(city, *args) == 2
    err = capsys.readouterr().err
    assert "layer 'nodes' that linetopo did not write" in err and "--layer-name" in err
    assert features(city, "nodes") == before and "chains" not in layers_of(city)
    assert run(city, *args, "--layer-name", "ours") == 0
    assert run(city, *args, "--layer-name", "ours") == 0  # our own layers are replaced


def test_without_layer_the_line_layers_are_read_and_the_areas_left_are_named(tmp_path, capsys):
    city = tmp_path / "city.gpkg"
    write_layer(city, "streets", [wkb(line) for line in PRAGUE], "LineString")
    write_layer(city, "water", [square(458010, 5548010, 300)], "Polygon")
    write_layer(city, "trees", [point(458050, 5548050)], "Point")
    args = ["--buffer", 10, "--feature-size", 20]
    assert run(city, "-o", tmp_path / "all.geojson", *args) == 0
    assert "left 'water' (Polygon): --layer NAME reads another" in capsys.readouterr().err
    assert run(city, "--layer", "streets", "-o", tmp_path / "streets.geojson", *args) == 0
    assert read_back(tmp_path / "all.geojson") == read_back(tmp_path / "streets.geojson")
    # Where no layer holds lines, every layer of areas is read.
    areas = tmp_path / "areas.gpkg"
    write_layer(areas, "lake", [square(0, 0, 40)], "Polygon")
    write_layer(areas, "pond", [square(100, 0, 40)], "Polygon")
    assert run(areas, "-o", tmp_path / "areas.geojson", "--feature-size", 4) == 0
    assert "left" not in capsys.readouterr().err
    xs = [x for line in read_back(tmp_path / "areas.geojson")[0] for x, _ in line]
    assert min(xs) < 40 and max(xs) > 100  # both squares


@pytest.mark.parametrize("case", ["same file", "same file overwrite", "own folder", "svg on input",
                                  "existing output", "shapefile part", "driver's sidecar",
                                  "svg on a part", "open geopackage", "layer name case"])
def test_no_input_and_no_existing_file_is_replaced_unasked(tmp_path, capsys, case):
    a, b = tmp_path / "a.geojson", tmp_path / "b.geojson"
    write_lines(a, [H, V])
    write_lines(b, [H])
    other = tmp_path / "other.geojson"
    other.write_text("earlier result")
    args = {"same file": [a, "-o", a], "same file overwrite": [a, "-o", a, "--overwrite"],
            "own folder": [a, b, "-o", tmp_path, "--overwrite"],
            "svg on input": [a, "-o", tmp_path / "new.geojson", "--svg", a],
            "existing output": [a, "-o", other],
            "shapefile part": [tmp_path / "in.shp", "-o", tmp_path / "in.dbf", "--format", "fgb",
                               "--overwrite"],
            "driver's sidecar": [a, "-o", tmp_path / "other.gml"],  # GDAL adds other.xsd
            "svg on a part": [a, "-o", tmp_path / "new.shp", "--svg", tmp_path / "new.dbf"],
            "open geopackage": [tmp_path / "in.gpkg", "-o", tmp_path / "in.gpkg",
                                "--layer-name", "x"],
            "layer name case": [tmp_path / "in.gpkg", "-o", tmp_path / "in.gpkg", "--overwrite"],
            }[case]
    if case in ("shapefile part", "driver's sidecar", "svg on a part", "open geopackage",
                "layer name case"):
        pyogrio()
    if case in ("shapefile part", "open geopackage"):
        write_lines(args[0], [H, V])
    if case == "layer name case":  # GeoPackage names ignore case: our "chains" is this layer
        write_layer(args[0], "CHAINS", [wkb(H), wkb(V)], "LineString")
    if case == "driver's sidecar":
        (tmp_path / "other.xsd").write_text("a schema edited by hand")
    if case == "open geopackage":
        (tmp_path / "in.gpkg-wal").write_bytes(b"edits not yet in the file")
    kept = {p: p.read_bytes() for p in tmp_path.iterdir()}
    assert run(*args, *FS) == 2
    (line,) = capsys.readouterr().err.splitlines()
    assert {"existing output": "--overwrite replaces it", "driver's sidecar": "other.gml exists",
            "svg on a part": "written twice", "open geopackage": "is in use"}.get(
        case, "would replace the input") in line
    assert {p: p.read_bytes() for p in tmp_path.iterdir()} == kept
    if case == "existing output":
        assert run(*args, *FS, "--overwrite") == 0 and read_back(other)[0]


@pytest.mark.parametrize("failure, status", [(OSError(28, "No space left on device"), 2),
                                             (KeyboardInterrupt(), 130)])
def test_a_failing_last_step_puts_every_earlier_file_back(tmp_path, monkeypatch, capsys, failure,
                                                          status):
    src, out, picture = tmp_path / "in.geojson", tmp_path / "out.geojson", tmp_path / "out.svg"
    write_lines(src, [H, V])
    out.write_text("old result")
    picture.write_text("old picture")
    replace = os.replace

    def fail_on_picture(source, target):
        if str(target) == str(picture) and str(source) != str(picture) and ".linetopo-old" \
                not in str(source):  # the move into place, not the rollback's
            raise failure
        replace(source, target)

    monkeypatch.setattr(os, "replace", fail_on_picture)
    assert run(src, "-o", out, "--svg", picture, *FS, "--overwrite") == status
    assert ("cannot write" if status == 2 else "interrupted") in capsys.readouterr().err
    assert out.read_text() == "old result" and picture.read_text() == "old picture"
    assert sorted(os.listdir(tmp_path)) == ["in.geojson", "out.geojson", "out.svg"]
    # A picture that cannot be written at all stops the run before anything lands.
    monkeypatch.setattr(os, "replace", replace)
    assert run(src, "-o", tmp_path / "new.geojson", "--svg", tmp_path / "no" / "p.svg", *FS) == 2
    assert "cannot write" in capsys.readouterr().err and not (tmp_path / "new.geojson").exists()


@pytest.mark.parametrize("ext", ["geojson", "svg", "gpkg", "shp", "fgb", "gpx"])
def test_every_input_format_draws_its_picture(tmp_path, ext):
    if ext == "svg":
        pytest.importorskip("svgelements")
    elif ext != "geojson":
        pyogrio()
    src = tmp_path / f"in.{ext}"
    write_lines(src, [H, V])
    extra = ["--planar"] if ext == "gpx" else []
    assert run(src, "-o", tmp_path / "out.geojson", "--svg", tmp_path / "p.svg", *FS, *extra) == 0
    assert (tmp_path / "p.svg").read_text().count('class="junction"') == 1


@pytest.mark.parametrize("buffer", ["0", "-5", "nan", "inf"])
def test_a_buffer_that_is_not_positive_is_refused(tmp_path, capsys, buffer):
    src = tmp_path / "in.geojson"
    write_lines(src, [H, V])
    assert run(src, "-o", tmp_path / "out.geojson", *FS, f"--buffer={buffer}") == 2
    (line,) = capsys.readouterr().err.splitlines()
    assert "--buffer must be a positive finite number" in line
    assert os.listdir(tmp_path) == ["in.geojson"]


def test_lengths_are_ground_metres_in_every_crs(tmp_path):
    """Web Mercator at 50° N stretches lengths 1.56 times, degrees are not lengths at all: each
    runs in its UTM zone and writes back in its own CRS."""
    from linetopo.io import lonlat

    pytest.importorskip("pyproj")
    totals = {}
    for crs in (UTM, "EPSG:3857", "EPSG:4326"):
        lines = lonlat.reproject(PRAGUE, UTM, crs)
        src, out = tmp_path / f"{crs[5:]}.gpkg", tmp_path / f"{crs[5:]}-out.gpkg"
        write_layer(src, "streets", [wkb(line) for line in lines], "LineString", crs=crs)
        assert run(src, "-o", out, "--buffer", 10, "--feature-size", 20) == 0
        got_crs, chains = features(out, "chains")
        assert got_crs == crs
        back = lonlat.reproject([np.frombuffer(g, "<f8", offset=9).reshape(-1, 2)
                                 for _, g, _ in chains], crs, UTM)
        assert all(457980 < x < 458420 and 5547980 < y < 5548420 for c in back for x, y in c)
        totals[crs] = sum(float(values[2]) for _, _, values in chains)
    assert 1900 < totals[UTM] < 4100
    for crs in ("EPSG:3857", "EPSG:4326"):
        assert totals[crs] == pytest.approx(totals[UTM], rel=0.005)


@pytest.mark.parametrize("member, projected", [
    ("urn:ogc:def:crs:EPSG::32633", False), ("urn:ogc:def:crs:OGC:1.3:CRS84", True)])
def test_a_geojson_crs_member_is_read_and_written(tmp_path, member, projected):
    from linetopo.io import lonlat

    pytest.importorskip("pyproj")
    lines = PRAGUE if not projected else lonlat.reproject(PRAGUE, UTM, "OGC:CRS84")
    src = tmp_path / "in.geojson"
    src.write_text(json.dumps({"type": "MultiLineString", "crs": {
        "type": "name", "properties": {"name": member}},
        "coordinates": [np.asarray(line).tolist() for line in lines]}))
    args = [src, "--buffer", 10, "--feature-size", 20]
    assert run(*args, "-o", tmp_path / "out.geojson") == 0
    out = json.loads((tmp_path / "out.geojson").read_text())
    member = {"type": "name", "properties": {"name": member}}
    assert out.get("crs") == (None if projected else member)
    lengths = [f["properties"]["length"] for f in out["features"] if "length" in f["properties"]]
    assert 1900 < sum(lengths) < 4100  # metres, also for the longitude/latitude file
    if not projected:
        pyogrio()
        assert run(*args, "-o", tmp_path / "out.gpkg") == 0
        assert features(tmp_path / "out.gpkg", "chains")[0] == UTM
        assert run(*args, "-o", tmp_path / "rfc.geojson", "--rfc7946") == 0
        rfc = json.loads((tmp_path / "rfc.geojson").read_text())
        x, y = rfc["features"][0]["geometry"]["coordinates"][0]
        assert "crs" not in rfc and 14 < x < 15 and 50 < y < 51


def test_projected_data_keep_their_crs_and_gpx_is_longitude_latitude(tmp_path, capsys):
    pyogrio()
    pytest.importorskip("pyproj")
    src, plain = tmp_path / "in.gpkg", tmp_path / "plain.geojson"
    write_layer(src, "streets", [wkb(line) for line in PRAGUE], "LineString")
    assert run(src, "-o", tmp_path / "out.geojson", "--buffer", 10, "--feature-size", 20) == 0
    assert json.loads((tmp_path / "out.geojson").read_text())["crs"]["properties"]["name"] == \
        "urn:ogc:def:crs:EPSG::32633"
    assert run(src, "-o", tmp_path / "out.gpx", "--buffer", 10, "--feature-size", 20) == 0
    lines, _ = read_back(tmp_path / "out.gpx")
    assert all(14 < x < 15 and 50 < y < 51 for line in lines for x, y in line)
    assert "nodes are not written" in capsys.readouterr().err
    write_lines(plain, [H, V])
    assert run(plain, "-o", tmp_path / "plain.gpx", *FS) == 2
    assert "has no CRS" in capsys.readouterr().err


@pytest.mark.parametrize("ext", ["gpkg", "shp", "fgb", "geojson"])
def test_an_empty_result_is_said_and_still_has_both_layers(tmp_path, capsys, ext):
    if ext != "geojson":
        pyogrio()
    src, out = tmp_path / "in.geojson", tmp_path / f"out.{ext}"
    write_lines(src, [[(14.4 + i * 1e-4, 50.0) for i in range(30)],
                      [(14.4015, 49.999 + i * 1e-4) for i in range(30)]])
    assert run(src, "-o", out, "--buffer", 10, "--feature-size", 20, "--planar") == 0
    (line,) = capsys.readouterr().err.splitlines()
    assert line.startswith("linetopo: warning: no chains") and "taken as degrees" in line
    if ext == "geojson":
        assert json.loads(out.read_text())["features"] == []
        return
    nodes = tmp_path / ("out.gpkg" if ext == "gpkg" else f"out_nodes.{ext}")
    for path, layer in ((out, "chains"), (nodes, "nodes")):
        assert features(path, layer if ext == "gpkg" else None)[1] == []


def test_nodes_go_beside_a_shapefile_whose_old_parts_go(tmp_path):
    src, out = tmp_path / "in.gpkg", tmp_path / "out.shp"
    write_lines(src, [H, V])
    assert run(src, "-o", out, *FS) == 0
    (tmp_path / "out.qix").write_text("an index of the old file")
    write_lines(src, [H, V], crs="EPSG:3067")
    assert run(src, "-o", out, *FS, "--overwrite") == 0
    assert not (tmp_path / "out.qix").exists()
    assert "TM35FIN" in (tmp_path / "out.prj").read_text()
    _, nodes = features(tmp_path / "out_nodes.shp", None)
    assert sorted(int(values[1]) for _, _, values in nodes) == [1, 1, 1, 1, 4]


def test_several_inputs_go_into_a_folder_by_stem(tmp_path, capsys):
    pyogrio()
    sources = [tmp_path / "day0.gpx", tmp_path / "day1.gpx"]
    for i, src in enumerate(sources):
        write_lines(src, [[(14.4 + t * 1e-4, 50.0 + i * 1e-3) for t in range(40)]])
    assert run(*sources, "-o", tmp_path / "roads.gpkg", *FS) == 2
    assert "OUTPUT is a folder" in capsys.readouterr().err
    assert run(*sources, "-o", tmp_path / "out", "--format", "gpkg", *FS) == 0
    assert sorted(os.listdir(tmp_path / "out")) == ["day0.gpkg", "day1.gpkg"]
    assert ".linetopo" not in capsys.readouterr().err
    bad = tmp_path / "bad.geojson"
    bad.write_text("{not json")
    assert run(sources[0], bad, "-o", tmp_path / "new" / "sub", *FS) == 2
    assert f"{bad}: invalid JSON" in capsys.readouterr().err
    assert not (tmp_path / "new").exists()


def test_messages_name_the_layer_types_and_units(tmp_path, capsys):
    src, empty = tmp_path / "parcels.gpkg", tmp_path / "empty.gpkg"
    write_layer(src, "parcels", [point(0, 0)], "Point")
    empty.write_bytes(b"")
    assert run(src, "-o", tmp_path / "a.geojson", *FS) == 2
    assert "layer 'parcels': Point" in capsys.readouterr().err
    assert run(empty, "-o", tmp_path / "b.geojson", *FS) == 2
    err = capsys.readouterr().err
    assert "the file is empty" in err and "DRIVER" not in err
    lonlat_src = tmp_path / "traces.gpx"
    write_lines(lonlat_src, [[(14.4 + t * 1e-4, 50.0) for t in range(40)]])
    assert run(lonlat_src, "-o", tmp_path / "c.geojson", *FS, "--max-nodes", 1) == 2
    assert "sizes are in ground metres" in capsys.readouterr().err


def test_curves_asked_of_an_output_of_points_is_said(tmp_path, capsys):
    src = tmp_path / "in.geojson"
    write_lines(src, [H, V])
    assert run(src, "-o", tmp_path / "out.geojson", *FS, "--curves", 0.5) == 0
    assert "--curves applies to SVG output" in capsys.readouterr().err


@pytest.mark.parametrize("damage", ["cut short", "huge point count"])
def test_an_unreadable_record_is_an_error_or_a_warning(tmp_path, capsys, damage):
    src = tmp_path / "in.shp"
    write_lines(src, [[(0, i * 10), (50, i * 10), (100, i * 10)] for i in range(4)])
    data = bytearray(src.read_bytes())
    if damage == "cut short":
        del data[-40:]
    else:  # the first record's point count: header, shape type, box, part count
        struct.pack_into("<i", data, 100 + 8 + 4 + 32 + 4, 0x7FFFFFF0)
    src.write_bytes(bytes(data))
    out = tmp_path / "out.geojson"
    assert run(src, "-o", out, *FS) == 2
    assert "cannot read feature" in capsys.readouterr().err and not out.exists()
    assert run(src, "-o", out, *FS, "--skip-invalid") == 0
    assert "skipped 1 feature" in capsys.readouterr().err and len(read_back(out)[0]) == 3


@pytest.mark.parametrize("signum", [signal.SIGINT, signal.SIGTERM, signal.SIGHUP])
def test_a_stopped_run_says_one_line_and_leaves_nothing(tmp_path, monkeypatch, capsys, signum):
    src = tmp_path / "in.geojson"
    write_lines(src, [H, V])
    write = _centerline.formats.write

    def interrupted(*args, **kwargs):
        write(*args, **kwargs)  # staged, not yet in place
        os.kill(os.getpid(), signum)

    monkeypatch.setattr(_centerline.formats, "write", interrupted)
    assert run(src, "-o", tmp_path / "o.geojson", "--svg", tmp_path / "p.svg", *FS) == 128 + signum
    assert capsys.readouterr().err == "linetopo: interrupted\n"
    assert os.listdir(tmp_path) == ["in.geojson"]
    assert signal.getsignal(signal.SIGTERM) == signal.SIG_DFL  # handlers put back


def test_bin_linetopo_runs_the_environment_with_the_extras(tmp_path):
    top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    (tmp_path / "bin").mkdir()
    shutil.copy(os.path.join(top, "bin", "linetopo"), tmp_path / "bin")
    for venv in (".venv", ".venv-extras"):
        (tmp_path / venv / "bin").mkdir(parents=True)
        (tmp_path / venv / "bin" / "linetopo").write_text(f'#!/bin/sh\necho {venv} "$@"\n')
    for path in tmp_path.rglob("*"):
        if path.is_file():
            path.chmod(0o755)
    proc = subprocess.run([str(tmp_path / "bin" / "linetopo"), "demo"], capture_output=True,
                          text=True, timeout=60)
    assert proc.stdout == ".venv-extras demo\n"
    shutil.rmtree(tmp_path / ".venv-extras")
    proc = subprocess.run([str(tmp_path / "bin" / "linetopo"), "demo"], capture_output=True,
                          text=True, timeout=60)
    assert proc.stdout == ".venv demo\n"


def test_what_is_written_reads_back(tmp_path):
    from linetopo.io import _targets, lonlat

    assert lonlat.geojson_crs_name("OGC:CRS84h") == "urn:ogc:def:crs:OGC::CRS84h"
    assert _targets.nodes_file("x.shp.zip") == "x_nodes.shp.zip"
    pyogrio()
    src = tmp_path / "lines.gpkg"  # --format names the output; the input's name tells its own
    write_lines(src, [H, V])
    assert run(src, "-o", tmp_path / "out.txt", "--format", "GeoJSON", *FS) == 0
    assert len(json.loads((tmp_path / "out.txt").read_text())["features"]) == 9
