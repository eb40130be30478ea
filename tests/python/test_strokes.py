"""Strokes through the Python surface and the command line; the pairing rules are tested in C++."""

import json
import math
import pathlib
import re

import pytest
from drawings import cross, stroke, tee
from linetopo import strokes, topologize
from linetopo.cli import main

ASTERISK = [stroke(-10, 0, 10, 0, 41), stroke(0, -10, 0, 10, 41), stroke(-7, -7, 7, 7, 41)]


@pytest.mark.parametrize("curves, count", [(cross(), 2), (tee(), 2), (ASTERISK, 3)])
def test_each_drawn_line_comes_back_as_one_stroke(curves, count):
    chains, nodes, ids, _ = topologize(curves, 0.5, 1.0)
    lines, walks = strokes(chains, nodes, ids)
    assert len(lines) == count
    assert sorted(i for walk in walks for i, _ in walk) == list(range(len(chains)))
    for line, walk in zip(lines, walks):
        # A joint keeps one copy of its node's point.
        assert len(line) == sum(len(chains[i]) for i, _ in walk) - (len(walk) - 1)
        first, backwards = walk[0]
        assert line[0] == (chains[first][-1] if backwards else chains[first][0])


ONE = ([[(0.0, 0.0), (1.0, 0.0)]], [(0.0, 0.0), (1.0, 0.0)])


@pytest.mark.parametrize(
    "ids, kwargs, exception, needle",
    [([(0, 2)], {}, ValueError, "chain_node_ids"), ([(0, 1), (1, 0)], {}, ValueError, "chain_node_ids"),
     ([(0, None)], {}, TypeError, "chain_node_ids"), ([(0, -1)], {}, OverflowError, None),
     ([(0, 1)], {"max_turn": 181}, ValueError, "max_turn"), ([(0, 1)], {"max_turn": "45"}, TypeError, "max_turn"),
     ([(0, 1)], {"tangent_reach": 0.0}, ValueError, "tangent_reach")],
)
def test_bad_arguments_name_the_argument(ids, kwargs, exception, needle):
    with pytest.raises(exception, match=needle):
        strokes(*ONE, ids, **kwargs)


def test_command_line_writes_strokes(tmp_path):
    src, out, picture = tmp_path / "in.geojson", tmp_path / "out.geojson", tmp_path / "out.svg"
    src.write_text(json.dumps({"type": "MultiLineString", "coordinates": cross(50.0, 41)}))
    assert main(["centerline", str(src), "-o", str(out), "--feature-size", "5", "--strokes",
                 "--svg", str(picture)]) == 0
    features = json.loads(out.read_text())["features"]
    assert [f["geometry"]["type"] for f in features] == ["LineString", "LineString"]
    assert sorted(i for f in features for i, _ in f["properties"]["chains"]) == [0, 1, 2, 3]
    # Chains are coloured by stroke: two colours for four chains.
    chains_group = picture.read_text().split('<g id="chains"', 1)[1].split("</g>", 1)[0]
    assert len({part.split('"', 1)[0] for part in chains_group.split('stroke="')[1:]}) == 2


def test_the_documented_max_turn_is_the_one_used():
    """The default that the docstring, the stub and the guide state, and the one the call uses:
    a 43° turn joins at 45 but not at 40.5."""
    root = pathlib.Path(__file__).resolve().parents[2]
    texts = [strokes.__doc__, (root / "python/linetopo/_internal.pyi").read_text(),
             (root / "docs/guides/drawings.md").read_text()]
    written = r"max_turn(?:: SupportsFloat)? ?= ?([\d.]+)|max_turn : float, default ([\d.]+)"
    found = [[a or b for a, b in re.findall(written, t)] for t in texts]
    assert all(found)
    [default] = {float(v) for values in found for v in values}
    bend = (10 * math.cos(math.radians(43)), 10 * math.sin(math.radians(43)))
    chains = [[(-10.0, 0.0), (0.0, 0.0)], [(0.0, 0.0), bend], [(0.0, 0.0), (0.0, -10.0)]]
    nodes, ids = [(-10.0, 0.0), (0.0, 0.0), bend, (0.0, -10.0)], [(0, 1), (1, 2), (1, 3)]
    implicit = strokes(chains, nodes, ids)
    assert strokes(chains, nodes, ids, max_turn=default) == implicit
    assert len(implicit[0]) == 2
    assert len(strokes(chains, nodes, ids, max_turn=0.9 * default)[0]) == 3
