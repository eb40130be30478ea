"""Scanned line art in: the centerline of the ink of a grey or colour image.

The ink's outline is traced at sub-pixel accuracy (marching squares on the grey levels, in the
core, on the worker threads) into polygons, whose centerline :func:`linetopo.topologize_polygons`
gives. Sizes are in pixels and the result is in pixel coordinates with y down, as in the image,
so that an SVG of it lays over the scan.
"""

from __future__ import annotations

import os
from typing import Any

from ._extras import require

__all__ = ["centerline", "otsu_threshold", "read_grey"]

# Extensions read as images on the command line.
EXTENSIONS = (".png", ".jpg", ".jpeg", ".tif", ".tiff")


def read_grey(image: Any) -> tuple[bytes, int, int]:
    """The grey levels of an image as ``(pixels, width, height)``, one byte a pixel, row by row.

    ``image`` is a file name, a Pillow image or a 2-D array of grey levels (0 to 255). Colour
    images are made grey (Pillow's ``"L"`` mode); transparent pixels count as white paper.
    """
    if isinstance(image, (str, os.PathLike)):
        pil = require("PIL.Image", "reading images")
        try:
            with pil.open(image) as opened:
                return read_grey(opened.copy())
        except (OSError, pil.DecompressionBombError) as err:
            raise ValueError(f"cannot read {os.fspath(image)}: {err}") from None
    if hasattr(image, "getbands"):  # a Pillow image
        if "A" in image.getbands() or image.mode == "P":
            pil = require("PIL.Image", "reading images")
            rgba = image.convert("RGBA")
            paper = pil.new("RGBA", rgba.size, (255, 255, 255, 255))
            image = pil.alpha_composite(paper, rgba)
        grey = image.convert("L")
        return grey.tobytes(), grey.width, grey.height
    np = require("numpy", "reading image arrays")
    array = np.asarray(image)
    if array.ndim != 2:
        raise ValueError(f"an image array must be 2-D grey levels, got shape {array.shape}")
    if array.dtype != np.uint8:
        if array.size and not (0 <= float(array.min()) and float(array.max()) <= 255):
            raise ValueError("grey levels must lie from 0 to 255")
        array = array.astype(np.uint8)
    height, width = array.shape
    return np.ascontiguousarray(array).tobytes(), int(width), int(height)


def otsu_threshold(pixels: bytes) -> float:
    """Otsu's threshold of the grey levels: the level that best splits them into two classes
    (the largest variance between the classes); ink is darker than it. Where several levels
    split them equally well (no grey between the classes), the middle one, so that the outline
    runs halfway between ink and paper."""
    counts = _histogram(pixels)
    total = sum(counts)
    weighted = sum(level * count for level, count in enumerate(counts))
    best, first, last = -1.0, 127, 127
    below = below_weighted = 0.0
    for level in range(256):
        below += counts[level]
        below_weighted += level * counts[level]
        above = total - below
        if below == 0 or above == 0:
            continue
        mean_below = below_weighted / below
        mean_above = (weighted - below_weighted) / above
        spread = below * above * (mean_below - mean_above) ** 2
        if spread > best * (1 + 1e-12):
            best, first, last = spread, level, level
        elif spread >= best * (1 - 1e-12):
            last = level
    return (first + last) / 2 + 0.5


def _histogram(pixels: bytes) -> list[int]:
    try:
        import numpy as np

        return np.bincount(np.frombuffer(pixels, dtype=np.uint8), minlength=256).tolist()
    except ImportError:
        counts = [0] * 256
        for value in pixels:
            counts[value] += 1
        return counts


def centerline(image: Any, *, threshold: float | None = None,
               feature_size: float | None = None, invert: bool = False,
               **options: Any) -> tuple[tuple, float]:
    """The centerline of the ink of an image.

    Parameters
    ----------
    image : str, path, Pillow image or 2-D array
        A scan or drawing: a file Pillow reads (PNG, JPEG, TIFF, ...), an image, or grey levels.
    threshold : float, optional
        The grey level between ink and paper; by default Otsu's, which splits the image's grey
        levels best into two classes.
    feature_size : float, optional
        In pixels; by default the ink's mean stroke width, twice its area over the length of
        its outline.
    invert : bool
        Light ink on dark paper: ink is lighter than the threshold.
    **options
        Any option of :func:`linetopo.topologize_polygons`, such as ``compute_widths=True``;
        ``buffer_distance`` defaults to half the feature size, and ``simplification`` to half
        a pixel, the precision of the traced outline, or a tenth of the feature size if that is
        smaller.

    Returns
    -------
    result : tuple
        ``(chains, nodes, chain_node_ids, widths)`` as :func:`linetopo.topologize` returns
        them, in pixel coordinates (x right, y down; pixel (i, j) covers the unit square from
        (i, j)). None when the image holds no ink.
    feature_size : float
        The feature size used.

    Examples
    --------
    >>> from linetopo.raster import centerline
    >>> (chains, nodes, ids, widths), fs = centerline("scan.png")  # doctest: +SKIP
    """
    from ._internal import _raster

    pixels, width, height = read_grey(image)
    level = otsu_threshold(pixels) if threshold is None else float(threshold)
    return _raster.centerline(pixels, width, height, level, bool(invert), feature_size, options)
