"""The `linetopo` command: centerlines of GeoJSON, SVG and GIS files, and a built-in demo."""

from __future__ import annotations

import contextlib
import signal
import sys
import threading
import time
from typing import Any, Iterator, Sequence

from .. import _sample
from .._extras import MissingExtraError
from ..io import formats, geojson
from ._centerline import PROG, UsageError, options, picture, run_centerline
from ._parser import build_parser
from ._request import Request


def _demo(svg: str, geojson_file: str | None, by_stroke: bool) -> int:
    from .. import strokes, topologize

    curves = _sample.sample_curves()
    fs, buffer = _sample.SAMPLE_FEATURE_SIZE, _sample.SAMPLE_BUFFER
    started = time.perf_counter()
    result = topologize(curves, buffer, fs)
    elapsed = time.perf_counter() - started
    chains, nodes, chain_node_ids, _ = result
    degrees = geojson.node_degrees(len(nodes), chain_node_ids)
    junctions = sum(1 for d in degrees if d >= 3)
    lines, stroke_chains = strokes(chains, nodes, chain_node_ids)
    formats.write_text(svg, picture(curves, result, buffer, fs, None, title=f"{PROG} demo",
                                     stroke_chains=stroke_chains if by_stroke else None))
    written = [svg]
    if geojson_file:
        formats.write_text(geojson_file, geojson.dumps(geojson.result_to_geojson(*result)))
        written.append(geojson_file)
    print(f"{PROG} demo: {len(curves)} curves in, {len(chains)} chains, {len(nodes)} nodes, "
          f"{junctions} junctions, {len(lines)} strokes out in {elapsed * 1000:.1f} ms; "
          f"wrote {', '.join(written)}")
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line; returns the exit status (2 for any bad input or option)."""
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
        if (args.command == "centerline" and args.feature_size is None
                and not all(formats.is_svg(p, args.format) or formats.is_raster(p)
                            for p in args.input)):
            args.command_parser.error("the following arguments are required: --feature-size")
    except SystemExit as stop:
        # argparse has already printed its usage and message (or the help, for status 0).
        return stop.code if isinstance(stop.code, int) else 2
    with _stops_on_termination() as stopped:
        try:
            if args.command == "centerline":
                return run_centerline(Request.from_flags(vars(args),
                                                         [p["name"] for p in options()]))
            return _demo(args.svg, args.geojson, args.strokes)
        except KeyboardInterrupt:
            # Nothing was moved into place: the staged files went with the interrupted run.
            print(f"{PROG}: interrupted", file=sys.stderr)
            return 128 + (stopped[0] or signal.SIGINT)
        except (UsageError, ValueError, OverflowError, MissingExtraError) as err:
            # The library's ValueErrors, the readers' errors and a missing extra's install line
            # are meant to be read as is.
            message = " ".join(str(err).split()) or type(err).__name__
            print(f"{PROG}: error: {message}", file=sys.stderr)
            return 2


@contextlib.contextmanager
def _stops_on_termination() -> Iterator[list[int]]:
    """SIGTERM and SIGHUP (``timeout``, a closed terminal) stop a run as Ctrl-C does, so that it
    cleans up after itself; yields a list that then holds the signal's number."""
    stopped = [0]
    if threading.current_thread() is not threading.main_thread():
        yield stopped  # only the main thread may set handlers
        return

    def stop(signum: int, _frame: Any) -> None:
        stopped[0] = signum
        raise KeyboardInterrupt

    previous = {}
    for name in ("SIGTERM", "SIGHUP"):
        if hasattr(signal, name):
            number = getattr(signal, name)
            previous[number] = signal.signal(number, stop)
    try:
        yield stopped
    finally:
        for number, handler in previous.items():
            signal.signal(number, handler)
