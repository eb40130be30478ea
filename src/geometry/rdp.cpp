// Ramer-Douglas-Peucker simplification driven by an explicit work list, so depth costs heap, not
// call stack.
#include "geometry/rdp.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace linetopo {

namespace {

// Points per leaf of the box tree, and the ranges short enough to scan without it.
constexpr std::size_t kLeafPoints = 32;
constexpr std::size_t kScanBelow = 256;
// Slack added to a box's distance bound, relative to the box's reach from the chord's start: far
// above the rounding of the distances the scan computes, so that a bound never falls below one.
constexpr double kBoundSlack = 1e-9;

// The farthest point from the line through a range's ends, as the scan in index order finds it:
// the greatest distance, ties to the lowest index.
struct Farthest {
  double distance = 0.0;
  std::size_t index = 0;  // 0 is never interior: no point found
};

// The distance the simplification measures: to the infinite line through a with direction
// (dx, dy) of squared length g, so u is deliberately not clamped to [0, 1]; to a itself where the
// ends coincide.
double distance(const Point& p, const Point& a, double dx, double dy, double g) {
  if (g == 0.0) return std::sqrt((p.x - a.x) * (p.x - a.x) + (p.y - a.y) * (p.y - a.y));
  const double u = ((p.x - a.x) * dx + (p.y - a.y) * dy) / g;
  const double fx = a.x + dx * u;
  const double fy = a.y + dy * u;
  return std::sqrt((fx - p.x) * (fx - p.x) + (fy - p.y) * (fy - p.y));
}

// Bounding boxes of the points in leaves of kLeafPoints and of every pair of sibling nodes above
// them. A range's scan skips each node whose box lies no farther from the line than the farthest
// point so far, which leaves the answer as it is: a tooth of a comb-like edge, at the same
// distance as all the others, ends the scan of the rest of the comb at once.
class BoxTree {
 public:
  explicit BoxTree(std::span<const Point> points) : points_(points) {
    const std::size_t leaves = (points.size() + kLeafPoints - 1) / kLeafPoints;
    while (width_ < leaves) width_ *= 2;
    boxes_.assign(2 * width_, Box{});
    for (std::size_t i = 0; i < points.size(); ++i) boxes_[width_ + i / kLeafPoints].add(points[i]);
    for (std::size_t node = width_ - 1; node >= 1; --node) {
      boxes_[node] = boxes_[2 * node];
      boxes_[node].add(boxes_[2 * node + 1]);
    }
  }

  // The farthest point strictly between lo and hi from the line through them.
  Farthest farthest(std::size_t lo, std::size_t hi) const {
    const Point a = points_[lo];
    const double dx = points_[hi].x - a.x;
    const double dy = points_[hi].y - a.y;
    const double g = dx * dx + dy * dy;
    Farthest best;
    std::vector<std::size_t> stack{1};
    while (!stack.empty()) {
      const std::size_t node = stack.back();
      stack.pop_back();
      const std::size_t level_width = std::bit_floor(node);  // nodes on this node's level
      const std::size_t span = width_ / level_width * kLeafPoints;
      const std::size_t first = (node - level_width) * span;
      if (first + span <= lo + 1 || first >= hi) continue;
      if (!boxes_[node].reaches(a, dx, dy, g, best.distance)) continue;
      if (node >= width_) {
        for (std::size_t i = std::max(first, lo + 1); i < std::min(first + span, hi); ++i) {
          const double d = distance(points_[i], a, dx, dy, g);
          if (d > best.distance) best = {d, i};  // strict: ties stay with the lowest index
        }
        continue;
      }
      stack.push_back(2 * node + 1);
      stack.push_back(2 * node);
    }
    return best;
  }

 private:
  struct Box {
    double x0 = std::numeric_limits<double>::infinity(), y0 = x0;
    double x1 = -std::numeric_limits<double>::infinity(), y1 = x1;

    void add(const Box& b) {
      x0 = std::min(x0, b.x0), y0 = std::min(y0, b.y0);
      x1 = std::max(x1, b.x1), y1 = std::max(y1, b.y1);
    }
    void add(const Point& p) { add(Box{p.x, p.y, p.x, p.y}); }
    // Whether a point of the box may lie farther than `than` from the line: the distance is convex,
    // so the corners bound it.
    bool reaches(const Point& a, double dx, double dy, double g, double than) const {
      if (!(x0 <= x1)) return false;  // no points
      double across = 0.0, reach = 0.0;
      for (const double x : {x0, x1}) {
        for (const double y : {y0, y1}) {
          const double ox = x - a.x, oy = y - a.y;
          across = std::max(across, g == 0.0 ? std::sqrt(ox * ox + oy * oy)
                                             : std::fabs(dx * oy - dy * ox) / std::sqrt(g));
          reach = std::max(reach, std::fabs(ox) + std::fabs(oy));
        }
      }
      return across + kBoundSlack * reach > than;
    }
  };

  std::span<const Point> points_;
  std::size_t width_ = 1;  // leaves, a power of two
  std::vector<Box> boxes_;
};

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
  const std::optional<BoxTree> tree =
      n >= kScanBelow ? std::optional<BoxTree>(points) : std::nullopt;
  std::vector<std::pair<std::size_t, std::size_t>> work{{0, n - 1}};
  while (!work.empty()) {
    const auto [lo, hi] = work.back();
    work.pop_back();
    if (hi - lo < 2) continue;
    Farthest far;
    if (tree && hi - lo >= kScanBelow) {
      far = tree->farthest(lo, hi);
    } else {
      const Point a = points[lo];
      const double dx = points[hi].x - a.x;
      const double dy = points[hi].y - a.y;
      const double g = dx * dx + dy * dy;
      for (std::size_t i = lo + 1; i < hi; ++i) {
        const double d = distance(points[i], a, dx, dy, g);
        if (d > far.distance) far = {d, i};  // strict: ties stay with the lowest index
      }
    }
    const double greatest = far.distance;
    const std::size_t index = far.index;
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
