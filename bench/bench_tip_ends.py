"""Where the raster centerline's tips end against the vector centerline's, and how much of the
gap is where V itself ends its tips.

Run:     .venv-extras/bin/python bench/bench_tip_ends.py [--scale 4]
Install: .venv-extras/bin/pip install -r bench/requirements-peers.txt (shapely, scipy, Pillow)

The sketches, V (topologize on the strokes, buffer 3, fs 6, unsimplified) and the rendering are
bench_raster.py's; ours is raster.centerline at fs 6 x scale with its defaults. Printed:
- our nearest point to each tip of V, along V's end direction (+ beyond V's tip) and across it,
  in pixels: percentiles;
- the share of V's tips our chains reach within 1.5 px (bench_raster's "ends"), with V's tips as
  they are, and carried to the end of their stroke: the centre of the largest disc in the end of
  the ink, walking in from the tip until the distance to the exact union of the buffers stops
  growing (within 5 % of its largest value over 6 units of chain), or on along the tip's
  direction when the tip lies short of it.
"""

import argparse

import bench_raster as br
import linetopo
import numpy as np
import shapely
from linetopo import raster
from shapely.geometry import LineString
from shapely.ops import unary_union

BUFFER, FS, STEP, REACH = 3.0, 6.0, 0.05, 6.0


def at_length(pts, u):
    seg = np.diff(pts, axis=0)
    cum = np.concatenate([[0.0], np.cumsum(np.hypot(*seg.T))])
    if u >= cum[-1]:
        return pts[-1]
    j = np.searchsorted(cum, u, side="right") - 1
    return pts[j] + (u - cum[j]) / (cum[j + 1] - cum[j]) * seg[j]


def stroke_end(pts, outline):
    """pts run from a tip inwards; the centre of the largest disc in the end of the ink."""
    length = np.hypot(*np.diff(pts, axis=0).T).sum()
    walk = np.array([at_length(pts, u) for u in np.arange(0, min(length, REACH) + 1e-9, STEP)])
    r = shapely.distance(shapely.points(walk), outline)
    near = 0.95 * r.max()
    k = int(np.argmax(r >= near))
    if k > 0:
        return walk[k]
    d = pts[0] - at_length(pts, min(length, r.max()))
    if not np.hypot(*d):
        return pts[0]
    d = d / np.hypot(*d)
    ahead = pts[0] + np.arange(0, 2 * r.max(), STEP)[:, None] * d
    short = np.nonzero(shapely.distance(shapely.points(ahead), outline) < near)[0]
    return ahead[short[0] - 1] if len(short) and short[0] > 0 else pts[0]


def tips(chains, ids):
    """Each chain end of degree 1, as the chain's points from that end inwards."""
    degree = {}
    for a, b in ids:
        degree[a] = degree.get(a, 0) + 1
        degree[b] = degree.get(b, 0) + 1
    out = []
    for chain, (a, b) in zip(chains, ids):
        chain = np.asarray(chain, dtype=float)
        out += [chain] if degree[a] == 1 else []
        out += [chain[::-1]] if degree[b] == 1 else []
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scale", type=float, default=4.0)
    args = parser.parse_args()
    s = args.scale
    along, across, as_is, carried = [], [], [], []
    for path in sorted(br.DATA.glob("*.scap")):
        sketch = br.read_scap(path)
        outline = unary_union([LineString(c).buffer(BUFFER, quad_segs=32)
                               for c in sketch.strokes]).boundary
        chains, _, ids, _ = linetopo.topologize(sketch.strokes, BUFFER, FS, simplification=0)
        img, corner = br.render(sketch.strokes, BUFFER, s, 4, 8)
        (ours, _, _, _), _ = raster.centerline(img, feature_size=FS * s)
        ours = [np.asarray(c, dtype=float) / s + corner for c in ours]
        near = br.Near(ours, s)
        points = np.vstack(ours)
        for tip in tips(chains, ids):
            d = tip[0] - tip[min(len(tip) - 1, 3)]
            d = d / np.hypot(*d)
            off = (points[np.argmin(np.hypot(*(points - tip[0]).T))] - tip[0]) * s
            along.append(off @ d)
            across.append(abs(off @ np.array([-d[1], d[0]])))
            as_is.append(near.distance(tip[0][None])[0])
            carried.append(near.distance(stroke_end(tip, outline)[None])[0])
    pct = [10, 25, 50, 75, 90]
    print(f"{len(along)} tips of V at {s:g} px a unit")
    print(f"  ours along V's end direction, px, percentiles {pct}: "
          f"{np.round(np.percentile(along, pct), 2).tolist()}")
    print(f"  ours across it, px, median {np.median(across):.2f}")
    print(f"  reached within {br.TOL:g} px: V's tips as they are "
          f"{100 * np.mean(np.array(as_is) <= br.TOL):.1f}%, carried to the stroke's end "
          f"{100 * np.mean(np.array(carried) <= br.TOL):.1f}%")


if __name__ == "__main__":
    main()
