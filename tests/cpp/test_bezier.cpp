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

// Distance from p to the piecewise curve: 200 samples per piece, each local minimum refined by
// 200 samples between its neighbours, so that the result is within a 40000th of a piece's
// parameter range of the true distance.
double distance_to(const Pieces& pieces, const Point& p) {
  constexpr int kSamples = 200;
  double best = std::numeric_limits<double>::infinity();
  for (const CubicPiece& c : pieces) {
    std::vector<double> d(kSamples + 1);
    for (int k = 0; k <= kSamples; ++k) d[k] = dist(p, bezier_at(c, double(k) / kSamples));
    for (int k = 0; k <= kSamples; ++k) {
      if ((k > 0 && d[k - 1] < d[k]) || (k < kSamples && d[k + 1] < d[k])) continue;
      const double lo = std::max(0, k - 1), hi = std::min(kSamples, k + 1);
      for (int j = 0; j <= kSamples; ++j) {
        const double u = (lo + (hi - lo) * j / kSamples) / kSamples;
        best = std::min(best, dist(p, bezier_at(c, u)));
      }
    }
  }
  return best;
}

Point minus(const Point& a, const Point& b) { return {a.x - b.x, a.y - b.y}; }

// Whether a and b point the same way, up to rounding.
bool same_direction(const Point& a, const Point& b) {
  const double na = std::hypot(a.x, a.y), nb = std::hypot(b.x, b.y);
  if (!(na > 0 && nb > 0)) return false;
  return std::abs(a.x * b.y - a.y * b.x) <= 1e-7 * na * nb && a.x * b.x + a.y * b.y > 0;
}

// Pieces that run from the chain's first to its last point joint to joint, pass within tol of
// every chain point, and are tangent-continuous at every joint (and round the seam of a closed
// chain) except at the given corners.
void expect_fits(const Polyline& chain, const Pieces& pieces, double tol,
                 const std::vector<Point>& corners = {}) {
  ASSERT_FALSE(pieces.empty());
  EXPECT_EQ(pieces.front().p0, chain.front());
  EXPECT_EQ(pieces.back().p3, chain.back());
  for (std::size_t k = 0; k < chain.size(); ++k) {
    EXPECT_LE(distance_to(pieces, chain[k]), tol * (1 + 1e-9)) << "point " << k;
  }
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

// Where pieces meet, the seam of a closed chain included.
std::vector<Point> joints(const Pieces& pieces) {
  std::vector<Point> out;
  if (pieces.front().p0 == pieces.back().p3) out.push_back(pieces.front().p0);
  for (std::size_t k = 0; k + 1 < pieces.size(); ++k) out.push_back(pieces[k].p3);
  return out;
}

enum class Shape { kSine, kArc, kSpiral };

// A smooth curve some 20 units long, sampled every `step` along its parameter, with noise of
// `noise` on each coordinate.
Polyline smooth_curve(Shape shape, int points, double noise, std::mt19937& rng) {
  std::uniform_real_distribution<double> jitter(-noise, noise);
  Polyline out;
  for (int k = 0; k < points; ++k) {
    const double t = double(k) / (points - 1);
    Point p;
    switch (shape) {
      case Shape::kSine: p = {20 * t, 3 * std::sin(2 * kPi * 1.5 * t)}; break;
      case Shape::kArc: p = {6 * std::cos(1.2 * kPi * t), 6 * std::sin(1.2 * kPi * t)}; break;
      case Shape::kSpiral: {
        const double r = 2 + 3 * t, a = 3 * kPi * t;
        p = {r * std::cos(a), r * std::sin(a)};
        break;
      }
    }
    out.push_back({p.x + jitter(rng), p.y + jitter(rng)});
  }
  return out;
}

TEST(FitCurves, SmoothCurvesFitWithFewTangentContinuousPieces) {
  std::mt19937 rng(7);
  for (const Shape shape : {Shape::kSine, Shape::kArc, Shape::kSpiral}) {
    for (const double tol : {0.01, 0.05, 0.2}) {
      for (const int points : {60, 200, 500}) {
        SCOPED_TRACE("shape " + std::to_string(int(shape)) + ", tol " + std::to_string(tol) +
                     ", " + std::to_string(points) + " points");
        const Polyline dense = smooth_curve(shape, points, tol / 20, rng);
        const Pieces pieces = fit_curves(dense, tol);
        expect_fits(dense, pieces, tol);
        EXPECT_LE(pieces.size() * 4, dense.size());
        // The chains come simplified: the points left where the curve bends still fit.
        const Polyline sparse = rdp(dense, tol);
        expect_fits(sparse, fit_curves(sparse, tol), tol);
      }
    }
  }
}

TEST(FitCurves, SharpTurnsKeepACornerAndGentleOnesStaySmooth) {
  struct Case {
    const char* name;
    Polyline chain;
    std::vector<Point> corners;
  };
  // Legs of points a unit apart from `from` through `via` to `to`.
  const auto legs = [](Point from, Point via, Point to) {
    Polyline out;
    for (const auto& [a, b] : {std::pair{from, via}, std::pair{via, to}}) {
      const int steps = int(std::round(dist(a, b)));
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
      {"L", legs({0, 0}, {10, 0}, {10, 10}), {{10, 0}}},
      {"V", legs({0, 0}, {10, 0}, {1, 4}), {{10, 0}}},
      {"square closed at a corner", square, {{0, 0}, {8, 0}, {8, 8}, {0, 8}}},
      {"gentle turn", legs({0, 0}, {10, 0}, {10 + 10 * c, 10 * s}), {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const Pieces pieces = fit_curves(k.chain, 0.05);
    expect_fits(k.chain, pieces, 0.05, k.corners);
    const std::vector<Point> at = joints(pieces);
    for (const Point& corner : k.corners) {
      EXPECT_NE(std::find(at.begin(), at.end(), corner), at.end());
    }
  }
}

TEST(FitCurves, EdgeCases) {
  const Point a{1, 2}, b{4, 8}, m{3, 3};
  EXPECT_TRUE(fit_curves({}, 0.1).empty());
  EXPECT_TRUE(fit_curves({a}, 0.1).empty());
  EXPECT_TRUE(fit_curves({a, a, a}, 0.1).empty());
  // Two points: a straight piece with its handles at thirds.
  const Pieces line = fit_curves({a, b}, 0.1);
  ASSERT_EQ(line.size(), 1u);
  EXPECT_EQ(line[0].p0, a);
  EXPECT_EQ(line[0].p3, b);
  EXPECT_NEAR(line[0].p1.x, 2, 1e-12);
  EXPECT_NEAR(line[0].p1.y, 4, 1e-12);
  EXPECT_NEAR(line[0].p2.x, 3, 1e-12);
  EXPECT_NEAR(line[0].p2.y, 6, 1e-12);
  // Three points, even a sharp turn: one piece through all of them.
  for (const Polyline& three : {Polyline{a, m, b}, Polyline{a, {9, 2}, {1, 3}}, Polyline{a, b, a}}) {
    const Pieces piece = fit_curves(three, 1e-6);
    ASSERT_EQ(piece.size(), 1u);
    expect_fits(three, piece, 1e-9, {a});
  }
  // Repeated points change nothing.
  std::mt19937 rng(3);
  const Polyline curve = smooth_curve(Shape::kSine, 40, 0.001, rng);
  Polyline repeated;
  for (std::size_t k = 0; k < curve.size(); ++k) {
    repeated.insert(repeated.end(), k % 3 == 0 ? 3 : 1, curve[k]);
  }
  EXPECT_EQ(fit_curves(repeated, 0.02), fit_curves(curve, 0.02));
  EXPECT_EQ(fit_curves({a, a, b, b}, 0.1), line);
  // A closed circle: tangent-continuous round the seam too.
  Polyline circle;
  for (int k = 0; k < 64; ++k) circle.push_back({5 * std::cos(kPi * k / 32), 5 * std::sin(kPi * k / 32)});
  circle.push_back(circle.front());
  const Pieces round = fit_curves(circle, 0.01);
  expect_fits(circle, round, 0.01);
  EXPECT_LE(round.size() * 4, circle.size());
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
  const Polyline ok{{0, 0}, {1, 1}};
  EXPECT_EQ(message(ok, 0), "tolerance must be a positive finite number, got 0");
  EXPECT_EQ(message(ok, -0.5), "tolerance must be a positive finite number, got -0.5");
  EXPECT_EQ(message({}, nan), "tolerance must be a positive finite number, got NaN");
  EXPECT_EQ(message(ok, inf), "tolerance must be a positive finite number, got inf");
  EXPECT_EQ(message({{0, 0}, {1, 1}, {nan, 1}}, 0.1),
            "chain point 2 is (NaN, 1); coordinates must be finite numbers");
  EXPECT_EQ(message({{0, -inf}}, 0.1),
            "chain point 0 is (0, -inf); coordinates must be finite numbers");
}

}  // namespace
}  // namespace linetopo
