"""Maps from GPS traces against the streets they drove: topologize and density_centerline.

Run: .venv-extras/bin/python bench/bench_map.py [--data ../shared/data/gps] [--buffer 12]
     [--feature-size 25] [--relative 0.35] [--repeat 3]
Needs shapely. The Athens traces are read as bench/gps_support.py reads them (cut at gaps of
more than 120 s). Scoring is graph sampling: both graphs are sampled every 5 m (each line at
the middles of equal pieces about 5 m long), samples are matched one to one within 15 m and
with bearings within 45 degrees (undirected), nearest pairs first; precision and recall are the
matched shares of the result's and the map's samples, F their harmonic mean. The map holds
every street of the district, most of which no trace drove, so it is cropped to the streets a
trace follows: a map edge counts when at least half its length lies within 15 m of some trace.
Times are the best of --repeat runs, and the density time is also given as a ratio to
topologize's in the same run. --svg draws both results over the driven streets, side by side.
--generated times both on the bench's GPS-like traces of the given sizes, each call in a child
process of its own, with its peak memory per point.
"""

import argparse
import json
import math
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
import shapely
from gps_support import DEFAULT_DATA, read_athens
from linetopo import _internal, density_centerline, topologize

SPACING = 5.0
NEAR = 15.0
MAX_BEARING = math.radians(45.0)


def samples(lines):
    """Points about SPACING apart along each line, and the bearing (mod pi) there."""
    points, bearings = [], []
    for line in lines:
        xy = np.asarray(line, dtype=float)
        if len(xy) < 2:
            continue
        steps = np.diff(xy, axis=0)
        lengths = np.hypot(steps[:, 0], steps[:, 1])
        total = lengths.sum()
        if total <= 0:
            continue
        n = max(1, round(total / SPACING))
        at = (np.arange(n) + 0.5) * total / n
        ends = np.cumsum(lengths)
        seg = np.minimum(np.searchsorted(ends, at), len(lengths) - 1)
        start = ends[seg] - lengths[seg]
        t = np.where(lengths[seg] > 0, (at - start) / np.maximum(lengths[seg], 1e-12), 0.0)
        points.append(xy[seg] + steps[seg] * t[:, None])
        bearings.append(np.mod(np.arctan2(steps[seg, 1], steps[seg, 0]), np.pi))
    if not points:
        return np.zeros((0, 2)), np.zeros(0)
    return np.concatenate(points), np.concatenate(bearings)


def score(chains, streets):
    """(precision, recall, F) of the chains against the street lines."""
    found, found_bearing = samples(chains)
    truth, truth_bearing = samples(streets)
    if len(found) == 0 or len(truth) == 0:
        return 0.0, 0.0, 0.0
    tree = shapely.STRtree(shapely.points(truth))
    left, right = tree.query(shapely.points(found), predicate="dwithin", distance=NEAR)
    turn = np.abs(found_bearing[left] - truth_bearing[right])
    turn = np.minimum(turn, np.pi - turn)
    keep = turn <= MAX_BEARING
    left, right = left[keep], right[keep]
    distance = np.hypot(*(found[left] - truth[right]).T)
    used_found = np.zeros(len(found), bool)
    used_truth = np.zeros(len(truth), bool)
    matched = 0
    for k in np.argsort(distance, kind="stable"):
        a, b = left[k], right[k]
        if not used_found[a] and not used_truth[b]:
            used_found[a] = used_truth[b] = True
            matched += 1
    precision, recall = matched / len(found), matched / len(truth)
    f = 2 * precision * recall / (precision + recall) if matched else 0.0
    return precision, recall, f


def best_time(run, repeat):
    best, result = math.inf, None
    for _ in range(repeat):
        start = time.perf_counter()
        result = run()
        best = min(best, time.perf_counter() - start)
    return best, result


CHILD = r"""
import json, resource, sys, time
from linetopo import density_centerline, topologize
from linetopo._generators import gps
size, which = int(sys.argv[1]), sys.argv[2]
curves, r, fs = gps(size)
base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
result = topologize(curves, r, fs) if which == "topologize" else density_centerline(curves, fs)
seconds = time.perf_counter() - start
peak = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - base) * 1024
print(json.dumps(dict(seconds=seconds, per_point=peak / size, chains=len(result[0]))))
"""


def generated(sizes):
    print(f"{'GPS-like points':>15} {'topologize':>10} {'density':>8} {'ratio':>6} "
          f"{'topo B/pt':>9} {'density B/pt':>12}")
    for size in sizes:
        runs = {}
        for which in ("topologize", "density"):
            out = subprocess.run([sys.executable, "-c", CHILD, str(size), which],
                                 capture_output=True, text=True, check=True).stdout
            runs[which] = json.loads(out)
        topo, dens = runs["topologize"], runs["density"]
        print(f"{size:>15} {topo['seconds']:9.2f}s {dens['seconds']:7.2f}s "
              f"{dens['seconds'] / topo['seconds']:6.2f} {topo['per_point']:9.0f} "
              f"{dens['per_point']:12.0f}")


def picture(path, streets, results):
    """Each result's chains (coloured) over the driven streets (grey), side by side."""
    xs = [x for line in streets for x, _ in line]
    ys = [y for line in streets for _, y in line]
    x0, y0, w, h = min(xs) - 50, min(ys) - 50, max(xs) - min(xs) + 100, max(ys) - min(ys) + 100
    panels = []
    for k, (name, chains) in enumerate(results):
        def path_of(line, dx=k * (w + 100)):
            return "M" + " L".join(f"{x - x0 + dx:.0f},{h - (y - y0):.0f}" for x, y in line)
        grey = "".join(f'<path d="{path_of(s)}"/>' for s in streets)
        ours = "".join(f'<path d="{path_of(c)}" stroke="hsl({(37 * i) % 360},70%,40%)"/>'
                       for i, c in enumerate(chains))
        panels.append(f'<g fill="none" stroke="#bbb" stroke-width="14">{grey}</g>'
                      f'<g fill="none" stroke-width="6">{ours}</g>'
                      f'<text x="{k * (w + 100) + 20}" y="80" font-size="70">{name}</text>')
    Path(path).write_text(
        f'<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 {2 * w + 100:.0f} {h:.0f}" '
        f'width="{(2 * w + 100) / 8:.0f}" height="{h / 8:.0f}"><rect width="100%" height="100%" '
        f'fill="white"/>{"".join(panels)}</svg>\n', encoding="utf-8")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", type=Path, default=DEFAULT_DATA)
    parser.add_argument("--buffer", type=float, default=12.0)
    parser.add_argument("--feature-size", type=float, default=25.0)
    parser.add_argument("--relative", type=float, default=_internal._DENSITY_DEFAULTS["relative"])
    parser.add_argument("--gap", type=float, default=120.0)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--svg", metavar="FILE", help="draw both results over the streets")
    parser.add_argument("--generated", default="", help="GPS-like sizes, e.g. 100000,1000000")
    args = parser.parse_args()
    if args.generated:
        generated([int(n) for n in args.generated.split(",")])
    if not (args.data / "tracks_athens_small.zip").exists():
        parser.error(f"no Athens traces in {args.data}")
    curves, _trace_of, traces, edges = read_athens(args.data, args.gap)

    zone = shapely.union_all(shapely.buffer([shapely.LineString(c) for c in curves], NEAR))
    lengths = shapely.length(edges)
    driven = [e for e, n, t in zip(edges, shapely.length(shapely.intersection(edges, zone)),
                                   lengths) if n >= 0.5 * t]
    streets = [list(e.coords) for e in driven]
    print(f"{traces} traces ({len(curves)} curves, {sum(map(len, curves))} fixes); "
          f"{len(driven)} of {len(edges)} street edges driven, "
          f"{sum(shapely.length(driven)) / 1000:.1f} km")

    fs = args.feature_size
    runs = {
        f"topologize (buffer {args.buffer:g}, fs {fs:g})":
            lambda: topologize(curves, args.buffer, fs),
        f"density_centerline (fs {fs:g}, relative {args.relative:g})":
            lambda: density_centerline(curves, fs, relative=args.relative),
    }
    print(f"{'':<44} {'chains':>6} {'precision':>9} {'recall':>6} {'F':>6} {'time':>7}")
    times, drawn = [], []
    for name, run in runs.items():
        seconds, (chains, *_rest) = best_time(run, args.repeat)
        times.append(seconds)
        drawn.append((name.split(" (")[0], chains))
        precision, recall, f = score(chains, streets)
        print(f"{name:<44} {len(chains):>6} {precision:9.3f} {recall:6.3f} {f:6.3f} "
              f"{seconds:6.2f}s")
    print(f"density time / topologize time: {times[1] / times[0]:.2f}")
    if args.svg:
        picture(args.svg, streets, drawn)


if __name__ == "__main__":
    main()
