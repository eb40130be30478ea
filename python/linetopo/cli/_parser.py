"""The command line's parser: its subcommands and flags, the library's options taken from the
core's own table."""

from __future__ import annotations

import argparse
import sys
from typing import Any, Callable

from .. import _provenance
from . import _shapes
from ._centerline import PROG, options

DEFAULT_DEMO_SVG = "linetopo-demo.svg"


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> None:  # type: ignore[override]
        # Each parser has a short fixed usage, so the report stays at two lines however many
        # options there are.
        self.print_usage(sys.stderr)
        self.exit(2, f"{self.prog}: error: {message}\n")


def _threshold(text: str) -> float | str:
    """A grey level, or "local"."""
    return text if text == "local" else float(text)


def _non_negative_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid int value: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative, got {value}")
    return value


# Facts that belong to the command line alone: buffer_distance may be left out, and so may
# feature_size for SVG and image input (main requires it for the rest).
_CLI_DEFAULTS = {
    "buffer_distance": "half the feature size",
    "tile_size": "no tiles, one call for the whole input",
    "feature_size": "the median stroke width for SVG input and for an image, required "
                    "otherwise",
}
# Said in --help, and in every message about sizes of such data.
_SIZES = ("Sizes are in the data's units, except where the CRS is longitude/latitude or its unit "
          "is not a ground metre at the data (Web Mercator, feet): there they are ground metres, "
          "worked in the data's UTM zone, and the result goes back to the data's CRS.")
_CLI_TYPES: dict[str, Callable[[str], Any]] = {
    "float": float, "optional float": float, "optional int": _non_negative_int,
    "optional text": str}


def _defaults_for_areas() -> dict[str, str]:
    """The defaults of the options that images and polygons take otherwise, as --help says them:
    the library's own, for lines and for areas (SVG drawings keep small shapes as areas do)."""
    from .._internal import _SIGNATURE_DEFAULTS

    areas = _SIGNATURE_DEFAULTS["topologize_polygons"]
    lines = {p["name"]: p["rule"] for p in options()}
    texts = {name: f"{lines[name]} for lines, {rule} for images and polygons"
             for name, rule in areas.items() if name in lines and name not in _CLI_DEFAULTS}
    texts["keep_components"] = (f"{areas['keep_components']} for SVG, images and polygons, "
                                f"{lines['keep_components']} for other lines")
    return texts


def _add_options(parser: argparse.ArgumentParser) -> None:
    defaults = {**_CLI_DEFAULTS, **_defaults_for_areas()}
    for p in options():
        help_text = p["help"]
        if p["name"] in defaults:
            help_text += f" (default: {defaults[p['name']]})"
        elif not p["required"] and p["kind"] != "bool":
            help_text += f" (default: {p['rule']})"
        # argparse expands % in help texts.
        help_text = help_text.replace("%", "%%")
        if p["kind"] == "bool":
            parser.add_argument(p["cli"], dest=p["name"], action="store_true", help=help_text)
            continue
        if p["kind"] == "optional bool":
            parser.add_argument(p["cli"], dest=p["name"], action=argparse.BooleanOptionalAction,
                                help=help_text)
            continue
        required = p["required"] and p["name"] not in defaults
        parser.add_argument(p["cli"], dest=p["name"], type=_CLI_TYPES[p["kind"]], required=required,
                            metavar=p["metavar"], help=help_text)


def _version_text() -> str:
    from .. import __version__
    from .._internal import _VERSIONS

    libraries = ", ".join(f"{name} {version}" for name, version in _VERSIONS.items())
    return f"{PROG} {__version__} ({libraries})"


def build_parser() -> argparse.ArgumentParser:
    """The parser of the `linetopo` command and its subcommands."""
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
        help="compute the centerline of the lines and areas in a GeoJSON, SVG, GIS or image file",
        description="Reads the lines and polygons of a GeoJSON, SVG or GIS file (GeoPackage, "
        "Shapefile, FlatGeobuf, GPX, ...) or the ink of a scan (.png, .jpg, .tif), writes the "
        "centerline chains and their nodes. The format follows from the extension: .geojson or "
        ".json, .svg, an image's, anything else through GDAL. " + _SIZES,
    )
    line.set_defaults(command_parser=line)
    line.add_argument("input", metavar="INPUT", nargs="+",
                      help="file to read, or - for standard input; several files are independent "
                      "sets, each written into the folder OUTPUT under its own stem")
    line.add_argument("-o", "--output", metavar="OUTPUT", required=True,
                      help="file to write, or - for standard output; with several inputs, a folder")
    line.add_argument("--overwrite", action="store_true",
                      help="replace existing output files, and our layers in an existing "
                      "GeoPackage (whose other layers are always kept); an input is never replaced")
    line.add_argument("--layer-name", metavar="PREFIX",
                      help="write the layers PREFIX_chains (or PREFIX_strokes) and PREFIX_nodes "
                      "instead of chains and nodes")
    _add_options(line)
    line.add_argument("--format", metavar="NAME",
                      help="format where the file name does not tell (standard input and output, "
                      "other extensions): geojson, svg, gpkg, shp, fgb, gpx or a GDAL driver name")
    line.add_argument("--layer", metavar="NAME",
                      help="the layer of a GIS file to read (default: every line layer)")
    line.add_argument("--skip-invalid", action="store_true",
                      help="skip features of a GIS file whose geometry cannot be read, with a "
                      "warning, instead of stopping")
    line.add_argument("--rfc7946", action="store_true",
                      help="write GeoJSON as RFC 7946 has it: longitude/latitude, without a crs "
                      "member (by default projected data keep their CRS and name it)")
    frame = line.add_mutually_exclusive_group()
    frame.add_argument("--planar", action="store_true",
                       help="take the coordinates and sizes as plain numbers, even where the "
                       "CRS is longitude/latitude or its unit is not a ground metre")
    frame.add_argument("--geographic", action="store_true",
                       help="take the coordinates as longitude/latitude and work in metres in the "
                       "local UTM zone, as for a file whose CRS is longitude/latitude")
    line.add_argument("--flatten-tolerance", metavar="T", type=float,
                      help="how far SVG curves may stray from their polylines (default: "
                      f"{_shapes.share_text(_shapes.FLATTEN_TOLERANCE_SHARE)})")
    line.add_argument("--strokes", action="store_true",
                      help="write one line per drawn stroke, joined through junctions, with the "
                      "chains it follows, instead of the chains and nodes")
    line.add_argument("--threshold", metavar="T", type=_threshold,
                      help="for an image: the grey level (0 to 255) between ink and paper "
                      "(default: Otsu's, which splits the grey levels best), or local: each "
                      "pixel against the grey levels around it, for pages lit unevenly")
    line.add_argument("--invert", action="store_true",
                      help="for an image: the ink is light on dark paper")
    line.add_argument("--curves", metavar="TOL", type=float,
                      help="write SVG chains as cubic Bézier curves within TOL of their points "
                      "(default for SVG and image input: "
                      f"{_shapes.share_text(_shapes.CURVE_TOLERANCE_SHARE)}; 0 writes polylines)")
    line.add_argument("--attributes", choices=_provenance.AGGREGATIONS,
                      default=_provenance.DEFAULT_AGGREGATION,
                      help="how a line takes each attribute of the input features it follows "
                      "(its sources): the value that runs along most of it, the first "
                      "source's, a JSON list of the distinct values, no attribute columns, or "
                      "for columns of numbers their sum, mean (weighted by the length each runs "
                      "along the line) or largest, the other columns taking the mode (default: "
                      "%(default)s); "
                      "every line also gets support, its number of sources")
    line.add_argument("--density", action="store_true",
                      help="for many traces of the same streets (GPS): the centerline of where "
                      "the lines run densely (density_centerline) instead of their buffers' "
                      "union; --buffer then only sets the boundary refinement")
    from .._internal import _DENSITY_DEFAULTS

    line.add_argument("--relative", metavar="R", type=float,
                      help="with --density: the share of the busiest traffic nearby a place "
                      f"needs to count as road, from 0 to 1 (default "
                      f"{_DENSITY_DEFAULTS['relative']:g}); higher drops more quiet streets "
                      "beside busy ones")
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


