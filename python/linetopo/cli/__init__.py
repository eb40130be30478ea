"""The command line: ``linetopo centerline`` on GeoJSON, SVG, GIS files and scans, and
``linetopo demo``. ``python -m linetopo`` and the installed ``linetopo`` command run :func:`main`.
"""

from ._main import main

__all__ = ["main"]
