"""Random drawings, options and inputs: nothing crashes, only the documented errors come out, and
every result keeps its invariants.

The default run is short. LINETOPO_HYPOTHESIS=long selects a profile of more than 100,000 examples
in all, which takes a while: run it under nice.
"""

import math
import os
import re
import time

import pytest
from drawings import cross
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st
from linetopo import (
    _internal,
    strokes,
    topologize,
    topologize_batch,
)
from linetopo._generators import scribble

_QUIET = [HealthCheck.too_slow, HealthCheck.data_too_large]
settings.register_profile("default", max_examples=15, deadline=None, database=None, suppress_health_check=_QUIET)
settings.register_profile("long", max_examples=20_000, deadline=None, database=None, suppress_health_check=_QUIET,
                          print_blob=True)
settings.load_profile(os.environ.get("LINETOPO_HYPOTHESIS", "default"))

# The options and entry points come from the binding's own table, so that a new one is covered as
# soon as it exists.
SIGNATURES = _internal._SIGNATURES
OPTIONS = [p for p in _internal._PARAMETERS if not p["required"] and p["name"] in SIGNATURES["topologize"]]
JOB_FIELDS = SIGNATURES["topologize_batch job"]
# Required besides the drawing and its two scales (buffer_distance, feature_size): a tile size,
# and the polygons in place of the curves.
OTHER_REQUIRED = [p["name"] for p in _internal._PARAMETERS if p["required"]][3:]
ENTRY_POINTS = {name: getattr(_internal, name) for name in SIGNATURES if name != "topologize_batch job"}

# Every text an entry point raises with; anything else (or any other exception) is a fault.
_VALUE = [r"\w+ must be a positive finite number, got \S+$",
          r"(buffer_distance|[xy] coordinate of curve \d+, point \d+|radius of curve \d+, point \d+|"
          r"[xy] coordinate of polygon \d+, (outer ring|hole \d+), point \d+) is \S+; "
          r"(it must be a finite number|its magnitude must be at most 1e12)$",
          r"the (buffer around the curves|polygons) reach(es)? beyond about 2\.3e12",
          r"\w+ is too small: boundary preparation would create at least \d+ boundary points",
          r"skeleton has \d+ nodes, exceeding max_nodes limit of \d+$",
          r"tile_size \S+ with a halo of \S+ gives the curves more than \d+ tiles to visit",
          r"per_curve_widths has an entry for curve \d+ but only \d+ curve\(s\) were given$",
          r"per_curve_widths\[\d+\] has \d+ entries but curve \d+ has \d+ points"]
TEXTS = {
    ValueError: re.compile(r"(topologize_batch job \d+ failed: |tile \(-?\d+, -?\d+\) failed: )?(%s)"
                           % "|".join(_VALUE)),
    TypeError: re.compile(r"argument '\w+': |\w+\(\) (takes at most|got|missing) "),
    OverflowError: re.compile(r"can't convert negative value to size_t|Python int too large to convert to C size_t"),
}


@pytest.fixture(autouse=True, scope="module")
def memory_cap():
    """Caps the address space at 2 GiB above its size now, so that a call that runs away with memory
    fails with MemoryError instead of waking the kernel's OOM killer."""
    resource = pytest.importorskip("resource")
    with open("/proc/self/statm") as f:
        size = int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    cap = size + (2 << 30)
    resource.setrlimit(resource.RLIMIT_AS, (cap if hard == resource.RLIM_INFINITY else min(cap, hard), hard))
    yield
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))


def outcome(fn, *args, **kwargs):
    """fn's result, or the documented error it raised; any other exception fails the test."""
    try:
        return fn(*args, **kwargs), None
    except (TypeError, ValueError, OverflowError) as err:
        assert TEXTS[type(err)].match(str(err)), f"{type(err).__name__}: {err}"
        return None, err


def finite(points):
    return all(math.isfinite(x) and math.isfinite(y) for x, y in points)


def check_result(chains, nodes, ids, widths, compute_widths):
    assert len(chains) == len(ids) and finite(nodes)
    assert len(widths) == (len(chains) if compute_widths else 0)
    for chain, (a, b) in zip(chains, ids):
        assert 0 <= a < len(nodes) and 0 <= b < len(nodes)
        assert len(chain) >= 2 and finite(chain)
        assert chain[0] == nodes[a] and chain[-1] == nodes[b]
    assert {i for pair in ids for i in pair} == set(range(len(nodes)))
    for w, chain in zip(widths, chains):
        assert len(w) == len(chain) and all(math.isfinite(v) and v >= 0 for v in w)


def check_strokes(chains, nodes, ids):
    lines, walks = strokes(chains, nodes, ids)
    assert sorted(i for walk in walks for i, _ in walk) == list(range(len(chains)))
    assert len(lines) == len(walks) and all(len(line) >= 2 and finite(line) for line in lines)


# Drawings in unit scale (within about ±40), placed later at any scale and offset.
unit = st.floats(-30, 30, allow_nan=False)
quarter = st.integers(-80, 80).map(lambda k: k / 4)  # exact repeats, collinear runs and vertex crossings
point = st.tuples(st.one_of(unit, quarter), st.one_of(unit, quarter))
step = st.one_of(st.floats(-4, 4), st.sampled_from([0.0, 0.25, -1.0]))  # 0: zero-length segments


@st.composite
def walk(draw):
    x, y = draw(point)
    curve = [(x, y)]
    for dx, dy in draw(st.lists(st.tuples(step, step), min_size=1, max_size=12)):
        x, y = x + dx, y + dy
        curve.append((x, y))
    return [curve + curve[:1] if draw(st.booleans()) else curve]


@st.composite
def near_duplicates(draw):
    eps = draw(st.sampled_from([0.0, 1e-12, 1e-9, 1e-6, 1e-3]))
    curve = []
    for x, y in draw(st.lists(point, min_size=1, max_size=6)):
        curve += [(x + eps * k, y - eps * k) for k in range(draw(st.integers(1, 3)))]
    return [curve]


@st.composite
def collinear(draw):
    (x, y), turn = draw(point), draw(st.sampled_from([0.0, 0.5, 0.25]) | st.floats(0, 1))  # of a half turn
    dx, dy = math.cos(turn * math.pi), math.sin(turn * math.pi)
    # Unsorted positions run back and forth over the same line.
    return [[(x + t * dx, y + t * dy) for t in draw(st.lists(st.floats(-15, 15) | quarter, min_size=2, max_size=10))]]


@st.composite
def loop(draw):
    (x, y), r = draw(point), draw(st.floats(0.3, 12))
    n, k = draw(st.integers(3, 14)), draw(st.integers(1, 5))  # k > 1 draws a self-crossing star
    pts = [(x + r * math.cos(2 * math.pi * k * i / n), y + r * math.sin(2 * math.pi * k * i / n)) for i in range(n)]
    return [pts + pts[:1]]


@st.composite
def crossings(draw):
    """A zigzag crossing a straight line `teeth` times."""
    (x, y), teeth, w, h = draw(point), draw(st.integers(2, 20)), draw(st.floats(0.1, 3)), draw(st.floats(0.1, 5))
    zigzag = [(x + i * w, y + (h if i % 2 else -h)) for i in range(teeth + 1)]
    return [zigzag, [(x - w, y), (x + (teeth + 1) * w, y)]]


degenerate = st.lists(point, max_size=1).map(lambda c: [c])  # empty and one-point curves
curve_sets = st.one_of(walk(), near_duplicates(), collinear(), loop(), crossings(), degenerate)
unit_drawing = st.lists(curve_sets, max_size=4).map(lambda sets: [c for s in sets for c in s])


@st.composite
def placed(draw, unit_drawing=unit_drawing):
    """(curves, scale): a unit drawing at a tiny to huge scale and offset, within the accepted ±1e12."""
    scale = draw(st.sampled_from([1.0, 1.0, 1.0, 1e-6, 1e-3, 1e3, 1e6, 1e10]))
    offset = draw(st.sampled_from([0.0, 0.0, 1e6, -3e9, 1e11, -9.9e11]))
    offset = math.copysign(min(abs(offset), 1e12 - 100 * scale), offset)
    return [[(offset + scale * x, offset - scale * y) for x, y in c] for c in draw(unit_drawing)], scale


SPECIAL = [0.0, -0.0, -1.0, math.nan, math.inf, -math.inf]


@st.composite
def options(draw, fs):
    """Every optional argument of topologize: None, zero, negative, NaN, inf or a moderate value, a
    length in units of fs unless its help calls it a factor ("fs × this"). Never tiny against the
    drawing: that explodes the boundary, which test_extreme_values_fail_fast_or_succeed covers."""
    kwargs = {}
    for p in OPTIONS:
        kind = p["kind"]
        if kind == "optional float":
            unit = 1.0 if "× this" in p["help"] else fs
            value = draw(st.none() | st.sampled_from(SPECIAL) | st.floats(0.1, 3.0).map(lambda f, unit=unit: f * unit))
        elif kind == "optional int":
            value = draw(st.none() | st.integers(0, 400))
        elif kind == "bool":
            value = draw(st.booleans())
        elif kind == "optional bool":
            value = draw(st.none() | st.booleans())
        elif kind == "optional text":
            value = draw(st.sampled_from([None, "length", "protrusion"]))
        elif kind == "optional widths":
            continue  # test_per_vertex_radii
        else:
            raise AssertionError(f"no values for options of kind {kind!r}")
        kwargs[p["name"]] = value
    return kwargs


def check_shapes(name, shapes):
    """The invariants of what the entry point `name` returned."""
    if name in ("topologize", "topologize_tiled"):
        check_result(*shapes)
    elif name == "inflate_curves":
        assert all(len(ring) >= 3 and finite(ring) for outer, holes in shapes for ring in [outer, *holes])
    elif name == "triangulate_curves":
        assert all(len(triangle) == 3 and finite(triangle) for triangle in shapes)
    else:
        raise AssertionError(f"no invariants for {name}")


@pytest.mark.parametrize("name", ENTRY_POINTS)
@given(data=st.data(), drawing=placed(), buffer=st.floats(0.05, 3.0), fs=st.floats(0.2, 4.0))
def test_random_drawings_and_options_keep_every_invariant(name, data, drawing, buffer, fs):
    curves, scale = drawing
    buffer, fs = buffer * scale, fs * scale
    kwargs = data.draw(options(fs))
    fn, signature = ENTRY_POINTS[name], SIGNATURES[name]
    own = {k: v for k, v in kwargs.items() if k in signature}
    # Other required numbers are scales too, never small against fs.
    own.update({k: data.draw(st.floats(5, 50)) * fs for k in signature if k in OTHER_REQUIRED})
    result, err = outcome(fn, curves, buffer, fs, **own)
    if result is not None:
        check_shapes(name, (*result, own.get("compute_widths", False)) if "compute_widths" in signature else result)
        assert fn(curves, buffer, fs, **own) == result
    if name == "topologize":
        if result is not None:
            check_strokes(*result[:3])
        job = (curves, buffer, fs) + tuple(kwargs.get(field) for field in JOB_FIELDS[3:])
        batch, batch_err = outcome(topologize_batch, [job])
        # A job has no field for some options: they must be at their defaults for the two to agree.
        if any(v is not None for k, v in kwargs.items() if k not in (*JOB_FIELDS, "compute_widths")):
            return
        if err is None:
            assert batch == [result[:3]]
        else:
            assert type(batch_err) is type(err) and str(batch_err).endswith(str(err))


radius = st.floats(0.05, 3.0) | st.sampled_from([0.0, -0.0, -0.5, math.nan])


@given(data=st.data(), drawing=placed(), fs=st.floats(0.2, 4.0), compute_widths=st.booleans())
def test_per_vertex_radii(data, drawing, fs, compute_widths):
    curves, scale = drawing
    widths = [data.draw(st.just([]) | st.lists(radius, min_size=len(c), max_size=len(c)).map(
        lambda rs: [r * scale for r in rs])) for c in curves]
    result, err = outcome(topologize, curves, scale, fs * scale, per_curve_widths=widths,
                          compute_widths=compute_widths)
    # A NaN radius is refused, naming its place, on every curve that is inflated at all.
    bad = [(i, k) for i, w in enumerate(widths) if len(curves[i]) >= 2 for k, r in enumerate(w) if math.isnan(r)]
    if bad:
        assert isinstance(err, ValueError) and str(err).startswith("radius of curve %d, point %d is NaN" % bad[0])
    elif result is not None:
        check_result(*result, compute_widths)
        assert topologize(curves, scale, fs * scale, per_curve_widths=widths, compute_widths=compute_widths) == result


# For the translation test: drawings on a grid of 2^-6 within [45, 58], a buffer up to 2 and fs
# up to 3, shifted by fs. Clipper2's grid step is 1e-6 = 2^-6 * 5^-6, so the points and the shift
# lie on it exactly. Every coordinate the stages compute, before and after the shift, stays in
# [32, 64) (sums of two in [64, 128), of three in [128, 256), Clipper2's integers in [2^25, 2^26)),
# where doubles have one spacing, so each rounding moves with the drawing and the shifted run is
# the same computation. The shift is a whole number of the cells skeleton points are welded in
# (fs / 20) and curve ends joined in (fs / 100); those cells are counted from the origin.
sixty_fourth = st.integers(45 * 64, 58 * 64).map(lambda k: k / 64)
binade_drawing = st.lists(st.lists(st.tuples(sixty_fourth, sixty_fourth), min_size=2, max_size=10), min_size=1,
                          max_size=4)
ORIGIN_CELLS = pytest.mark.xfail(strict=True, reason="weld cells are counted from the origin, so the topology "
                                 "depends on where the drawing lies")


@pytest.mark.parametrize("whole_cells", [True, pytest.param(False, marks=ORIGIN_CELLS)])
@example(curves=[[(46.828125, 46.53125), (45.3125, 45.203125)]], buffer=0.25, fs=65 / 64)  # 2 nodes, 0 at 1/64 on
@given(curves=binade_drawing, buffer=st.integers(8, 128).map(lambda k: k / 64),
       fs=st.integers(16, 192).map(lambda k: k / 64))
def test_translation_moves_the_nodes_by_the_same_vector(whole_cells, curves, buffer, fs):
    t = fs if whole_cells else 1 / 64
    nodes = topologize(curves, buffer, fs)[1]
    moved = topologize([[(x + t, y + t) for x, y in c] for c in curves], buffer, fs)[1]
    assert len(moved) == len(nodes)
    for p in nodes:
        assert min(math.dist(p, (x - t, y - t)) for x, y in moved) <= 1e-9 * fs


def raiser(items, fail_at, exc, in_len):
    class Sequence:
        def __len__(self):
            if in_len:
                raise exc
            return len(items)

        def __getitem__(self, i):
            if i == fail_at:
                raise exc
            return items[i]
    return Sequence()


class OwnError(Exception):
    pass


@given(data=st.data(), where=st.sampled_from(["curves", "curve", "widths", "widths entry", "jobs", "job curves",
                                              "chains", "nodes", "chain_node_ids"]),
       exc_type=st.sampled_from([IndexError, RuntimeError, KeyError, ZeroDivisionError, OwnError]),
       in_len=st.booleans())
def test_sequences_that_raise_while_read_keep_their_exception(data, where, exc_type, in_len):
    curves = [list(c) for c in cross()]
    exc = exc_type("from the user's sequence")
    wrap = lambda items: raiser(items, data.draw(st.integers(0, len(items) - 1)), exc, in_len)  # noqa: E731
    widths = [[1.0] * len(c) for c in curves]
    calls = {
        "curves": lambda: topologize(wrap(curves), 1.0, 1.0),
        "curve": lambda: topologize([curves[0], wrap(curves[1])], 1.0, 1.0),
        "widths": lambda: topologize(curves, 1.0, 1.0, per_curve_widths=wrap(widths)),
        "widths entry": lambda: topologize(curves, 1.0, 1.0, per_curve_widths=[widths[0], wrap(widths[1])]),
        "jobs": lambda: topologize_batch(wrap([(curves, 1.0, 1.0) + (None,) * 8] * 3)),
        "job curves": lambda: topologize_batch([(wrap(curves), 1.0, 1.0) + (None,) * 8]),
    }
    chains, nodes, ids, _ = topologize(curves, 1.0, 1.0)
    calls.update({
        "chains": lambda: strokes(wrap(chains), nodes, ids),
        "nodes": lambda: strokes(chains, wrap(nodes), ids),
        "chain_node_ids": lambda: strokes(chains, nodes, wrap(ids)),
    })
    with pytest.raises(exc_type) as info:
        calls[where]()
    assert info.value is exc


class Shrinking:
    """A coordinate whose conversion to float empties the list that holds it."""

    def __init__(self, holder):
        self.holder = holder

    def __float__(self):
        self.holder.clear()
        return 1.0


def test_curves_read_through_indexing_and_lists_that_shrink_while_read():
    # An IndexError from a sequence's own indexing is its error, not the end of the curve.
    exc = IndexError("from the user's sequence")
    curves = [list(c) for c in cross()]
    with pytest.raises(IndexError) as info:
        topologize([curves[0], raiser(curves[1], 1, exc, False)], 1.0, 1.0)
    assert info.value is exc
    shrinking = list(curves[1])
    shrinking[0] = (Shrinking(shrinking), 0.0)
    with pytest.raises(IndexError):
        topologize([curves[0], shrinking], 1.0, 1.0)


DTYPES = ["float16", "float32", "float64", "longdouble", ">f4", ">f8", "int64", "complex128", "bool", "object"]


@given(data=st.data(), dtype=st.sampled_from(DTYPES),
       layout=st.sampled_from(["C", "F", "reversed", "strided", "broadcast", "transposed", "3d", "1d"]),
       rows=st.integers(0, 30))
def test_numpy_arrays_of_any_dtype_shape_and_stride(data, dtype, layout, rows):
    np = pytest.importorskip("numpy")
    values = data.draw(st.lists(st.tuples(unit, unit), min_size=rows, max_size=rows))
    base = np.array(values, dtype=np.float64).reshape(rows, 2)
    arr = {"C": lambda a: a, "F": np.asfortranarray, "reversed": lambda a: a[::-1],
           "strided": lambda a: np.repeat(a, 3, axis=0)[::3],
           "broadcast": lambda a: np.broadcast_to(a[:1], (rows, 2)) if rows else a,
           "transposed": lambda a: np.ascontiguousarray(a.T).T, "3d": lambda a: a[:, :, None],
           "1d": lambda a: a.reshape(-1)}[layout](base.astype(dtype))
    # Only native float32 and float64 (n, 2) arrays are read.
    accepted = (arr.ndim == 2 and arr.shape[1] == 2 and arr.dtype.kind == "f" and arr.dtype.itemsize in (4, 8)
                and arr.dtype.isnative)
    curves = [scribble(1, strokes=1, points=10)[0], arr]
    result, err = outcome(topologize, curves, 1.0, 1.0)
    if accepted:
        reference = [curves[0], [(float(x), float(y)) for x, y in arr]]
        assert err is None and result == topologize(reference, 1.0, 1.0)
    else:
        assert isinstance(err, TypeError) and str(err).startswith("argument 'curves': curve 1")


EXTREME = {
    "float": [None, 0, -0.0, -1.0, math.nan, math.inf, -math.inf, 5e-324, 1e-300, 1e-12, 1e300,
              1.7976931348623157e308, -1e300, 2**64, True, "1", []],
    "optional int": [0, 1, -1, 2**63, 2**64 - 1, 2**64, -(2**70), 1.0, math.nan, True, "3"],
    "bool": [None, 0, 1, "yes"],
    "optional bool": [None, 0, 1, "yes"],
    "optional text": [None, "", "Length", 1, b"length"],
    "polygons": [[], [([], [])], [([(0, 0), (1, 0), (math.nan, 1)], [])], [([(0, 0), (1e300, 0), (0, 1)], [])],
                 [([(0, 0), (4, 0), (0, 4)], [[(1, 1), (1, 1)]])], [((0, 0), [])], "ab", [None], [[]]],
    "optional widths": [[], [[]], [[math.nan] * 20], [[-1.0] * 20], [[0.0] * 20], [[1e300] * 20], [[math.inf] * 20],
                        [[5e-324] * 20], [[1.0] * 19], [[], [], [1.0]], "ab", [None], [[None] * 20]],
}
DEFAULTS = {"curves": cross(), "buffer_distance": 1.0, "feature_size": 1.0,
            "polygons": [([(0, 0), (20, 0), (20, 3), (0, 3)], [])]}


@pytest.mark.parametrize("name, value", [(p["name"], v) for p in _internal._PARAMETERS if p["kind"] != "curves"
                                         for v in EXTREME[p["kind"].replace("optional float", "float")]])
def test_extreme_values_fail_fast_or_succeed(name, value):
    """Every option at the ends of its range, in every entry point that takes it."""
    for fn, signature in [(ENTRY_POINTS[n], SIGNATURES[n]) for n in ENTRY_POINTS] + [(topologize_batch, JOB_FIELDS)]:
        if name not in signature:
            continue
        args = {**{k: 8.0 for k in signature if k in OTHER_REQUIRED}, **DEFAULTS, name: value}
        start = time.monotonic()
        if fn is topologize_batch:
            result, _ = outcome(fn, [tuple(args.get(field) for field in signature)])
        else:
            result, _ = outcome(fn, **args)
        assert time.monotonic() - start < 5.0, (fn.__name__, name, value)
        if result is not None and "compute_widths" in signature:
            check_result(*result, args.get("compute_widths") is True)
