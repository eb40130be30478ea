"""Raster centerlines of rendered letter sketches with a known answer: ours against skimage + skan.

Run:     .venv-extras/bin/python bench/bench_raster.py [--scales 2,4,8]
             [--repeat 3] [--buffer 3] [--fs 6] [--supersample 4] [--margin 8]
             [--prune-fraction 2] [--min-tip-fraction F] [--simplification F]
             [--junction-merge-fraction F] [--boundary-simplification F] [--raster-fs F]
             [--vector-simplification F|default] [--blur R] [--noise SD] [--jpeg Q]
             [--per-sketch] [--data DIR]
Install: .venv-extras/bin/pip install -r bench/requirements-peers.txt
The peers (scikit-image and skan) are bench-only, never runtime dependencies of linetopo.

Inputs. The over-drawn letter sketches ../shared/data/sketches/*.scap (format in
../shared/data/README.md); without that folder the bench says so and exits 0. Every stroke with
at least two points is a curve (units: those of the file).

Known answer. The vector centerline V = linetopo.topologize(strokes, buffer, fs,
simplification=0) with the project's scales for these sketches, buffer 3 and fs 6 (about half
the gap between the strokes of one cluster, and twice that), other options at their defaults.
V is not simplified: topologize's default simplification (fs / 10, 2.4 px at 4 px a unit) moves
its chords farther than the 1.5 px the measures allow, so it would measure V's simplification,
not the raster. --vector-simplification sets it; each scale's table is then followed by V's own
share within 1.5 px of V unsimplified, the most a result on the true axis could score. With V
unsimplified, the table is followed by ours' share within 1.5 px of V at topologize's default
simplification, for reference.

Rendering. The pens' widths (@thickness/@width, 0.5 to 2 units) are much thinner than the gaps
the buffer bridges, so each stroke is drawn 2 x buffer wide instead: every segment as a
rectangle and every point as a disk of radius buffer, i.e. the ink is the union of the
round-capped buffers, the region V is the centerline of. Drawn with Pillow in white on black at
scale x supersample pixels a unit, box-averaged down by the supersample factor (anti-aliasing),
and inverted: black ink on white paper, as an (h, w) uint8 array. The image's corner (0, 0) is
the ink's bounding box (strokes +- buffer) less --margin pixels; pixel (i, j) covers the unit
square from (i, j), so a drawing point p is at (p - corner) x scale in pixel coordinates. Pillow
rounds vertex positions to whole (supersampled) pixels, which moves an edge by at most 0.5 /
supersample output pixels (0.125 at the default 4), and also fills the pixels an outline
touches, which widens the ink by about 0.4 of a supersampled pixel on each side: the radius is
drawn that much smaller. The ink's area then matches that of the exact union of the buffers to
within 0.03 px x the outline's length on these sketches (0.1 px without the correction).
A poor scan, on request: --blur R (Gaussian, px), --noise SD (Gaussian, grey levels, seeded)
and --jpeg Q (saved as a JPEG of quality Q and read back), in that order.

Methods, on the same array at each scale s (pixels a unit).
- ours: linetopo.raster.centerline(img, feature_size=fs x s) (threshold: its default, Otsu's
  on these clean renderings), whole call timed, tracing included, with the scans' defaults
  (tips by protrusion, small components kept). --raster-fs, --min-tip-fraction,
  --simplification, --junction-merge-fraction, --boundary-simplification, --tip-rule and
  --keep-components change this call only.
- ours default fs: the same without feature_size, so the median width of the ink's strokes is
  the feature size; the table shows the estimate in units.
- skimage: ink = img <= skimage.filters.threshold_otsu(img); skimage.morphology.skeletonize(ink);
  skan.Skeleton of it and skan.summarize for the branch types and lengths; pruning, once: every
  branch of type 1 (junction to end point) with branch_distance < --prune-fraction x fs x s
  (default 2 x fs, the length below which ours prunes tips, min_tip_fraction's default) is
  dropped by Skeleton.prune_paths, which also joins the paths through nodes left with two
  branches. All of that is timed. Its lines are the paths through the pixel centres (+0.5).
- skeleton unpruned: the skeleton before pruning, for the tip count (not timed apart).
Results are mapped back to drawing units (pixel coordinate / s + corner) before measuring.

Measures, per sketch and method, distances in pixels (drawing-unit distance x s).
- length: the result's total length in pixels.
- within 1.5 px: the result lines are sampled every 0.25 px (pieces of at most 0.25 px); the
  share of their length whose piece midpoints lie within 1.5 px of V's chains (V sampled every
  0.05 px; the error of that is at most 0.025 px). Pooled over the sketches: the sum of lengths
  within over the sum of lengths; "worst" is the lowest per-sketch share.
- V covered: the same the other way round, V's length within 1.5 px of the result; a missing
  branch shows here.
- ends: the share of V's tips (its stroke ends) that the result reaches within 1.5 px.
- tips: nodes of degree 1 (one chain end there; for skan, the path ends so counted).
- dead ends: the branches (maximal paths through nodes of degree 2) with a tip.
- spurious: dead ends more than half of whose samples (every 0.25 px) lie farther than 1.5 px
  from V.
- time: median over --repeat calls after one untimed call whose result is the one measured (so
  imports, Numba's compilation in skan and other first-call costs are left out); summed over the
  sketches. x ours = that sum over ours' sum. Ours runs on every core (2 here), skeletonize and
  skan on one. The machine is shared and noisy: read the ratios, not the absolute times.
V's own tips and dead ends are printed for reference.

Targets at 4 px a unit: ours (fs = 6 x 4 px) has >= 95% of its length within 1.5 px of V;
fewer spurious branches than skimage pruned at the same fs; less time than skimage + skan.
"""

import argparse
import io
import math
import statistics
import sys
import time
from dataclasses import dataclass, field
from functools import partial
from pathlib import Path

import linetopo
import numpy as np
from branch_walk import branches
from linetopo import raster
from PIL import Image, ImageDraw, ImageFilter
from scipy.spatial import cKDTree

TOL = 1.5  # pixels: the distance within which a result follows V
STEP = 0.25  # pixels: sampling of the measured lines
FINE = 0.05  # pixels: sampling of the lines measured against
HERE = Path(__file__).resolve().parent
DATA = HERE.parent.parent / "shared" / "data" / "sketches"


# ---- input ---------------------------------------------------------------------------------


@dataclass
class Sketch:
    name: str
    strokes: list
    clusters: list
    thickness: float = 1.0
    size: tuple = (0.0, 0.0)


def read_scap(path):
    """The strokes of a .scap drawing: a `#width height` header, `@thickness`, then blocks
    `{ #stroke_id cluster_id / @width / x y p lines / }`."""
    sketch = Sketch(path.stem, [], [])
    points, cluster, inside = [], None, False
    for raw in path.read_text().splitlines():
        line = raw.strip()
        if not line:
            continue
        if line == "{":
            points, cluster, inside = [], None, True
        elif line == "}":
            if len(points) >= 2:
                sketch.strokes.append(np.asarray(points, dtype=float))
                sketch.clusters.append(cluster)
            inside = False
        elif line[0] == "#":
            values = line[1:].split()
            if inside:
                cluster = int(values[1])
            else:
                sketch.size = (float(values[0]), float(values[1]))
        elif line[0] == "@":
            if not inside:
                sketch.thickness = float(line[1:])
        elif inside:
            x, y = line.split()[:2]
            points.append((float(x), float(y)))
    return sketch


def render(strokes, half, scale, supersample, margin):
    """Black round-capped strokes of radius `half` on white, anti-aliased, as a uint8 array,
    and the drawing point at the image's corner (0, 0)."""
    pts = np.vstack(strokes)
    corner = pts.min(axis=0) - half - margin / scale
    far = pts.max(axis=0) + half + margin / scale
    width, height = np.ceil((far - corner) * scale).astype(int)
    k = scale * supersample
    big = Image.new("L", (int(width) * supersample, int(height) * supersample), 0)
    draw = ImageDraw.Draw(big)
    r = half * k - 0.4  # Pillow also fills the pixels the outline touches
    for stroke in strokes:
        # Pillow puts whole coordinates at pixel centres; ours at pixel corners.
        p = (stroke - corner) * k - 0.5
        for x, y in p:
            draw.ellipse([x - r, y - r, x + r, y + r], fill=255)
        d = np.diff(p, axis=0)
        n = np.hypot(*d.T)
        for a, b, dd, nn in zip(p[:-1], p[1:], d, n):
            if nn == 0:
                continue
            off = np.array([-dd[1], dd[0]]) * (r / nn)
            draw.polygon([tuple(a + off), tuple(b + off), tuple(b - off), tuple(a - off)],
                         fill=255)
    ink = np.asarray(big.reduce(supersample), dtype=np.uint8)
    return 255 - ink, corner


def scanned(img, blur, noise, jpeg, rng):
    """The image as a poor scan: blurred (Gaussian, radius in px), Gaussian noise of that
    standard deviation in grey levels, then saved as a JPEG of that quality and read back."""
    if blur:
        img = np.asarray(Image.fromarray(img).filter(ImageFilter.GaussianBlur(blur)))
    if noise:
        img = np.clip(img + rng.normal(0, noise, img.shape), 0, 255).astype(np.uint8)
    if jpeg:
        buffer = io.BytesIO()
        Image.fromarray(img).save(buffer, "JPEG", quality=jpeg)
        img = np.asarray(Image.open(buffer).convert("L"))
    return img


# ---- measuring -----------------------------------------------------------------------------


def pieces(lines, step):
    """Midpoints and lengths of pieces at most `step` long cutting the polylines."""
    mids, lens = [], []
    for line in lines:
        line = np.asarray(line, dtype=float)
        if len(line) < 2:
            continue
        seg = np.diff(line, axis=0)
        length = np.hypot(*seg.T)
        cuts = np.maximum(1, np.ceil(length / step).astype(int))
        idx = np.repeat(np.arange(len(seg)), cuts)
        frac = np.concatenate([(np.arange(c) + 0.5) / c for c in cuts])
        mids.append(line[idx] + frac[:, None] * seg[idx])
        lens.append(np.repeat(length / cuts, cuts))
    if not mids:
        return np.zeros((0, 2)), np.zeros(0)
    return np.vstack(mids), np.concatenate(lens)


class Near:
    """Distance to polylines through a k-d tree of points on them, `FINE` px apart."""

    def __init__(self, lines, scale):
        pts, _ = pieces(lines, FINE / scale)
        ends = [np.asarray(line, dtype=float)[[0, -1]] for line in lines if len(line)]
        pts = np.vstack([pts, *ends]) if ends else pts
        self.tree = cKDTree(pts) if len(pts) else None
        self.scale = scale

    def distance(self, q):
        """In pixels."""
        if self.tree is None:
            return np.full(len(q), math.inf)
        return self.tree.query(q)[0] * self.scale


@dataclass
class Row:
    length: float = 0.0
    within: float = 0.0
    known: float = 0.0
    covered: float = 0.0
    tips: int = 0
    dead: int = 0
    spurious: int = 0
    ends: int = 0
    reached: int = 0
    time: float = 0.0
    fs: list = field(default_factory=list)
    shares: list = field(default_factory=list)
    timed: bool = True

    def add(self, other):
        for name in ("length", "within", "known", "covered", "tips", "dead", "spurious", "ends",
                     "reached", "time"):
            setattr(self, name, getattr(self, name) + getattr(other, name))
        self.fs += other.fs
        self.shares += other.shares
        self.timed = self.timed and other.timed


def tip_points(edges):
    """The positions of the nodes of degree 1 of (u, v, points) edges."""
    degree = {}
    for u, v, _ in edges:
        degree[u] = degree.get(u, 0) + 1
        degree[v] = degree.get(v, 0) + 1
    ends = [pts[0] for u, _, pts in edges if degree[u] == 1]
    ends += [pts[-1] for _, v, pts in edges if degree[v] == 1]
    return np.asarray(ends, dtype=float).reshape(-1, 2)


def measure(edges, vector, vector_samples, scale, vector_ends=None):
    """The measures of a result given as (u, v, points) edges in drawing units."""
    row = Row()
    lines = [pts for _, _, pts in edges]
    mids, lens = pieces(lines, STEP / scale)
    d = vector.distance(mids)
    row.length = float(lens.sum()) * scale
    row.within = float(lens[d <= TOL].sum()) * scale
    row.shares = [row.within / row.length if row.length else 0.0]
    vmids, vlens = vector_samples
    if lines:
        dv = Near(lines, scale).distance(vmids)
    else:
        dv = np.full(len(vmids), math.inf)
    row.known = float(vlens.sum()) * scale
    row.covered = float(vlens[dv <= TOL].sum()) * scale
    if vector_ends is not None:
        row.ends = len(vector_ends)
        if lines and len(vector_ends):
            row.reached = int((Near(lines, scale).distance(vector_ends) <= TOL).sum())
    found, row.tips = branches(edges)
    for pts, tips in found:
        if not tips:
            continue
        row.dead += 1
        p, _ = pieces([pts], STEP / scale)
        if len(p) and np.mean(vector.distance(p) > TOL) > 0.5:
            row.spurious += 1
    return row


def chain_edges(chains, ids, corner=None, scale=1.0):
    """Edges of a linetopo result, mapped from pixels to drawing units when corner is given."""
    edges = []
    for (a, b), chain in zip(ids, chains):
        pts = np.asarray(chain, dtype=float)
        if corner is not None:
            pts = pts / scale + corner
        edges.append((int(a), int(b), pts))
    return edges


def skan_edges(skeleton, corner, scale):
    """Edges of a skan skeleton: its paths through the pixel centres, in drawing units."""
    edges = []
    for i, path in enumerate(skeleton.paths_list()):
        rc = skeleton.path_coordinates(i)
        pts = (rc[:, ::-1] + 0.5) / scale + corner
        edges.append((int(path[0]), int(path[-1]), pts))
    return edges


# ---- methods -------------------------------------------------------------------------------


def skimage_pruned(img, prune_px):
    """skeletonize + skan graph + one pruning pass of short junction-to-end branches."""
    import skan
    from skimage.filters import threshold_otsu
    from skimage.morphology import skeletonize

    ink = img <= threshold_otsu(img)  # its foreground is > the threshold: paper
    skeleton = skan.Skeleton(skeletonize(ink))
    summary = skan.summarize(skeleton, separator="_")
    kind = summary["branch_type"].to_numpy()
    length = summary["branch_distance"].to_numpy()
    drop = np.flatnonzero((kind == 1) & (length < prune_px))
    pruned = skeleton.prune_paths(drop.tolist()) if len(drop) else skeleton
    return skeleton, pruned


def timed(call, repeat):
    """The first call's result and the median time of `repeat` further calls."""
    result = call()
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        call()
        times.append(time.perf_counter() - t)
    return result, statistics.median(times)


def warm_up():
    """Numba compiles skan's kernels on first use: do that outside the timing."""
    img = np.full((40, 60), 255, np.uint8)
    img[18:23, 5:55] = 0
    img[5:20, 28:33] = 0
    skimage_pruned(img, 5.0)


# ---- main ----------------------------------------------------------------------------------


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    ap.add_argument("--scales", default="2,4,8")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--buffer", type=float, default=3.0)
    ap.add_argument("--fs", type=float, default=6.0)
    ap.add_argument("--supersample", type=int, default=4)
    ap.add_argument("--margin", type=float, default=8.0, help="pixels of paper around the ink")
    ap.add_argument("--prune-fraction", type=float, default=2.0,
                    help="skimage: prune junction-to-end branches below this x fs")
    ap.add_argument("--raster-fs", type=float, help="ours: feature size in units (default --fs)")
    ap.add_argument("--min-tip-fraction", type=float)
    ap.add_argument("--simplification", type=float)
    ap.add_argument("--junction-merge-fraction", type=float)
    ap.add_argument("--boundary-simplification", type=float)
    ap.add_argument("--tip-rule", choices=("length", "protrusion"),
                    help="ours: how tips are measured (default: protrusion, the scans' rule)")
    ap.add_argument("--keep-components", action=argparse.BooleanOptionalAction,
                    help="ours: keep components pruning would empty (default: on for scans)")
    ap.add_argument("--vector-simplification", default=0.0,
                    type=lambda v: None if v == "default" else float(v),
                    help="V: topologize's simplification (default 0; 'default': fs / 10)")
    ap.add_argument("--blur", type=float, default=0.0, help="scan: Gaussian blur radius, px")
    ap.add_argument("--noise", type=float, default=0.0, help="scan: noise, grey levels (sd)")
    ap.add_argument("--jpeg", type=int, default=0, help="scan: JPEG quality (0: none)")
    ap.add_argument("--per-sketch", action="store_true")
    ap.add_argument("--data", type=Path, default=DATA)
    args = ap.parse_args()
    scales = [float(s) for s in args.scales.split(",")]
    paths = sorted(args.data.glob("*.scap")) if args.data.is_dir() else []
    if not paths:
        print(f"no sketches in {args.data}: skipping the raster bench")
        return 0
    try:
        import skan  # noqa: F401
        import skimage  # noqa: F401
    except ImportError:
        raise SystemExit("scikit-image and skan are missing: see the install line at the top"
                         ) from None
    opts = {k: getattr(args, k) for k in
            ("min_tip_fraction", "simplification", "junction_merge_fraction",
             "boundary_simplification", "tip_rule", "keep_components")
            if getattr(args, k) is not None}
    raster_fs = args.fs if args.raster_fs is None else args.raster_fs
    sketches = [read_scap(p) for p in paths]
    warm_up()

    vectors, exact, simplified = [], [], []
    v_tips = v_dead = 0
    for sk in sketches:
        chains, _, ids, _ = linetopo.topologize(sk.strokes, args.buffer, args.fs,
                                                simplification=args.vector_simplification)
        edges = chain_edges(chains, ids)
        if args.vector_simplification != 0:
            chains, _, ids, _ = linetopo.topologize(sk.strokes, args.buffer, args.fs,
                                                    simplification=0)
        else:
            simplified.append([np.asarray(c, dtype=float) for c in
                               linetopo.topologize(sk.strokes, args.buffer, args.fs)[0]])
        exact.append([np.asarray(c, dtype=float) for c in chains])
        found, tips = branches(edges)
        v_tips += tips
        v_dead += sum(1 for _, t in found if t)
        vectors.append(edges)
    n_strokes = sum(len(s.strokes) for s in sketches)
    n_clusters = sum(len(set(s.clusters)) for s in sketches)
    pens = sorted({s.thickness for s in sketches})
    print(f"{len(sketches)} sketches, {n_strokes} strokes, {n_clusters} clusters; pen widths "
          f"{', '.join(f'{p:g}' for p in pens)}; drawn {2 * args.buffer:g} units wide "
          f"(2 x buffer)")
    v_extra = ("" if args.vector_simplification is None
               else f", simplification {args.vector_simplification:g}")
    print(f"V = topologize(strokes, buffer {args.buffer:g}, fs {args.fs:g}{v_extra}): "
          f"{sum(len(v) for v in vectors)} chains, {v_tips} tips, {v_dead} dead ends")
    extra = "".join(f", {k}={v!r}" if isinstance(v, (str, bool)) else f", {k}={v:g}"
                    for k, v in opts.items())
    print(f"ours: raster.centerline(img, feature_size={raster_fs:g} x scale{extra}); "
          f"skimage: pruned below {args.prune_fraction:g} x {args.fs:g} x scale; "
          f"supersample {args.supersample}, margin {args.margin:g} px, repeat {args.repeat}")

    names = ("ours", "ours default fs", "skimage pruned", "skeleton unpruned")
    rng = np.random.default_rng(1)  # the scan's noise, the same every run
    verdicts = {}
    for scale in scales:
        total = {name: Row() for name in names}
        ratios, pixels = [], 0
        ceiling, against_default = Row(), Row()
        if args.per_sketch:
            print(f"\n{scale:g} px/unit, per sketch:")
        for k, (sk, vector_edges, exact_lines) in enumerate(zip(sketches, vectors, exact)):
            img, corner = render(sk.strokes, args.buffer, scale, args.supersample, args.margin)
            img = scanned(img, args.blur, args.noise, args.jpeg, rng)
            pixels += img.size
            v_lines = [pts for _, _, pts in vector_edges]
            vector = Near(v_lines, scale)
            v_samples = pieces(v_lines, STEP / scale)
            v_ends = tip_points(vector_edges)
            rows = {}
            ceiling.add(measure(vector_edges, Near(exact_lines, scale), pieces([], 1.0), scale))

            fs_px = raster_fs * scale
            (result, fs_used), t = timed(
                partial(raster.centerline, img, feature_size=fs_px, **opts), args.repeat)
            chains, _, ids, _ = result if result is not None else ([], [], [], [])
            rows["ours"] = measure(chain_edges(chains, ids, corner, scale), vector, v_samples,
                                   scale, v_ends)
            rows["ours"].time, rows["ours"].fs = t, [fs_used / scale]
            if simplified:
                against_default.add(measure(chain_edges(chains, ids, corner, scale),
                                            Near(simplified[k], scale), pieces([], 1.0), scale))

            (result, fs_used), t = timed(partial(raster.centerline, img, **opts), args.repeat)
            chains, _, ids, _ = result if result is not None else ([], [], [], [])
            rows["ours default fs"] = measure(chain_edges(chains, ids, corner, scale), vector,
                                              v_samples, scale, v_ends)
            rows["ours default fs"].time = t
            rows["ours default fs"].fs = [fs_used / scale]

            prune_px = args.prune_fraction * args.fs * scale
            (skeleton, pruned), t = timed(partial(skimage_pruned, img, prune_px), args.repeat)
            rows["skimage pruned"] = measure(skan_edges(pruned, corner, scale), vector,
                                             v_samples, scale, v_ends)
            rows["skimage pruned"].time = t
            rows["skimage pruned"].fs = [args.fs]
            rows["skeleton unpruned"] = measure(skan_edges(skeleton, corner, scale), vector,
                                                v_samples, scale, v_ends)
            rows["skeleton unpruned"].timed = False

            ratios.append(rows["skimage pruned"].time / rows["ours"].time)
            for name in names:
                total[name].add(rows[name])
            if args.per_sketch:
                print(f"  {sk.name} ({img.shape[1]}x{img.shape[0]} px)")
                print_rows(rows, "    ")
        print(f"\n{scale:g} px/unit: {len(sketches)} sketches, {pixels / 1e6:.1f} Mpx in all, "
              f"fs {args.fs:g} units = {args.fs * scale:g} px; V: {v_tips} tips, "
              f"{v_dead} dead ends")
        print_rows(total, "  ")
        if args.vector_simplification != 0:
            print(f"  V itself: {100 * ceiling.within / ceiling.length:.1f}% of its length within "
                  f"{TOL:g} px of V unsimplified (simplification 0)")
        else:
            print(f"  ours: {100 * against_default.within / against_default.length:.1f}% of its "
                  f"length within {TOL:g} px of V at topologize's default simplification")
        ours, peer = total["ours"], total["skimage pruned"]
        print(f"  skimage / ours time per sketch: {min(ratios):.2f} .. {max(ratios):.2f}, "
              f"median {statistics.median(ratios):.2f}")
        if scale == 4:
            share = ours.within / ours.length if ours.length else 0.0
            verdicts = {
                f">= 95% of ours' length within {TOL:g} px of V ({100 * share:.1f}%)":
                    share >= 0.95,
                f"fewer spurious branches than skimage pruned ({ours.spurious} vs "
                f"{peer.spurious})": ours.spurious < peer.spurious,
                f"less time than skeletonize + skan (skimage / ours = "
                f"{peer.time / ours.time:.2f})": ours.time < peer.time,
            }
    if verdicts:
        print("\ntargets at 4 px/unit:")
        for label, ok in verdicts.items():
            print(f"  {label}: {'met' if ok else 'NOT met'}")
    else:
        print("\ntargets are set at 4 px/unit, which --scales left out")
    return 0


def print_rows(rows, indent):
    base = rows["ours"].time
    print(f"{indent}{'method':<18} {'fs units':>9} {'length px':>10} {'within':>7} "
          f"{'worst':>6} {'V covered':>9} {'ends':>6} {'tips':>5} {'dead ends':>9} "
          f"{'spurious':>8} {'time ms':>8} {'x ours':>6}")
    for name, row in rows.items():
        fs = f"{statistics.mean(row.fs):9.2f}" if row.fs else f"{'-':>9}"
        within = 100 * row.within / row.length if row.length else 0.0
        worst = 100 * min(row.shares) if row.shares else 0.0
        covered = 100 * row.covered / row.known if row.known else 0.0
        if row.timed:
            t, x = f"{1000 * row.time:8.1f}", f"{row.time / base:6.2f}"
        else:
            t, x = f"{'-':>8}", f"{'-':>6}"
        ends = 100 * row.reached / row.ends if row.ends else 0.0
        print(f"{indent}{name:<18} {fs} {row.length:10.0f} {within:6.1f}% {worst:5.1f}% "
              f"{covered:8.1f}% {ends:5.1f}% {row.tips:5d} {row.dead:9d} {row.spurious:8d} "
              f"{t} {x}")


if __name__ == "__main__":
    sys.exit(main())
