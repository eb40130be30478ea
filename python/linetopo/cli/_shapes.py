"""What the centerline command does for areas rather than lines: polygons, scans, and drawings
written back as smooth curves."""

from __future__ import annotations

import warnings
from typing import TYPE_CHECKING

from ..io import formats

if TYPE_CHECKING:
    from ._request import Request


class UsageError(Exception):
    """A problem with what the user asked for, reported as one line and exit status 2."""


# Drawings and scans are written as Bézier curves within this share of the feature size, unless
# told otherwise.
CURVE_TOLERANCE_SHARE = 0.1
# SVG curves are flattened into polylines within this share of the feature size, unless told
# otherwise: finer than the centerline's own simplification, so that it decides the shape.
FLATTEN_TOLERANCE_SHARE = 0.05


def share_text(share: float) -> str:
    """A share of the feature size as help and messages give it: "the feature size / 20"."""
    return f"the feature size / {1 / share:g}"


def check_polygons(request: Request, source: formats.Source, curves: list,
                   name: str) -> list[str]:
    """Refuses what does not apply to polygons and scans; the note for input of both lines and
    polygons."""
    areas_only = source.image is not None or (
        bool(source.polygons) and not any(len(c) >= 2 for c in curves))
    what = "an image" if source.image is not None else "polygons"
    if source.image is None:
        for flag, value in (("--threshold", request.threshold), ("--invert", request.invert)):
            if value not in (None, False):
                raise UsageError(f"{flag} applies to images (.png, .jpg, .tif)")
        if not source.polygons:
            return []
    if areas_only and request.buffer_distance is not None:
        raise UsageError(f"--buffer applies to lines, and {name} holds {what} only")
    for flag, value in (("--tile-size", request.tile_size),
                        ("--dask-scheduler", request.dask_scheduler),
                        ("--density", request.density or None)):
        if value is not None:
            raise UsageError(f"{flag} applies to lines only, and {name} holds {what}")
    if areas_only:
        return []
    return [f"{name} holds lines and polygons: the lines are buffered and united with the "
            "polygons, whose centerline follows their own outline"]


def run_image(request: Request, image: tuple[bytes | bytearray, int, int], settings: dict,
              name: str) -> tuple[tuple, float, list[str]]:
    """The centerline of a scan's ink, the feature size it took and the notes to print."""
    from .. import raster
    from .._internal import _raster

    pixels, width, height = image
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", raster.PhotoWarning)
        threshold, local = raster.choose_threshold(pixels, request.threshold)
    notes = [f"warning: {w.message}" for w in caught]
    options = {k: v for k, v in settings.items() if k != "merge_tolerance" and v is not None}
    result, fs = _raster.centerline(pixels, width, height, threshold, bool(request.invert),
                                    request.feature_size, options,
                                    raster.encoded_size(name, width * height), local)
    if result is None:
        side = "lighter" if request.invert else "darker"
        raise UsageError(f"no ink in {name}: no pixel is {side} than the threshold "
                         f"{threshold:g}" + ("" if request.invert else
                                             " (--invert takes light ink)"))
    return result, fs, notes


def image_frame(image: tuple[bytes | bytearray, int, int]) -> dict[str, str]:
    """The SVG root's size of a scan's result: the image's, in pixels, so that it lays over it."""
    _, width, height = image
    return {"width": str(width), "height": str(height), "viewBox": f"0 0 {width} {height}"}


def curves_wanted(request: Request, source: formats.Source, fmt: str) -> bool:
    """Whether the chains are written as Bézier curves: SVG output with --curves, or by default
    from drawings and scans. The curves are then fitted to the chains before simplification, so
    that they keep within --curves of the centerline itself, not of a polyline already up to a
    tenth of the feature size off it."""
    if fmt != formats.SVG:
        return False
    if request.curves is None:
        return source.drawing is not None or source.image is not None
    return request.curves > 0


def fitted(lines: list, request: Request, source: formats.Source,
           fs: float) -> list | None:
    """Each line as cubic Bézier pieces for SVG output: within --curves, by default a tenth of
    the feature size for drawings and scans; None for straight polylines."""
    from .. import fit_curves

    if not curves_wanted(request, source, formats.SVG):
        return None
    tolerance = CURVE_TOLERANCE_SHARE * fs if request.curves is None else request.curves
    return [fit_curves(line, tolerance) for line in lines]


def feature_size_source(source: formats.Source) -> str:
    """Where the feature size came from when none was given, for the note that says so."""
    if source.image is not None:
        return "the median stroke width (along the middle of the ink's strokes)"
    if source.drawing is None or source.drawing.paths:
        return "the median stroke width"
    return "the median width (twice the area over the outline) of the filled shapes"
