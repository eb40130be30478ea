"""The `linetopo` command: centerlines of GeoJSON files, and a demo on the built-in sample."""

from __future__ import annotations

import argparse
import sys
import time
from typing import Any, Sequence

from . import geojson, sample, svg

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


# Facts that belong to the command line alone: buffer_distance may be left out.
_CLI_DEFAULTS = {
    "buffer_distance": "half the feature size",
    "tile_size": "no tiles, one call for the whole input",
}
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
        help="compute the centerline of the lines in a GeoJSON file",
        description="Reads LineString and MultiLineString geometries, writes the centerline "
        "chains and their nodes as a GeoJSON FeatureCollection.",
    )
    line.add_argument("input", metavar="INPUT", help="GeoJSON file, or - for standard input")
    line.add_argument("-o", "--output", metavar="OUTPUT", required=True,
                      help="GeoJSON file to write, or - for standard output")
    _add_options(line)
    line.add_argument("--strokes", action="store_true",
                      help="write one line per drawn stroke, joined through junctions, with the "
                      "chains it follows, instead of the chains and nodes")
    line.add_argument("--svg", metavar="FILE", help="also write a picture of the result")

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


def _read_text(path: str) -> str:
    try:
        if path == "-":
            return sys.stdin.read()
        with open(path, encoding="utf-8") as f:
            return f.read()
    except OSError as err:
        raise UsageError(f"cannot read {path}: {err.strerror or err}") from None
    except UnicodeDecodeError:
        raise UsageError(f"cannot read {path}: not UTF-8 text") from None


def _write_text(path: str, text: str) -> None:
    try:
        if path == "-":
            sys.stdout.write(text)
            sys.stdout.flush()
            return
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    except OSError as err:
        raise UsageError(f"cannot write {path}: {err.strerror or err}") from None


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


def _centerline(args: argparse.Namespace) -> int:
    from . import topologize, topologize_tiled

    curves = geojson.loads_curves(_read_text(args.input))
    buffer = args.buffer_distance
    if buffer is None:
        buffer = args.feature_size / 2
    options = {p["name"]: getattr(args, p["name"]) for p in _options() if not p["required"]}
    if args.tile_size is None:
        result = topologize(curves, buffer, args.feature_size, **options)
    else:
        result = topologize_tiled(curves, buffer, args.feature_size, tile_size=args.tile_size,
                                  **options)
    stroke_chains = None
    if args.strokes:
        from . import strokes

        lines, stroke_chains = strokes(*result[:3])
        text = geojson.dumps(geojson.strokes_to_geojson(lines, stroke_chains))
    else:
        text = geojson.dumps(geojson.result_to_geojson(*result))
    # The picture is drawn before anything is written, so a failure leaves no half-done output.
    picture = None
    if args.svg:
        picture = _picture(curves, result, buffer, args.feature_size, args.merge_tolerance,
                           title=f"{PROG} centerline of {args.input}", stroke_chains=stroke_chains)
    _write_text(args.output, text)
    if picture is not None:
        _write_text(args.svg, picture)
    return 0


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
    _write_text(args.svg, _picture(curves, result, buffer, fs, None, title=f"{PROG} demo",
                                   stroke_chains=stroke_chains if args.strokes else None))
    written = [args.svg]
    if args.geojson:
        _write_text(args.geojson, geojson.dumps(geojson.result_to_geojson(*result)))
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
    except SystemExit as stop:
        # argparse has already printed its usage and message (or the help, for status 0).
        return stop.code if isinstance(stop.code, int) else 2
    try:
        if args.command == "centerline":
            return _centerline(args)
        return _demo(args)
    except (UsageError, ValueError, OverflowError) as err:
        # The library's ValueErrors and the GeoJSON reader's errors are meant to be read as is.
        message = " ".join(str(err).split()) or type(err).__name__
        print(f"{PROG}: error: {message}", file=sys.stderr)
        return 2
