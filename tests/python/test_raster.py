"""Scans in: the centerline of an image's ink, through the library and the command line."""

import math
import xml.etree.ElementTree as ET

import pytest

PIL = pytest.importorskip("PIL.Image")
from linetopo.raster import centerline, otsu_threshold  # noqa: E402
from PIL import ExifTags, ImageDraw  # noqa: E402

WIDTH = 12


def drawing(ink=0, paper=255, mode="L"):
    """A T of two strokes and a ring, 12 pixels wide, drawn with Pillow."""
    image = PIL.new(mode, (400, 300), paper)
    pen = ImageDraw.Draw(image)
    pen.line([(50, 50), (350, 50)], fill=ink, width=WIDTH)
    pen.line([(200, 50), (200, 250)], fill=ink, width=WIDTH)
    pen.ellipse([(60, 120), (160, 220)], outline=ink, width=WIDTH)
    return image


def test_the_centerline_of_a_drawn_t_and_ring():
    (chains, nodes, ids, _), fs = centerline(drawing())
    assert fs == pytest.approx(WIDTH, rel=0.2)  # the strokes' median width
    loops = [c for c, (s, e) in zip(chains, ids) if s == e]
    assert len(loops) == 1 and all(abs(math.dist(p, (110.5, 170.5)) - 44.5) < 2 for p in loops[0])
    degrees = {}
    for s, e in ids:
        degrees[s] = degrees.get(s, 0) + 1
        degrees[e] = degrees.get(e, 0) + 1
    [junction] = [n for n, d in degrees.items() if d == 3]
    assert math.dist(nodes[junction], (200.5, 50.5)) < WIDTH / 2
    ends = sorted(nodes[n] for n, d in degrees.items() if d == 1)
    for end, want in zip(ends, [(50, 50), (200, 250), (350, 50)]):
        assert math.dist(end, want) < WIDTH


@pytest.mark.parametrize("options", [{}, {"simplification": None}])
def test_a_wide_stroke_keeps_its_centerline_to_a_pixel(options):
    # fs / 10 would be near 4 px here: chords of the simplified ring would stray 3 px.
    image = PIL.new("L", (400, 400), 255)
    ImageDraw.Draw(image).ellipse([(50, 50), (350, 350)], outline=0, width=40)
    (chains, _, _, _), fs = centerline(image, **options)
    assert fs / 10 > 3 and len(chains) == 1
    ring = chains[0]
    for p, q in zip(ring, ring[1:]):
        for t in (0, 0.25, 0.5, 0.75):
            at = (p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1]))
            assert abs(math.dist(at, (200.5, 200.5)) - 130.5) < 1.5


@pytest.mark.parametrize("options", [{}, {"boundary_simplification": 0}])
def test_a_noisy_scan_keeps_the_topology_of_its_ink(options):
    # Unthinned, the pixel-fine outline of a wide noisy stroke welds into loops and spurs;
    # unsmoothed, its centerline saw-tooths 3 px off the axis (at the default options).
    numpy = pytest.importorskip("numpy")
    from PIL import ImageFilter

    image = PIL.new("L", (400, 300), 255)
    pen = ImageDraw.Draw(image)
    pen.line([(40, 50), (360, 50)], fill=0, width=30)
    pen.line([(200, 50), (200, 270)], fill=0, width=30)
    grey = numpy.asarray(image.filter(ImageFilter.GaussianBlur(1.5)), dtype=float)
    noise = numpy.random.default_rng(0).normal(0, 40, grey.shape)
    (chains, _, ids, _), _ = centerline(numpy.clip(grey + noise, 0, 255).astype(numpy.uint8),
                                        **options)
    assert len(chains) == 3 and all(start != end for start, end in ids)
    for x, y in (p for chain in chains for p in chain if not options):
        if 80 < x < 320 and y < 60 and abs(x - 200.5) > 30:
            assert abs(y - 50.5) < 2
        if 100 < y < 230:
            assert abs(x - 200.5) < 2


@pytest.mark.parametrize("variant", ["array", "invert", "colour"])
def test_the_same_ink_whatever_form_the_image_takes(variant):
    numpy = pytest.importorskip("numpy")
    want = centerline(drawing())
    if variant == "array":
        got = centerline(numpy.asarray(drawing()))
    elif variant == "invert":
        got = centerline(drawing(ink=255, paper=0), invert=True)
    else:
        got = centerline(drawing(ink=(0, 0, 0), paper=(255, 255, 255), mode="RGB"))
    assert got == want


def test_threshold_and_empty_images():
    pixels = bytes([20] * 700 + [230] * 300)
    assert 20 < otsu_threshold(pixels) < 230
    assert centerline(PIL.new("L", (50, 40), 255)) == (None, 0.0)
    with pytest.raises(ValueError, match="2-D grey levels"):
        centerline(pytest.importorskip("numpy").zeros((4, 4, 3)))


def test_command_line_on_a_scan(tmp_path, capsys, monkeypatch):
    import linetopo
    from linetopo.cli import main

    scan, out = tmp_path / "scan.png", tmp_path / "out.svg"
    drawing().save(scan)
    fitted, fit = [], linetopo.fit_curves
    monkeypatch.setattr(linetopo, "fit_curves", lambda c, tol: fitted.append(c) or fit(c, tol))
    assert main(["centerline", str(scan), "-o", str(out)]) == 0
    # The curves are fitted to the chains before simplification, not to a polyline that is
    # already up to a tenth of the feature size off them.
    (unsimplified, *_), _ = centerline(scan, simplification=0)
    assert sorted(map(len, fitted)) == sorted(map(len, unsimplified))
    root = ET.parse(out).getroot()
    assert [root.get(k) for k in ("width", "height", "viewBox")] == ["400", "300", "0 0 400 300"]
    paths = list(root.iter("{http://www.w3.org/2000/svg}path"))
    assert len(paths) == 4 and all(" C" in p.get("d") for p in paths)
    assert "feature size" in capsys.readouterr().err
    assert main(["centerline", str(scan), "-o", str(tmp_path / "b.svg"), "--buffer", "3"]) == 2
    blank = tmp_path / "blank.png"
    PIL.new("L", (30, 30), 255).save(blank)
    assert main(["centerline", str(blank), "-o", str(tmp_path / "c.svg")]) == 2
    err = capsys.readouterr().err
    assert "--buffer applies to lines" in err and "no ink in" in err



def checkerboard(side):
    numpy = pytest.importorskip("numpy")
    return PIL.fromarray((numpy.indices((side, side)).sum(axis=0) % 2 * 255).astype(numpy.uint8))


@pytest.mark.parametrize("budget", ["pixels", "outline"])
def test_a_small_file_that_would_cost_too_much_is_refused_in_one_line(
        budget, tmp_path, capsys, monkeypatch):
    from linetopo.cli import main
    from PIL import ImageFile

    scan = tmp_path / "scan.png"
    if budget == "pixels":
        drawing().save(scan)
        monkeypatch.setenv("LINETOPO_MAX_PIXELS", "1000")
        # Refused from the header: nothing is decoded.
        monkeypatch.setattr(ImageFile.ImageFile, "load", lambda self: pytest.fail("decoded"))
    else:
        # Two outline points a pixel in a few hundred bytes.
        checkerboard(300).convert("1").save(scan)
        with pytest.raises(ValueError, match="LINETOPO_MAX_OUTLINE_POINTS"):
            centerline(scan)
    assert main(["centerline", str(scan), "-o", str(tmp_path / "out.svg")]) == 2
    [line] = capsys.readouterr().err.splitlines()
    assert f"LINETOPO_MAX_{budget.upper()}" in line and not (tmp_path / "out.svg").exists()


@pytest.mark.parametrize("mode", ["P", "LA", "RGB", "1"])
def test_images_are_made_grey_a_strip_at_a_time(mode, monkeypatch):
    from linetopo.raster import STRIP_PIXELS, read_grey

    image = PIL.new("L", (1100, 1000), 255)
    ImageDraw.Draw(image).line([(0, 0), (1100, 1000)], fill=0, width=30)
    if mode == "P":  # a palette whose ink is half transparent
        image = image.convert("P")
        image.info["transparency"] = bytes([128] + [255] * 255)
    else:
        image = image.convert(mode)
    paper = PIL.new("RGBA", image.size, (255, 255, 255, 255))
    want = PIL.alpha_composite(paper, image.convert("RGBA")).convert("L").tobytes()
    converted, convert = [], PIL.Image.convert
    monkeypatch.setattr(PIL.Image, "convert", lambda self, *a, **k: (
        converted.append(self.width * self.height), convert(self, *a, **k))[1])
    assert read_grey(image) == (want, 1100, 1000)
    assert converted and max(converted) <= STRIP_PIXELS


@pytest.mark.parametrize("form", ["16-bit", "float", "orientation", "pages", "not a number"])
def test_scans_are_read_as_viewers_show_them(form, tmp_path):
    numpy = pytest.importorskip("numpy")
    grey = numpy.asarray(drawing(), dtype=numpy.float32) / 255
    want = centerline(drawing())
    if form == "16-bit":  # Pillow would clip its levels to 255: no ink
        scan = tmp_path / "scan.png"
        PIL.fromarray((10000 + grey * 50000).astype(numpy.uint16)).save(scan)
    elif form == "float":
        scan = tmp_path / "scan.tif"
        PIL.fromarray(grey).save(scan)
    elif form == "orientation":  # stored on its side, to be turned upright
        scan = tmp_path / "scan.png"
        exif = PIL.Exif()
        exif[ExifTags.Base.Orientation] = 6
        drawing().transpose(PIL.Transpose.ROTATE_90).save(scan, exif=exif)
    elif form == "pages":
        scan = tmp_path / "scan.tif"
        PIL.new("L", (400, 300), 255).save(scan, save_all=True, append_images=[drawing()])
        with pytest.raises(ValueError, match="scan.tif: it holds 2 pages"):
            centerline(scan)
        return
    else:  # no grey level at all, which once read as ink
        scan = tmp_path / "scan.tif"
        grey[100:110, 50:60] = numpy.nan
        PIL.fromarray(grey).save(scan)
        with pytest.raises(ValueError, match="the image holds NaN"):
            centerline(scan)
        return
    assert centerline(scan) == want


@pytest.mark.parametrize("threshold", [None, 1e16])
def test_the_threshold_means_the_same_to_otsu_and_the_tracer(threshold):
    numpy = pytest.importorskip("numpy")
    ink = numpy.zeros((100, 300), dtype=bool)
    ink[40:60, 20:280] = True
    adjacent = numpy.where(ink, 100, 101).astype(numpy.uint8)
    if threshold is None:
        # Otsu splits the two levels, and the outline runs halfway between them, as between
        # black and white.
        assert centerline(adjacent) == centerline(numpy.where(ink, 0, 255).astype(numpy.uint8))
    else:
        with pytest.raises(ValueError, match="threshold must be a grey level from 0 to 255"):
            centerline(adjacent, threshold=threshold)


def uneven_page():
    """Three strokes 5 pixels wide, 60 levels darker than the paper, which darkens from 240 on
    the right to 80 on the left: no one level parts ink from paper."""
    image = PIL.new("L", (600, 200))
    image.putdata([round(80 + 160 * x / 599) for _y in range(200) for x in range(600)])
    pen = ImageDraw.Draw(image)
    for k, y in enumerate((50, 100, 150)):
        for x in range(40 + 40 * k, 560 - 40 * k):
            level = image.getpixel((x, y)) - 60
            pen.line([(x, y - 2), (x, y + 2)], fill=level)
    return image


@pytest.mark.parametrize("threshold", [None, "local"])
def test_a_page_lit_unevenly_takes_the_local_threshold(threshold):
    image = uneven_page()
    # No one level parts its ink from its paper: Otsu's alone loses the strokes.
    (chains, _, _, _), _ = centerline(image, threshold=otsu_threshold(image.tobytes()))
    assert len(chains) != 3
    if threshold is None:
        with pytest.warns(UserWarning, match="do not split cleanly.*the local threshold takes"):
            (chains, _, _, _), fs = centerline(image)
    else:
        (chains, _, _, _), fs = centerline(image, threshold=threshold)
    assert fs == pytest.approx(5, abs=1) and len(chains) == 3
    rows = sorted(sum(y for _x, y in c) / len(c) for c in chains)
    assert all(abs(y - expected) < 1.5 for y, expected in zip(rows, (50.5, 100.5, 150.5)))


def test_the_feature_size_follows_the_strokes_not_a_dark_margin():
    # Thin strokes and a dark band down one side, which holds most of the ink.
    image = drawing()
    ImageDraw.Draw(image).rectangle([(330, 70), (399, 299)], fill=0)
    _, fs = centerline(image)
    assert fs == pytest.approx(WIDTH, rel=0.2)
