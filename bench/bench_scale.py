"""Growth with input size: topologize and inflate_curves against shapely's buffer plus union.

Run: .venv/bin/python bench/bench_scale.py [--sizes 10000,100000,1000000]
     [--inputs "random walks,drawing,gps,dense,segments"] [--extra] [--repeat 3]
     [--rings 120,480] [--row 20,160]
shapely is a benchmark-only dependency (pip install shapely). Every input and size runs in a
child process of its own, so that its peak RSS is its own; the three timings of one row come
from the same process, one after the other, each the median of --repeat runs (of one run from
1M points up). --extra adds the two hard cases: 300 random 40-point polylines over a 3000 x 3000
square, and one 200k-point spiral whose turns nearly touch. Peak RSS is that of the first
topologize call, and the growth from 100k to 1M points compares first calls. --rings times
concentric circles of 1000 points each (one loop per circle), and the growth from the first
count to the last: each circle's points stay the same, but the length of the buffers' outlines,
which the stages after the union resample, grows with the square of the count. --row times
rows of densely inked scribbles side by side and the same rows upright, and how each grows from
the first count to the last: a sweep along a row would cross all of it. "segments" are
scattered two-point segments (buffer 1, fs 2), most of whose buffers lie alone.
Beside each wall-time ratio to shapely is the CPU-time ratio (process time, all threads): ours
runs on every core, shapely on one, so the second tells how much of the first is the second core.
"""

import argparse
import json
import subprocess
import sys

CHILD = r"""
import json, resource, time
from linetopo import inflate_curves, topologize
from linetopo._generators import SCALED, concentric, random_polylines, row, spiral
name, size, repeat = {name!r}, {size!r}, {repeat!r}
if name == "random polylines":
    curves, r, fs = random_polylines()
elif name == "spiral":
    curves, r, fs = spiral()
elif name == "concentric":
    curves, r, fs = concentric(size)
elif name.startswith("row"):
    curves, r, fs = row(size, upright=name == "row upright")
else:
    curves, r, fs = SCALED[name](size)
points = sum(len(c) for c in curves)
def rss():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
def median_time(fn):
    # the median wall time, and the CPU time of that run
    times = []
    for _ in range(repeat):
        t, c = time.perf_counter(), time.process_time(); fn()
        times.append((time.perf_counter() - t, time.process_time() - c))
    return sorted(times)[len(times) // 2]
base = rss()
t, c = time.perf_counter(), time.process_time()
result = topologize(curves, r, fs)
first = (time.perf_counter() - t, time.process_time() - c)
peak = rss() - base
topo = median_time(lambda: topologize(curves, r, fs)) if repeat > 1 else first
infl = median_time(lambda: inflate_curves(curves, r, fs))[0]
try:
    import shapely
    lines = shapely.linestrings([list(c) for c in curves])
    shp = median_time(lambda: shapely.unary_union(
        shapely.buffer(lines, r, cap_style="square", join_style="mitre")))
except ImportError:
    shp = (None, None)
print(json.dumps(dict(points=points, topologize=topo[0], topologize_cpu=topo[1], first=first[0],
                      inflate=infl, shapely=shp[0], shapely_cpu=shp[1],
                      rss_per_point=peak / points, chains=len(result[0]))))
"""


def run(name, size, repeat):
    code = CHILD.format(name=name, size=size, repeat=1 if size >= 1_000_000 else repeat)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def row(name, r):
    shp = r["shapely"]
    ratio = f"{shp / r['topologize']:7.2f}x" if shp else "    n/a"
    cpu = f"{r['shapely_cpu'] / r['topologize_cpu']:7.2f}x" if shp else "    n/a"
    shp_text = f"{shp:8.3f}" if shp else "     n/a"
    print(f"{name:<17} {r['points']:>9} {r['topologize']:9.3f} {r['inflate']:9.3f} {shp_text} "
          f"{ratio} {cpu} {r['rss_per_point']:9.0f} {r['chains']:>7}", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="10000,100000,1000000")
    parser.add_argument("--inputs", default="random walks,drawing,gps,dense,segments")
    parser.add_argument("--extra", action="store_true")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--rings", default="", help="concentric circle counts, e.g. 120,480")
    parser.add_argument("--row", default="", help="scribbles in a row, e.g. 20,160")
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    print(f"{'input':<17} {'points':>9} {'topo s':>9} {'infl s':>9} {'shapely':>8} "
          f"{'shp/topo':>8} {'cpu':>8} {'RSS B/pt':>9} {'chains':>7}")
    for name in filter(None, args.inputs.split(",")):
        times = {}
        for size in sizes:
            r = run(name, size, args.repeat)
            times[size] = r["first"]  # one call at every size, so that growth compares alike
            row(name, r)
        if 100_000 in times and 1_000_000 in times:
            print(f"{'':<17} growth 100k -> 1M: {times[1_000_000] / times[100_000]:.1f}x time "
                  f"for 10x points")
    if args.rings:
        counts = [int(n) for n in args.rings.split(",")]
        runs = {n: run("concentric", n, args.repeat) for n in counts}
        for n in counts:
            row(f"concentric {n}", runs[n])
        first, last = runs[counts[0]], runs[counts[-1]]
        print(f"{'':<17} growth {counts[0]} -> {counts[-1]} rings: inflate "
              f"{last['inflate'] / first['inflate']:.1f}x, topologize "
              f"{last['topologize'] / first['topologize']:.1f}x for "
              f"{counts[-1] / counts[0]:.0f}x points")
    if args.row:
        counts = [int(n) for n in args.row.split(",")]
        for name in ("row", "row upright"):
            runs = {n: run(name, n, args.repeat) for n in counts}
            for n in counts:
                row(f"{name} {n}", runs[n])
            first, last = runs[counts[0]], runs[counts[-1]]
            print(f"{'':<17} growth {counts[0]} -> {counts[-1]}: topologize "
                  f"{last['topologize'] / first['topologize']:.1f}x for "
                  f"{counts[-1] / counts[0]:.0f}x ink")
    if args.extra:
        for name in ("random polylines", "spiral"):
            row(name, run(name, 0, 1 if name == "random polylines" else args.repeat))


if __name__ == "__main__":
    main()
