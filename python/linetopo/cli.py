"""The `linetopo` command: centerlines of GeoJSON, SVG and GIS files, and a built-in demo."""

from __future__ import annotations

import argparse
import math
import os
import sys
import time
from typing import Any, Callable, Sequence

from . import formats, geojson, lonlat, sample, svg
from ._extras import MissingExtraError, require

PROG = "linetopo"
DEFAULT_DEMO_SVG = "linetopo-demo.svg"


class UsageError(Exception):
    """A problem with what the user asked for, reported as one line and exit status 2."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> None:  # type: ignore[override]
        # Each parser has a short fixed usage, so the report stays at two lines however many
        # options there are.
        self.print_usage(sys.stderr)
        self.exit(2, f"{self.prog}: error: {message}\n")


def _non_negative_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid int value: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative, got {value}")
    return value


# Facts that belong to the command line alone: buffer_distance may be left out, and so may
# feature_size for SVG input (main requires it for the rest).
_CLI_DEFAULTS = {
    "buffer_distance": "half the feature size",
    "tile_size": "no tiles, one call for the whole input",
    "feature_size": "the median stroke width for SVG input, required otherwise",
}
# Buffers above this many degrees are kilometres wide: metres taken for degrees, most likely.
_DEGREE_BUFFER = 0.01
_CLI_TYPES = {"float": float, "optional float": float, "optional int": _non_negative_int}


def _options() -> list[dict[str, Any]]:
    """The library's options that the command line takes, from the library's own table."""
    from ._internal import _PARAMETERS

    return [p for p in _PARAMETERS if p["cli"]]


def _add_options(parser: argparse.ArgumentParser) -> None:
    for p in _options():
        help_text = p["help"]
        if p["name"] in _CLI_DEFAULTS:
            help_text += f" (default: {_CLI_DEFAULTS[p['name']]})"
        elif not p["required"] and p["kind"] != "bool":
            help_text += f" (default: {p['rule']})"
        # argparse expands % in help texts.
        help_text = help_text.replace("%", "%%")
        if p["kind"] == "bool":
            parser.add_argument(p["cli"], dest=p["name"], action="store_true", help=help_text)
            continue
        required = p["required"] and p["name"] not in _CLI_DEFAULTS
        parser.add_argument(p["cli"], dest=p["name"], type=_CLI_TYPES[p["kind"]], required=required,
                            metavar=p["metavar"], help=help_text)


def _version_text() -> str:
    from . import __version__
    from ._internal import _VERSIONS

    libraries = ", ".join(f"{name} {version}" for name, version in _VERSIONS.items())
    return f"{PROG} {__version__} ({libraries})"


def _build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog=PROG,
        usage=f"{PROG} [--version] {{centerline,demo}} ...",
        description="Clean topological centerlines from 2-D polylines.",
    )
    parser.add_argument("--version", action="version", version=_version_text(),
                        help="show the versions of linetopo and its libraries, then exit")
    commands = parser.add_subparsers(dest="command", required=True, metavar="{centerline,demo}",
                                     parser_class=_Parser)

    line = commands.add_parser(
        "centerline",
        prog=f"{PROG} centerline",
        usage=f"{PROG} centerline INPUT -o OUTPUT --feature-size F [options]",
        help="compute the centerline of the lines in a GeoJSON, SVG or GIS file",
        description="Reads the lines of a GeoJSON, SVG or GIS file (GeoPackage, Shapefile, "
        "FlatGeobuf, GPX, ...), writes the centerline chains and their nodes. The format follows "
        "from the extension: .geojson or .json, .svg, anything else through GDAL.",
    )
    line.set_defaults(command_parser=line)
    line.add_argument("input", metavar="INPUT", nargs="+",
                      help="file to read, or - for standard input; several files are independent "
                      "sets, each written under its own name into the folder OUTPUT")
    line.add_argument("-o", "--output", metavar="OUTPUT", required=True,
                      help="file to write, or - for standard output; with several inputs, a folder")
    _add_options(line)
    line.add_argument("--format", metavar="NAME",
                      help="format where the file name does not tell (standard input and output, "
                      "other extensions): geojson, svg, gpkg, shp, fgb, gpx or a GDAL driver name")
    line.add_argument("--layer", metavar="NAME",
                      help="the layer of a GIS file to read (default: every line layer)")
    frame = line.add_mutually_exclusive_group()
    frame.add_argument("--planar", action="store_true",
                       help="take the coordinates as they are, even where the file's CRS is "
                       "longitude/latitude")
    frame.add_argument("--geographic", action="store_true",
                       help="take the coordinates as longitude/latitude and work in metres in the "
                       "local UTM zone, as for a file whose CRS is longitude/latitude")
    line.add_argument("--flatten-tolerance", metavar="T", type=float,
                      help="how far SVG curves may stray from their polylines (default: the "
                      "feature size / 20)")
    line.add_argument("--strokes", action="store_true",
                      help="write one line per drawn stroke, joined through junctions, with the "
                      "chains it follows, instead of the chains and nodes")
    line.add_argument("--svg", metavar="FILE", help="also write a picture of the result")
    line.add_argument("--dask-scheduler", metavar="ADDRESS",
                      help="run the work on the Dask cluster at ADDRESS (needs linetopo[dask]); "
                      "with --tile-size each tile is a task")

    demo = commands.add_parser(
        "demo",
        prog=f"{PROG} demo",
        usage=f"{PROG} demo [--svg FILE] [--geojson FILE] [--strokes]",
        help="run the pipeline on a built-in sample drawing",
        description="Runs the centerline on a built-in drawing of over-drawn, noisy strokes.",
    )
    demo.add_argument("--svg", metavar="FILE", default=DEFAULT_DEMO_SVG,
                      help=f"picture to write (default: {DEFAULT_DEMO_SVG})")
    demo.add_argument("--geojson", metavar="FILE", help="also write the result as GeoJSON")
    demo.add_argument("--strokes", action="store_true",
                      help="colour the picture by stroke instead of by chain")
    return parser


def _picture(curves: list, result: tuple, buffer: float, feature_size: float,
             merge_tolerance: float | None, title: str, stroke_chains: list | None = None) -> str:
    from . import inflate_curves

    polygons = inflate_curves(curves, buffer, feature_size, merge_tolerance=merge_tolerance)
    chains, nodes, chain_node_ids, _ = result
    groups = None
    if stroke_chains is not None:
        groups = [0] * len(chains)
        for s, walk in enumerate(stroke_chains):
            for i, _ in walk:
                groups[i] = s
    return svg.render_svg(curves, polygons, chains, nodes, chain_node_ids, title=title,
                          colour_groups=groups)


def _mirrored(curves: list, result: tuple) -> tuple[list, tuple]:
    """SVG y grows downwards, the picture's upwards: mirror what an SVG drawing gave."""
    def flip(line: Any) -> list:
        return [(x, -y) for x, y in line]

    chains, nodes, chain_node_ids, widths = result
    return [flip(c) for c in curves], ([flip(c) for c in chains], flip(nodes), chain_node_ids,
                                       widths)


def _warn_if_degrees(curves: list, buffer: float) -> None:
    # Metres given for degrees merge everything into one blob without an error, so say so.
    xs = [p[0] for c in curves for p in c]
    ys = [p[1] for c in curves for p in c]
    if not xs or not buffer > _DEGREE_BUFFER:
        return
    extent = max(max(xs) - min(xs), max(ys) - min(ys))
    if max(map(abs, xs)) <= 180 and max(map(abs, ys)) <= 90 and buffer > extent / 10:
        print(f"{PROG}: warning: the coordinates look like longitude/latitude degrees, and a "
              f"buffer of {buffer:g} of them spans the data; pass --geographic to give sizes in "
              "metres", file=sys.stderr)


def _projection(args: argparse.Namespace, fmt: str, source: formats.Source, curves: list,
                buffer: float) -> Any:
    """The local UTM zone to run longitude/latitude curves in; None to run them as they are."""
    if args.geographic:
        if fmt == formats.SVG:
            raise UsageError("--geographic does not apply to SVG drawings")
        if source.crs is not None and not lonlat.is_geographic(source.crs):
            raise UsageError(f"--geographic: the CRS of {args.input} is not longitude/latitude")
        return lonlat.LocalUtm(curves, source.crs or lonlat.GEOJSON_CRS)
    if not args.planar and source.crs is not None and lonlat.is_geographic(source.crs):
        return lonlat.LocalUtm(curves, source.crs)
    if fmt == formats.GEOJSON and not args.planar:
        _warn_if_degrees(curves, buffer)
    return None


def _table(result: tuple, args: argparse.Namespace) -> tuple[formats.Table, list | None]:
    """The lines to write with their attributes, and each stroke's chains with --strokes."""
    chains, nodes, chain_node_ids, widths = result
    if args.strokes:
        from . import strokes

        lines, stroke_chains = strokes(chains, nodes, chain_node_ids)
        walks = [[[i, bool(r)] for i, r in walk] for walk in stroke_chains]
        return formats.Table("strokes", lines, {"chains": walks}), stroke_chains
    columns: dict[str, list] = {"start_node": [s for s, _ in chain_node_ids],
                                "end_node": [e for _, e in chain_node_ids],
                                "length": formats.lengths(chains)}
    if args.compute_widths:
        columns["widths"] = [list(w) for w in widths]
    degrees = geojson.node_degrees(len(nodes), chain_node_ids)
    return formats.Table("chains", list(chains), columns, list(nodes), degrees), None


def _read(args: argparse.Namespace) -> tuple[str, formats.Source, float, list]:
    """Reads INPUT: its format, what the reader found, the feature size and the curves."""
    fmt = formats.input_format(args.input, args.format)
    source = formats.read(args.input, fmt, args.layer)
    fs, curves = args.feature_size, source.curves
    if source.drawing is not None:
        if fs is None:
            fs = source.drawing.median_stroke_width()
        tolerance = fs / 20 if args.flatten_tolerance is None else args.flatten_tolerance
        if not (tolerance > 0 and math.isfinite(tolerance)):
            raise UsageError("the flattening tolerance (--flatten-tolerance, by default the "
                             "feature size / 20) must be a positive finite number, got "
                             f"{tolerance:g}")
        curves = source.drawing.flatten(tolerance)
    if not any(len(c) >= 2 for c in curves):
        raise UsageError(f"no line of two or more points in {args.input}")
    return fmt, source, fs, curves


def _local_runner(args: argparse.Namespace) -> Callable[..., tuple]:
    from . import topologize, topologize_tiled

    def run(curves: list, buffer: float, fs: float, options: dict) -> tuple:
        if args.tile_size is None:
            return topologize(curves, buffer, fs, **options)
        return topologize_tiled(curves, buffer, fs, tile_size=args.tile_size, **options)

    return run


def _cluster_runner(args: argparse.Namespace, client: Any) -> Callable[..., tuple]:
    from . import _internal
    from . import dask as ldask

    def run(curves: list, buffer: float, fs: float, options: dict) -> tuple:
        if args.tile_size is None:
            return client.submit(_internal.topologize, curves, buffer, fs, pure=False,
                                 **options).result()
        return ldask.topologize_tiled(curves, buffer, fs, tile_size=args.tile_size, client=client,
                                      **options)

    return run


class _Progress:
    """Counts finished inputs on stderr: a tqdm bar on a terminal when tqdm is installed, plain
    lines otherwise. Silent for a single input."""

    def __init__(self, total: int) -> None:
        self.total, self.done, self.bar = total, 0, None
        if total > 1 and sys.stderr.isatty():
            try:
                from tqdm import tqdm

                self.bar = tqdm(total=total, unit="input", file=sys.stderr)
            except ImportError:
                pass

    def step(self, name: str) -> None:
        self.done += 1
        if self.bar is not None:
            self.bar.update(1)
        elif self.total > 1:
            print(f"{PROG}: {self.done}/{self.total} {name}", file=sys.stderr)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


def _centerline(args: argparse.Namespace) -> int:
    inputs = args.input
    if len(inputs) > 1:
        if "-" in inputs or args.output == "-" or args.svg:
            raise UsageError("several inputs are read from files and written into the folder "
                             "OUTPUT, without --svg")
        names = [os.path.basename(p) for p in inputs]
        if len(set(names)) != len(names):
            raise UsageError("several inputs must have different file names: each is written "
                             "under its own name into OUTPUT")
        os.makedirs(args.output, exist_ok=True)
    client = None
    if args.dask_scheduler is not None:
        require("distributed", "--dask-scheduler")
        from distributed import Client

        client = Client(args.dask_scheduler)
    run = _local_runner(args) if client is None else _cluster_runner(args, client)
    progress = _Progress(len(inputs))
    try:
        for path in inputs:
            one = argparse.Namespace(**vars(args))
            one.input = path
            if len(inputs) > 1:
                one.output = os.path.join(args.output, os.path.basename(path))
            _centerline_file(one, run)
            progress.step(path)
    finally:
        progress.close()
        if client is not None:
            client.close()
    return 0


def _centerline_file(args: argparse.Namespace, run: Callable[..., tuple]) -> None:
    formats.check_format_name(args.format)
    out_fmt = formats.output_format(args.output, args.format)
    in_fmt, source, fs, curves = _read(args)
    buffer = args.buffer_distance
    if buffer is None:
        buffer = fs / 2
    utm = _projection(args, in_fmt, source, curves, buffer)
    if utm is not None:
        curves = utm.forward(curves)
    options = {p["name"]: getattr(args, p["name"]) for p in _options() if not p["required"]}
    result = run(curves, buffer, fs, options)
    table, stroke_chains = _table(result, args)
    # The picture is drawn before anything is written, so a failure leaves no half-done output.
    picture = None
    if args.svg:
        shown, shown_result = (curves, result) if source.drawing is None else _mirrored(curves,
                                                                                         result)
        picture = _picture(shown, shown_result, buffer, fs, args.merge_tolerance,
                           title=f"{PROG} centerline of {args.input}", stroke_chains=stroke_chains)
    crs = source.crs
    if utm is not None:
        # Back to the input's longitude/latitude; lengths and widths stay in metres.
        crs = crs or lonlat.GEOJSON_CRS
        table.lines = [line.tolist() for line in utm.back(table.lines)]
        if table.nodes:
            table.nodes = [tuple(p) for p in utm.back([table.nodes])[0].tolist()]
    formats.write(args.output, out_fmt, table, crs=crs,
                  frame=source.drawing.frame if source.drawing is not None else None,
                  stroke_width=2 * buffer if utm is None else None)
    if picture is not None:
        formats.write_text(args.svg, picture)
    if args.feature_size is None:
        # Said once the run has succeeded, so that an error stays a single line.
        print(f"{PROG}: feature size {fs:g}, the median stroke width of {args.input}",
              file=sys.stderr)


def _demo(args: argparse.Namespace) -> int:
    from . import strokes, topologize

    curves = sample.sample_curves()
    fs, buffer = sample.SAMPLE_FEATURE_SIZE, sample.SAMPLE_BUFFER
    started = time.perf_counter()
    result = topologize(curves, buffer, fs)
    elapsed = time.perf_counter() - started
    chains, nodes, chain_node_ids, _ = result
    degrees = geojson.node_degrees(len(nodes), chain_node_ids)
    junctions = sum(1 for d in degrees if d >= 3)
    lines, stroke_chains = strokes(chains, nodes, chain_node_ids)
    formats.write_text(args.svg, _picture(curves, result, buffer, fs, None, title=f"{PROG} demo",
                                          stroke_chains=stroke_chains if args.strokes else None))
    written = [args.svg]
    if args.geojson:
        formats.write_text(args.geojson, geojson.dumps(geojson.result_to_geojson(*result)))
        written.append(args.geojson)
    print(f"{PROG} demo: {len(curves)} curves in, {len(chains)} chains, {len(nodes)} nodes, "
          f"{junctions} junctions, {len(lines)} strokes out in {elapsed * 1000:.1f} ms; "
          f"wrote {', '.join(written)}")
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line; returns the exit status (2 for any bad input or option)."""
    parser = _build_parser()
    try:
        args = parser.parse_args(argv)
        if (args.command == "centerline" and args.feature_size is None
                and not all(formats.is_svg(p, args.format) for p in args.input)):
            args.command_parser.error("the following arguments are required: --feature-size")
    except SystemExit as stop:
        # argparse has already printed its usage and message (or the help, for status 0).
        return stop.code if isinstance(stop.code, int) else 2
    try:
        if args.command == "centerline":
            return _centerline(args)
        return _demo(args)
    except (UsageError, ValueError, OverflowError, MissingExtraError) as err:
        # The library's ValueErrors, the readers' errors and a missing extra's install line are
        # meant to be read as is.
        message = " ".join(str(err).split()) or type(err).__name__
        print(f"{PROG}: error: {message}", file=sys.stderr)
        return 2
