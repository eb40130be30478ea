"""Tiled topologize against one call: time, peak RSS and the halo's share of the work.

    scripts/in-env .venv/bin/python bench/bench_tiles.py [--sizes 1000000 5000000] [--tile 1000]

Each variant runs in a child process of its own, so that its peak RSS is its own: `topologize`,
`topologize_tiled` on this machine's pool, and `linetopo.dask.topologize_tiled` on a two-worker
LocalCluster on loopback (when dask and distributed are installed).
"""

import argparse
import multiprocessing as mp
import resource
import time

import generators


def _run(kind, points, tile, queue):
    from linetopo import _internal

    curves, r, fs = generators.gps(points)
    started = time.perf_counter()
    if kind == "topologize":
        result = _internal.topologize(curves, r, fs)
    elif kind == "tiled":
        result = _internal.topologize_tiled(curves, r, fs, tile_size=tile)
    else:
        from distributed import Client, LocalCluster

        from linetopo import dask as ld

        with LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                          dashboard_address=None) as cluster, Client(cluster) as client:
            started = time.perf_counter()
            result = ld.topologize_tiled(curves, r, fs, tile_size=tile, client=client)
    elapsed = time.perf_counter() - started
    queue.put((elapsed, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024, len(result[0])))


def measure(kind, points, tile):
    queue = mp.get_context("spawn").Queue()
    child = mp.get_context("spawn").Process(target=_run, args=(kind, points, tile, queue))
    child.start()
    out = queue.get()
    child.join()
    return out


def halo_share(points, tile):
    """Input points the tiles get, over the input: what the halo adds."""
    from linetopo import _internal

    curves, r, fs = generators.gps(points)
    options = {"buffer_distance": r, "feature_size": fs, "tile_size": tile}
    _, _, tiles = _internal._plan_tiles(curves, options, None, False)
    given = sum(len(c) for *_, parts, _ in tiles for c in parts)
    return given / sum(len(c) for c in curves) - 1.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[1_000_000, 5_000_000])
    parser.add_argument("--tile", type=float, default=1000.0)
    parser.add_argument("--no-cluster", action="store_true")
    args = parser.parse_args()
    kinds = ["topologize", "tiled"] + ([] if args.no_cluster else ["cluster"])
    for points in args.sizes:
        base = None
        print(f"GPS-like, {points} points, tiles of {args.tile:g} m, halo adds "
              f"{100 * halo_share(points, args.tile):.1f}% to the input points")
        for kind in kinds:
            seconds, rss, chains = measure(kind, points, args.tile)
            base = base or seconds
            print(f"  {kind:12s} {seconds:8.2f} s  {seconds / base:5.2f}x  peak RSS "
                  f"{rss / 2**20:8.0f} MiB ({rss / points:6.0f} B/point)  {chains} chains")


if __name__ == "__main__":
    main()
