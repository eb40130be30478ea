"""The generated inputs stay draw for draw what they were: the tests' expectations and the README's
benchmark figures were taken on them."""

import hashlib

import pytest
from linetopo import _generators as g

# Digests of the curves, six decimals, and the sizes each generator suggests (None for scribble).
EXPECTED = {
    "scribble": (lambda: g.scribble(5), "8e4b9cfe31f8ad6b", None),
    "benchmark scribble": (lambda: g.scribble(1, 3, 500, size=400.0, noise=0.3),
                           "88677d9d26079d5a", None),
    "random walks": (lambda: g.random_walks(3000, seed=2), "dbf75ccaf061bc0b", (1.5, 3.0)),
    "drawing": (lambda: g.drawing(3000), "f19f9be8fed5bd9b", (1.5, 3.0)),
    "gps": (lambda: g.gps(3000), "9f12b96494b70999", (12.0, 25.0)),
    "dense": (lambda: g.dense(3000), "6d38c07e537addc7", (1.5, 3.0)),
    "random polylines": (lambda: g.random_polylines(count=20), "5a65efa312e1b0db", (3.0, 2.0)),
    "spiral": (lambda: g.spiral(2000), "baaab76def967f9d", (0.05, 0.1)),
}


def digest(curves):
    text = "|".join(" ".join(f"{x:.6f},{y:.6f}" for x, y in c) for c in curves)
    return hashlib.sha256(text.encode()).hexdigest()[:16]


@pytest.mark.parametrize("name", EXPECTED)
def test_generators_give_the_same_curves(name):
    make, expected, sizes = EXPECTED[name]
    out = make()
    curves, got_sizes = (out[0], out[1:]) if sizes else (out, None)
    assert (digest(curves), got_sizes) == (expected, sizes)
