"""Sizes in ground metres: data whose CRS units are not metres on the ground (longitude/latitude,
Web Mercator, feet) run in the UTM zone of their centre and go back to their own CRS after."""

from __future__ import annotations

import math
import re
from typing import Any, Sequence

from .._extras import require

# RFC 7946 GeoJSON: WGS 84; read and written longitude first (always_xy below).
GEOJSON_CRS = "EPSG:4326"
# A projected CRS whose unit is within this share of a ground metre everywhere on the data's box
# is worked in as it is: UTM within its zone (0.1 %) or a national grid. Web Mercator away from
# the equator (56 % at 50° N) and feet are far beyond it.
GROUND_SCALE_TOLERANCE = 0.005
# Authorities whose codes name a CRS in a GeoJSON crs member.
_URN = "urn:ogc:def:crs:{}::{}"
_WGS84_LONLAT = {("EPSG", "4326"), ("OGC", "CRS84")}


def _pyproj() -> Any:
    return require("pyproj", "working in metres on longitude/latitude data")


def _np() -> Any:
    return require("numpy", "working in metres on longitude/latitude data")


def parse_crs(crs: Any) -> Any:
    """A pyproj CRS from anything pyproj reads; ValueError naming what it could not read."""
    pyproj = require("pyproj", "reading a CRS")
    try:
        return pyproj.CRS.from_user_input(crs)
    except pyproj.exceptions.CRSError as err:
        raise ValueError(f"cannot read the CRS {str(crs)[:80]!r}: {err}") from None


def is_geographic(crs: Any) -> bool:
    """Whether ``crs`` (EPSG code, WKT or anything pyproj reads) is longitude/latitude."""
    return bool(parse_crs(crs).is_geographic)


def describe(crs: Any) -> str:
    """A short name for messages, such as ``EPSG:3857 (WGS 84 / Pseudo-Mercator)``."""
    parsed = parse_crs(crs)
    code = parsed.to_authority(min_confidence=70)
    return f"{code[0]}:{code[1]} ({parsed.name})" if code else parsed.name


def geojson_crs_name(crs: Any) -> str | None:
    """The name for a GeoJSON ``crs`` member; None for WGS 84 longitude/latitude, GeoJSON's own.

    ValueError for a CRS that has no authority code to name it by.
    """
    if crs is None:
        return None
    text = str(crs)
    named = re.fullmatch(r"(?:urn:ogc:def:crs:)?(EPSG|OGC)(?::[\d.]*)?:+(\w+)", text, re.I)
    if named:  # as GDAL reports most CRS, or as a crs member names them
        code = (named[1].upper(), named[2])
    else:
        code = parse_crs(crs).to_authority(min_confidence=70)
    if code is None:
        raise ValueError("the CRS has no EPSG code to name in GeoJSON: write another format, or "
                         "--rfc7946 for longitude/latitude")
    return None if (code[0], code[1].upper()) in _WGS84_LONLAT else _URN.format(*code)


def _stack(curves: Sequence[Any]) -> tuple[Any, list[int]]:
    np = _np()
    arrays = [np.asarray(c, dtype=float).reshape(-1, 2) for c in curves]
    sizes = [len(a) for a in arrays]
    return (np.concatenate(arrays) if arrays else np.empty((0, 2))), sizes


def _split(xy: Any, sizes: list[int]) -> list[Any]:
    np = _np()
    return np.split(xy, np.cumsum(sizes)[:-1]) if sizes else []


def _transform(transformer: Any, xy: Any) -> Any:
    np = _np()
    try:
        x, y = transformer.transform(xy[:, 0], xy[:, 1], errcheck=True)
    except _pyproj().exceptions.ProjError as err:
        raise ValueError(f"cannot project the coordinates: {err}") from None
    return np.column_stack([x, y])


def reproject(curves: Sequence[Any], source: Any, target: Any) -> list[Any]:
    """``curves`` from CRS ``source`` to CRS ``target``, as ``(n, 2)`` arrays, longitude first."""
    transformer = _pyproj().Transformer.from_crs(parse_crs(source), parse_crs(target),
                                                always_xy=True)
    xy, sizes = _stack(curves)
    return _split(_transform(transformer, xy), sizes)


def ground_scale(crs: Any, curves: Sequence[Any]) -> float | None:
    """Ground metres per unit of a projected ``crs`` on the data, the one farthest from 1 along
    either axis at the centre and corners of the data's box; None for any other CRS or where the
    points have no place on the ground."""
    pyproj, np = _pyproj(), _np()
    parsed = parse_crs(crs)
    xy, _ = _stack(curves)
    if not parsed.is_projected or len(xy) == 0:
        return None
    (x0, y0), (x1, y1) = xy.min(axis=0), xy.max(axis=0)
    probes = np.array([((x0 + x1) / 2, (y0 + y1) / 2), (x0, y0), (x0, y1), (x1, y0), (x1, y1)])
    # One unit along each axis from every probe, measured on the ellipsoid.
    steps = np.concatenate([probes, probes + (1.0, 0.0), probes + (0.0, 1.0)])
    to_lonlat = pyproj.Transformer.from_crs(parsed, parsed.geodetic_crs, always_xy=True)
    try:
        lonlat = _transform(to_lonlat, steps)
    except ValueError:
        return None
    n = len(probes)
    geod = parsed.get_geod()
    scales = []
    for offset in (n, 2 * n):
        _, _, metres = geod.inv(lonlat[:n, 0], lonlat[:n, 1], lonlat[offset:offset + n, 0],
                                lonlat[offset:offset + n, 1])
        scales.extend(metres)
    if not all(math.isfinite(s) and s > 0 for s in scales):
        return None
    return float(max(scales, key=lambda s: abs(s - 1)))


def needs_local_metres(crs: Any, curves: Sequence[Any]) -> bool:
    """Whether sizes given in ground metres need the data in a local metric CRS first:
    longitude/latitude, or a projected CRS whose unit is not a ground metre on the data."""
    parsed = parse_crs(crs)
    if parsed.is_geographic:
        return True
    scale = ground_scale(parsed, curves)
    return scale is not None and abs(scale - 1) > GROUND_SCALE_TOLERANCE


def map_polygons(fn: Any, polygons: Sequence[tuple[Any, Sequence[Any]]]) -> list[Any]:
    """``fn`` (which maps a list of curves, such as :meth:`LocalUtm.forward`) applied to every
    ring of the polygons in one call, and the polygons made again of what it returns."""
    rings = [ring for outer, holes in polygons for ring in [outer, *holes]]
    if not rings:
        return []
    mapped = fn(rings)
    out, k = [], 0
    for _, holes in polygons:
        out.append((mapped[k], list(mapped[k + 1:k + 1 + len(holes)])))
        k += 1 + len(holes)
    return out


# UTM's scale at its central meridian: lengths there come out this much short.
_UTM_SCALE = 0.9996


def _check_zone_holds(lon: Any, lat: Any, zone: int) -> None:
    """ValueError where UTM zone ``zone`` stretches the data's lengths by more than
    GROUND_SCALE_TOLERANCE: data wider than about a zone either side of it, or across half the
    globe (transverse Mercator's scale is k0 / sqrt(1 - (cos(lat) sin(lon - lon0))^2))."""
    np = _np()
    meridian = math.radians(6 * zone - 183)
    b = np.cos(np.radians(lat)) * np.sin(np.radians(lon) - meridian)
    far = np.abs(np.radians(lon) - meridian)
    far = np.minimum(far % (2 * math.pi), 2 * math.pi - far % (2 * math.pi))
    worst = float(np.max(b * b))
    stretch = math.inf if worst >= 1.0 or float(far.max()) >= math.pi / 2 else (
        _UTM_SCALE / math.sqrt(1.0 - worst) - 1.0)
    if stretch > GROUND_SCALE_TOLERANCE:
        reach = math.degrees(float(far.max()))
        how = ("cannot hold them" if math.isinf(stretch) else
               f"stretches lengths by {100 * stretch:.2g} %")
        raise ValueError(
            f"the data reach {reach:.1f}° of longitude from the middle of UTM zone {zone}, which "
            f"{how} (at most {100 * GROUND_SCALE_TOLERANCE:g} % is taken): run the regions apart, "
            "or reproject the data to a CRS in metres made for all of it")


class LocalUtm:
    """The UTM zone around curves of any CRS with a place on the ground, on that CRS's datum.

    Parameters
    ----------
    curves : sequence of curves
        Points in ``crs``; the zone is the one of the centre of their longitude/latitude box.
    crs : str
        Their CRS (EPSG code, WKT, ...): longitude/latitude, Web Mercator, feet, ...

    Examples
    --------
    >>> utm = LocalUtm([[(15.0, 78.0), (15.3, 78.1)]], "EPSG:4326")  # doctest: +SKIP
    >>> utm.zone, utm.south  # doctest: +SKIP
    (33, False)
    """

    def __init__(self, curves: Sequence[Any], crs: Any) -> None:
        pyproj = _pyproj()
        from pyproj.crs import ProjectedCRS
        from pyproj.crs.coordinate_operation import UTMConversion

        source = parse_crs(crs)
        xy, _ = _stack(curves)
        if len(xy) == 0:
            raise ValueError("no points to place in a UTM zone")
        if source.is_geographic:
            lon, lat = xy[:, 0], xy[:, 1]
            if not (abs(lat).max() <= 90 and abs(lon).max() <= 360):
                raise ValueError(f"coordinates are not longitude/latitude degrees, found "
                                 f"({lon[abs(lon).argmax()]:g}, {lat[abs(lat).argmax()]:g})")
        else:
            to_lonlat = pyproj.Transformer.from_crs(source, source.geodetic_crs, always_xy=True)
            lonlat = _transform(to_lonlat, xy)
            lon, lat = lonlat[:, 0], lonlat[:, 1]
        west, east = float(lon.min()), float(lon.max())
        if east - west > 180:
            # Data across the antimeridian: its centre is found with longitudes in [0, 360).
            shifted = lon % 360
            west, east = float(shifted.min()), float(shifted.max())
        centre_lon = ((west + east) / 2 + 180) % 360 - 180
        centre_lat = (float(lat.min()) + float(lat.max())) / 2
        self.zone = int(math.floor((centre_lon + 180) / 6)) % 60 + 1
        _check_zone_holds(lon, lat, self.zone)
        self.south = centre_lat < 0
        self.source = source
        self.crs = ProjectedCRS(conversion=UTMConversion(str(self.zone), "S" if self.south else "N"),
                                geodetic_crs=source.geodetic_crs)
        # always_xy: GIS files and GeoJSON hold longitude first, whatever the CRS's axis order.
        self._forward = pyproj.Transformer.from_crs(source, self.crs, always_xy=True)
        self._back = pyproj.Transformer.from_crs(self.crs, source, always_xy=True)

    def __str__(self) -> str:
        return f"UTM zone {self.zone}{'S' if self.south else 'N'}"

    def _apply(self, transformer: Any, curves: Sequence[Any]) -> list[Any]:
        xy, sizes = _stack(curves)
        return _split(_transform(transformer, xy), sizes)

    def forward(self, curves: Sequence[Any]) -> list[Any]:
        """Curves of the source CRS in metres, as ``(n, 2)`` arrays."""
        return self._apply(self._forward, curves)

    def back(self, curves: Sequence[Any]) -> list[Any]:
        """Curves in metres back in the source CRS, as ``(n, 2)`` arrays."""
        return self._apply(self._back, curves)
