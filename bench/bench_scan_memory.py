"""A large scan through the command line: peak memory and time on an A4 page at 600 dpi.

Run:     .venv-extras/bin/python bench/bench_scan_memory.py [--width 7016]
             [--height 4961] [--strokes 400] [--pen 8] [--seed 1]
Needs Pillow (pip install linetopo[raster]).

The page (35 megapixels by default) holds random pen strokes, linetopo._generators' seeded
scribbles of 50 steps drawn --pen pixels wide. It is written as a PNG to a temporary folder,
then each measured command runs in a child process of its own, whose peak resident memory the
kernel reports:
- reference: the interpreter reading the page into grey levels (Pillow), and nothing else;
- ours: `python -m linetopo centerline page.png -o page.geojson`.
Memory is reported in MB and as bytes per pixel over the reference's; time as a ratio to the
reference's. The machine is shared: read the ratios.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from linetopo._generators import scribble

READ = ("import sys; from linetopo.raster import read_grey; "
        "pixels, w, h = read_grey(sys.argv[1]); print(w * h)")


def page(width, height, strokes, pen, seed):
    from PIL import Image, ImageDraw

    image = Image.new("L", (width, height), 255)
    draw = ImageDraw.Draw(image)
    # The project's seeded scribbles, 12 px steps on a square the page's width, pressed to its
    # height.
    for stroke in scribble(seed, strokes, 50, size=width, step=12.0, noise=0.4):
        draw.line([(x, y * height / width) for x, y in stroke], fill=0, width=pen,
                  joint="curve")
    return image


def child(args):
    """Wall time and peak resident memory (MB) of one command in a fresh child process."""
    with tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=err)
        _, status, usage = os.wait4(proc.pid, 0)
        elapsed = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode:
            err.seek(0)
            raise SystemExit(f"{' '.join(args)} failed with {proc.returncode}:\n"
                             f"{err.read().decode(errors='replace')}")
    return elapsed, usage.ru_maxrss / 1024


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--width", type=int, default=7016)
    ap.add_argument("--height", type=int, default=4961)
    ap.add_argument("--strokes", type=int, default=400)
    ap.add_argument("--pen", type=int, default=8)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        scan = Path(folder) / "page.png"
        page(args.width, args.height, args.strokes, args.pen, args.seed).save(scan)
        pixels = args.width * args.height
        read_time, read_mb = child([sys.executable, "-c", READ, str(scan)])
        ours_time, ours_mb = child([sys.executable, "-m", "linetopo", "centerline", str(scan),
                                    "-o", str(Path(folder) / "page.geojson")])
    print(f"{args.width} x {args.height} px ({pixels / 1e6:.1f} Mpx), {args.strokes} strokes "
          f"{args.pen} px wide")
    print(f"  reference (read the page):  {read_mb:7.0f} MB  {read_time:6.2f} s")
    print(f"  ours (centerline to GeoJSON): {ours_mb:5.0f} MB  {ours_time:6.2f} s")
    print(f"  ours over the reference: {(ours_mb - read_mb) * 2**20 / pixels:.1f} bytes a pixel "
          f"more, {ours_time / read_time:.1f} x the time")
    print(f"  target: under 1 GB: {'met' if ours_mb < 1024 else 'NOT met'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
