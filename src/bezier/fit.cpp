// Fits a chain with cubic Bézier pieces: least squares on chord-length parameters refined by
// Newton steps, split at the worst point, tangent-continuous except at sharp corners.
#include "bezier/fit.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace linetopo {
namespace {

// A vertex where the chain turns by more than this is a drawn corner: its pieces meet there with
// independent tangents. Smooth curves sampled as the chains are turn far less at a vertex.
constexpr double kCornerDegrees = 60.0;
// Directions and tangents look this many tolerances along the chain (at least to the next
// vertex): noise well below the tolerance barely tilts them, and only a bend tighter than about
// the reach reads as a corner.
constexpr double kReachTolerances = 2.0;
// On a closed chain a direction looks at most this fraction of its length away, so that the two
// sides of a point never overlap.
constexpr double kLoopReachFraction = 0.25;
// Newton reparametrisation steps tried on a piece before it is split; they only run when the
// piece misses by at most kNewtonErrorTolerances, since a piece further off needs a split anyway.
constexpr int kNewtonIterations = 4;
constexpr double kNewtonErrorTolerances = 4.0;
// A handle shorter than kMinHandleFraction of its span's length would lose the tangent, and one
// longer than the span loops: such a solve is ill-conditioned and the span falls back on handles
// of a third of its length.
constexpr double kMinHandleFraction = 1e-6;
constexpr double kMaxHandleFraction = 1.0;
constexpr double kFallbackHandleFraction = 1.0 / 3.0;
// Pivots below this fraction of the largest diagonal entry make the normal equations singular.
constexpr double kSingularPivot = 1e-10;
// Unknowns of the least squares: two handles, each either a length along a fixed tangent or free.
constexpr std::size_t kMaxUnknowns = 4;

Point operator+(const Point& a, const Point& b) { return {a.x + b.x, a.y + b.y}; }
Point operator-(const Point& a, const Point& b) { return {a.x - b.x, a.y - b.y}; }
Point operator*(double k, const Point& a) { return {k * a.x, k * a.y}; }
double dot(const Point& a, const Point& b) { return a.x * b.x + a.y * b.y; }
double cross(const Point& a, const Point& b) { return a.x * b.y - a.y * b.x; }
double norm(const Point& a) { return std::hypot(a.x, a.y); }

Point unit(const Point& v) {
  const double n = norm(v);
  if (!(n > kLengthEpsilon) || !std::isfinite(n)) return {0.0, 0.0};
  return (1.0 / n) * v;
}

Point at(const CubicPiece& c, double u) {
  const double v = 1.0 - u;
  return (v * v * v) * c.p0 + (3.0 * v * v * u) * c.p1 + (3.0 * v * u * u) * c.p2 +
         (u * u * u) * c.p3;
}

Point first_derivative(const CubicPiece& c, double u) {
  const double v = 1.0 - u;
  return (3.0 * v * v) * (c.p1 - c.p0) + (6.0 * v * u) * (c.p2 - c.p1) +
         (3.0 * u * u) * (c.p3 - c.p2);
}

Point second_derivative(const CubicPiece& c, double u) {
  return (6.0 * (1.0 - u)) * (c.p2 - 2.0 * c.p1 + c.p0) + (6.0 * u) * (c.p3 - 2.0 * c.p2 + c.p1);
}

CubicPiece with_handles(const Point& p0, const Point& h1, const Point& h2, const Point& p3) {
  return {p0, p0 + h1, p3 + h2, p3};
}

// The chain without repeated points and its arc lengths. A closed chain is stored as three laps
// (seam points shared), so that directions across the seam are plain index ranges: its vertex i
// is also at index laps_offset + i, with a whole lap on either side.
struct Chain {
  Polyline p;
  std::vector<double> s;
  std::size_t n = 0;  // points of one lap, the seam counted at both ends
  std::size_t laps_offset = 0;
  bool closed = false;
  double reach = 0.0;
};

Chain make_chain(const Polyline& points, double tolerance) {
  Chain c;
  c.n = points.size();
  c.closed = c.n >= 3 && points.front() == points.back();
  const std::size_t laps = c.closed ? 3 : 1;
  c.p = points;
  c.p.reserve(laps * c.n);
  for (std::size_t lap = 1; lap < laps; ++lap) {
    c.p.insert(c.p.end(), points.begin() + 1, points.end());
  }
  c.s.assign(c.p.size(), 0.0);
  for (std::size_t k = 1; k < c.p.size(); ++k) c.s[k] = c.s[k - 1] + dist(c.p[k - 1], c.p[k]);
  c.laps_offset = c.closed ? c.n - 1 : 0;
  c.reach = kReachTolerances * tolerance;
  if (c.closed) c.reach = std::min(c.reach, kLoopReachFraction * c.s[c.n - 1]);
  return c;
}

// The farthest vertex before k, down to lo, within arc r of k; at least the one before k.
std::size_t back_vertex(const Chain& c, std::size_t k, std::size_t lo, double r) {
  if (lo >= k || k >= c.p.size()) throw InternalError("internal error: no vertex before a point");
  const auto first = c.s.begin() + static_cast<std::ptrdiff_t>(lo);
  const auto last = c.s.begin() + static_cast<std::ptrdiff_t>(k);
  const auto j = static_cast<std::size_t>(std::lower_bound(first, last, c.s[k] - r) - c.s.begin());
  return std::min(j, k - 1);
}

// The farthest vertex after k, up to hi, within arc r of k; at least the one after k.
std::size_t forward_vertex(const Chain& c, std::size_t k, std::size_t hi, double r) {
  if (k >= hi || hi >= c.p.size()) throw InternalError("internal error: no vertex after a point");
  const auto first = c.s.begin() + static_cast<std::ptrdiff_t>(k + 1);
  const auto last = c.s.begin() + static_cast<std::ptrdiff_t>(hi + 1);
  const auto j = static_cast<std::size_t>(std::upper_bound(first, last, c.s[k] + r) - c.s.begin());
  return std::max(j - 1, k + 1);
}

// Tangent at k through the vertices a reach before and after it, weighted as the parabola through
// the three points, so that uneven spacing does not tilt it; {0, 0} where the chain doubles back.
Point through_tangent(const Chain& c, std::size_t k, std::size_t lo, std::size_t hi) {
  const double r = std::min({c.reach, c.s[k] - c.s[lo], c.s[hi] - c.s[k]});
  const Point& before = c.p[back_vertex(c, k, lo, r)];
  const Point& after = c.p[forward_vertex(c, k, hi, r)];
  const Point& p = c.p[k];
  const Point t = unit(dist(p, after) * unit(p - before) + dist(before, p) * unit(after - p));
  return t == Point{} ? unit(after - before) : t;
}

// Angle between the directions into and out of a chain vertex over the reach, wrapping round a
// closed chain; 0 at the ends of an open one.
double turn_at(const Chain& c, std::size_t vertex) {
  if (!c.closed && (vertex == 0 || vertex + 1 >= c.n)) return 0.0;
  const std::size_t k = c.laps_offset + vertex;
  const Point& p = c.p[k];
  const Point in = unit(p - c.p[back_vertex(c, k, 0, c.reach)]);
  const Point out = unit(c.p[forward_vertex(c, k, c.p.size() - 1, c.reach)] - p);
  if (in == Point{} || out == Point{}) return 0.0;
  return std::atan2(std::abs(cross(in, out)), dot(in, out));
}

// Corner vertices in increasing order: the sharpest turns first, each keeping the vertices within
// a reach of it (round the seam of a closed chain) from being corners too, since a corner blurred
// over a few vertices turns sharply at each of them.
std::vector<std::size_t> find_corners(const Chain& c) {
  const std::size_t vertices = c.closed ? c.n - 1 : c.n;
  std::vector<std::pair<double, std::size_t>> candidates;
  for (std::size_t v = 0; v < vertices; ++v) {
    const double turn = turn_at(c, v);
    if (turn > kCornerDegrees * kPi / 180.0) candidates.emplace_back(-turn, v);
  }
  std::sort(candidates.begin(), candidates.end());
  const double lap = c.s[c.n - 1];
  const auto apart = [&](std::size_t a, std::size_t b) {
    const double gap = std::abs(c.s[a] - c.s[b]);
    return (c.closed ? std::min(gap, lap - gap) : gap) > c.reach;
  };
  std::set<std::size_t> corners;
  for (const auto& [turn, v] : candidates) {
    const auto next = corners.lower_bound(v);
    // Past the last corner the next one round a closed chain is the first, and the other way.
    const bool clear_after =
        next != corners.end() ? apart(v, *next) : corners.empty() || apart(v, *corners.begin());
    const bool clear_before = next != corners.begin()
                                  ? apart(v, *std::prev(next))
                                  : corners.empty() || apart(v, *corners.rbegin());
    if (clear_after && clear_before) corners.insert(v);
  }
  return {corners.begin(), corners.end()};
}

// One end of a span: its tangent pointing into the span, fixed where a neighbouring piece shares
// it, an estimate the fit may improve on where the end is free (a chain end or a corner).
struct End {
  Point tangent;
  bool fixed = false;
};

struct Span {
  std::size_t first = 0;
  std::size_t last = 0;
  End start;
  End end;
};

// Free end tangents: towards the farthest vertex within a reach and half the span.
Point end_estimate(const Chain& c, std::size_t first, std::size_t last, bool at_last) {
  const double r = std::min(c.reach, 0.5 * (c.s[last] - c.s[first]));
  const std::size_t k = at_last ? last : first;
  const std::size_t j =
      at_last ? back_vertex(c, last, first, r) : forward_vertex(c, first, last, r);
  return unit(c.p[j] - c.p[k]);
}

struct Fit {
  CubicPiece piece;
  double error = 0.0;
  std::size_t worst = 0;  // the span point furthest from its curve point
};

// Least squares for the handles given the parameters u (one per span point): each handle is a
// length along its end's tangent, or both coordinates when the end is free and free_ends is set.
// nullopt when the equations are singular or the handles come out degenerate.
std::optional<CubicPiece> solve_handles(const Chain& c, const Span& sp,
                                        const std::vector<double>& u, bool free_ends) {
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
      for (std::size_t b = 0; b < unknowns; ++b) m[a][b] += dot(column[a], column[b]);
      m[a][unknowns] += dot(column[a], rest);
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

void measure(const Chain& c, const Span& sp, const std::vector<double>& u, Fit& fit) {
  fit.error = 0.0;
  fit.worst = sp.first + 1;
  for (std::size_t i = 1; i + 1 < u.size(); ++i) {
    const double d = dist(at(fit.piece, u[i]), c.p[sp.first + i]);
    if (d > fit.error) {
      fit.error = d;
      fit.worst = sp.first + i;
    }
  }
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

// The fit of a span of at least three points from chord-length parameters and Newton steps;
// nullopt when free handles were asked for and come out unsound.
std::optional<Fit> fit_span(const Chain& c, const Span& sp, bool free_ends, double tolerance) {
  const std::size_t count = sp.last - sp.first + 1;
  const double length = c.s[sp.last] - c.s[sp.first];
  std::vector<double> u(count);
  for (std::size_t i = 0; i < count; ++i) u[i] = (c.s[sp.first + i] - c.s[sp.first]) / length;
  u.back() = 1.0;
  const auto solve = [&]() -> std::optional<CubicPiece> {
    std::optional<CubicPiece> piece = solve_handles(c, sp, u, free_ends);
    if (piece || free_ends) return piece;
    const double h = kFallbackHandleFraction * length;
    return with_handles(c.p[sp.first], h * sp.start.tangent, h * sp.end.tangent, c.p[sp.last]);
  };
  std::optional<CubicPiece> piece = solve();
  if (!piece) return std::nullopt;
  Fit fit{*piece};
  measure(c, sp, u, fit);
  for (int it = 0; it < kNewtonIterations && fit.error > tolerance &&
                   fit.error <= kNewtonErrorTolerances * tolerance;
       ++it) {
    reparametrise(c, sp, fit.piece, u);
    piece = solve();
    if (!piece) break;
    fit.piece = *piece;
    measure(c, sp, u, fit);
  }
  return fit;
}

CubicPiece straight_piece(const Point& a, const Point& b) {
  return with_handles(a, kFallbackHandleFraction * (b - a), kFallbackHandleFraction * (a - b), b);
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

// Three points: the quadratic through them at chord-length parameters, raised to a cubic.
CubicPiece three_point_piece(const Polyline& p) {
  const double a = dist(p[0], p[1]);
  const double t = a / (a + dist(p[1], p[2]));
  if (!(t > 0.0 && t < 1.0)) return straight_piece(p[0], p[2]);  // a middle point on an end
  const Point control =
      p[0] + (1.0 / (2.0 * t * (1.0 - t))) * ((p[1] - p[0]) - (t * t) * (p[2] - p[0]));
  return {p[0], p[0] + (2.0 / 3.0) * (control - p[0]), p[2] + (2.0 / 3.0) * (control - p[2]),
          p[2]};
}

// Spans between corners (and the chain ends); the seam of a closed chain that is no corner gets
// one tangent through it.
std::vector<Span> corner_spans(const Chain& c) {
  const std::vector<std::size_t> corners = find_corners(c);
  std::vector<std::size_t> cuts{0};
  for (const std::size_t v : corners) {
    if (v != 0) cuts.push_back(v);
  }
  cuts.push_back(c.n - 1);
  std::vector<Span> spans;
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
    Span sp{cuts[k], cuts[k + 1], {}, {}};
    sp.start.tangent = end_estimate(c, sp.first, sp.last, false);
    sp.end.tangent = end_estimate(c, sp.first, sp.last, true);
    spans.push_back(sp);
  }
  const bool seam_corner = !corners.empty() && corners.front() == 0;
  if (c.closed && !seam_corner) {
    const Point t = through_tangent(c, c.laps_offset, 0, c.p.size() - 1);
    if (t != Point{}) {
      spans.front().start = {t, true};
      spans.back().end = {-1.0 * t, true};
    }
  }
  return spans;
}

// Fits each span, splitting at its worst point until every piece is within the tolerance. A
// work stack instead of recursion: every split shortens a span, and two points always fit.
void fit_spans(const Chain& c, const std::vector<Span>& spans, double tolerance,
               std::vector<CubicPiece>& out) {
  std::vector<Span> stack(spans.rbegin(), spans.rend());
  while (!stack.empty()) {
    const Span sp = stack.back();
    stack.pop_back();
    if (sp.first >= sp.last || sp.last >= c.n) {
      throw InternalError("internal error: span " + std::to_string(sp.first) + ".." +
                          std::to_string(sp.last) + " of a chain of " + std::to_string(c.n));
    }
    if (sp.last - sp.first == 1) {
      out.push_back(two_point_piece(c, sp));
      continue;
    }
    // Free handles where no neighbour fixes them: fewer pieces, when the points determine them.
    const std::size_t unknowns = (sp.start.fixed ? 1 : 2) + (sp.end.fixed ? 1 : 2);
    if (unknowns > 2 && unknowns <= 2 * (sp.last - sp.first - 1)) {
      const std::optional<Fit> free = fit_span(c, sp, true, tolerance);
      if (free && free->error <= tolerance) {
        out.push_back(free->piece);
        continue;
      }
    }
    const std::optional<Fit> fit = fit_span(c, sp, false, tolerance);
    if (!fit) throw InternalError("internal error: no fit with fixed tangents");
    if (fit->error <= tolerance) {
      out.push_back(fit->piece);
      continue;
    }
    const std::size_t w = fit->worst;
    if (w <= sp.first || w >= sp.last) throw InternalError("internal error: split at a span end");
    const Point t = through_tangent(c, w, sp.first, sp.last);
    // Where the chain doubles back there is no tangent to share: the halves meet as at a corner.
    const End right_start = t == Point{} ? End{end_estimate(c, w, sp.last, false), false}
                                         : End{t, true};
    const End left_end = t == Point{} ? End{end_estimate(c, sp.first, w, true), false}
                                      : End{-1.0 * t, true};
    stack.push_back({w, sp.last, right_start, sp.end});
    stack.push_back({sp.first, w, sp.start, left_end});
  }
}

}  // namespace

std::vector<CubicPiece> fit_curves(const Polyline& chain, double tolerance) {
  if (!(tolerance > 0.0) || !std::isfinite(tolerance)) {
    throw InputError("tolerance must be a positive finite number, got " + number_text(tolerance));
  }
  Polyline points;
  points.reserve(chain.size());
  for (std::size_t k = 0; k < chain.size(); ++k) {
    if (!is_finite(chain[k])) throw_not_finite(chain[k], "chain point " + std::to_string(k));
    if (points.empty() || chain[k] != points.back()) points.push_back(chain[k]);
  }
  if (points.size() < 2) return {};
  if (points.size() == 2) return {straight_piece(points[0], points[1])};
  if (points.size() == 3) return {three_point_piece(points)};
  const Chain c = make_chain(points, tolerance);
  std::vector<CubicPiece> out;
  fit_spans(c, corner_spans(c), tolerance, out);
  return out;
}

}  // namespace linetopo
