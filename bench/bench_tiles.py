"""Tiled topologize against one call: time, peak RSS and the halo's share of the work.

    .venv/bin/python bench/bench_tiles.py [--sizes 1000000 5000000] [--tile 2000]

Each variant runs in a child process of its own, so that its peak RSS is its own: `topologize`,
`topologize_tiled` on this machine's pool, and `linetopo.dask.topologize_tiled` on a two-worker
LocalCluster on loopback (when dask and distributed are installed).
"""

import argparse
import multiprocessing as mp
import resource
import time

from linetopo._generators import gps


def _run(kind, points, tile, queue):
    from linetopo import _internal

    curves, r, fs = gps(points)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
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
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    queue.put((elapsed, before, peak, len(result[0])))


def measure(kind, points, tile):
    context = mp.get_context("spawn")
    queue = context.Queue()
    child = context.Process(target=_run, args=(kind, points, tile, queue))
    child.start()
    child.join()
    return queue.get() if child.exitcode == 0 else None


def halo_share(points, tile):
    """Input points the tiles get, over the input: what the halo adds."""
    from linetopo import _tiles

    curves, r, fs = gps(points)
    options = {"buffer_distance": r, "feature_size": fs, "tile_size": tile}
    _, _, tiles = _tiles.plan(curves, options, None, False)
    given = sum(len(c) for *_, parts, _ in tiles for c in parts)
    return given / sum(len(c) for c in curves) - 1.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[1_000_000, 5_000_000])
    parser.add_argument("--tile", type=float, default=2000.0)
    parser.add_argument("--no-cluster", action="store_true")
    args = parser.parse_args()
    kinds = ["topologize", "tiled"] + ([] if args.no_cluster else ["cluster"])
    for points in args.sizes:
        base = None
        print(f"GPS-like, {points} points, tiles of {args.tile:g} m, halo adds "
              f"{100 * halo_share(points, args.tile):.1f}% to the input points")
        for kind in kinds:
            got = measure(kind, points, args.tile)
            if got is None:
                print(f"  {kind:12s} failed")
                continue
            seconds, before, peak, chains = got
            base = base or seconds
            # The input as Python lists comes first; what the call adds is the difference.
            print(f"  {kind:12s} {seconds:8.2f} s  {seconds / base:5.2f}x  peak RSS "
                  f"{peak / 2**20:6.0f} MiB, of which the call {(peak - before) / 2**20:6.0f} MiB "
                  f"({(peak - before) / points:5.0f} B/point)  {chains} chains")


if __name__ == "__main__":
    main()
