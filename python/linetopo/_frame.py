"""Where the command line works on its data: the CRS they are in, the frame they are worked in,
the unit the sizes take, and, when a run gives nothing, the likely reason."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any, Sequence

from ._extras import MissingExtraError
from .io import lonlat

# Buffers above this many degrees are kilometres wide: metres taken for degrees, most likely.
DEGREE_BUFFER = 0.01
# Offsets smaller than this share of the coordinates' size are lost to rounding.
PRECISION = 1e-9


@dataclass
class Frame:
    """``crs``: the CRS of the input's coordinates (None for plain numbers); ``utm``: the local
    metric CRS they are worked in, or None to work on them as they are; ``units``: what the
    sizes are in, for messages; ``notes``: what the user should know about the choice."""

    crs: str | None
    utm: lonlat.LocalUtm | None = None
    units: str = "the data's own units"
    notes: list[str] = field(default_factory=list)

    def to_work(self, curves: list) -> list:
        return curves if self.utm is None else self.utm.forward(curves)

    def to_output(self, curves: list, crs: str | None) -> list:
        """Worked-on curves in ``crs``, the input's CRS or another (GPX's longitude/latitude)."""
        if self.utm is not None:
            curves = self.utm.back(curves)
        if crs is None or self.crs is None or crs == self.crs:
            return curves
        if lonlat.parse_crs(crs).is_exact_same(lonlat.parse_crs(self.crs)):
            return curves
        return lonlat.reproject(curves, self.crs, crs)


def _box(curves: Sequence[Any]) -> tuple[float, float, float, float] | None:
    xs = [float(p[0]) for c in curves for p in c]
    ys = [float(p[1]) for c in curves for p in c]
    return (min(xs), min(ys), max(xs), max(ys)) if xs else None


def _fits_lonlat(box: tuple[float, float, float, float] | None) -> bool:
    return box is not None and min(box[0], -box[2]) >= -180 and min(box[1], -box[3]) >= -90


def looks_like_metres_on_degrees(curves: Sequence[Any], buffer: float) -> bool:
    """Degree-like coordinates with a buffer that only makes sense in metres: above
    ``DEGREE_BUFFER`` and more than a tenth of the data's extent."""
    if not buffer > DEGREE_BUFFER:
        return False
    box = _box(curves)
    return (box is not None and _fits_lonlat(box)
            and buffer > max(box[2] - box[0], box[3] - box[1]) / 10)


def plain_units(crs: str | None) -> str:
    if crs is None:
        return "the data's own units"
    try:
        parsed = lonlat.parse_crs(crs)
    except MissingExtraError:
        return f"the units of {crs}"
    unit = parsed.axis_info[0].unit_name if parsed.axis_info else "unknown"
    return f"{unit}s of {lonlat.describe(crs)}"


def choose(kind: str, crs: str | None, curves: list, buffer: float, *, planar: bool,
           geographic: bool, name: str) -> Frame:
    """The frame to work on ``curves`` of input ``name`` in.

    ``kind`` is the input's format (``"geojson"``, ``"svg"`` or ``"gis"``). Longitude/latitude,
    and projected CRS whose unit is not a ground metre on the data, run in their UTM zone so that
    sizes are ground metres; ``planar`` keeps the numbers, ``geographic`` takes them as
    longitude/latitude. GeoJSON without a crs member is RFC 7946's longitude/latitude when its
    numbers fit it and the buffer is clearly in metres.
    """
    if kind == "svg":
        if geographic:
            raise ValueError("--geographic does not apply to SVG drawings")
        return Frame(None, units="the drawing's user units")
    if geographic:
        if crs is not None and not lonlat.is_geographic(crs):
            raise ValueError(f"--geographic: the CRS of {name} is not longitude/latitude")
        crs = crs or lonlat.GEOJSON_CRS
        utm = lonlat.LocalUtm(curves, crs)
        return Frame(crs, utm, f"ground metres (worked in {utm})")
    if planar:
        return Frame(crs, units=plain_units(crs))
    notes = []
    if crs is None and kind == "geojson" and looks_like_metres_on_degrees(curves, buffer):
        try:
            lonlat.parse_crs(lonlat.GEOJSON_CRS)
        except MissingExtraError:
            notes.append(f"the coordinates look like longitude/latitude degrees, and a buffer of "
                         f"{buffer:g} of them spans the data; pass --geographic to give sizes in "
                         "metres (pip install linetopo[gis])")
            return Frame(None, notes=notes)
        crs = lonlat.GEOJSON_CRS
        notes.append(f"{name} has no crs member and its coordinates fit longitude/latitude: "
                     "taken as GeoJSON's WGS 84 longitude/latitude, with sizes in metres "
                     "(--planar keeps the numbers as they are)")
    if crs is not None and lonlat.needs_local_metres(crs, curves):
        utm = lonlat.LocalUtm(curves, crs)
        return Frame(crs, utm, f"ground metres ({lonlat.describe(crs)} worked in {utm})", notes)
    return Frame(crs, units=plain_units(crs), notes=notes)


def why_empty(curves: Sequence[Any], buffer: float, feature_size: float, tip_fraction: float,
              frame: Frame, planar: bool) -> str:
    """The likely reason a run gave no chain, with the unit of the sizes."""
    box = _box(curves)
    degrees = planar and _fits_lonlat(box) and (
        frame.crs is None or lonlat.is_geographic(frame.crs))
    if degrees:
        return (f"the coordinates look like longitude/latitude, and with --planar a buffer of "
                f"{buffer:g} and a feature size of {feature_size:g} are taken as degrees: drop "
                "--planar to give them in metres")
    magnitude = max(map(abs, box)) if box else 0.0
    if buffer < magnitude * PRECISION:
        return (f"a buffer of {buffer:g} {frame.units} is below what coordinates as large as "
                f"{magnitude:g} can resolve")
    prune = feature_size * tip_fraction
    longest = max((sum(math.dist(p, q) for p, q in zip(c[:-1], c[1:])) for c in curves),
                  default=0.0)
    if longest < prune:
        return (f"every curve is shorter than the pruning length {prune:g} (feature size × "
                f"min tip fraction) in {frame.units}; the longest is {longest:g}")
    return (f"the curves stay apart at a buffer of {buffer:g} {frame.units}, which may be smaller "
            f"than the gaps between them, and each piece is pruned as a tip shorter than {prune:g}")
