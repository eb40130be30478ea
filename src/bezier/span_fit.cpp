// The fit of one span: least squares for its handles on chord-length parameters, refined by
// Newton steps on the parameters and by weighting the worst points, as one cubic piece.
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <utility>

#include "bezier/parts.hpp"

namespace linetopo::bezier_parts {
namespace {

// Refinement rounds (a Newton step on each point's parameter, then a reweighting) tried on a
// piece before it is split; they run while it misses by at most kNewtonErrorTolerances, since a
// piece further off needs a split anyway. Sparse chains need more rounds than dense ones.
constexpr int kNewtonIterations = 16;
constexpr double kNewtonErrorTolerances = 4.0;
// A handle shorter than kMinHandleFraction of its span's length would lose the tangent, and one
// longer than the span loops: such a solve is ill-conditioned and the span falls back on handles
// of a third of its length.
constexpr double kMinHandleFraction = 1e-6;
constexpr double kMaxHandleFraction = 1.0;
constexpr double kFallbackHandleFraction = 1.0 / 3.0;
// Each refinement multiplies a point's weight by this plus its miss over the largest: the worst
// points pull harder, and none drops out of the equations.
constexpr double kMinWeight = 0.25;
// Pivots below this fraction of the largest diagonal entry make the normal equations singular.
constexpr double kSingularPivot = 1e-10;
// Unknowns of the least squares: two handles, each either a length along a fixed tangent or free.
constexpr std::size_t kMaxUnknowns = 4;

// Least squares for the handles given the parameters u (one per span point): each handle is a
// length along its end's tangent, or both coordinates when the end is free and free_ends is set.
// nullopt when the equations are singular or the handles come out degenerate.
std::optional<CubicPiece> solve_handles(const Chain& c, const Span& sp,
                                        const std::vector<double>& u,
                                        const std::vector<double>& weight, bool free_ends) {
  const Point& p0 = c.p[sp.first];
  const Point& p3 = c.p[sp.last];
  const bool free_start = free_ends && !sp.start.fixed;
  const bool free_end = free_ends && !sp.end.fixed;
  const std::size_t unknowns = (free_start ? 2 : 1) + (free_end ? 2 : 1);
  std::array<std::array<double, kMaxUnknowns + 1>, kMaxUnknowns> m{};  // normal equations | rhs
  std::array<Point, kMaxUnknowns> column{};
  for (std::size_t i = 1; i + 1 < u.size(); ++i) {
    const double t = u[i];
    const double v = 1.0 - t;
    const double b1 = 3.0 * v * v * t;
    const double b2 = 3.0 * v * t * t;
    std::size_t j = 0;
    if (free_start) {
      column[j++] = {b1, 0.0};
      column[j++] = {0.0, b1};
    } else {
      column[j++] = b1 * sp.start.tangent;
    }
    if (free_end) {
      column[j++] = {b2, 0.0};
      column[j++] = {0.0, b2};
    } else {
      column[j++] = b2 * sp.end.tangent;
    }
    const Point rest = c.p[sp.first + i] - ((v * v * v + b1) * p0 + (b2 + t * t * t) * p3);
    for (std::size_t a = 0; a < unknowns; ++a) {
      for (std::size_t b = 0; b < unknowns; ++b) m[a][b] += weight[i] * dot(column[a], column[b]);
      m[a][unknowns] += weight[i] * dot(column[a], rest);
    }
  }
  double scale = 0.0;
  for (std::size_t a = 0; a < unknowns; ++a) scale = std::max(scale, m[a][a]);
  // Gaussian elimination with partial pivoting, then back substitution.
  for (std::size_t col = 0; col < unknowns; ++col) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < unknowns; ++r) {
      if (std::abs(m[r][col]) > std::abs(m[pivot][col])) pivot = r;
    }
    if (!(std::abs(m[pivot][col]) > kSingularPivot * scale)) return std::nullopt;
    std::swap(m[col], m[pivot]);
    for (std::size_t r = col + 1; r < unknowns; ++r) {
      const double f = m[r][col] / m[col][col];
      for (std::size_t k = col; k <= unknowns; ++k) m[r][k] -= f * m[col][k];
    }
  }
  std::array<double, kMaxUnknowns> x{};
  for (std::size_t row = unknowns; row-- > 0;) {
    double sum = m[row][unknowns];
    for (std::size_t k = row + 1; k < unknowns; ++k) sum -= m[row][k] * x[k];
    x[row] = sum / m[row][row];
  }
  const Point h1 = free_start ? Point{x[0], x[1]} : x[0] * sp.start.tangent;
  const std::size_t second = free_start ? 2 : 1;
  const Point h2 = free_end ? Point{x[second], x[second + 1]} : x[second] * sp.end.tangent;
  // A free handle must still head into the span as the estimate does, or the piece could loop.
  const double length = c.s[sp.last] - c.s[sp.first];
  const auto sound = [&](const Point& h, const Point& tangent) {
    const double along = dot(h, tangent);
    const double size = norm(h);
    return along > 0.0 && size >= kMinHandleFraction * length &&
           size <= kMaxHandleFraction * length;
  };
  if (!sound(h1, sp.start.tangent) || !sound(h2, sp.end.tangent)) return std::nullopt;
  return with_handles(p0, h1, h2, p3);
}

// The distance of each span point from its curve point, and the largest.
Fit measure(const Chain& c, const Span& sp, const CubicPiece& piece, const std::vector<double>& u,
            std::vector<double>& error) {
  Fit fit{piece, 0.0, sp.first + 1};
  for (std::size_t i = 1; i + 1 < u.size(); ++i) {
    error[i] = dist(at(piece, u[i]), c.p[sp.first + i]);
    if (error[i] > fit.error) {
      fit.error = error[i];
      fit.worst = sp.first + i;
    }
  }
  return fit;
}

// One Newton step per point towards the parameter of its nearest curve point.
void reparametrise(const Chain& c, const Span& sp, const CubicPiece& piece,
                   std::vector<double>& u) {
  for (std::size_t i = 1; i + 1 < u.size(); ++i) {
    const Point d = at(piece, u[i]) - c.p[sp.first + i];
    const Point d1 = first_derivative(piece, u[i]);
    const double denominator = dot(d1, d1) + dot(d, second_derivative(piece, u[i]));
    if (denominator > 0.0) u[i] = std::clamp(u[i] - dot(d, d1) / denominator, 0.0, 1.0);
  }
}

// The fit of a span of at least three points from chord-length parameters, refined by Newton
// steps and by weighting the points by their misses (towards the least largest miss, which is
// what the tolerance asks, rather than the least squares); the best seen is kept. nullopt when
// free handles were asked for and come out unsound.
std::optional<Fit> fit_span(const Chain& c, const Span& sp, bool free_ends, double tolerance) {
  const std::size_t count = sp.last - sp.first + 1;
  const double length = c.s[sp.last] - c.s[sp.first];
  std::vector<double> u(count), weight(count, 1.0), error(count, 0.0);
  for (std::size_t i = 0; i < count; ++i) u[i] = (c.s[sp.first + i] - c.s[sp.first]) / length;
  u.back() = 1.0;
  const auto solve = [&]() -> std::optional<CubicPiece> {
    std::optional<CubicPiece> piece = solve_handles(c, sp, u, weight, free_ends);
    if (piece || free_ends) return piece;
    const double h = kFallbackHandleFraction * length;
    return with_handles(c.p[sp.first], h * sp.start.tangent, h * sp.end.tangent, c.p[sp.last]);
  };
  std::optional<CubicPiece> piece = solve();
  if (!piece) return std::nullopt;
  Fit best = measure(c, sp, *piece, u, error);
  Fit fit = best;
  for (int it = 0; it < kNewtonIterations && best.error > tolerance &&
                   fit.error <= kNewtonErrorTolerances * tolerance;
       ++it) {
    reparametrise(c, sp, fit.piece, u);
    const double largest = measure(c, sp, fit.piece, u, error).error;
    if (largest > 0.0) {
      for (std::size_t i = 1; i + 1 < count; ++i) {
        weight[i] *= kMinWeight + error[i] / largest;
      }
    }
    piece = solve();
    if (!piece) break;
    fit = measure(c, sp, *piece, u, error);
    if (fit.error < best.error) best = fit;
  }
  return best;
}

// The fit's error widened to how far its piece strays from the polyline between the points; a
// fit whose points already miss is left as it is, to be split anyway.
Fit with_stray(const Chain& c, const Span& sp, Fit fit, double tolerance) {
  if (fit.error > tolerance) return fit;
  const Stray stray = stray_from(c, sp, fit.piece, tolerance);
  if (stray.distance > fit.error) {
    fit.error = stray.distance;
    fit.worst = stray.vertex;
  }
  return fit;
}

// Two points: a straight piece unless a neighbour fixes a tangent, whose handle then follows it.
CubicPiece two_point_piece(const Chain& c, const Span& sp) {
  const Point& a = c.p[sp.first];
  const Point& b = c.p[sp.last];
  const double h = kFallbackHandleFraction * dist(a, b);
  const Point h1 = sp.start.fixed ? h * sp.start.tangent : kFallbackHandleFraction * (b - a);
  const Point h2 = sp.end.fixed ? h * sp.end.tangent : kFallbackHandleFraction * (a - b);
  return with_handles(a, h1, h2, b);
}
}  // namespace

CubicPiece straight_piece(const Point& a, const Point& b) {
  return with_handles(a, kFallbackHandleFraction * (b - a), kFallbackHandleFraction * (a - b), b);
}

Fit best_fit(const Chain& c, const Span& sp, double tolerance) {
  if (sp.first >= sp.last || sp.last >= c.n) {
    throw InternalError("internal error: span " + std::to_string(sp.first) + ".." +
                        std::to_string(sp.last) + " of a chain of " + std::to_string(c.n));
  }
  if (sp.last - sp.first == 1) {
    const Fit two = with_stray(c, sp, {two_point_piece(c, sp), 0.0, sp.first}, tolerance);
    // A neighbour's tangent can pull a lone long segment's piece off it: straight then, meeting
    // the neighbour at a slight corner rather than straying.
    if (two.error <= tolerance) return two;
    return {straight_piece(c.p[sp.first], c.p[sp.last]), 0.0, sp.first};
  }
  std::optional<Fit> free;
  const std::size_t unknowns = (sp.start.fixed ? 1 : 2) + (sp.end.fixed ? 1 : 2);
  if (unknowns > 2 && unknowns <= 2 * (sp.last - sp.first - 1)) {
    free = fit_span(c, sp, true, tolerance);
    if (free) free = with_stray(c, sp, *free, tolerance);
    if (free && free->error <= tolerance) return *free;
  }
  std::optional<Fit> fixed = fit_span(c, sp, false, tolerance);
  if (!fixed) throw InternalError("internal error: no fit with fixed tangents");
  fixed = with_stray(c, sp, *fixed, tolerance);
  return free && free->error < fixed->error ? *free : *fixed;
}

}  // namespace linetopo::bezier_parts
