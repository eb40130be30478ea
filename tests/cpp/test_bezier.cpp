// Tests for fitting chains with cubic Bézier pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "bezier/fit.hpp"
#include "geometry/rdp.hpp"

namespace linetopo {
namespace {

using Pieces = std::vector<CubicPiece>;

Point bezier_at(const CubicPiece& c, double u) {
  const double v = 1.0 - u;
  const double b0 = v * v * v, b1 = 3 * v * v * u, b2 = 3 * v * u * u, b3 = u * u * u;
  return {b0 * c.p0.x + b1 * c.p1.x + b2 * c.p2.x + b3 * c.p3.x,
          b0 * c.p0.y + b1 * c.p1.y + b2 * c.p2.y + b3 * c.p3.y};
}

// Distance from p to the piecewise curve: 200 samples per piece, each local minimum then
// narrowed down 40 times to the best of 10 samples around it.
double distance_to(const Pieces& pieces, const Point& p) {
  constexpr int kSamples = 200;
  double best = std::numeric_limits<double>::infinity();
  for (const CubicPiece& c : pieces) {
    const auto d = [&](double u) { return dist(p, bezier_at(c, u)); };
    for (int k = 0; k <= kSamples; ++k) {
      const double u = double(k) / kSamples, step = 1.0 / kSamples;
      if ((k > 0 && d(u - step) < d(u)) || (k < kSamples && d(u + step) < d(u))) continue;
      double lo = std::max(0.0, u - step), hi = std::min(1.0, u + step), at = u;
      for (int round = 0; round < 40; ++round) {
        const double h = (hi - lo) / 10;
        for (int j = 0; j <= 10; ++j) {
          if (d(lo + h * j) < d(at)) at = lo + h * j;
        }
        lo = std::max(lo, at - h);
        hi = std::min(hi, at + h);
      }
      best = std::min(best, d(at));
    }
  }
  return best;
}

Point minus(const Point& a, const Point& b) { return {a.x - b.x, a.y - b.y}; }

// Largest distance from the pieces, sampled 2000 times each, to the polyline.
double stray_from(const Pieces& pieces, const Polyline& chain) {
  double worst = 0;
  for (const CubicPiece& c : pieces) {
    for (int k = 0; k <= 2000; ++k) {
      const Point q = bezier_at(c, k / 2000.0);
      double d = dist(q, chain.front());
      for (std::size_t s = 0; s + 1 < chain.size(); ++s) {
        const Point ab = minus(chain[s + 1], chain[s]), aq = minus(q, chain[s]);
        const double len2 = ab.x * ab.x + ab.y * ab.y;
        const double t = len2 > 0 ? std::clamp((aq.x * ab.x + aq.y * ab.y) / len2, 0.0, 1.0) : 0;
        d = std::min(d, dist(q, {chain[s].x + t * ab.x, chain[s].y + t * ab.y}));
      }
      worst = std::max(worst, d);
    }
  }
  return worst;
}

// Whether a and b point the same way, up to rounding.
bool same_direction(const Point& a, const Point& b) {
  const double na = std::hypot(a.x, a.y), nb = std::hypot(b.x, b.y);
  if (!(na > 0 && nb > 0)) return false;
  return std::abs(a.x * b.y - a.y * b.x) <= 1e-7 * na * nb && a.x * b.x + a.y * b.y > 0;
}

// Pieces that run from the chain's first to its last point joint to joint, pass within tol of
// every chain point and stay within tol of the polyline, and are tangent-continuous at every
// joint (and round the seam of a closed chain) except at the given corners.
void expect_fits(const Polyline& chain, const Pieces& pieces, double tol,
                 const std::vector<Point>& corners = {}) {
  ASSERT_FALSE(pieces.empty());
  EXPECT_EQ(pieces.front().p0, chain.front());
  EXPECT_EQ(pieces.back().p3, chain.back());
  for (std::size_t k = 0; k < chain.size(); ++k) {
    EXPECT_LE(distance_to(pieces, chain[k]), tol * (1 + 1e-9)) << "point " << k;
  }
  EXPECT_LE(stray_from(pieces, chain), tol * (1 + 1e-9));
  const bool closed = chain.front() == chain.back();
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    if (k + 1 == pieces.size() && !closed) break;
    const CubicPiece& a = pieces[k];
    const CubicPiece& b = pieces[(k + 1) % pieces.size()];
    ASSERT_EQ(a.p3, b.p0) << "joint " << k;
    if (std::find(corners.begin(), corners.end(), a.p3) != corners.end()) continue;
    EXPECT_TRUE(same_direction(minus(a.p3, a.p2), minus(b.p1, b.p0))) << "joint " << k;
  }
}

// A smooth curve some 20 units long (0: a sine, 1: an arc of 216°, 2: a spiral of 1.5 turns)
// sampled evenly in its parameter, with noise of up to `noise` on each coordinate.
Polyline smooth_curve(int shape, int points, double noise, std::mt19937& rng) {
  std::uniform_real_distribution<double> jitter(-noise, noise);
  Polyline out;
  for (int k = 0; k < points; ++k) {
    const double t = double(k) / (points - 1);
    const double r = shape == 1 ? 6 : 2 + 3 * t, a = (shape == 1 ? 1.2 : 3) * kPi * t;
    const Point p = shape == 0 ? Point{20 * t, 3 * std::sin(3 * kPi * t)}
                               : Point{r * std::cos(a), r * std::sin(a)};
    out.push_back({p.x + jitter(rng), p.y + jitter(rng)});
  }
  return out;
}

TEST(FitCurves, SmoothCurvesFitWithFewTangentContinuousPieces) {
  std::mt19937 rng(7);
  for (const int shape : {0, 1, 2}) {
    for (const double tol : {0.01, 0.05, 0.2}) {
      for (const int points : {60, 300, 2000}) {
        SCOPED_TRACE("shape " + std::to_string(shape) + ", tol " + std::to_string(tol) +
                     ", " + std::to_string(points) + " points");
        const Polyline dense = smooth_curve(shape, points, tol / 10, rng);
        const Pieces pieces = fit_curves(dense, tol);
        // 60 points leave chords bowing more than 0.01 off the curve: no smooth piece can span
        // several of them within the tolerance of the polyline, and their vertices are corners.
        const bool fine = points > 60 || tol > 0.01;
        expect_fits(dense, pieces, tol, fine ? Polyline{} : dense);
        if (fine) {
          EXPECT_LE(pieces.size() * 4, dense.size());
        }
        // Simplified chains still fit, with corners where the tolerance cannot round a vertex.
        const Polyline sparse = rdp(dense, tol);
        expect_fits(sparse, fit_curves(sparse, tol), tol, sparse);
      }
    }
  }
}

// The centerline chains of the demo drawing (the word "Ate", feature size 8), simplified as the
// pipeline leaves them: few points, so each piece has to span several while it keeps to the
// polyline between them.
TEST(FitCurves, SimplifiedDrawingChainsTakeAPiecePerTwoPoints) {
  const std::vector<Polyline> chains = {
      {{129.7, 1.69}, {128.56, 12.54}, {130.32, 34.74}, {129.55, 64.61}},
      {{153.59, 68.04}, {149.69, 65.07}, {129.55, 64.61}},
      {{129.55, 64.61}, {128.75, 80.9}, {130.67, 98.9}, {128.48, 101.22}},
      {{129.55, 64.61}, {108.79, 64.38}},
      {{239.44, 18.91}, {238.28, 15.13}, {228.47, 9.1}, {214.63, 6.36}, {204.1, 8.11},
       {193.53, 14.57}, {188.28, 20.85}, {183.68, 32.56}, {185.37, 37.9}},
      {{185.37, 37.9}, {244.06, 38.76}, {246.41, 40.63}, {246.55, 43.99}, {243.54, 54.71},
       {236.78, 62.12}, {226.42, 68.56}, {213.38, 70.48}, {199.45, 65.8}, {190.1, 57.85},
       {184.43, 46.44}, {183.35, 41.34}, {185.37, 37.9}},
      {{80.08, -2.35}, {69.61, 28.1}, {64.75, 37.12}, {60.46, 41.39}},
      {{-0.25, -1.13}, {0.19, 3.24}, {8.89, 19.21}, {15.78, 37.35}, {18.54, 40.42}},
      {{18.54, 40.42}, {56.73, 39.61}, {60.46, 41.39}},
      {{18.54, 40.42}, {17.36, 44.02}, {18.34, 47.36}, {27.74, 70.47}, {36.53, 88.2},
       {40.1, 90.6}, {44.26, 89.33}, {49.36, 79.07}, {60.51, 46.1}, {60.46, 41.39}},
  };
  constexpr double kTolerance = 0.8;  // a tenth of the feature size, as the SVG output uses
  std::size_t points = 0, pieces = 0;
  for (const Polyline& chain : chains) {
    const Pieces fitted = fit_curves(chain, kTolerance);
    // The loop of the e meets its bar turning 60.4°: a corner, on its seam.
    expect_fits(chain, fitted, kTolerance, {{185.37, 37.9}});
    points += chain.size();
    pieces += fitted.size();
  }
  EXPECT_LE(pieces * 2, points);
}

TEST(FitCurves, SharpTurnsKeepACornerAndGentleOnesStaySmooth) {
  struct Case {
    const char* name;
    Polyline chain;
    std::vector<Point> corners;
    std::size_t pieces;  // one per straight side; 0: not checked
  };
  // Legs of points about `step` apart from `from` through `via` to `to`.
  const auto legs = [](Point from, Point via, Point to, double step = 1) {
    Polyline out;
    for (const auto& [a, b] : {std::pair{from, via}, std::pair{via, to}}) {
      const int steps = int(std::round(dist(a, b) / step));
      for (int k = out.empty() ? 0 : 1; k <= steps; ++k) {
        out.push_back({a.x + (b.x - a.x) * k / steps, a.y + (b.y - a.y) * k / steps});
      }
    }
    return out;
  };
  const double c = std::cos(kPi / 6), s = std::sin(kPi / 6);  // a 30° turn at (10, 0)
  const Polyline square{{0, 0}, {4, 0}, {8, 0}, {8, 4}, {8, 8}, {4, 8},
                        {0, 8}, {0, 4}, {0, 0}};
  const Case cases[] = {
      {"L", legs({0, 0}, {10, 0}, {10, 10}), {{10, 0}}, 2},
      // Points closer than the reach turn sharply next to the corner too: one corner all the same.
      {"dense L", legs({0, 0}, {1, 0}, {1, 1}, 0.01), {{1, 0}}, 2},
      {"V", legs({0, 0}, {10, 0}, {1, 4}), {{10, 0}}, 2},
      {"square closed at a corner", square, {{0, 0}, {8, 0}, {8, 8}, {0, 8}}, 4},
      {"gentle turn", legs({0, 0}, {10, 0}, {10 + 10 * c, 10 * s}, 0.25), {}, 0},
      // Points a unit apart: no smooth curve rounds the turn within 0.05 between them.
      {"gentle turn between far points", legs({0, 0}, {10, 0}, {10 + 10 * c, 10 * s}), {{10, 0}},
       2},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const Pieces pieces = fit_curves(k.chain, 0.05);
    expect_fits(k.chain, pieces, 0.05, k.corners);
    if (k.pieces > 0) {
      EXPECT_EQ(pieces.size(), k.pieces);
    }
    for (const Point& corner : k.corners) {  // a joint, or the seam
      EXPECT_TRUE(std::any_of(pieces.begin(), pieces.end(),
                              [&](const CubicPiece& p) { return p.p0 == corner; }));
    }
  }
}

// Points on a circle, unevenly spaced, open or closed: where pieces meet (the seam included) they
// share the circle's own tangent, which the parabola through a joint and its neighbours gives
// exactly. The tolerance lets the curve bow off the chords as the circle does.
TEST(FitCurves, JointsTakeTheTangentOfTheCurve) {
  const double gaps[] = {4, 11, 7, 15, 5, 9, 13, 6};  // degrees
  for (const bool closed : {false, true}) {
    SCOPED_TRACE(closed ? "closed" : "open");
    Polyline chain;
    double angle = 0;
    for (int k = 0; angle < (closed ? 360 : 300); ++k) {
      chain.push_back({10 * std::cos(angle * kPi / 180), 10 * std::sin(angle * kPi / 180)});
      angle += gaps[k % 8];
    }
    if (closed) chain.push_back(chain.front());
    const Pieces pieces = fit_curves(chain, 0.1);
    expect_fits(chain, pieces, 0.1);
    ASSERT_GE(pieces.size(), 3u);
    for (std::size_t k = closed ? 0 : 1; k < pieces.size(); ++k) {
      const Point& p = pieces[k].p0;
      EXPECT_TRUE(same_direction(minus(pieces[k].p1, p), {-p.y, p.x})) << "piece " << k;
    }
  }
}

// Chains whose points a bowed piece passes exactly: the curve must keep to the polyline between
// them too, at any tolerance.
TEST(FitCurves, CurvesKeepToThePolylineBetweenPoints) {
  const Polyline flat{{0, 0}, {2, 1}, {40, 1}, {42, 0}};
  const Polyline hook{{0, 0}, {0, 70}, {1, 72}};
  for (const auto& [chain, tol] : {std::pair{flat, 1.0}, {hook, 0.5}, {hook, 0.05}}) {
    expect_fits(chain, fit_curves(chain, tol), tol, chain);
  }
}

TEST(FitCurves, EdgeCases) {
  const Point a{1, 2}, b{4, 8}, m{3, 3};
  EXPECT_TRUE(fit_curves({}, 0.1).empty());
  EXPECT_TRUE(fit_curves({a}, 0.1).empty());
  EXPECT_TRUE(fit_curves({a, a, a}, 0.1).empty());
  // Two points: a straight piece with its handles at thirds.
  const Pieces line = fit_curves({a, b}, 0.1);
  const Pieces thirds{{a, {2, 4}, {3, 6}, b}};
  EXPECT_EQ(line, thirds);
  // Three points a tolerance cannot round: straight pieces, meeting at a corner.
  for (const Polyline& three :
       {Polyline{a, m, b}, Polyline{a, {9, 2}, {1, 3}}, Polyline{a, b, a}}) {
    const Pieces pieces = fit_curves(three, 1e-6);
    ASSERT_EQ(pieces.size(), 2u);
    expect_fits(three, pieces, 1e-6, {a, three[1]});
  }
  // Coordinates whose differences overflow: finite pieces, through every point.
  for (const Polyline& huge : {Polyline{{0, 0}, {1e154, 1e154}, {2e154, 0}, {3e154, 1e154}},
                               Polyline{{0, 0}, {1e300, 1e300}, {2e300, 0}}}) {
    const Pieces pieces = fit_curves(huge, 1);
    for (const CubicPiece& c : pieces) {
      for (const Point& p : {c.p0, c.p1, c.p2, c.p3}) EXPECT_TRUE(is_finite(p));
    }
    for (const Point& p : huge) {
      EXPECT_TRUE(std::any_of(pieces.begin(), pieces.end(),
                              [&](const CubicPiece& c) { return c.p0 == p || c.p3 == p; }));
    }
  }
  // Repeated points change nothing.
  std::mt19937 rng(3);
  const Polyline curve = smooth_curve(0, 40, 0.001, rng);
  Polyline repeated;
  for (std::size_t k = 0; k < curve.size(); ++k) {
    repeated.insert(repeated.end(), k % 3 == 0 ? 3 : 1, curve[k]);
  }
  EXPECT_EQ(fit_curves(repeated, 0.02), fit_curves(curve, 0.02));
  EXPECT_EQ(fit_curves({a, a, b, b}, 0.1), line);
}

TEST(FitCurves, RejectsBadInput) {
  const auto message = [](const Polyline& chain, double tol) {
    try {
      fit_curves(chain, tol);
    } catch (const InputError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const auto& [tol, text] :
       {std::pair{0.0, "0"}, {-0.5, "-0.5"}, {nan, "NaN"}, {inf, "inf"}}) {
    EXPECT_EQ(message({{0, 0}, {1, 1}}, tol),
              std::string("tolerance must be a positive finite number, got ") + text);
  }
  EXPECT_EQ(message({}, nan), "tolerance must be a positive finite number, got NaN");
  EXPECT_EQ(message({{0, 0}, {1, 1}, {nan, 1}}, 0.1),
            "chain point 2 is (NaN, 1); coordinates must be finite numbers");
  EXPECT_EQ(message({{0, -inf}}, 0.1),
            "chain point 0 is (0, -inf); coordinates must be finite numbers");
}

}  // namespace
}  // namespace linetopo
