"""Longitude/latitude data run in metres: projected to the UTM zone of its centre and back."""

from __future__ import annotations

import math
from typing import Any, Sequence

from ._extras import require

# RFC 7946 GeoJSON: WGS 84; read and written longitude first (always_xy below).
GEOJSON_CRS = "EPSG:4326"


def _pyproj() -> Any:
    return require("pyproj", "working in metres on longitude/latitude data")


def is_geographic(crs: str) -> bool:
    """Whether ``crs`` (EPSG code, WKT or anything pyproj reads) is longitude/latitude."""
    pyproj = require("pyproj", "telling whether a file's CRS is longitude/latitude")
    try:
        return bool(pyproj.CRS.from_user_input(crs).is_geographic)
    except pyproj.exceptions.CRSError as err:
        raise ValueError(f"cannot read the CRS {crs!r}: {err}") from None


def _stack(curves: Sequence[Any]) -> tuple[Any, list[int]]:
    np = require("numpy", "working in metres on longitude/latitude data")
    arrays = [np.asarray(c, dtype=float).reshape(-1, 2) for c in curves]
    sizes = [len(a) for a in arrays]
    return (np.concatenate(arrays) if arrays else np.empty((0, 2))), sizes


def _split(xy: Any, sizes: list[int]) -> list[Any]:
    np = require("numpy", "working in metres on longitude/latitude data")
    return np.split(xy, np.cumsum(sizes)[:-1]) if sizes else []


class LocalUtm:
    """The UTM zone around longitude/latitude curves, on the datum of their own CRS.

    Parameters
    ----------
    curves : sequence of curves
        Longitude/latitude points; the zone is the one of the centre of their bounding box.
    crs : str
        Their geographic CRS (EPSG code, WKT, ...).

    Examples
    --------
    >>> utm = LocalUtm([[(15.0, 78.0), (15.3, 78.1)]], "EPSG:4326")  # doctest: +SKIP
    >>> utm.zone, utm.south  # doctest: +SKIP
    (33, False)
    """

    def __init__(self, curves: Sequence[Any], crs: str) -> None:
        pyproj = _pyproj()
        from pyproj.crs import ProjectedCRS
        from pyproj.crs.coordinate_operation import UTMConversion

        xy, _ = _stack(curves)
        if len(xy) == 0:
            raise ValueError("no points to place in a UTM zone")
        lon, lat = xy[:, 0], xy[:, 1]
        if not (abs(lat).max() <= 90 and abs(lon).max() <= 360):
            raise ValueError(f"coordinates are not longitude/latitude degrees, found "
                             f"({lon[abs(lon).argmax()]:g}, {lat[abs(lat).argmax()]:g})")
        west, east = float(lon.min()), float(lon.max())
        if east - west > 180:
            # Data across the antimeridian: its centre is found with longitudes in [0, 360).
            shifted = lon % 360
            west, east = float(shifted.min()), float(shifted.max())
        centre_lon = ((west + east) / 2 + 180) % 360 - 180
        centre_lat = (float(lat.min()) + float(lat.max())) / 2
        self.zone = int(math.floor((centre_lon + 180) / 6)) % 60 + 1
        self.south = centre_lat < 0
        source = pyproj.CRS.from_user_input(crs)
        self.crs = ProjectedCRS(conversion=UTMConversion(self.zone, "S" if self.south else "N"),
                                geodetic_crs=source.geodetic_crs)
        # always_xy: GIS files and GeoJSON hold longitude first, whatever the CRS's axis order.
        self._forward = pyproj.Transformer.from_crs(source, self.crs, always_xy=True)
        self._back = pyproj.Transformer.from_crs(self.crs, source, always_xy=True)

    def _apply(self, transformer: Any, curves: Sequence[Any]) -> list[Any]:
        np = require("numpy", "working in metres on longitude/latitude data")
        xy, sizes = _stack(curves)
        try:
            x, y = transformer.transform(xy[:, 0], xy[:, 1], errcheck=True)
        except _pyproj().exceptions.ProjError as err:
            raise ValueError(f"cannot project the coordinates: {err}") from None
        return _split(np.column_stack([x, y]), sizes)

    def forward(self, curves: Sequence[Any]) -> list[Any]:
        """Longitude/latitude curves in metres, as ``(n, 2)`` arrays."""
        return self._apply(self._forward, curves)

    def back(self, curves: Sequence[Any]) -> list[Any]:
        """Curves in metres back in longitude/latitude, as ``(n, 2)`` arrays."""
        return self._apply(self._back, curves)
