// How far a fitted piece strays from the polyline it stands for, between the chain's points as
// well as at them. The distance to one segment is convex, so a part of the curve whose four
// control points lie within d of a segment lies within d of it everywhere: the piece is cut in
// halves until each part is held so by a segment, which bounds the stray from above. Straight
// runs of segments (those of a long segment cut for the fit among them) count as one segment, so
// that a part across one of their joints is held; the runs near a point come from a tree of
// boxes over them.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "bezier/parts.hpp"

namespace linetopo::bezier_parts {
namespace {

// A part is no longer halved once it is this short a fraction of the piece, nor once this many
// parts have been looked at; its bound then stands, and the span is split instead.
constexpr double kMinPartWidth = 1.0 / (1 << 20);
constexpr std::size_t kMaxParts = 1 << 14;
// A run of segments is straight when its points lie within this many tolerances of its chord, in
// order along it; the chord then stands within that of the run, and the bound grows by it.
constexpr double kStraightTolerances = 1e-3;
// Runs are looked for among at most this many points, so that finding them stays linear.
constexpr std::size_t kMaxRunPoints = 64;

// Squared distances: the searches compare them with squared radii.
double segment_distance2(const Point& p, const Point& a, const Point& b) {
  const Point ab = b - a;
  const double len2 = dot(ab, ab);
  const double t = len2 > 0.0 ? std::clamp(dot(p - a, ab) / len2, 0.0, 1.0) : 0.0;
  return dist2(p, a + t * ab);
}

double segment_distance(const Point& p, const Point& a, const Point& b) {
  return std::sqrt(segment_distance2(p, a, b));
}

double box_distance2(const Point& p, const SegmentBox& b) {
  const double dx = std::max({b.lo.x - p.x, 0.0, p.x - b.hi.x});
  const double dy = std::max({b.lo.y - p.y, 0.0, p.y - b.hi.y});
  return dx * dx + dy * dy;
}

// The halves of a piece at u = 1/2 (de Casteljau).
std::pair<CubicPiece, CubicPiece> halves(const CubicPiece& c) {
  const Point a = 0.5 * (c.p0 + c.p1);
  const Point b = 0.5 * (c.p1 + c.p2);
  const Point d = 0.5 * (c.p2 + c.p3);
  const Point ab = 0.5 * (a + b);
  const Point bd = 0.5 * (b + d);
  const Point mid = 0.5 * (ab + bd);
  return {{c.p0, a, ab, mid}, {mid, bd, d, c.p3}};
}

// Calls visit(r, distance) for the runs r in [lo, hi] of the chain whose chords are within
// `radius` of p; visit returns the radius to go on with (smaller to narrow the search).
template <class Visit>
void near_runs(const Chain& c, const Point& p, std::size_t lo, std::size_t hi, double radius,
               const Visit& visit) {
  const std::size_t leaves = c.boxes.size() / 2;
  struct Node {
    std::size_t index, first, last;  // the segments first..last under it
  };
  // Depth first, the stack never holds more than one node per level and one more: no heap on
  // this path, which every part of every piece takes.
  std::array<Node, std::size_t{2} * std::numeric_limits<std::size_t>::digits> stack;
  std::size_t size = 0;
  stack[size++] = {1, 0, leaves - 1};
  while (size > 0) {
    const Node n = stack[--size];
    if (n.last < lo || n.first > hi || box_distance2(p, c.boxes[n.index]) > radius * radius) {
      continue;
    }
    if (n.first == n.last) {
      const Run& run = c.runs[n.first];
      const double d2 = segment_distance2(p, c.p[run.first], c.p[run.last]);
      if (d2 <= radius * radius) radius = visit(n.first, std::sqrt(d2));
      continue;
    }
    const std::size_t mid = n.first + (n.last - n.first) / 2;
    stack[size++] = {2 * n.index + 1, mid + 1, n.last};
    stack[size++] = {2 * n.index, n.first, mid};
  }
}

}  // namespace

void straight_runs(Chain& c, double tolerance) {
  const double slack = kStraightTolerances * tolerance;
  // Whether the points strictly between first and last lie within slack of their chord, each
  // further along it than the one before.
  const auto straight = [&](std::size_t first, std::size_t last) {
    const Point& a = c.p[first];
    const Point ab = c.p[last] - a;
    const double len2 = dot(ab, ab);
    if (!(len2 > 0.0)) return false;
    double along = 0.0;
    for (std::size_t k = first + 1; k < last; ++k) {
      const double t = dot(c.p[k] - a, ab) / len2;
      if (t < along || t > 1.0 || segment_distance(c.p[k], a, c.p[last]) > slack) return false;
      along = t;
    }
    return true;
  };
  c.runs.clear();
  c.run_of.assign(c.p.size(), 0);
  for (std::size_t first = 0; first + 1 < c.p.size();) {
    std::size_t last = first + 1;
    while (last + 1 < c.p.size() && last + 1 - first < kMaxRunPoints && straight(first, last + 1)) {
      ++last;
    }
    for (std::size_t k = first; k < last; ++k) c.run_of[k] = c.runs.size();
    c.runs.push_back({first, last});
    first = last;
  }
  std::size_t leaves = 1;
  while (leaves < c.runs.size()) leaves *= 2;
  constexpr double inf = std::numeric_limits<double>::infinity();
  c.boxes.assign(2 * leaves, SegmentBox{{inf, inf}, {-inf, -inf}});
  for (std::size_t r = 0; r < c.runs.size(); ++r) {
    const Point& a = c.p[c.runs[r].first];
    const Point& b = c.p[c.runs[r].last];
    c.boxes[leaves + r] = {{std::min(a.x, b.x), std::min(a.y, b.y)},
                           {std::max(a.x, b.x), std::max(a.y, b.y)}};
  }
  for (std::size_t k = leaves; k-- > 1;) {
    const SegmentBox& a = c.boxes[2 * k];
    const SegmentBox& b = c.boxes[2 * k + 1];
    c.boxes[k] = {{std::min(a.lo.x, b.lo.x), std::min(a.lo.y, b.lo.y)},
                  {std::max(a.hi.x, b.hi.x), std::max(a.hi.y, b.hi.y)}};
  }
}

Stray stray_from(const Chain& c, const Span& sp, const CubicPiece& piece, double tolerance) {
  const double slack = kStraightTolerances * tolerance;
  const auto held_by = [&](const CubicPiece& part, std::size_t r) {
    const Point& a = c.p[c.runs[r].first];
    const Point& b = c.p[c.runs[r].last];
    return slack + std::sqrt(std::max({segment_distance2(part.p0, a, b),
                                       segment_distance2(part.p1, a, b),
                                       segment_distance2(part.p2, a, b),
                                       segment_distance2(part.p3, a, b)}));
  };
  const std::size_t lo = c.run_of[sp.first];
  const std::size_t hi = c.run_of[sp.last - 1];
  constexpr double inf = std::numeric_limits<double>::infinity();
  Stray worst{0.0, sp.first};
  const auto note = [&](double bound, const Point& where, std::size_t r) {
    if (bound <= worst.distance) return;
    worst.distance = bound;
    // The run's point nearest where it strays.
    std::size_t best = c.runs[r].first;
    for (std::size_t k = c.runs[r].first + 1; k <= c.runs[r].last; ++k) {
      if (dist(where, c.p[k]) < dist(where, c.p[best])) best = k;
    }
    worst.vertex = best;
  };
  struct Part {
    CubicPiece piece;
    double width;
  };
  std::vector<Part> stack{{piece, 1.0}};
  std::size_t parts = 0;
  while (!stack.empty()) {
    const Part part = stack.back();
    stack.pop_back();
    ++parts;
    // A holder lies within its bound of every point of the part, its middle among them.
    const Point middle = at(part.piece, 0.5);
    double bound = inf;
    std::size_t holder = lo;
    near_runs(c, middle, lo, hi, tolerance, [&](std::size_t r, double) {
      const double b = held_by(part.piece, r);
      if (b < bound) {
        bound = b;
        holder = r;
      }
      return bound <= tolerance ? -1.0 : tolerance;  // held: look no further
    });
    if (bound <= tolerance) {
      note(bound, middle, holder);
      continue;
    }
    if (bound == inf) {
      // Nothing within the tolerance of the middle: the piece strays there by the distance to
      // the nearest segment.
      double nearest = inf;
      near_runs(c, middle, lo, hi, inf, [&](std::size_t r, double d) {
        if (d < nearest) {
          nearest = d;
          holder = r;
        }
        return nearest;
      });
      note(nearest, middle, holder);
      continue;
    }
    if (part.width > kMinPartWidth && parts + stack.size() < kMaxParts) {
      const auto [left, right] = halves(part.piece);
      stack.push_back({right, 0.5 * part.width});
      stack.push_back({left, 0.5 * part.width});
      continue;
    }
    note(bound, middle, holder);
  }
  worst.vertex = std::clamp(worst.vertex, sp.first + 1, std::max(sp.first + 1, sp.last - 1));
  return worst;
}

}  // namespace linetopo::bezier_parts
