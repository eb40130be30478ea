"""Scanned line art in: the centerline of the ink of a grey or colour image.

The ink's outline is traced at sub-pixel accuracy (marching squares on the grey levels, in the
core, on the worker threads) into polygons, whose centerline :func:`linetopo.topologize_polygons`
gives. Sizes are in pixels and the result is in pixel coordinates with y down, as in the image,
so that an SVG of it lays over the scan.
"""

from __future__ import annotations

import math
import os
import warnings
from typing import Any, Callable

from ._extras import require

__all__ = ["PhotoWarning", "centerline", "otsu_threshold", "read_grey"]

# The threshold that decides each pixel against its surroundings.
LOCAL = "local"
# Below this share of their variance between the two classes of Otsu's threshold, the grey
# levels do not split into ink and paper: line art, even noisy, stays well above (0.84 with
# noise of 40 levels); photos and pages lit unevenly fall below.
CLEAN_SPLIT = 0.8


class PhotoWarning(UserWarning):
    """The image's grey levels do not split cleanly into ink and paper."""

# Extensions read as images on the command line.
EXTENSIONS = (".png", ".jpg", ".jpeg", ".tif", ".tiff")
# Pixels converted to grey at a time, so that a colour, transparent or deep image is never
# converted whole; the histogram is counted in chunks of as many.
STRIP_PIXELS = 1 << 20
# The EXIF tag of the orientation, and the turn of Pillow's Transpose that shows each value
# upright, as viewers show it.
_EXIF_ORIENTATION = 0x0112
_ORIENTATIONS = {2: "FLIP_LEFT_RIGHT", 3: "ROTATE_180", 4: "FLIP_TOP_BOTTOM", 5: "TRANSPOSE",
                 6: "ROTATE_270", 7: "TRANSVERSE", 8: "ROTATE_90"}


def read_grey(image: Any) -> tuple[bytes | bytearray, int, int]:
    """The grey levels of an image as ``(pixels, width, height)``, one byte a pixel, row by row.

    ``image`` is a file name, a Pillow image or a 2-D array of grey levels (0 to 255). Colour
    images are made grey (Pillow's ``"L"`` mode); transparent pixels count as white paper;
    16-bit and floating-point images are scaled to 0 to 255 by their own darkest and lightest
    levels (a pixel that is not a finite number is refused); an EXIF orientation is applied, as
    viewers do. A file of more pixels than the budget
    (``LINETOPO_MAX_PIXELS``) is refused from its header, before it is decoded, and a TIFF of
    several pages is refused: each page is an image of its own.

    Examples
    --------
    >>> from PIL import Image
    >>> from linetopo.raster import read_grey
    >>> pixels, width, height = read_grey(Image.new("RGB", (4, 2), (255, 0, 0)))
    >>> width, height, list(pixels[:4])  # red is a dark grey
    (4, 2, [76, 76, 76, 76])
    """
    if isinstance(image, (str, os.PathLike)):
        return _read_file(os.fspath(image))
    if hasattr(image, "getbands"):  # a Pillow image
        return _pillow_grey(image)
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


def _read_file(name: str) -> tuple[bytes | bytearray, int, int]:
    from ._internal import _raster

    pil = require("PIL.Image", "reading images")
    try:
        with warnings.catch_warnings():
            # Pillow warns from half its own limit, on opening and on decoding; the pixel
            # budget, checked before decoding, is ours.
            warnings.simplefilter("ignore", pil.DecompressionBombWarning)
            with pil.open(name) as opened:
                try:
                    _raster.check_pixels(opened.width, opened.height)
                    pages = getattr(opened, "n_frames", 1)
                    if opened.format == "TIFF" and pages > 1:
                        raise ValueError(f"it holds {pages} pages: save the page to trace as an "
                                         "image of its own")
                    # A colour JPEG is then decoded straight to grey.
                    opened.draft("L", opened.size)
                    return _pillow_grey(opened)
                except ValueError as err:
                    raise ValueError(f"{name}: {err}") from None
    except (OSError, pil.DecompressionBombError) as err:
        raise ValueError(f"cannot read {name}: {err}") from None


def _pillow_grey(image: Any) -> tuple[bytes | bytearray, int, int]:
    """A Pillow image's grey levels, converted a strip of rows at a time into the result, so
    that no colour or deep copy of the whole image is made."""
    pil = require("PIL.Image", "reading images")
    turn = _ORIENTATIONS.get(image.getexif().get(_EXIF_ORIENTATION))
    if turn is not None:
        image = image.transpose(getattr(pil.Transpose, turn))
    width, height = image.size
    to_grey = _grey_strip(image)
    pixels = bytearray(width * height)
    rows = _strip_rows(width)
    for top in range(0, height, rows):
        bottom = min(height, top + rows)
        strip = to_grey(image.crop((0, top, width, bottom)))
        pixels[top * width:bottom * width] = strip.tobytes()
    return pixels, width, height  # a bytearray: no copy of it is made


def _grey_strip(image: Any) -> Callable[[Any], Any]:
    """How a strip of the image becomes grey (mode ``"L"``)."""
    pil = require("PIL.Image", "reading images")
    if image.mode == "L":
        return lambda strip: strip
    if image.mode == "P":
        # The palette made grey once, transparency over white paper; every strip then reads
        # its grey through it.
        sample = image.crop((0, 0, 256, 1))
        sample.frombytes(bytes(range(256)))
        grey = _over_paper(pil, sample).tobytes()
        palette = [level for level in grey for _ in range(3)]

        def through_palette(strip: Any) -> Any:
            strip.info.pop("transparency", None)
            strip.putpalette(palette)
            return strip.convert("L")

        return through_palette
    if "A" in image.getbands():
        return lambda strip: _over_paper(pil, strip)
    if image.mode in ("I", "F") or image.mode.startswith("I;16"):
        return _by_own_range(image)
    return lambda strip: strip.convert("L")


def _strip_rows(width: int) -> int:
    return max(1, STRIP_PIXELS // max(width, 1))


def _over_paper(pil: Any, image: Any) -> Any:
    """An image with transparency made grey over white paper."""
    rgba = image.convert("RGBA")
    return pil.alpha_composite(pil.new("RGBA", rgba.size, (255, 255, 255, 255)), rgba).convert("L")


def _floats(strip: Any) -> Any:
    if strip.mode not in ("I", "F"):
        strip = strip.convert("I")  # the way from every 16-bit mode to floats
    return strip if strip.mode == "F" else strip.convert("F")


def _by_own_range(image: Any) -> Callable[[Any], Any]:
    """16-bit and floating-point strips to grey, scaled by the image's own darkest and lightest
    levels: Pillow would clip them to 0 to 255, which leaves no ink."""
    pil = require("PIL.Image", "reading images")
    rows = _strip_rows(image.width)
    low, high = math.inf, -math.inf
    for top in range(0, image.height, rows):
        strip = image.crop((0, top, image.width, min(image.height, top + rows)))
        darkest, lightest = _floats(strip).getextrema()
        low, high = min(low, darkest), max(high, lightest)
    if not (math.isfinite(low) and math.isfinite(high)):
        raise ValueError(f"grey levels must be finite numbers, got {low:g} to {high:g}")
    if not high > low:  # one level throughout: paper
        return lambda strip: pil.new("L", strip.size, 255)
    scale = 255 / (high - low)
    # Pillow truncates floats to grey levels: half a level more rounds them.
    offset = 0.5 - low * scale

    def grey(strip: Any) -> Any:
        floats = _floats(strip)
        # The extremes pass over NaN, which would read as ink: a pixel that is NaN stays NaN
        # times 0, and only it becomes level 0.
        if image.mode == "F" and floats.point(lambda v: v * 0 + 1).convert("L").histogram()[0]:
            raise ValueError("grey levels must be finite numbers, and the image holds NaN")
        return floats.point(lambda v: v * scale + offset).convert("L")

    return grey


def otsu_threshold(pixels: bytes | bytearray) -> float:
    """Otsu's threshold of the grey levels: the level that best splits them into two classes
    (the largest variance between the classes); ink is darker than it. Where several levels
    split them equally well (no grey between the classes), the middle one, so that the outline
    runs halfway between ink and paper.

    Examples
    --------
    >>> from linetopo.raster import otsu_threshold
    >>> otsu_threshold(bytes([20] * 10 + [230] * 30))  # halfway between the two levels
    125.0
    """
    return _otsu(_histogram(pixels))[0]


def _otsu(counts: list[int]) -> tuple[float, float]:
    """Otsu's threshold of a histogram of grey levels (as otsu_threshold) and how cleanly it
    splits them: the share of their variance that lies between its two classes, 1 for two
    levels alone, and 1 too for one level throughout, which needs no split."""
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
    mean = weighted / max(1, total)
    variance = sum(n * (level - mean) ** 2 for level, n in enumerate(counts))
    split = best / (total * variance) if variance > 0 else 1.0
    return (first + last) / 2 + 0.5, split


def _histogram(pixels: bytes | bytearray) -> list[int]:
    try:
        import numpy as np

        levels = np.frombuffer(pixels, dtype=np.uint8)
        # In chunks: bincount takes 8 bytes a pixel.
        total = np.zeros(256, dtype=np.int64)
        for start in range(0, len(levels), STRIP_PIXELS):
            total += np.bincount(levels[start:start + STRIP_PIXELS], minlength=256)
        return total.tolist()
    except ImportError:
        counts = [0] * 256
        for value in pixels:
            counts[value] += 1
        return counts


def centerline(image: Any, *, threshold: float | str | None = None,
               feature_size: float | None = None, invert: bool = False,
               **options: Any) -> tuple[tuple, float]:
    """The centerline of the ink of an image.

    Parameters
    ----------
    image : str, path, Pillow image or 2-D array
        A scan or drawing: a file Pillow reads (PNG, JPEG, TIFF, ...), an image, or grey levels.
    threshold : float or "local", optional
        The grey level, from 0 to 255, between ink and paper: ink is darker than it (lighter
        with ``invert``). ``"local"`` decides each pixel against the grey levels around it
        (Sauvola's threshold over a window of about six feature sizes), for pages lit
        unevenly. By default Otsu's, which splits the image's grey levels best into two
        classes, where it splits them cleanly (at least 0.8 of their variance between the
        classes); the local threshold otherwise, with a warning (:class:`PhotoWarning`).
    feature_size : float, optional
        In pixels; by default the median width of the ink's strokes: twice the distance to the
        paper along their middle (less a pixel), where specks of noise and pinholes of up to 4
        pixels are left out, so that large blobs and dark margins do not sway it.
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

    Raises
    ------
    ValueError
        Besides unreadable files and bad options, when the ink's outline has more points than
        its budget (``LINETOPO_MAX_OUTLINE_POINTS``), which grows with the size of the file (or
        of an image given in memory, one byte a pixel): a pattern as fine as the pixels.

    Examples
    --------
    >>> from PIL import Image, ImageDraw
    >>> from linetopo.raster import centerline
    >>> scan = Image.new("L", (80, 40), 255)  # white paper
    >>> ImageDraw.Draw(scan).line([(10, 20), (70, 20)], fill=0, width=5)
    >>> (chains, nodes, ids, widths), fs = centerline(scan)
    >>> fs  # the ink's width, in pixels
    5.0
    >>> [(round(x), round(y)) for x, y in chains[0]]
    [(12, 21), (69, 21)]
    """
    from ._internal import _raster

    pixels, width, height = read_grey(image)
    level, local = choose_threshold(pixels, threshold)
    return _raster.centerline(pixels, width, height, level, bool(invert), feature_size, options,
                              encoded_size(image, width * height), local)


def choose_threshold(pixels: bytes | bytearray,
                     threshold: float | str | None) -> tuple[float, bool]:
    """The grey level to trace at, and whether it is to be decided locally around that level:
    the threshold given, the local one, or by default Otsu's where it splits the grey levels
    cleanly and the local one otherwise, which a one-line PhotoWarning says (a photo, whose
    centerline means little, or a page lit unevenly)."""
    if threshold is not None and threshold != LOCAL:
        return float(threshold), False
    level, split = _otsu(_histogram(pixels))
    if threshold is None and split < CLEAN_SPLIT:
        warnings.warn(f"the grey levels do not split cleanly into ink and paper (separability "
                      f"{split:.2f}): a photo, whose centerline means little, or a page lit "
                      "unevenly, which the local threshold takes", PhotoWarning, stacklevel=3)
        return level, True
    return level, threshold == LOCAL


def encoded_size(image: Any, pixels: int) -> int:
    """The bytes an image came in, which set its outline's budget: a file's size, else one a
    pixel."""
    if isinstance(image, (str, os.PathLike)):
        return os.path.getsize(image)
    return pixels
