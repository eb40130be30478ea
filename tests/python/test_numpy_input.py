"""NumPy (n, 2) float arrays are accepted wherever a curve is expected."""

import subprocess
import sys

import pytest

np = pytest.importorskip("numpy")

from linetopo import inflate_curves, topologize, topologize_batch, triangulate_curves  # noqa: E402
from drawings import scribble  # noqa: E402

CURVES = scribble(9)


def arrays(kind):
    if kind == "contiguous":
        return [np.array(c, dtype=np.float64) for c in CURVES]
    if kind == "fortran":
        return [np.asfortranarray(np.array(c, dtype=np.float64)) for c in CURVES]
    if kind == "strided":
        # Every other row of a wider array: non-unit strides on both axes.
        out = []
        for c in CURVES:
            wide = np.zeros((2 * len(c), 4))
            wide[::2, ::2] = c
            out.append(wide[::2, ::2])
        return out
    if kind == "stacked":
        n = min(len(c) for c in CURVES)
        return np.array([c[:n] for c in CURVES])
    raise AssertionError(kind)


@pytest.mark.parametrize("kind", ["contiguous", "fortran", "strided", "stacked"])
def test_arrays_give_the_same_result_as_tuples(kind):
    curves = arrays(kind)
    reference = CURVES if kind != "stacked" else [c[: len(curves[0])] for c in CURVES]
    assert topologize(curves, 1.0, 1.0, compute_widths=True) == topologize(reference, 1.0, 1.0, compute_widths=True)
    assert inflate_curves(curves, 1.0, 1.0) == inflate_curves(reference, 1.0, 1.0)
    assert triangulate_curves(curves, 1.0, 1.0) == triangulate_curves(reference, 1.0, 1.0)
    job = (curves, 1.0, 1.0) + (None,) * 8
    assert topologize_batch([job]) == [topologize(reference, 1.0, 1.0)[:3]]


def test_float32_arrays_read_as_their_values():
    c32 = np.array(CURVES[0], dtype=np.float32)
    as_tuples = [tuple(map(float, row)) for row in c32]
    assert topologize([c32], 1.0, 1.0) == topologize([as_tuples], 1.0, 1.0)


@pytest.mark.parametrize(
    "bad",
    [np.zeros((5, 3)), np.zeros(10), np.zeros((2, 5, 2)), np.zeros((5, 2), dtype=np.int64),
     np.zeros((5, 2), dtype=np.complex128)],
)
def test_wrong_shape_or_dtype_is_a_type_error_naming_the_argument(bad):
    with pytest.raises(TypeError, match="curves"):
        topologize([bad], 1.0, 1.0)
    with pytest.raises(TypeError, match="jobs"):
        topologize_batch([([bad], 1.0, 1.0) + (None,) * 8])


def test_numpy_scalars_and_bools_are_accepted():
    a = topologize(CURVES, np.float64(1.0), np.float32(1.0), compute_widths=np.bool_(True))
    assert a == topologize(CURVES, 1.0, 1.0, compute_widths=True)


def test_everything_works_without_numpy():
    code = (
        "import sys; sys.modules['numpy'] = None\n"
        "import linetopo\n"
        "r = linetopo.topologize([[(0.0, 0.0), (10.0, 0.0)]], 1.0, 1.0)\n"
        "assert len(r[0]) == 1, r\n"
        "print('ok')\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "ok"
