"""Imports of the optional libraries, each failing with the extra that installs it."""

from __future__ import annotations

import importlib
from types import ModuleType

# The extra of pyproject.toml that brings each optional library.
EXTRAS = {
    "svgelements": "svg",
    "numpy": "numpy",
    "pyogrio": "gis",
    "pyproj": "gis",
    "shapely": "geo",
    "distributed": "dask",
    "dask": "dask",
    "PIL.Image": "raster",
}


class MissingExtraError(ImportError):
    """An optional library is not installed; the message names the extra that brings it."""


def require(module: str, purpose: str) -> ModuleType:
    """Imports an optional library, or raises MissingExtraError saying what needs it.

    Parameters
    ----------
    module : str
        The library's import name, a key of ``EXTRAS``.
    purpose : str
        What needs it, completing "... needs MODULE", such as "reading SVG".

    Examples
    --------
    >>> svgelements = require("svgelements", "reading SVG")  # doctest: +SKIP
    """
    try:
        return importlib.import_module(module)
    except ImportError:
        raise MissingExtraError(
            f"{purpose} needs {module}: pip install linetopo[{EXTRAS[module]}]") from None
