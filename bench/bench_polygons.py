"""Polygon centerlines on river-like polygons with a known answer: ours against two peers.

Run:     .venv-extras/bin/python bench/bench_polygons.py [--rivers 3] [--scale 1]
             [--repeat 3] [--methods ours,centerline,pygeoops] [--cl-interp F] [--pg-densify F]
             [--fs-factor 0.5] [--min-tip-fraction 4] [--simplification 0]
             [--junction-merge-fraction F] [--boundary-simplification 0]
Install: .venv-extras/bin/pip install -r bench/requirements-peers.txt
The peers (the `centerline` package and pygeoops) are bench-only, never runtime dependencies.

Inputs. River i (seed 1000 + i) has a main channel whose centerline is a Kinoshita-style
meandering curve of arc length 3000 x --scale, sampled every 2 units, with a half-width r(s)
varying smoothly between about 5 and 20 (|dr/ds| < 0.1), and 2 to 4 (x --scale) tributaries:
smaller gently meandering curves, 400 to 900 long, each with a half-width varying between 3 and
min(8, half the main one at the mouth), joining the main curve where its half-width is at least
12. Each channel is the union of the disks of radius r(s) centered on its curve: the outline is
the analytic envelope c + r (-r' t +- sqrt(1 - r'^2) n) of that disk family plus the two end
disks. Every such disk is maximal, so the curve is exactly the medial axis of the channel. A
tributary meets the main curve square and straight: inside the main channel the true axis of an
oblique tributary turns square to the bank, up to half the main width away from the tributary's
own curve, so a known answer needs square mouths. There the true junction lies r_t^2 / (4 R)
from the main curve (r_t <= R / 2: the tributary's and the main half-width), at most 1/32 of the
local width; a dense Voronoi diagram of the outline confirms the known curves to within about 0.3
units at the mouths. The known centerline is the main curve plus each tributary curve from its
free end to the point J of the main curve it joins. Channels are redrawn until none comes closer
to another (or to itself) than their half-widths plus 10, away from the mouths, and the union is
one polygon without holes. Its free ends are the main curve's two ends and each tributary's
upstream end; the full width W(e) at a free end e is 2 r there.

Methods. All get the same shapely polygon (ours as its rings, as numpy arrays, converted once
outside the timing).
- ours: linetopo.topologize_polygons(polygons, fs, ...) with fs = --fs-factor x the median full
  width 2 r over the known centerline (sampled evenly by arc length) and the settings for an
  accurate axis of a channel of varying width: half its typical width as the feature size, no
  simplification of the chains or the boundary (their defaults, fs / 10 and 0.05 x fs, stray
  up to a quarter of a narrow tributary's width), and tips pruned below 4 x fs, about twice
  the typical width, so that a wide rounded end gives no forked tip. The options are passed on
  as given; --simplification etc. change them.
- centerline: centerline.geometry.Centerline(polygon, interpolation_distance=d), a Voronoi
  diagram of the border densified every d; d = --cl-interp x the narrowest full width of the
  river (default 0.25: four border points across the narrowest place, which keeps it within
  0.05 of the width here; at 1 it takes about 1/4 of the time and strays up to 0.15).
- pygeoops: pygeoops.centerline(polygon, densify_distance=d) with d = --pg-densify x the
  narrowest full width (default 1: its documentation advises "the typical minimal width"; the
  outline's points lie closer than that already, so here it gives the result of its own default,
  the average width), the other parameters at their automatic defaults (min_branch_length = the
  average width, simplifytolerance = 0.25 x it).

Measures, per river and method.
- time: median wall time of one call over --repeat samples, after one untimed call whose result
  is the one measured (so imports and first-call costs are left out); a sample of a call quicker
  than 50 ms times enough calls back to back to last about 50 ms and divides. ratio = method
  time / our time.
- local width W(k) of a known point k: twice its distance to the river's boundary. That is 2 r(s)
  away from the mouths (the disks are maximal); on the part of a tributary's curve inside the
  main channel it is the width of the water there, not the tributary's own.
- result->known: the result lines are sampled every 0.5 units; for each sample p, d(p) is its
  distance to the known centerline (to its segments) and W(p) the local width at the nearest
  known point; samples within W(e) of a free end e (Euclidean) are left out; the column is the
  max of d(p) / W(p).
- known->result: the same the other way round, for the known centerline sampled every 0.5 units,
  with its own local width, against the result lines; also leaving out the free-end zones. A
  missing branch shows here.
- off mouths: the larger of the two above when points within the local width W(J) of a mouth J
  are left out as well: it tells errors at the junctions from errors along the channels.
- spurious: the result is made a graph (line end points within 1e-6 x the river's extent are one
  node, lines from a node back to it shorter than 10 times that dropped, as Voronoi leaves them
  at the centre of a round cap; ours uses its own node ids), and its branches are the maximal
  paths through nodes of degree 2. A dead-end branch has a tip, an end node of degree 1. It is
  spurious when any of its tips is farther than W(e) from every free end e, or when more than half
  of its samples are farther than 0.25 W(p) from the known centerline. "dead ends" counts all
  dead-end branches, spurious or not.

Targets: ours within 0.1 of the local width both ways with no spurious branch, at least 20 times
faster than centerline, and faster than pygeoops (ratios from this one run). Timings are from a
shared 2-core machine: read the ratios, not the absolute times.
"""

import argparse
import math
import statistics
import time
from dataclasses import dataclass, field

import linetopo
import numpy as np
import shapely
from branch_walk import branches
from scipy.spatial import cKDTree
from shapely.geometry import Point, Polygon

STEP = 2.0  # curve sampling along arc length
SAMPLE = 0.5  # spacing of the samples that distances are measured on
MARGIN = 10.0  # least clearance between channels beyond their half-widths


@dataclass
class Curve:
    points: np.ndarray  # (n, 2), from a free end onwards
    half: np.ndarray  # (n,) half-width


@dataclass
class River:
    polygon: Polygon
    curves: list
    free_ends: list  # (point, full width) pairs
    mouths: list  # (point, local width) pairs, where tributaries meet the main curve
    rings: list = field(default_factory=list)


def arc(points):
    seg = np.hypot(*np.diff(points, axis=0).T)
    return np.concatenate([[0.0], np.cumsum(seg)])


def integrate(start, heading):
    """Points of the curve with this heading every STEP, from start."""
    mid = 0.5 * (heading[1:] + heading[:-1])
    steps = STEP * np.column_stack([np.cos(mid), np.sin(mid)])
    return np.vstack([start, start + np.cumsum(steps, axis=0)])


def channel(points, half):
    """Union of the disks of radius half centered along points, as a shapely polygon."""
    s = arc(points)
    t = np.gradient(points, s, axis=0)
    t /= np.hypot(*t.T)[:, None]
    n = np.column_stack([-t[:, 1], t[:, 0]])
    dr = np.clip(np.gradient(half, s), -0.9, 0.9)
    along = (-half * dr)[:, None] * t
    across = (half * np.sqrt(1.0 - dr**2))[:, None] * n
    left, right = points + along + across, points + along - across
    body = Polygon(np.vstack([left, right[::-1]]))
    if not body.is_valid:
        return None
    caps = [Point(points[i]).buffer(half[i], quad_segs=32) for i in (0, -1)]
    return shapely.union_all([body, *caps])


def main_curve(rng, length):
    s = np.arange(0.0, length + STEP / 2, STEP)
    lam = rng.uniform(700.0, 1000.0)
    theta0 = rng.uniform(0.9, 1.25)
    js, jf = rng.uniform(0.0, 1 / 32), rng.uniform(0.0, 1 / 32)
    k = 2 * math.pi * s / lam
    heading = (rng.uniform(-math.pi, math.pi) + theta0 * np.sin(k)
               + theta0**3 * (js * np.cos(3 * k) - jf * np.sin(3 * k)))
    points = integrate(np.zeros(2), heading)
    l1, l2 = rng.uniform(900.0, 1500.0), rng.uniform(400.0, 700.0)
    p1, p2 = rng.uniform(0, 2 * math.pi, 2)
    f = (np.sin(2 * math.pi * s / l1 + p1) + 0.5 * np.sin(2 * math.pi * s / l2 + p2)) / 1.5
    return Curve(points, 5.0 + 15.0 * (0.5 + 0.5 * f))


def tributary(rng, main, j):
    """A tributary joining the main curve at sample j: its points from its free end to there."""
    pts = main.points
    t = pts[min(j + 1, len(pts) - 1)] - pts[max(j - 1, 0)]
    base = math.atan2(t[1], t[0])
    side = rng.choice([-1.0, 1.0])
    # Square to the main curve at the mouth, and straight there (no curvature at the mouth):
    # inside the main channel the true axis of an oblique tributary turns square to the bank,
    # so only a square mouth keeps the known curve the true centerline up to the main curve.
    up = base + side * math.pi / 2
    length = rng.uniform(400.0, 900.0)
    a = np.arange(0.0, length + STEP / 2, STEP)
    beta, lam = rng.uniform(0.25, 0.6) * rng.choice([-1.0, 1.0]), rng.uniform(500.0, 900.0)
    heading = up + beta * (1.0 - np.cos(2 * math.pi * a / lam))
    points = integrate(pts[j], heading)
    hi = min(8.0, 0.5 * main.half[j])
    lw, pw = rng.uniform(300.0, 600.0), rng.uniform(0, 2 * math.pi)
    half = 3.0 + (hi - 3.0) * (0.5 + 0.5 * np.sin(2 * math.pi * a / lw + pw))
    # Reach of the mouth, where the tributary is meant to be inside or next to the main channel.
    mouth = main.half[j] + MARGIN + 2 * hi + 30.0
    return Curve(points[::-1].copy(), half[::-1].copy()), mouth


def clear(curves, mouths):
    """Whether no channel comes near another, or near itself, away from the mouths."""
    pts = np.vstack([c.points for c in curves])
    half = np.concatenate([c.half for c in curves])
    cid = np.concatenate([np.full(len(c.points), i) for i, c in enumerate(curves)])
    # Arc length from the mouth for tributaries (they are stored from the free end).
    s = np.concatenate([arc(c.points)[::-1] if i else arc(c.points)
                        for i, c in enumerate(curves)])
    reach = 2 * half.max() + MARGIN
    pairs = cKDTree(pts).query_pairs(reach, output_type="ndarray")
    i, k = pairs[:, 0], pairs[:, 1]
    d = np.hypot(*(pts[i] - pts[k]).T)
    close = d < half[i] + half[k] + MARGIN
    same = cid[i] == cid[k]
    # On one curve, points far apart along it must stay apart (bends are gentle: radius >= 60).
    bad_same = same & close & (np.abs(s[i] - s[k]) > 2.0 * (half[i] + half[k] + MARGIN))
    # A tributary may touch only the main channel, and only near its mouth.
    mouth = np.where(cid[i] > 0, s[i] <= mouths[cid[i]], True) & (cid[k] == 0) | \
        np.where(cid[k] > 0, s[k] <= mouths[cid[k]], True) & (cid[i] == 0)
    bad_other = ~same & close & ~mouth
    return not (bad_same.any() or bad_other.any())


def make_river(seed, scale):
    rng = np.random.default_rng(seed)
    while True:
        main = main_curve(rng, 3000.0 * scale)
        if clear([main], np.zeros(1)):
            break
    count = max(2, round(int(rng.integers(2, 5)) * scale))
    for _ in range(200):
        s = arc(main.points)
        wide = np.flatnonzero((main.half >= 12.0) & (s > 0.1 * s[-1]) & (s < 0.9 * s[-1]))
        joins = []
        for j in rng.permutation(wide):
            if all(abs(s[j] - s[o]) > 300.0 for o in joins):
                joins.append(j)
            if len(joins) == count:
                break
        curves, mouths = [main], [0.0]
        for j in sorted(joins):
            for _ in range(50):
                trib, mouth = tributary(rng, main, j)
                if clear(curves + [trib], np.array(mouths + [mouth])):
                    curves.append(trib)
                    mouths.append(mouth)
                    break
        if len(curves) - 1 < min(count, len(joins)) or len(joins) < 2:
            continue
        parts = [channel(c.points, c.half) for c in curves]
        if any(p is None for p in parts):
            continue
        polygon = shapely.union_all(parts)
        if polygon.geom_type == "Polygon" and not polygon.interiors and polygon.is_valid:
            break
    else:
        raise RuntimeError(f"no clean river for seed {seed}")
    free = [(main.points[0], 2 * main.half[0]), (main.points[-1], 2 * main.half[-1])]
    free += [(c.points[0], 2 * c.half[0]) for c in curves[1:]]
    mouths = [(c.points[-1], 2 * polygon.exterior.distance(Point(c.points[-1])))
              for c in curves[1:]]
    rings = [(np.asarray(polygon.exterior.coords), [np.asarray(h.coords)
                                                    for h in polygon.interiors])]
    return River(polygon, curves, free, mouths, rings)


# ---- measuring -----------------------------------------------------------------------------


def densify(points, step=SAMPLE):
    """Points along a polyline at most `step` apart, with their fractional source index."""
    points = np.asarray(points, dtype=float)
    if len(points) < 2:
        return points, np.zeros(len(points))
    seg = np.hypot(*np.diff(points, axis=0).T)
    cuts = np.maximum(1, np.ceil(seg / step).astype(int))
    idx = np.repeat(np.arange(len(seg)), cuts)
    frac = np.concatenate([np.arange(c) / c for c in cuts])
    out = points[idx] + frac[:, None] * (points[idx + 1] - points[idx])
    return np.vstack([out, points[-1]]), np.concatenate([idx + frac, [len(seg)]])


class Sampled:
    """Samples of polylines, for distances to their segments through a k-d tree."""

    def __init__(self, lines, values=None):
        pts, vals, link = [], [], []
        for i, line in enumerate(lines):
            p, where = densify(line)
            if not len(p):
                continue
            pts.append(p)
            link.append(np.r_[np.ones(len(p) - 1, bool), False])
            if values is not None:
                vals.append(np.interp(where, np.arange(len(values[i])), values[i]))
        self.points = np.vstack(pts) if pts else np.zeros((0, 2))
        self.linked = np.concatenate(link) if link else np.zeros(0, bool)
        self.values = np.concatenate(vals) if vals else None
        self.tree = cKDTree(self.points)

    def nearest(self, q):
        """Distance from each query point to the polylines, and the nearest sample's index."""
        d, i = self.tree.query(q)
        best = d.copy()
        for a_off in (-1, 0):
            a = i + a_off
            ok = (a >= 0) & (a < len(self.points) - 1)
            ok[ok] &= self.linked[a[ok]]
            if not ok.any():
                continue
            p0, p1, qq = self.points[a[ok]], self.points[a[ok] + 1], q[ok]
            v = p1 - p0
            vv = np.maximum(np.einsum("ij,ij->i", v, v), 1e-300)  # repeated points
            u = np.clip(np.einsum("ij,ij->i", qq - p0, v) / vv, 0, 1)
            seg_d = np.hypot(*(qq - p0 - u[:, None] * v).T)
            best[ok] = np.minimum(best[ok], seg_d)
        return best, i


def local_width(river, points):
    """Twice the distance to the river's boundary: 2 r(s) on a curve away from the mouths."""
    rings = [river.rings[0][0], *river.rings[0][1]]
    return 2.0 * Sampled(rings).nearest(points)[0]


def near(points, zones):
    """Whether each point lies within the radius of one of the (center, radius) zones."""
    inside = np.zeros(len(points), bool)
    for e, w in zones:
        inside |= np.hypot(*(points - e).T) < w
    return inside


def graph_of_lines(lines, tol):
    """Edges of lines whose end points within tol are one node."""
    lines = [np.asarray(line, dtype=float) for line in lines if len(line) >= 2]
    if not lines:
        return []
    ends = np.vstack([[line[0], line[-1]] for line in lines])
    parent = np.arange(len(ends))

    def find(a):
        while parent[a] != a:
            parent[a] = parent[parent[a]]
            a = parent[a]
        return a

    for a, b in cKDTree(ends).query_pairs(tol, output_type="ndarray"):
        ra, rb = find(a), find(b)
        if ra != rb:
            parent[max(ra, rb)] = min(ra, rb)
    edges = []
    for k, line in enumerate(lines):
        u, v = find(2 * k), find(2 * k + 1)
        if u == v and arc(line)[-1] < 10 * tol:
            continue  # a degenerate line, as Voronoi leaves at the center of a circular arc
        edges.append((u, v, line))
    return edges


def lines_of(geometry):
    if geometry is None or geometry.is_empty:
        return []
    if geometry.geom_type == "LineString":
        return [np.asarray(geometry.coords)]
    if hasattr(geometry, "geoms"):
        return [line for g in geometry.geoms for line in lines_of(g)]
    return []


def measure(river, known, lines, edges):
    """Max relative distance both ways (outside the free-end zones) and the branch counts."""
    out = {"fwd": math.inf, "rev": math.inf, "off": math.inf, "spurious": 0, "dead": 0}
    if not lines:
        return out
    result = Sampled(lines)
    q = result.points
    d, i = known.nearest(q)
    rel = d / known.values[i]
    keep = ~near(q, river.free_ends)
    out["fwd"] = float(rel[keep].max(initial=0.0))
    off = float(rel[keep & ~near(q, river.mouths)].max(initial=0.0))
    k = known.points
    d, _ = result.nearest(k)
    rel_k = d / known.values
    keep = ~near(k, river.free_ends)
    out["rev"] = float(rel_k[keep].max(initial=0.0))
    out["off"] = max(off, float(rel_k[keep & ~near(k, river.mouths)].max(initial=0.0)))
    for points, tips in branches(edges)[0]:
        if not tips:
            continue
        out["dead"] += 1
        p, _ = densify(points)
        d, i = known.nearest(p)
        far = np.mean(d / known.values[i] > 0.25) > 0.5
        loose = not near(np.asarray(tips), river.free_ends).all()
        out["spurious"] += bool(far or loose)
    return out


# ---- methods -------------------------------------------------------------------------------


def run_ours(river, fs, opts):
    chains, _, ids, _ = linetopo.topologize_polygons(river.rings, fs, **opts)
    return chains, ids


def ours_graph(result):
    chains, ids = result
    lines = [np.asarray(c, dtype=float) for c in chains]
    return lines, [(a, b, line) for (a, b), line in zip(ids, lines)]


def method_calls(river, fs, opts, cl_interp, pg_densify, tol):
    """Per method: the call to time, and how to make its result a graph."""
    calls = {"ours": (lambda: run_ours(river, fs, opts), ours_graph)}
    try:
        from centerline.geometry import Centerline

        calls["centerline"] = (
            lambda: Centerline(river.polygon, interpolation_distance=cl_interp),
            lambda res: shapely_graph(res.geometry, tol))
    except ImportError:
        pass
    try:
        import pygeoops

        calls["pygeoops"] = (
            lambda: pygeoops.centerline(river.polygon, densify_distance=pg_densify),
            lambda res: shapely_graph(res, tol))
    except ImportError:
        pass
    return calls


def shapely_graph(geometry, tol):
    lines = lines_of(geometry)
    return lines, graph_of_lines(lines, tol)


def median_time(fn, repeat, first):
    """Median over `repeat` samples; a sample runs fn often enough to last 50 ms, when fn is
    that quick, so that timer and scheduler noise stay small beside it."""
    loops = max(1, math.ceil(0.05 / max(first, 1e-6)))
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        for _ in range(loops):
            fn()
        times.append((time.perf_counter() - t) / loops)
    return statistics.median(times)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    ap.add_argument("--rivers", type=int, default=3)
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--methods", default="ours,centerline,pygeoops")
    ap.add_argument("--cl-interp", type=float, default=0.25)
    ap.add_argument("--pg-densify", type=float, default=1.0)
    ap.add_argument("--fs-factor", type=float, default=0.5)
    ap.add_argument("--min-tip-fraction", type=float, default=4.0)
    ap.add_argument("--simplification", type=float, default=0.0)
    ap.add_argument("--junction-merge-fraction", type=float)
    ap.add_argument("--boundary-simplification", type=float, default=0.0)
    args = ap.parse_args()
    methods = args.methods.split(",")
    opts = {k: getattr(args, k) for k in
            ("min_tip_fraction", "simplification", "junction_merge_fraction",
             "boundary_simplification")
            if getattr(args, k) is not None}
    met = {"accuracy": [], "spurious": [], "centerline": [], "pygeoops": []}
    for r in range(args.rivers):
        seed = 1000 + r
        river = make_river(seed, args.scale)
        known = Sampled([c.points for c in river.curves], [2 * c.half for c in river.curves])
        widths = np.concatenate([2 * c.half for c in river.curves])
        even = known.values  # samples are evenly spaced by arc length
        fs = args.fs_factor * float(np.median(even))
        known.values = local_width(river, known.points)
        narrow = float(widths.min())
        extent = float(np.ptp(river.rings[0][0], axis=0).max())
        tol = 1e-6 * extent
        boundary = len(river.rings[0][0]) + sum(len(h) for h in river.rings[0][1])
        length = sum(arc(c.points)[-1] for c in river.curves)
        print(f"\nriver {r} (seed {seed}): {len(river.curves) - 1} tributaries, known centerline "
              f"{length:.0f} long, {boundary} boundary points, full width "
              f"{narrow:.1f}..{widths.max():.1f}, median {np.median(even):.1f}")
        extra = "".join(f", {k}={v:g}" for k, v in opts.items())
        print(f"  ours: feature_size {fs:.2f}{extra}; "
              f"centerline: interpolation_distance {args.cl_interp * narrow:.2f}; "
              f"pygeoops: densify_distance {args.pg_densify * narrow:.2f}")

        calls = method_calls(river, fs, opts, args.cl_interp * narrow,
                             args.pg_densify * narrow, tol)
        rows = {}
        for name in methods:
            if name not in calls:
                raise SystemExit(f"{name} is not installed: see the install line at the top")
            call, graph = calls[name]
            t = time.perf_counter()
            result = call()
            seconds = median_time(call, args.repeat, time.perf_counter() - t)
            lines, edges = graph(result)
            rows[name] = dict(measure(river, known, lines, edges), time=seconds)
        base = rows.get("ours", {}).get("time")
        print(f"  {'method':<11} {'time ms':>9} {'x ours':>7} {'result->known':>14} "
              f"{'known->result':>14} {'off mouths':>11} {'spurious':>9} {'dead ends':>10}")
        for name, row in rows.items():
            ratio = f"{row['time'] / base:7.1f}" if base else f"{'-':>7}"
            print(f"  {name:<11} {row['time'] * 1000:9.1f} {ratio} {row['fwd']:14.3f} "
                  f"{row['rev']:14.3f} {row['off']:11.3f} {row['spurious']:9d} "
                  f"{row['dead']:10d}")
        if "ours" in rows:
            ours = rows["ours"]
            met["accuracy"].append(max(ours["fwd"], ours["rev"]) <= 0.1)
            met["spurious"].append(ours["spurious"] == 0)
            if "centerline" in rows:
                met["centerline"].append(rows["centerline"]["time"] / base >= 20)
            if "pygeoops" in rows:
                met["pygeoops"].append(rows["pygeoops"]["time"] / base > 1)

    print("\ntargets (per river, in order):")
    labels = {
        "accuracy": "ours within 0.1 x local width, both ways, outside the end zones",
        "spurious": "ours has no spurious branch",
        "centerline": "ours at least 20x faster than centerline",
        "pygeoops": "ours faster than pygeoops",
    }
    for key, label in labels.items():
        if met[key]:
            verdict = "met" if all(met[key]) else "NOT met"
            marks = " ".join("yes" if m else "no" for m in met[key])
            print(f"  {label}: {verdict} ({marks})")


if __name__ == "__main__":
    main()
