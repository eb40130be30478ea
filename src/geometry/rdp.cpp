// Ramer-Douglas-Peucker simplification driven by an explicit work list, so depth costs heap, not
// call stack.
#include "geometry/rdp.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>

namespace linetopo {

namespace {

// Points [first, last] of the input simplified, appended to out without their first point.
void rdp_span(const std::vector<Point>& all, std::size_t first, std::size_t last, double epsilon,
              std::vector<Point>& out) {
  const auto points = std::span<const Point>(all).subspan(first, last - first + 1);
  const std::size_t n = points.size();
  if (n <= 2) {
    out.push_back(points.back());
    return;
  }

  // The recursive form keeps exactly the end points of every range it visits, in index order, so
  // marking those and collecting them afterwards reproduces its output whatever the visiting order.
  std::vector<char> keep(n, 0);
  keep[0] = 1;
  keep[n - 1] = 1;
  std::vector<std::pair<std::size_t, std::size_t>> work{{0, n - 1}};
  while (!work.empty()) {
    const auto [lo, hi] = work.back();
    work.pop_back();
    if (hi - lo < 2) continue;
    const Point a = points[lo];
    const double dx = points[hi].x - a.x;
    const double dy = points[hi].y - a.y;
    const double g = dx * dx + dy * dy;
    double greatest = 0.0;
    std::size_t index = 0;  // 0 is never interior: no point kept
    for (std::size_t i = lo + 1; i < hi; ++i) {
      const Point& p = points[i];
      double d = 0.0;
      if (g != 0.0) {
        // Distance to the infinite line, so u is deliberately not clamped to [0, 1].
        const double u = ((p.x - a.x) * dx + (p.y - a.y) * dy) / g;
        const double fx = a.x + dx * u;
        const double fy = a.y + dy * u;
        d = std::sqrt((fx - p.x) * (fx - p.x) + (fy - p.y) * (fy - p.y));
      } else {
        d = std::sqrt((p.x - a.x) * (p.x - a.x) + (p.y - a.y) * (p.y - a.y));
      }
      if (d > greatest) {  // strict: ties stay with the lowest index
        greatest = d;
        index = i;
      }
    }
    // index == 0 also ends a range when epsilon is negative or NaN, where splitting at the first
    // point would never shrink it.
    if (greatest <= epsilon || index == 0) continue;
    keep[index] = 1;
    work.emplace_back(index, hi);
    work.emplace_back(lo, index);
  }

  for (std::size_t i = 1; i < n; ++i) {
    if (keep[i] != 0) out.push_back(points[i]);
  }
}

}  // namespace

std::vector<Point> rdp(const std::vector<Point>& points, double epsilon) {
  const std::size_t n = points.size();
  if (n <= 2) return points;
  // One span for all but very long inputs; those go in spans that share their end points, since
  // a split that peels one point off a long range at a time (a spiral does that) makes the
  // whole quadratic.
  std::vector<Point> out{points.front()};
  for (std::size_t first = 0; first + 1 < n; first += kRdpSpan - 1) {
    rdp_span(points, first, std::min(n - 1, first + kRdpSpan - 1), epsilon, out);
  }
  return out;
}

}  // namespace linetopo
