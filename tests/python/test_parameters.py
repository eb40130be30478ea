"""The core's option table against every place that restates it: the stub and the CLI."""

import pathlib
import re

import pytest
from linetopo import _internal, _stub
from linetopo._generators import scribble
from linetopo.cli._parser import build_parser

ROOT = pathlib.Path(__file__).resolve().parents[2]
TABLE = {p["name"]: p for p in _internal._PARAMETERS}


def test_stub_is_the_one_the_core_makes():
    # Regenerate with: python -m linetopo._stub > python/linetopo/_internal.pyi
    assert (ROOT / "python/linetopo/_internal.pyi").read_text() == _stub.stub()


def test_batch_jobs_and_signatures_use_only_table_options():
    assert list(_internal._SIGNATURES["topologize"]) == [
        n for n in TABLE if n not in ("tile_size", "polygons")]
    for names in _internal._SIGNATURES.values():
        assert set(names) <= set(TABLE)
    # A job has no per-vertex widths and returns no widths; every other option is there.
    assert set(TABLE) - set(_internal._SIGNATURES["topologize_batch job"]) == {
        "per_curve_widths", "compute_widths", "tile_size", "polygons", "keep_components",
        "tip_rule"}


def test_command_line_takes_every_option_but_the_data():
    parser = build_parser()
    [line] = [a for a in parser._subparsers._group_actions[0].choices.values() if a.prog.endswith("centerline")]
    flags = {a.dest: a.option_strings[0] for a in line._actions if a.option_strings}
    for p in TABLE.values():
        if p["cli"]:
            assert flags[p["name"]] == p["cli"]
    assert {name for name, p in TABLE.items() if not p["cli"]} == {"curves", "per_curve_widths",
                                                                  "polygons"}


def documented_default(rule, fs):
    """The value a parameter's documented default stands for, or None when it names no value."""
    if rule in ("False", "True"):
        return rule == "True"
    if rule in TIP_RULES:
        return rule
    for pattern, value in ((r"([\d.]+)", lambda k: k), (r"([\d.]+) × fs", lambda k: k * fs),
                           (r"fs / ([\d.]+)", lambda k: fs / k)):
        m = re.fullmatch(pattern, rule)
        if m:
            return value(float(m.group(1)))
    return None


TIP_RULES = ("length", "protrusion")
FS = 2.0
# A scribble, a bent line drawn as two strokes whose ends lie 0.023 apart (joined only from a
# merge tolerance of that much) and a speck that pruning removes whole unless components are kept.
CURVES = scribble(4, strokes=30, points=60, size=60.0) + [[(80.0, 0.0), (90.0, 0.0)],
                                                          [(90.023, 0.0), (95.0, 8.0)],
                                                          [(120.0, 0.0), (121.0, 0.0)]]
DEFAULTS = {name: documented_default(p["rule"], FS) for name, p in TABLE.items()}
CALLS = {
    "topologize": lambda **kw: _internal.topologize(CURVES, 1.0, FS, **kw),
    "topologize_tiled": lambda **kw: _internal.topologize_tiled(CURVES, 1.0, FS, tile_size=30.0, **kw),
    "inflate_curves": lambda **kw: _internal.inflate_curves(CURVES, 1.0, FS, **kw),
    "triangulate_curves": lambda **kw: _internal.triangulate_curves(CURVES, 1.0, FS, **kw),
    "topologize_polygons": lambda **kw: _internal.topologize_polygons(
        _internal.inflate_curves(CURVES, 1.0, FS), FS, buffer_distance=1.0, **kw),
    "topologize_batch job": lambda **kw: _internal.topologize_batch(
        [(CURVES, 1.0, FS) + tuple(kw.get(n) for n in _internal._SIGNATURES["topologize_batch job"][3:])])[0],
}

def default_of(entry, name):
    """The default the entry point documents for an option: its own, else the table's."""
    own = _internal._SIGNATURE_DEFAULTS[entry].get(name)
    return DEFAULTS.get(name) if own is None else documented_default(own, FS)


CASES = [(entry, name) for entry in CALLS for name in _internal._SIGNATURES[entry]
         if default_of(entry, name) is not None]


@pytest.mark.parametrize("entry, name", CASES)
def test_each_documented_default_is_the_one_used(entry, name):
    """Giving a documented default explicitly changes nothing, and the input is one on which a
    different value would show."""
    call = CALLS[entry]
    default = default_of(entry, name)
    implicit, explicit = call(), call(**{name: default})
    assert explicit == implicit
    if isinstance(default, str):
        other = TIP_RULES[1 - TIP_RULES.index(default)]
    else:
        other = not default if isinstance(default, bool) else 1.3 * default
    assert call(**{name: other}) != implicit
