"""Writes a generated input for bench_pipeline: `write_curves.py NAME POINTS FILE`.

NAME is one of the scale benchmark's inputs ("random walks", "drawing", "gps") or "spiral" or
"random polylines".
"""

import sys

from linetopo._generators import SCALED, random_polylines, spiral


def main():
    name, points, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    if name == "spiral":
        curves, r, fs = spiral(points)
    elif name == "random polylines":
        curves, r, fs = random_polylines()
    else:
        curves, r, fs = SCALED[name](points)
    with open(path, "w") as out:
        out.write(f"{r!r} {fs!r}\n")
        for c in curves:
            out.write(" ".join(f"{x!r} {y!r}" for x, y in c) + "\n")


if __name__ == "__main__":
    main()
