"""The module's surface: signatures, docstrings, argument conversion and error messages."""

import math

import linetopo
import pytest
from drawings import cross, stroke
from linetopo import _internal

SIGNATURES = {
    "inflate_curves": "(curves, buffer_distance, feature_size, per_curve_widths=None, merge_tolerance=None)",
    "triangulate_curves": "(curves, buffer_distance, feature_size, per_curve_widths=None, "
    "subdivision_ratio=None, resample=None, boundary_simplification=None, merge_tolerance=None)",
    "topologize": "(curves, buffer_distance, feature_size, simplification=None, min_tip_fraction=None, "
    "junction_merge_fraction=None, per_curve_widths=None, compute_widths=False, subdivision_ratio=None, "
    "max_nodes=None, resample=None, boundary_simplification=None, merge_tolerance=None, "
    "keep_components=None, tip_rule=None)",
    "topologize_tiled": "(curves, buffer_distance, feature_size, *, tile_size, simplification=None, "
    "min_tip_fraction=None, junction_merge_fraction=None, per_curve_widths=None, compute_widths=False, "
    "subdivision_ratio=None, max_nodes=None, resample=None, boundary_simplification=None, "
    "merge_tolerance=None, keep_components=None, tip_rule=None)",
    "topologize_polygons": "(polygons, feature_size, *, buffer_distance=None, simplification=None, "
    "min_tip_fraction=None, junction_merge_fraction=None, compute_widths=False, subdivision_ratio=None, "
    "max_nodes=None, resample=None, boundary_simplification=None, keep_components=None, tip_rule=None)",
    "topologize_batch": "(jobs)",
    "strokes": "(chains, nodes, chain_node_ids, *, max_turn=45.0, tangent_reach=None)",
    "fit_curves": "(chain, tolerance)",
    "chain_sources": "(chains, curves, radius, *, max_angle=45.0, min_share=0.5)",
    "density_centerline": "(curves, feature_size, *, cell=None, sigma=None, radius=None, "
    "relative=0.35, min_count=0.5, **options)",
}


def test_module_functions_signatures_and_docstrings():
    assert [name for name in vars(_internal) if not name.startswith("_")] == list(SIGNATURES)
    assert linetopo.topologize is _internal.topologize
    for name, signature in SIGNATURES.items():
        assert getattr(_internal, name).__text_signature__ == signature, name
    # numpydoc: a summary, then every parameter of the signature in order, then the results.
    for name, signature in SIGNATURES.items():
        doc = getattr(_internal, name).__doc__
        params = [p.split("=")[0] for p in signature.strip("()").split(", ") if p != "*"]
        documented = [line.split(" : ")[0] for line in doc.splitlines() if " : " in line and not line[0].isspace()]
        assert documented[: len(params)] == params, name
        assert "\nParameters\n----------\n" in doc and "\nReturns\n-------\n" in doc, name
    assert _internal.topologize.__doc__.startswith("Topologize a list of polylines into clean centerline chains.\n\n")
    batch = _internal.topologize_batch.__doc__
    assert batch.startswith("Process multiple independent curve-sets in parallel on a shared pool of\nworker threads.\n\n")
    assert "Rayon" not in batch and "merge_tolerance), with None for an option's default" in " ".join(batch.split())
    # Each Returns section ends as it always did, before the examples.
    returns = {
        "topologize_batch": "Returns a list of (chains, nodes, chain_node_ids) tuples, one per job.",
        "inflate_curves": "\nlist of (outer, holes) where outer and each hole is a list of (x, y) tuples",
        "triangulate_curves": "((x0,y0),(x1,y1),(x2,y2)).",
    }
    for name, end in returns.items():
        assert end + "\n\nExamples\n--------\n>>> " in getattr(_internal, name).__doc__, name


def test_module_uses_multi_phase_init():
    import ctypes

    init = ctypes.PyDLL(_internal.__file__).PyInit__internal
    # The definition comes back as a borrowed reference (the import system does not release it).
    # A py_object result would be released once too often, and before Python 3.12, where the
    # static definition is not immortal, that frees it and aborts the interpreter.
    init.restype = ctypes.c_void_p
    definition = ctypes.cast(init(), ctypes.py_object).value
    # Multi-phase initialisation hands back the module definition, not a module.
    assert type(definition).__name__ == "moduledef"


CALLS = {
    "inflate_curves": lambda fs: _internal.inflate_curves(cross(), 1.0, fs),
    "triangulate_curves": lambda fs: _internal.triangulate_curves(cross(), 1.0, fs),
    "topologize": lambda fs: _internal.topologize(cross(), 1.0, fs),
    "topologize_batch": lambda fs: _internal.topologize_batch([(cross(), 1.0, fs) + (None,) * 8]),
}


@pytest.mark.parametrize("call", sorted(CALLS))
@pytest.mark.parametrize(
    "value, text",
    [(0.0, "0"), (-0.0, "-0"), (-1, "-1"), (-3.0, "-3"), (math.inf, "inf"), (-math.inf, "-inf"),
     (math.nan, "NaN"), (-0.0001, "-0.0001"), (-2.5e-7, "-0.00000025"), (5e-324, None)],
)
def test_feature_size_must_be_positive_and_finite(call, value, text):
    if text is None:
        # A subnormal scale asks for astronomically many boundary points; either it runs or it
        # names the option that explodes, but the feature_size check itself lets it through.
        try:
            CALLS[call](value)
        except ValueError as err:
            assert "feature_size must be" not in str(err)
        return
    with pytest.raises(ValueError) as err:
        CALLS[call](value)
    assert str(err.value) == "feature_size must be a positive finite number, got " + text


def test_feature_size_is_checked_before_the_widths():
    with pytest.raises(ValueError, match="feature_size"):
        _internal.topologize(cross(), 1.0, 0.0, per_curve_widths=[[1.0]])


MISMATCH = "per_curve_widths[{}] has {} entries but curve {} has {} points; they must match " \
           "(or pass an empty list to use the uniform buffer)"


@pytest.mark.parametrize("fn", ["inflate_curves", "triangulate_curves", "topologize"])
@pytest.mark.parametrize(
    "widths, message",
    [([[], [], []], None), ([[1.0, 1.0, 1.0]], None),
     ([[], [], [1.0]], "per_curve_widths has an entry for curve 2 but only 2 curve(s) were given"),
     ([[1.0, 2.0]], MISMATCH.format(0, 2, 0, 3)), ([[1.0] * 3, [1.0] * 5], MISMATCH.format(1, 5, 1, 4))],
)
def test_per_curve_widths_check(fn, widths, message):
    two = [stroke(0, 0, 10, 0, n=3), stroke(0, 5, 10, 5, n=4)]
    if message is None:
        getattr(_internal, fn)(two, 1.0, 1.0, per_curve_widths=widths)
        return
    with pytest.raises(ValueError) as err:
        getattr(_internal, fn)(two, 1.0, 1.0, per_curve_widths=widths)
    assert str(err.value) == message


@pytest.mark.parametrize(
    "kwargs, exception, needle",
    [(dict(curves="abc"), TypeError, "curves"), (dict(curves=[[[0.0, 0.0], [1.0, 1.0]]]), TypeError, "curves"),
     (dict(curves=[[(0.0, 0.0, 0.0)]]), TypeError, "curves"), (dict(curves=[[(0.0, "a")]]), TypeError, "curves"),
     (dict(curves=None), TypeError, "curves"), (dict(buffer_distance="1"), TypeError, "buffer_distance"),
     (dict(buffer_distance=None), TypeError, "buffer_distance"),
     (dict(compute_widths=None), TypeError, "compute_widths"), (dict(compute_widths=1), TypeError, "compute_widths"),
     (dict(max_nodes=10.0), TypeError, "max_nodes"), (dict(max_nodes=-1), OverflowError, ""),
     (dict(max_nodes=2**70), OverflowError, ""), (dict(per_curve_widths=[["x"]]), TypeError, "per_curve_widths"),
     (dict(per_curve_widths="ab"), TypeError, "per_curve_widths"),
     (dict(simplification="0.1"), TypeError, "simplification")],
)
def test_bad_arguments_name_the_argument(kwargs, exception, needle):
    with pytest.raises(exception) as err:
        _internal.topologize(**{"curves": cross(), "buffer_distance": 1.0, "feature_size": 1.0, **kwargs})
    assert needle in str(err.value)


@pytest.mark.parametrize(
    "args, kwargs",
    [((cross(), 1.0), {}), ((cross(), 1.0, 1.0), dict(bogus=1)), ((cross(), 1.0, 1.0), dict(curves=cross())),
     ((cross(), 1.0, 1.0) + (None,) * 4 + (False,) + (None,) * 8, {})],  # one positional too many
)
def test_binding_errors_are_type_errors(args, kwargs):
    with pytest.raises(TypeError):
        _internal.topologize(*args, **kwargs)
    with pytest.raises(TypeError):
        _internal.topologize_batch()


def test_accepted_argument_forms_agree():
    class Scale:
        def __float__(self):
            return 1.0

    ints, floats = [[(0, 0), (10, 0)]], [[(0.0, 0.0), (10.0, 0.0)]]
    assert _internal.topologize(ints, 1, Scale()) == _internal.topologize(floats, 1.0, 1.0)
    # Curves may be any sequence, points must be tuples.
    assert _internal.inflate_curves((tuple(floats[0]),), 1.0, 1.0) == _internal.inflate_curves(floats, 1.0, 1.0)
    by_position = _internal.topologize(cross(), 1.0, 1.0, None, None, None, None, True)
    by_keyword = _internal.topologize(feature_size=1.0, curves=cross(), buffer_distance=1.0, compute_widths=True)
    assert by_position == by_keyword
    assert len(by_keyword[3]) == len(by_keyword[0])
