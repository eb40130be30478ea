"""linetopo.dask on a two-process LocalCluster on loopback: results equal the local ones."""

import pytest
from linetopo import _internal
from linetopo._generators import scribble

db = pytest.importorskip("dask.bag")
distributed = pytest.importorskip("distributed")
from linetopo import dask as ld  # noqa: E402


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as c:
        yield c


def test_command_line_runs_on_the_cluster(client, tmp_path):
    import json

    from linetopo.cli import main

    src = tmp_path / "in.geojson"
    src.write_text(json.dumps({"type": "MultiLineString", "coordinates": scribble(2, strokes=20, size=60.0)}))
    address = client.scheduler.address
    for extra in ([], ["--tile-size", "25"]):
        local, remote = tmp_path / "local.geojson", tmp_path / "remote.geojson"
        assert main(["centerline", str(src), "-o", str(local), "--feature-size", "2", *extra,
                     "--overwrite"]) == 0
        assert main(["centerline", str(src), "-o", str(remote), "--feature-size", "2", *extra,
                     "--overwrite", "--dask-scheduler", address]) == 0
        assert remote.read_text() == local.read_text()


def test_bag_of_sets_equals_the_batch(client):
    sets = [scribble(seed) for seed in range(7)]
    expected = _internal.topologize_batch([(s, 1.0, 2.0, 0.1) + (None,) * 7 for s in sets])
    bag = db.from_sequence(sets, npartitions=3)
    assert ld.topologize_bag(bag, 1.0, 2.0, simplification=0.1).compute() == expected
    bad = db.from_sequence(sets[:2] + [[[(0.0, 0.0), (float("nan"), 1.0)]]], npartitions=2)
    with pytest.raises(ValueError, match=r"curve set 0 of partition 1 failed: x coordinate"):
        ld.topologize_bag(bad, 1.0, 2.0).compute()
    with pytest.raises(TypeError, match="compute_widths"):
        ld.topologize_bag(bag, 1.0, 2.0, compute_widths=True)


def test_tiles_on_the_cluster_equal_the_local_tiled_run(client):
    curves = scribble(3, strokes=40, points=60, size=120.0)
    local = _internal.topologize_tiled(curves, 1.0, 2.0, tile_size=35.0, compute_widths=True)
    assert ld.topologize_tiled(curves, 1.0, 2.0, tile_size=35.0, client=client, compute_widths=True) == local
    # A bag is cut into tiles partition by partition and gives the same tiles.
    bag = db.from_sequence(curves, npartitions=5)
    assert ld.topologize_tiled(bag, 1.0, 2.0, tile_size=35.0, client=client, compute_widths=True) == local
    with pytest.raises(ValueError, match=r"tile \(-?\d+, -?\d+\) failed: skeleton has"):
        ld.topologize_tiled(curves, 1.0, 2.0, tile_size=35.0, client=client, max_nodes=1)
