"""Smooth curves out: chains fitted with cubic Bézier pieces."""

import math

import pytest


def test_bezier_output_of_the_demo_drawing():
    """The chains as SVG output fits them (before simplification): at most one cubic piece per
    four chain points, every chain point within the tolerance (a tenth of the feature size, the
    SVG default) of its curve, and every point of the curve within it of the chain."""
    from linetopo import fit_curves, topologize
    from linetopo._sample import SAMPLE_BUFFER, SAMPLE_FEATURE_SIZE, sample_curves

    def at(piece, t):
        u = 1 - t
        return tuple(u ** 3 * a + 3 * u * u * t * b + 3 * u * t * t * c + t ** 3 * d
                     for a, b, c, d in zip(*piece))

    def distance(q, piece):
        # The nearest of dense samples, then narrowed down around it.
        t = min((k / 400 for k in range(401)), key=lambda t: math.dist(q, at(piece, t)))
        lo, hi = max(0.0, t - 1 / 400), min(1.0, t + 1 / 400)
        for _ in range(60):
            a, b = lo + (hi - lo) / 3, hi - (hi - lo) / 3
            if math.dist(q, at(piece, a)) < math.dist(q, at(piece, b)):
                hi = b
            else:
                lo = a
        return math.dist(q, at(piece, (lo + hi) / 2))

    def to_chain(q, chain):
        best = math.inf
        for a, b in zip(chain, chain[1:]):
            ab, aq = (b[0] - a[0], b[1] - a[1]), (q[0] - a[0], q[1] - a[1])
            t = max(0.0, min(1.0, (ab[0] * aq[0] + ab[1] * aq[1]) / (ab[0] ** 2 + ab[1] ** 2)))
            best = min(best, math.dist(q, (a[0] + t * ab[0], a[1] + t * ab[1])))
        return best

    tolerance = SAMPLE_FEATURE_SIZE / 10
    chains = topologize(sample_curves(), SAMPLE_BUFFER, SAMPLE_FEATURE_SIZE,
                        simplification=0)[0]
    fits = [fit_curves(chain, tolerance) for chain in chains]
    assert 4 * sum(map(len, fits)) <= sum(map(len, chains))
    for chain, pieces in zip(chains, fits):
        assert pieces[0][0] == pytest.approx(chain[0]) and pieces[-1][3] == pytest.approx(chain[-1])
        assert all(a[3] == b[0] for a, b in zip(pieces, pieces[1:]))
        for q in chain:
            assert min(distance(q, p) for p in pieces) <= tolerance
        for piece in pieces:
            assert max(to_chain(at(piece, k / 64), chain) for k in range(65)) <= tolerance
