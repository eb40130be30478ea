"""Does support mean something? Chains of the Athens GPS traces on and off the street map.

Run: .venv-extras/bin/python bench/gps_support.py [--data ../shared/data/gps]
     [--buffer 12] [--feature-size 25] [--near 15] [--gap 120]
Needs shapely. The zips are read into a temporary folder. Traces and map are in metres of the
Greek Grid already, so nothing is projected. A trace is cut where two fixes are more than --gap
seconds apart (the straight line between them is a guess), and its pieces count as one trace.
A chain's support is the number of distinct traces among its chain_sources, with the radius
buffer + feature_size / 2; a chain is on the map when at least half its length lies within
--near metres of the OpenStreetMap streets. Chains on the map should have the higher support.
"""

import argparse
import statistics
import tempfile
import zipfile
from pathlib import Path

import shapely
from linetopo import chain_sources, topologize

DEFAULT_DATA = Path(__file__).resolve().parents[2] / "shared" / "data" / "gps"
BANDS = ((0, 0), (1, 1), (2, 2), (3, 4), (5, 9), (10, None))


def read_traces(folder, gap):
    """Curves and, per curve, the index of the trace it was cut from."""
    curves, trace_of = [], []
    files = sorted(folder.glob("*/trips/trip_*.txt"), key=lambda f: int(f.stem.split("_")[1]))
    for trace, path in enumerate(files):
        fixes = [tuple(map(float, line.split())) for line in path.read_text().split("\n")
                 if line.strip()]
        piece = []
        for k, (x, y, t) in enumerate(fixes):
            if k > 0 and t - fixes[k - 1][2] > gap:
                curves.append(piece)
                trace_of.append(trace)
                piece = []
            piece.append((x, y))
        curves.append(piece)
        trace_of.append(trace)
    kept = [k for k, c in enumerate(curves) if len(c) >= 2]
    return [curves[k] for k in kept], [trace_of[k] for k in kept], len(files)


def read_map(folder):
    """The street graph's edges as shapely lines."""
    vertices = {}
    for line in next(folder.glob("*/*_vertices_osm.txt")).read_text().split("\n"):
        if line.strip():
            key, x, y = line.split(",")[:3]
            vertices[key] = (float(x), float(y))
    edges = []
    for line in next(folder.glob("*/*_edges_osm.txt")).read_text().split("\n"):
        if line.strip():
            start, end = line.split(",")[1:3]
            edges.append(shapely.LineString([vertices[start], vertices[end]]))
    return edges


def read_athens(data, gap):
    """read_traces and read_map of the two Athens zips in `data`, read in a temporary folder."""
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        for name in ("tracks_athens_small.zip", "map_athens_small.zip"):
            with zipfile.ZipFile(data / name) as archive:
                archive.extractall(folder)
        return (*read_traces(folder, gap), read_map(folder))


def band_name(low, high):
    return f"{low}+" if high is None else str(low) if low == high else f"{low}-{high}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", type=Path, default=DEFAULT_DATA)
    parser.add_argument("--buffer", type=float, default=12.0)
    parser.add_argument("--feature-size", type=float, default=25.0)
    parser.add_argument("--near", type=float, default=15.0)
    parser.add_argument("--gap", type=float, default=120.0)
    args = parser.parse_args()
    if not (args.data / "tracks_athens_small.zip").exists():
        parser.error(f"no Athens traces in {args.data}")

    curves, trace_of, traces, edges = read_athens(args.data, args.gap)

    chains, _nodes, _ids, _widths = topologize(curves, args.buffer, args.feature_size)
    sources = chain_sources(chains, curves, args.buffer + args.feature_size / 2)
    support = [len({trace_of[c] for c, _share in found}) for found in sources]

    streets = shapely.union_all(shapely.buffer(shapely.MultiLineString(edges), args.near))
    lines = [shapely.LineString(c) for c in chains]
    lengths = shapely.length(lines)
    near = shapely.length(shapely.intersection(lines, streets))
    on_map = [n >= 0.5 * total for n, total in zip(near, lengths)]

    print(f"{traces} traces cut into {len(curves)} curves, "
          f"{sum(len(c) for c in curves)} fixes; {len(edges)} street edges")
    print(f"buffer {args.buffer:g} m, feature size {args.feature_size:g} m, "
          f"radius {args.buffer + args.feature_size / 2:g} m: {len(chains)} chains")
    print(f"{'class':<8} {'chains':>6} {'length km':>9} {'median':>6} {'mean':>6}")
    for name, flag in (("on map", True), ("off map", False)):
        picked = [s for s, m in zip(support, on_map) if m == flag]
        km = sum(total for total, m in zip(lengths, on_map) if m == flag) / 1000
        median = statistics.median(picked) if picked else float("nan")
        mean = statistics.fmean(picked) if picked else float("nan")
        print(f"{name:<8} {len(picked):>6} {km:9.2f} {median:6.1f} {mean:6.2f}")
    print(f"{'support':<8} {'chains':>6} {'on map':>7}")
    for low, high in BANDS:
        picked = [m for s, m in zip(support, on_map)
                  if s >= low and (high is None or s <= high)]
        share = f"{sum(picked) / len(picked):7.0%}" if picked else "    n/a"
        print(f"{band_name(low, high):<8} {len(picked):>6} {share}")


if __name__ == "__main__":
    main()
