"""shapely and GeoPandas through linetopo.geo, and longitude/latitude runs in metres."""

import importlib.util
import math
import sys

import pytest
from drawings import cross
from linetopo import topologize
from linetopo.cli import main
from test_formats import read_back, write_lines

H, V = cross(50.0, 41)
# Each place's cross is 30 km wide; the second one straddles 12°E, between UTM zones 32 and 33,
# with its centre in zone 33.
PLACES = {"high latitude": (15.6, 78.2), "zone border": (12.15, 48.0)}
UTM = "EPSG:32633"
BUFFER, FS = 20.0, 40.0


def run_lonlat(route, curves, tmp_path):
    """Runs longitude/latitude curves one way; returns the chains in longitude/latitude, their
    lengths and the CRS the result carries."""
    if route == "geoseries":
        geopandas, shapely = pytest.importorskip("geopandas"), pytest.importorskip("shapely")
        from linetopo.geo import centerline

        chains = centerline(geopandas.GeoSeries(shapely.linestrings(curves), crs="EPSG:4326"),
                            BUFFER, FS)
        return ([shapely.get_coordinates(g) for g in chains.geometry], list(chains["length"]),
                chains.crs.to_string())
    # A GeoPackage says it is longitude/latitude; GeoJSON needs --geographic.
    src, out = tmp_path / f"in.{route}", tmp_path / f"out.{route}"
    write_lines(src, curves, crs="EPSG:4326")
    flags = ["--geographic"] if route == "geojson" else []
    assert main(["centerline", str(src), "-o", str(out), "--buffer", str(BUFFER),
                 "--feature-size", str(FS), *flags]) == 0
    lines, columns = read_back(out)
    crs = (pytest.importorskip("pyogrio").read_info(str(out), layer="chains")["crs"]
           if route == "gpkg" else "EPSG:4326")
    return lines, columns["length"], crs


@pytest.mark.parametrize("route", ["geojson", "gpkg", "geoseries"])
@pytest.mark.parametrize("place", sorted(PLACES))
def test_lonlat_gives_the_centerline_of_the_same_traces_in_utm_metres(tmp_path, place, route):
    pyproj = pytest.importorskip("pyproj")
    to_utm = pyproj.Transformer.from_crs("EPSG:4326", UTM, always_xy=True)
    east, north = to_utm.transform(*PLACES[place])
    metres = cross(15000.0, 61, east, north)
    lonlat = [list(zip(*to_utm.transform(*zip(*c), direction="INVERSE"))) for c in metres]
    if place == "zone border":
        assert min(p[0] for c in lonlat for p in c) < 12 < max(p[0] for c in lonlat for p in c)
    chains, nodes, ids, _ = topologize(metres, BUFFER, FS)
    lines, lengths, crs = run_lonlat(route, lonlat, tmp_path)
    assert crs == "EPSG:4326" and len(lines) == len(chains) == 4
    for line, chain in zip(lines, chains):
        x, y = to_utm.transform(*zip(*[tuple(p) for p in line]))
        assert len(x) == len(chain)
        assert max(math.dist(p, q) for p, q in zip(zip(x, y), chain)) < 1e-3  # metres
    assert lengths == pytest.approx([sum(map(math.dist, c, c[1:])) for c in chains], abs=1e-3)


def geometry_forms():
    shapely = pytest.importorskip("shapely")
    h, v = shapely.LineString(H), shapely.LineString(V)
    return {
        "one multi": shapely.MultiLineString([H, V]),
        "list with gaps": [h, None, shapely.LineString(), shapely.GeometryCollection([v])],
        "array": shapely.linestrings([H, V]),
    }


def records(result):
    """The rows of a GeoDataFrame, or of the dict of columns that stands in for one."""
    if isinstance(result, dict):
        return [dict(zip(result, values)) for values in zip(*result.values())]
    return result.to_dict("records")


@pytest.mark.parametrize("form", ["one multi", "list with gaps", "array", "geoseries",
                                  "geodataframe", "without geopandas"])
def test_centerline_of_shapely_geometries(monkeypatch, form):
    shapely = pytest.importorskip("shapely")
    from linetopo.geo import centerline

    forms = geometry_forms()
    geoms = forms.get(form, forms["array"])
    crs = None
    if form in ("geoseries", "geodataframe"):
        geopandas = pytest.importorskip("geopandas")
        geoms, crs = geopandas.GeoSeries(geoms, crs=UTM), UTM
        if form == "geodataframe":
            geoms = geopandas.GeoDataFrame({"name": ["h", "v"]}, geometry=geoms)
    if form == "without geopandas":
        monkeypatch.setitem(sys.modules, "geopandas", None)
    chain_frame = centerline(geoms, 2.5, 5.0, compute_widths=True)
    chain_rows, node_frame = centerline(geoms, 2.5, 5.0, compute_widths=True, nodes=True)
    chains, nodes, ids, widths = topologize([H, V], 2.5, 5.0, compute_widths=True)
    without = form == "without geopandas" or importlib.util.find_spec("geopandas") is None
    for result in (chain_frame, chain_rows, node_frame):
        assert isinstance(result, dict) if without else result.crs == crs
    rows, node_rows = records(chain_frame), records(node_frame)
    assert len(rows) == len(chains) and "kind" not in rows[0]
    assert [r["start_node"] for r in records(chain_rows)] == [r["start_node"] for r in rows]
    for row, chain, (start, end), w in zip(rows, chains, ids, widths):
        assert shapely.get_coordinates(row["geometry"]).tolist() == [list(p) for p in chain]
        assert (row["start_node"], row["end_node"]) == (start, end)
        assert row["length"] == pytest.approx(sum(map(math.dist, chain, chain[1:])))
        assert row["widths"].tolist() == list(w)
    assert len(node_rows) == len(nodes)
    for i, (row, node) in enumerate(zip(node_rows, nodes)):
        assert (row["id"], row["geometry"].coords[0]) == (i, node)
    assert sorted(r["degree"] for r in node_rows) == [1, 1, 1, 1, 4]


def test_the_mixed_frame_of_earlier_releases_is_still_there_with_a_warning():
    shapely = pytest.importorskip("shapely")
    from linetopo.geo import centerline

    with pytest.warns(FutureWarning, match="nodes='mixed'.* is deprecated"):
        mixed = records(centerline([shapely.LineString(H), shapely.LineString(V)], 2.5, 5.0,
                                   nodes="mixed"))
    chains, nodes = centerline([shapely.LineString(H), shapely.LineString(V)], 2.5, 5.0,
                               nodes=True)
    n = len(records(chains))
    assert [r["kind"] for r in mixed] == ["chain"] * n + ["node"] * len(records(nodes))
    assert [r["degree"] for r in mixed[n:]] == [r["degree"] for r in records(nodes)]
    with pytest.raises(ValueError, match="nodes must be True, False or 'mixed'"):
        centerline([shapely.LineString(H)], 2.5, 5.0, nodes="both")


@pytest.mark.parametrize("curves, length", [
    ([[(-9.2, 38.7), (-9.1, 38.7)], [(139.7, 35.7), (139.8, 35.7)]], None),  # Lisbon and Tokyo
    ([[(3.0, 0.0), (14.0, 0.0)]], None),  # 11° along the equator: wider than a zone holds
    ([[(179.9, -17.0), (-179.9, -17.0)]], 21_300),  # Fiji, across the antimeridian
])
def test_one_utm_zone_takes_only_data_it_holds(tmp_path, capsys, curves, length):
    pytest.importorskip("pyproj")
    src, out = tmp_path / "in.geojson", tmp_path / "out.geojson"
    write_lines(src, curves, crs="EPSG:4326")
    status = main(["centerline", str(src), "-o", str(out), "--buffer", "10",
                   "--feature-size", "20", "--geographic"])
    if length is None:
        err = capsys.readouterr().err
        assert status == 2 and len(err.splitlines()) == 1 and "run the regions apart" in err
        assert not out.exists()
    else:
        assert status == 0
        assert sum(read_back(out)[1]["length"]) == pytest.approx(length, rel=0.01)


def test_polygons_need_no_buffer_but_lines_do():
    shapely = pytest.importorskip("shapely")
    from linetopo.geo import centerline

    rows = records(centerline([shapely.box(0, 0, 40, 6)], None, 4.0))
    assert len(rows) == 1 and rows[0]["support"] == 1
    with pytest.raises(TypeError, match="buffer_distance must be a number where there are lines"):
        centerline([shapely.box(0, 0, 40, 6), shapely.LineString(H)], None, 4.0)


def test_centerline_refuses_points():
    shapely = pytest.importorskip("shapely")
    from linetopo.geo import centerline

    with pytest.raises(TypeError, match="line and polygon geometries, got a Point"):
        centerline([shapely.LineString(H), shapely.Point(0, 0)], 2.5, 5.0)


def test_web_mercator_geoseries_runs_in_ground_metres():
    geopandas, shapely = pytest.importorskip("geopandas"), pytest.importorskip("shapely")
    from linetopo.geo import centerline
    from linetopo.io import lonlat

    metres = cross(15000.0, 61, 458000.0, 5548000.0)  # Prague, where Mercator stretches 1.56x
    mercator = lonlat.reproject(metres, UTM, "EPSG:3857")
    chains = centerline(geopandas.GeoSeries(shapely.linestrings(mercator), crs="EPSG:3857"),
                        BUFFER, FS)
    expected = [sum(map(math.dist, c, c[1:])) for c in topologize(metres, BUFFER, FS)[0]]
    assert chains.crs.to_string() == "EPSG:3857" and len(chains) == 4
    assert sorted(chains["length"]) == pytest.approx(sorted(expected), rel=0.005)
