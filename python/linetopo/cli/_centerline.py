"""The centerline command: reads each input, runs it, and writes what it gives, all or nothing."""

from __future__ import annotations

import contextlib
import math
import os
import statistics
import sys
from typing import Any, Callable, Iterator

from .. import _features, _frame, _provenance
from .._extras import require
from ..io import _targets, formats, geojson, lonlat, svg
from ..io._transaction import Transaction, recover
from . import _shapes
from ._request import Request
from ._shapes import UsageError

PROG = "linetopo"
# Boundary points a file may make unless LINETOPO_MAX_POINTS says otherwise (or its points allow
# more): a few seconds' work, so that a tiny file with a tiny feature size is refused at once
# instead of running for a minute on the library's own, larger floor.
FILE_POINT_BUDGET_FLOOR = 400_000
# Nor more than this many per byte of the file (above the floor): a few bytes of SVG arcs or
# circles flatten into thousands of points, which the budget per point would let through.
FILE_POINT_BUDGET_PER_BYTE = 32


def options() -> list[dict[str, Any]]:
    """The library's options that the command line takes, from the library's own table."""
    from .._internal import _PARAMETERS

    return [p for p in _PARAMETERS if p["cli"]]


def picture(curves: list, result: tuple, buffer: float, feature_size: float,
            merge_tolerance: float | None, title: str, stroke_chains: list | None = None,
            polygons: list | None = None, buffers: bool = True) -> str:
    """The SVG picture of a run: input, buffer (and the input's polygons), chains and nodes;
    without `buffers` where the run inflated none (a density centerline)."""
    from .. import inflate_curves

    polygons = list(polygons or [])
    if buffers:
        polygons += inflate_curves([c for c in curves if len(c) >= 2], buffer, feature_size,
                                   merge_tolerance=merge_tolerance)
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


def _table(result: tuple, request: Request, curves: list, source: formats.Source,
           buffer: float, fs: float) -> tuple[formats.Table, list | None, list[str]]:
    """The lines to write with their attributes, each stroke's chains with --strokes, and notes
    for the user. Each line carries its support and the input's attributes over its sources."""
    chains, nodes, chain_node_ids, _ = result
    feature_of = source.feature_of
    if feature_of is None:
        feature_of = list(range(len(curves)))
    columns = _features.chain_columns(result, bool(request.options.get("compute_widths")))
    along = _features.chain_sources(result, columns["length"], curves, feature_of,
                                    source.polygons, source.polygon_feature_of, buffer, fs)
    line_widths: list | None = columns.get("widths")
    if request.strokes:
        from .. import strokes

        lines, stroke_chains = strokes(chains, nodes, chain_node_ids)
        walks = [[[i, bool(r)] for i, r in walk] for walk in stroke_chains]
        along = _provenance.joined(along, stroke_chains)
        table = formats.Table("strokes", lines, {"chains": walks,
                                                 "length": formats.lengths(lines)},
                              with_nodes=False)
        line_widths = None
    else:
        stroke_chains = None
        degrees = geojson.node_degrees(len(nodes), chain_node_ids)
        table = formats.Table("chains", list(chains), columns, list(nodes), degrees)
    notes: list[str] = []
    if source.image is None:  # a scan's ink is one source, which tells nothing
        attributes, notes = _provenance.attribute_columns(along, source.attributes,
                                                          request.attributes,
                                                          list(table.columns))
        table.columns.update(attributes)
    if source.drawing is not None:
        table.styles = _styles(along, source.drawing, line_widths)
    return table, stroke_chains, notes


def _styles(along: list[dict[int, float]], drawing: Any,
            widths: list | None) -> list[tuple[str | None, float | None]]:
    """Each line drawn as its main source shape: its stroke (or, for a filled shape, fill)
    colour, and its stroke width unless the line has widths of its own."""
    colours = drawing.colours + drawing.fill_colours
    strokes = drawing.stroke_widths + [None] * len(drawing.filled)
    styles: list[tuple[str | None, float | None]] = []
    for i, sources in enumerate(along):
        main = _provenance.main_source(sources)
        colour = colours[main] if main is not None else None
        width = strokes[main] if main is not None else None
        if widths is not None and len(widths[i]):
            width = statistics.median(widths[i])
        styles.append((colour, width))
    return styles


def _read(request: Request, name: str) -> tuple[str, formats.Source, float | None, list]:
    """Reads one input: its format, what the reader found, the feature size and the curves."""
    fmt = formats.input_format(name, request.format)
    source = formats.read(name, fmt, request.layer, request.skip_invalid)
    fs, curves = request.feature_size, source.curves
    if source.drawing is not None:
        if fs is None:
            fs = source.drawing.median_stroke_width()
        tolerance = (_shapes.FLATTEN_TOLERANCE_SHARE * fs if request.flatten_tolerance is None
                     else request.flatten_tolerance)
        if not (tolerance > 0 and math.isfinite(tolerance)):
            raise UsageError("the flattening tolerance (--flatten-tolerance, by default "
                             f"{_shapes.share_text(_shapes.FLATTEN_TOLERANCE_SHARE)}) must be a "
                             f"positive finite number, got {tolerance:g}")
        drawing = source.drawing
        curves, source.feature_of = drawing.flatten_paths(tolerance)
        source.polygons, filled_of = drawing.flatten_fills(tolerance)
        # The filled shapes are the features after the stroked ones.
        source.polygon_feature_of = [len(drawing.paths) + i for i in filled_of]
        strokes, fills = len(drawing.paths), len(drawing.filled)
        source.attributes = {"stroke": drawing.colours + [None] * fills,
                             "stroke_width": drawing.stroke_widths + [None] * fills,
                             "fill": [None] * strokes + drawing.fill_colours}
    if not any(len(c) >= 2 for c in curves) and not source.polygons and source.image is None:
        raise UsageError(f"no line of two or more points in {name}")
    return fmt, source, fs, curves


def _density_options(request: Request, buffer: float, options: dict) -> dict:
    """density_centerline's keyword arguments: the polygon options, the buffer as the scale of
    boundary refinement, and --relative when given."""
    chosen = {k: v for k, v in options.items() if k != "merge_tolerance"}
    chosen["buffer_distance"] = buffer
    if request.relative is not None:
        chosen["relative"] = request.relative
    return chosen


def _local_runner(request: Request) -> Callable[..., tuple]:
    from .. import density_centerline, topologize, topologize_tiled

    def run(curves: list, buffer: float, fs: float, options: dict) -> tuple:
        if request.density:
            return density_centerline(curves, fs, **_density_options(request, buffer, options))
        if request.tile_size is None:
            return topologize(curves, buffer, fs, **options)
        return topologize_tiled(curves, buffer, fs, tile_size=request.tile_size, **options)

    return run


def _cluster_runner(request: Request, client: Any) -> Callable[..., tuple]:
    from .. import _internal
    from .. import dask as ldask

    def run(curves: list, buffer: float, fs: float, options: dict) -> tuple:
        if request.density:
            return client.submit(_internal.density_centerline, curves, fs, pure=False,
                                 **_density_options(request, buffer, options)).result()
        if request.tile_size is None:
            return client.submit(_internal.topologize, curves, buffer, fs, pure=False,
                                 **options).result()
        return ldask.topologize_tiled(curves, buffer, fs, tile_size=request.tile_size,
                                      client=client, **options)

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


def _targets_of(request: Request) -> list[_targets.Target]:
    """What each input is written to; several inputs go into the folder OUTPUT by stem."""
    inputs, output = request.inputs, request.output
    formats.check_format_name(request.format)
    prefix = f"{request.layer_name}_" if request.layer_name else ""
    lines_layer = prefix + ("strokes" if request.strokes else "chains")
    layers = [lines_layer] if request.strokes else [lines_layer, prefix + "nodes"]
    into_folder = len(inputs) > 1 or os.path.isdir(output) or output.endswith("/")
    if not into_folder:
        fmt = formats.output_format(output, request.format)
        pairs = [(inputs[0], output, fmt)]
    else:
        if "-" in inputs or (len(inputs) > 1 and request.svg):
            raise UsageError("several inputs are read from files and written into the folder "
                             "OUTPUT, without --svg")
        folder = output
        if len(inputs) == 1 and not os.path.isdir(folder):
            raise UsageError(f"{folder} is not a folder")
        if os.path.exists(folder) and not os.path.isdir(folder):
            raise UsageError(f"with several inputs, OUTPUT is a folder, and {folder} is a file")
        if not os.path.exists(folder) and formats.known_extension(folder):
            raise UsageError(f"with several inputs, OUTPUT is a folder, and {folder} names a "
                             "file: give a folder, and --format for the files in it")
        pairs = []
        for path in inputs:
            named = request.format
            if named is None:
                named = formats.input_format(path, None)
                named = named if named != formats.GIS else formats.output_format(path, None)
            fmt = formats.output_format("", named)
            pairs.append((path, _targets.named_after(path, folder, fmt), fmt))
    targets = []
    for path, written, fmt in pairs:
        target = _targets.Target(path, written, fmt, svg=request.svg, layers=layers)
        if written != "-" and not request.strokes and fmt not in (formats.GEOJSON, formats.SVG):
            from ..io import gis

            if gis.nodes_beside(fmt) is False:
                target.nodes_file = _targets.nodes_file(written)
        targets.append(target)

    def layers_read(path: str) -> list[str]:
        from ..io import gis

        return gis.line_layers(path, request.layer)

    _targets.check(targets, request.overwrite, layers_read)
    return targets


def run_centerline(request: Request) -> int:
    """Runs every input of the request and writes all that they give, or nothing; returns the
    exit status."""
    if request.relative is not None and not request.density:
        raise UsageError("--relative applies with --density")
    if request.density and request.tile_size is not None:
        raise UsageError("--density tiles a large input by itself: leave out --tile-size")
    buffer = request.buffer_distance
    if buffer is not None and not (buffer > 0 and math.isfinite(buffer)):
        raise UsageError(f"--buffer must be a positive finite number, got {buffer:g}")
    # A run killed while moving its outputs into place is finished before anything is read.
    paths = [p for p in [*request.inputs, request.output, request.svg] if p not in (None, "-")]
    for note in recover([os.path.dirname(os.path.abspath(p)) for p in paths]
                        + [p for p in paths if os.path.isdir(p)]):
        print(f"{PROG}: {note}", file=sys.stderr)
    targets = _targets_of(request)
    client = None
    if request.dask_scheduler is not None:
        require("distributed", "--dask-scheduler")
        from distributed import Client

        client = Client(request.dask_scheduler)
    run = _local_runner(request) if client is None else _cluster_runner(request, client)
    progress = _Progress(len(targets))
    notes: list[str] = []
    try:
        folders = [request.output] if len(request.inputs) > 1 else []
        with Transaction(folders, _targets.Guard(targets, request.overwrite)) as transaction:
            for target in targets:
                notes += _centerline_file(request, target, run, transaction)
                progress.step(target.input)
            transaction.commit()
    finally:
        progress.close()
        if client is not None:
            client.close()
    # Said once everything is written, so that an error stays a single line.
    for note in notes:
        print(f"{PROG}: {note}", file=sys.stderr)
    return 0


def _output_crs(request: Request, target: _targets.Target, frame: _frame.Frame) -> Any:
    """The CRS the result is written in: the input's, except where the format holds only
    longitude/latitude (GPX, and GeoJSON with --rfc7946)."""
    lonlat_only = target.fmt == "GPX" or (target.fmt == formats.GEOJSON and request.rfc7946)
    if not lonlat_only:
        return frame.crs
    if frame.crs is None:
        what = "GPX" if target.fmt == "GPX" else "RFC 7946 GeoJSON"
        raise UsageError(f"{what} holds longitude/latitude, and {target.input} has no CRS to "
                         "project from: write another format")
    return lonlat.GEOJSON_CRS


def _centerline_file(request: Request, target: _targets.Target,
                     run: Callable[..., tuple], transaction: Transaction) -> list[str]:
    """Runs one input and stages what it writes; returns the notes to print on success."""
    from .. import _internal

    name = target.input
    if request.rfc7946 and target.fmt != formats.GEOJSON:
        raise UsageError("--rfc7946 applies to GeoJSON output")
    in_fmt, source, given_fs, curves = _read(request, name)
    buffer = request.buffer_distance
    notes = _shapes.check_polygons(request, source, curves, name)
    settings = {p["name"]: request.options.get(p["name"]) for p in options()
                if not p["required"]}
    if settings["simplification"] is None and _shapes.curves_wanted(request, source, target.fmt):
        settings["simplification"] = 0.0
    # A drawing's dots and small shapes were drawn; polygons and scans keep them by default.
    if settings["keep_components"] is None and source.drawing is not None:
        settings["keep_components"] = True
    if source.image is not None:
        result, fs, image_notes = _shapes.run_image(request, source.image, settings, name)
        notes += image_notes
        buffer, frame = _internal._AREA_BUFFER_FRACTION * fs, _frame.Frame(None, units="pixels")
    else:
        if given_fs is None:  # only an image or a drawing can tell its own
            raise UsageError(f"{name} needs a feature size (--feature-size)")
        fs = given_fs
        if buffer is None:
            buffer = _internal._AREA_BUFFER_FRACTION * fs
        rings = [ring for outer, holes in source.polygons for ring in [outer, *holes]]
        try:
            frame = _frame.choose(in_fmt, source.crs, list(curves) + rings, buffer,
                                  planar=request.planar, geographic=request.geographic,
                                  name=name)
        except ValueError as err:
            raise UsageError(str(err)) from None
        curves = frame.to_work(curves)
        source.polygons = lonlat.map_polygons(frame.to_work, source.polygons)
        points = sum(map(len, curves)) + sum(len(r) for r in rings)
        try:
            with _point_budget(points, len(curves), _file_size(name)):
                result = _features.run(curves, source.polygons, buffer, fs, settings, run)
        except ValueError as err:
            raise ValueError(f"{err} (sizes are in {frame.units})") from None
    out_crs = _output_crs(request, target, frame)
    table, stroke_chains, column_notes = _table(result, request, curves, source, buffer, fs)
    notes += [f"warning: {n}" for n in source.notes + frame.notes] + column_notes
    if not result[0] and not source.polygons and source.image is None:
        tips = request.options.get("min_tip_fraction")
        if tips is None:
            tips = float(next(p["rule"] for p in options() if p["name"] == "min_tip_fraction"))
        notes.append(f"warning: no chains from the {len(curves)} curves of {name}: " +
                     _frame.why_empty(curves, buffer, fs, tips, frame, request.planar))
    if request.svg:
        shown, shown_result = (curves, result) if source.drawing is None else _mirrored(curves,
                                                                                         result)
        shapes = source.polygons
        if source.drawing is not None:
            shapes = [([(x, -y) for x, y in outer], [[(x, -y) for x, y in h] for h in holes])
                      for outer, holes in shapes]
        formats.stage_text(transaction, request.svg, picture(
            shown, shown_result, buffer, fs, request.options.get("merge_tolerance"),
            title=f"{PROG} centerline of {name}", stroke_chains=stroke_chains,
            polygons=shapes, buffers=not request.density))
    # Back to the input's CRS (or GPX's longitude/latitude); lengths and widths stay metres.
    table.lines = [_plain(line) for line in frame.to_output(table.lines, out_crs)]
    if table.nodes:
        table.nodes = [tuple(p) for p in _plain(frame.to_output([table.nodes], out_crs)[0])]
    geojson_crs = None
    if target.fmt == formats.GEOJSON:
        try:
            geojson_crs = lonlat.geojson_crs_name(out_crs)
        except ValueError as err:
            raise UsageError(f"cannot write {target.output}: {err}") from None
    svg_frame = source.drawing.frame if source.drawing is not None else None
    if source.image is not None:
        svg_frame = _shapes.image_frame(source.image)
    if target.fmt == formats.SVG:
        table.curves = _shapes.fitted(table.lines, request, source, fs)
    elif request.curves is not None and request.curves > 0:
        notes.append(f"warning: --curves applies to SVG output; {target.output} keeps the "
                     "chains' points")
    notes += [f"warning: {n}" for n in formats.write(
        target, table, transaction, crs=out_crs, frame=svg_frame,
        stroke_width=2 * buffer if frame.utm is None else None, geojson_crs=geojson_crs)]
    if request.feature_size is None:
        notes.append(f"feature size {fs:g}, {_shapes.feature_size_source(source)} of {name}")
    return notes


def _file_size(name: str) -> int | None:
    """The size in bytes of a regular file, None for standard input and anything else."""
    try:
        return os.stat(name).st_size if name != "-" and os.path.isfile(name) else None
    except OSError:
        return None


@contextlib.contextmanager
def _point_budget(points: int, curves: int, size: int | None) -> Iterator[None]:
    """The boundary point budget of one file: the library's per point and curve, but no more than
    FILE_POINT_BUDGET_PER_BYTE per byte of the file, with a floor a few seconds' work, unless the
    user set the variable."""
    from .. import _internal

    variable = _internal._MAX_POINTS_VARIABLE
    if variable in os.environ:
        yield
        return
    limit = (_internal._BOUNDARY_POINTS_PER_INPUT_POINT * points
             + _internal._BOUNDARY_POINTS_PER_CURVE * curves)
    if size is not None:
        limit = min(limit, FILE_POINT_BUDGET_PER_BYTE * size)
    os.environ[variable] = str(max(FILE_POINT_BUDGET_FLOOR, limit))
    try:
        yield
    finally:
        del os.environ[variable]


def _plain(line: Any) -> list:
    return line.tolist() if hasattr(line, "tolist") else list(line)
