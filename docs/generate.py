"""Makes what the documentation shows of the package itself: the parameter table, from the core's
option table, and one picture per guide, drawn from a run of the examples the guide shows.

    python docs/generate.py [FOLDER]     # default docs/_generated, where the pages look
"""

from __future__ import annotations

import base64
import contextlib
import inspect
import io
import logging
import math
import re
import sys
import tempfile
from pathlib import Path

import linetopo
from linetopo import _internal
from linetopo._sample import SAMPLE_BUFFER, SAMPLE_FEATURE_SIZE, sample_curves
from linetopo.io.svg import render_svg

# The functions whose signatures the table lists, as the reader knows them.
_FUNCTIONS = {"topologize": "topologize", "topologize_tiled": "tiled",
              "topologize_polygons": "polygons", "topologize_batch job": "batch",
              "inflate_curves": "inflate", "triangulate_curves": "triangulate"}


def parameter_table() -> str:
    """The options as a Markdown table: meaning, default, flag and the functions taking each."""
    rows = ["| parameter | meaning | default | command line | taken by |", "|---|---|---|---|---|"]
    for p in _internal._PARAMETERS:
        if p["name"] in ("curves", "polygons"):
            continue
        takers = [short for name, short in _FUNCTIONS.items()
                  if p["name"] in _internal._SIGNATURES[name]]
        flag = f"`{p['cli']}`" if p["cli"] else ""
        rows.append(f"| `{p['name']}` | {p['help']} | {p['rule']} | {flag} | "
                    f"{', '.join(takers)} |")
    other = [f"`{name}`: {', '.join(f'{k} {v}' for k, v in defaults.items())}"
             for name, defaults in _internal._SIGNATURE_DEFAULTS.items() if defaults]
    return "\n".join(rows) + "\n\nDefaults that differ by function: " + "; ".join(other) + ".\n"


def other_parameters() -> str:
    """The parameters of the functions the option table does not build, from their own
    signatures and docstrings."""
    rows = ["| function | parameter | meaning | default |", "|---|---|---|---|"]
    for name in ("strokes", "chain_sources", "fit_curves", "density_centerline"):
        function = getattr(linetopo, name)
        described = dict(_documented(function.__doc__))
        for p in inspect.signature(function).parameters.values():
            if p.kind is p.VAR_KEYWORD:
                continue
            text = described.get(p.name, "")
            default = "required" if p.default is p.empty else str(p.default)
            if p.default is None:  # worked out from other values, as the text says
                default = "computed" if "efault" in text else "none"
            rows.append(f"| `{name}` | `{p.name}` | {text} | {default} |")
    return "\n".join(rows) + "\n"


def _documented(doc: str):
    """(name, text) for each entry of a numpydoc Parameters section."""
    section = doc.split("Parameters\n----------\n", 1)[1].split("\n\n", 1)[0]
    name, text = None, []
    for line in section.splitlines() + [""]:
        if line and not line.startswith(" "):
            if name:
                yield name, " ".join(text)
            name, text = line.split(" : ")[0], []
        elif line.strip():
            text.append(line.strip())
    if name:
        yield name, " ".join(text)


def drawings() -> str:
    curves = sample_curves()
    chains, nodes, ids, _ = linetopo.topologize(curves, SAMPLE_BUFFER, SAMPLE_FEATURE_SIZE)
    _, stroke_chains = linetopo.strokes(chains, nodes, ids)
    group = [0] * len(chains)
    for s, members in enumerate(stroke_chains):
        for chain, _ in members:
            group[chain] = s
    polygons = linetopo.inflate_curves(curves, SAMPLE_BUFFER, SAMPLE_FEATURE_SIZE)
    return render_svg(curves, polygons, chains, nodes, ids, colour_groups=group,
                      title="Strokes of a drawing")


def guide(name: str) -> dict:
    """The names a guide's Python examples leave, run in order as a reader would."""
    text = (Path(__file__).parent / "guides" / f"{name}.md").read_text()
    namespace: dict = {}
    logging.getLogger("pyogrio").setLevel(logging.WARNING)  # a line per file written
    # In a folder of its own, for the files an example writes, and quietly.
    with tempfile.TemporaryDirectory() as folder, contextlib.chdir(folder), \
            contextlib.redirect_stdout(io.StringIO()):
        for block in re.findall(r"^```python\n(.*?)^```", text, re.S | re.M):
            exec(compile(block, f"{name}.md", "exec"), namespace)
    return namespace


def polygons() -> str:
    g = guide("polygons")
    return render_svg([], [g["river"], g["branch"]], g["chains"], g["nodes"], g["ids"],
                      title="The axis of a river")


def gps() -> str:
    g = guide("gps")
    widths = [1 + 1.5 * math.log2(s) if s else 0.5 for s in g["support"]]
    return _lines_svg(g["traces"], g["chains"], widths,
                      "Support: line width grows with the traces that follow a street")


def gis() -> str:
    g = guide("gis")
    colours = {"primary": "#d62728", "residential": "#1f77b4"}
    chains = g["chains"]
    return _lines_svg([list(line.coords) for line in g["roads"].geometry],
                      [list(line.coords) for line in chains.geometry], [2.5] * len(chains),
                      "Chains coloured by the class of their sources",
                      [colours[c] for c in chains["class"]])


def scans() -> str:
    g = guide("scans")
    png = io.BytesIO()
    g["scan"].save(png, format="PNG")
    data = base64.b64encode(png.getvalue()).decode()
    width, height = g["scan"].size
    paths = []
    for i, pieces in enumerate(g["curves"]):
        if pieces:
            d = "M{:.2f},{:.2f}".format(*pieces[0][0]) + "".join(
                " C" + " ".join(f"{x:.2f},{y:.2f}" for x, y in piece[1:]) for piece in pieces)
            paths.append(f'<path d="{d}" stroke="{_COLOURS[i % len(_COLOURS)]}"/>')
    return (f'<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 {width} {height}" '
            f'width="{3 * width}" height="{3 * height}"><title>Bézier centerline over a scan'
            f'</title><image href="data:image/png;base64,{data}" width="{width}" '
            f'height="{height}"/><g fill="none" stroke-width="1.5" stroke-linecap="round">' +
            "".join(paths) + "</g></svg>\n")


def tiles() -> str:
    from linetopo import _tiles

    g = guide("large")
    curves, side = g["curves"], g["tile_size"]
    # The tile borders where the run drew them: the grid the tiled run planned.
    (ox, oy, _), _, planned = _tiles.plan(
        curves, {"buffer_distance": g["buffer"], "feature_size": g["fs"], "tile_size": side})
    cols = max(col for col, *_ in planned) + 1
    rows = max(row for _, row, *_ in planned) + 1
    grid = [[(ox + side * i, oy), (ox + side * i, oy + side * rows)] for i in range(cols + 1)]
    grid += [[(ox, oy + side * j), (ox + side * cols, oy + side * j)] for j in range(rows + 1)]
    return _lines_svg(curves + grid, g["chains"], [1.5] * len(g["chains"]),
                      f"Tiles of {side:g} units, stitched")


_COLOURS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2",
            "#17becf"]


def _lines_svg(inputs, chains, widths, title, colours=None) -> str:
    """Input lines in light grey under the chains, each chain at its own width and colour;
    y grows upwards."""
    xs = [x for line in chains for x, _ in line] or [0.0]
    ys = [y for line in chains for _, y in line] or [0.0]
    margin = 0.05 * max(max(xs) - min(xs), max(ys) - min(ys), 1.0)
    x0, y0 = min(xs) - margin, -max(ys) - margin
    w, h = max(xs) - min(xs) + 2 * margin, max(ys) - min(ys) + 2 * margin
    unit = max(w, h) / 400

    def path(line):
        return "M" + " L".join(f"{x:.1f},{-y:.1f}" for x, y in line)

    out = [f'<svg xmlns="http://www.w3.org/2000/svg" viewBox="{x0:.1f} {y0:.1f} {w:.1f} {h:.1f}"'
           f' width="{800 * w / max(w, h):.0f}" height="{800 * h / max(w, h):.0f}">'
           f"<title>{title}</title>",
           f'<rect x="{x0:.1f}" y="{y0:.1f}" width="{w:.1f}" height="{h:.1f}" fill="#fff"/>',
           f'<g fill="none" stroke="#bbb" stroke-width="{unit:.2f}">']
    out += [f'<path d="{path(line)}"/>' for line in inputs if line]
    out.append('</g><g fill="none" stroke-linecap="round" stroke-linejoin="round">')
    for i, (line, width) in enumerate(zip(chains, widths)):
        colour = colours[i] if colours else _COLOURS[i % len(_COLOURS)]
        out.append(f'<path d="{path(line)}" stroke="{colour}" '
                   f'stroke-width="{width * unit:.2f}"/>')
    out.append("</g></svg>\n")
    return "\n".join(out)


PICTURES = {"drawings": drawings, "scans": scans, "gps": gps, "gis": gis,
            "polygons": polygons, "tiles": tiles}


def main(folder: Path) -> None:
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "parameters.md").write_text(parameter_table())
    (folder / "other_parameters.md").write_text(other_parameters())
    for name, make in PICTURES.items():
        (folder / f"{name}.svg").write_text(make())


if __name__ == "__main__":
    main(Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).parent / "_generated")
