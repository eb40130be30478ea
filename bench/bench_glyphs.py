"""Glyphs of a serif font as polygons: tips by length against tips by protrusion.

Run:     .venv-extras/bin/python bench/bench_glyphs.py [--font FILE] [--text TIilftEHkxyr]
             [--stem 180] [--svg FILE]
Install: .venv-extras/bin/pip install -r bench/requirements-peers.txt (fontTools)

Each glyph's contours (quadratic Béziers cut into 8 pieces) are the rings of polygons, in font
units (2048 an em for DejaVu Serif, Debian's fonts-dejavu-core); the feature size is the stem's
width (--stem, 180 units for DejaVu Serif). topologize_polygons runs twice: with the curves'
rules (tip_rule="length" at its tip length of 2 fs, keep_components=False) and with the
polygons' defaults (tips by protrusion at 1 fs past the stroke, small components kept). The
table gives the chains and tips of each; a serif, a crossbar or the dot of an i shows as more
tips. --svg draws both, the curves' rules above.
"""

import argparse
import collections
from pathlib import Path

from fontTools.pens.recordingPen import RecordingPen
from fontTools.ttLib import TTFont
from linetopo import topologize_polygons

FONT = Path("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf")
PIECES = 8
RULES = {"length": {"tip_rule": "length", "keep_components": False}, "protrusion": {}}


def rings_of(glyph_set, name):
    """The glyph's contours as rings of points, Béziers cut into PIECES pieces each."""
    pen = RecordingPen()
    glyph_set[name].draw(pen)
    rings, ring = [], []
    for op, args in pen.value:
        if op == "moveTo":
            ring = [args[0]]
        elif op == "lineTo":
            ring.append(args[0])
        elif op == "qCurveTo":
            offs, end = list(args[:-1]), args[-1]
            # Between two off-curve points lies an implied on-curve point, their middle.
            ons = [((a[0] + b[0]) / 2, (a[1] + b[1]) / 2) for a, b in zip(offs, offs[1:])]
            start = ring[-1]
            for i, c in enumerate(offs):
                stop = ons[i] if i < len(ons) else end
                for k in range(1, PIECES + 1):
                    t = k / PIECES
                    ring.append(tuple((1 - t) ** 2 * s + 2 * (1 - t) * t * m + t * t * e
                                      for s, m, e in zip(start, c, stop)))
                start = stop
        elif op in ("closePath", "endPath"):
            if len(ring) >= 3:
                rings.append([(float(x), float(y)) for x, y in ring])
            ring = []
    return rings


def tips(ids):
    degree = collections.Counter(n for pair in ids for n in pair)
    return sum(1 for d in degree.values() if d == 1)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--font", type=Path, default=FONT)
    ap.add_argument("--text", default="TIilftEHkxyr")
    ap.add_argument("--stem", type=float, default=180.0)
    ap.add_argument("--svg")
    args = ap.parse_args()
    if not args.font.exists():
        print(f"no font at {args.font}: skipping the glyph bench")
        return 0
    font = TTFont(args.font)
    glyphs, cmap = font.getGlyphSet(), font.getBestCmap()
    print(f"{args.font.name}, fs = stem {args.stem:g} units")
    print(f"{'glyph':<6} {'length: chains':>14} {'tips':>5} {'protrusion: chains':>18} {'tips':>5}")
    drawn, shift = [], 0.0
    for ch in args.text:
        rings = rings_of(glyphs, cmap[ord(ch)])
        # Counter-clockwise contours are holes in TrueType: give them to the polygon.
        outers = [r for r in rings if area(r) < 0]
        holes = [r for r in rings if area(r) > 0]
        polygons = [(o, holes) for o in outers]
        results = {name: topologize_polygons(polygons, args.stem, **opts)
                   for name, opts in RULES.items()}
        row = [f"{len(r[0]):>14} {tips(r[2]):>5}" for r in results.values()]
        print(f"{ch:<6} {row[0]} {row[1].rjust(24)}")
        drawn.append((shift, rings, [r[0] for r in results.values()]))
        shift += glyphs[cmap[ord(ch)]].width
    if args.svg:
        picture(args.svg, drawn, shift)
    return 0


def area(ring):
    return sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(ring, ring[1:] + ring[:1])) / 2


def picture(path, drawn, width):
    parts = []
    for k in range(len(RULES)):
        for shift, rings, chains in drawn:
            def line(pts, shift=shift, k=k):
                return " ".join(f"{x + shift:.0f},{2000 - y + 2600 * k:.0f}" for x, y in pts)
            parts += [f'<polygon points="{line(r)}" fill="#ddd"/>' for r in rings]
            parts += [f'<polyline points="{line(c)}" fill="none" stroke="#23c" stroke-width="40"/>'
                      for c in chains[k]]
    Path(path).write_text(
        f'<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 -400 {width:.0f} 5200" '
        f'width="{width / 10:.0f}" height="520"><rect x="0" y="-400" width="100%" '
        f'height="100%" fill="white"/>{"".join(parts)}</svg>\n', encoding="utf-8")


if __name__ == "__main__":
    raise SystemExit(main())
