"""NumPy (n, 2) float arrays are accepted wherever a curve is expected."""

import subprocess
import sys

import pytest

np = pytest.importorskip("numpy")

from linetopo import inflate_curves, topologize, topologize_batch, triangulate_curves  # noqa: E402
from linetopo._generators import scribble  # noqa: E402

CURVES = scribble(9)
SHORTEST = min(len(c) for c in CURVES)


def strided(c):
    # Every other row and column of a wider array: non-unit strides on both axes.
    wide = np.zeros((2 * len(c), 4))
    wide[::2, ::2] = c
    return wide[::2, ::2]


@pytest.mark.parametrize(
    "curves, reference",
    [([np.array(c, dtype=np.float64) for c in CURVES], CURVES),
     ([np.asfortranarray(np.array(c, dtype=np.float64)) for c in CURVES], CURVES),
     ([strided(c) for c in CURVES], CURVES),
     (np.array([c[:SHORTEST] for c in CURVES]), [c[:SHORTEST] for c in CURVES]),
     ([np.array(CURVES[0], dtype=np.float32)], [[tuple(map(float, row)) for row in np.float32(CURVES[0])]])],
    ids=["contiguous", "fortran", "strided", "stacked", "float32"],
)
def test_arrays_give_the_same_result_as_tuples(curves, reference):
    assert topologize(curves, 1.0, 1.0, compute_widths=True) == topologize(reference, 1.0, 1.0, compute_widths=True)
    assert inflate_curves(curves, 1.0, 1.0) == inflate_curves(reference, 1.0, 1.0)
    assert triangulate_curves(curves, 1.0, 1.0) == triangulate_curves(reference, 1.0, 1.0)
    assert topologize_batch([(curves, 1.0, 1.0) + (None,) * 8]) == [topologize(reference, 1.0, 1.0)[:3]]


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
    code = ("import sys; sys.modules['numpy'] = None\nimport linetopo\n"
            "r = linetopo.topologize([[(0.0, 0.0), (10.0, 0.0)]], 1.0, 1.0)\nassert len(r[0]) == 1, r\nprint('ok')\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "ok"
