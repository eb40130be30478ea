// Chain widths: twice the distance to the nearest boundary vertex, found with a k-d tree.
#include <algorithm>
#include <cmath>
#include <limits>

#include "chains/chains.hpp"
#include "chains/vertex_tree.hpp"
#include "parallel/parallel.hpp"

namespace linetopo {
namespace detail {
namespace {

struct Range {
  std::size_t lo;
  std::size_t hi;
  double bound;  // a lower bound on the squared distance of every point in the range
};

inline double coord(const Point& p, std::uint8_t axis) { return axis == 0 ? p.x : p.y; }

// Pruning with `bound` is exact: rounding is monotone, so for a vertex beyond the split plane the
// rounded (p - q)^2 is never below the rounded (p - split)^2, and adding the other square never
// lowers it.
double nearest_squared_distance(const VertexTree& tree, const Point& p, std::vector<Range>& stack) {
  double best = std::numeric_limits<double>::infinity();
  // A NaN or infinite query has no finite distance to anything: every term is inf or NaN.
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) return best;
  const std::vector<Point>& pts = tree.points;
  stack.clear();
  stack.push_back(Range{0, pts.size(), 0.0});
  while (!stack.empty()) {
    const Range r = stack.back();
    stack.pop_back();
    if (r.bound >= best) continue;
    if (r.hi - r.lo <= kVertexTreeLeaf) {
      for (std::size_t i = r.lo; i < r.hi; ++i) {
        const double d = dist2(pts[i], p);
        if (d < best) best = d;
      }
      continue;
    }
    const std::size_t mid = r.lo + (r.hi - r.lo) / 2;
    const Point& q = pts[mid];
    const double d = dist2(q, p);
    if (d < best) best = d;
    const std::uint8_t ax = tree.axis[mid];
    const double diff = coord(p, ax) - coord(q, ax);
    const Range left{r.lo, mid, r.bound};
    const Range right{mid + 1, r.hi, r.bound};
    const double far_bound = std::max(r.bound, diff * diff);
    // Far side first so that the near side is searched first.
    if (diff < 0.0) {
      stack.push_back(Range{right.lo, right.hi, far_bound});
      stack.push_back(left);
    } else {
      stack.push_back(Range{left.lo, left.hi, far_bound});
      stack.push_back(right);
    }
  }
  return best;
}

}  // namespace

namespace {

// Ranges of more points than this build their two halves as tasks on the pool. Each range is
// split the same way whichever runs first, so the tree never depends on the thread count.
constexpr std::size_t kParallelRange = 1 << 16;

void build_range(VertexTree& tree, std::size_t lo, std::size_t hi) {
  std::vector<Point>& pts = tree.points;
  std::vector<std::pair<std::size_t, std::size_t>> todo{{lo, hi}};
  while (!todo.empty()) {
    const auto [l, h] = todo.back();
    todo.pop_back();
    if (h - l <= kVertexTreeLeaf) continue;
    double min_x = pts[l].x, max_x = pts[l].x, min_y = pts[l].y, max_y = pts[l].y;
    for (std::size_t i = l + 1; i < h; ++i) {
      min_x = std::min(min_x, pts[i].x);
      max_x = std::max(max_x, pts[i].x);
      min_y = std::min(min_y, pts[i].y);
      max_y = std::max(max_y, pts[i].y);
    }
    const std::uint8_t ax = (max_y - min_y > max_x - min_x) ? 1 : 0;
    const std::size_t mid = l + (h - l) / 2;
    std::nth_element(pts.begin() + static_cast<std::ptrdiff_t>(l),
                     pts.begin() + static_cast<std::ptrdiff_t>(mid),
                     pts.begin() + static_cast<std::ptrdiff_t>(h),
                     [ax](const Point& a, const Point& b) { return coord(a, ax) < coord(b, ax); });
    tree.axis[mid] = ax;
    if (h - l > kParallelRange) {
      const std::pair<std::size_t, std::size_t> halves[] = {{l, mid}, {mid + 1, h}};
      parallel_for(2, [&](std::size_t k) { build_range(tree, halves[k].first, halves[k].second); });
    } else {
      todo.emplace_back(l, mid);
      todo.emplace_back(mid + 1, h);
    }
  }
}

}  // namespace

VertexTree build_vertex_tree(const std::vector<Point>& cloud) {
  VertexTree tree;
  // Non-finite vertices never give a distance below +inf (inf or NaN only), so they can go.
  tree.points.reserve(cloud.size());
  for (const Point& q : cloud) {
    if (std::isfinite(q.x) && std::isfinite(q.y)) tree.points.push_back(q);
  }
  tree.axis.assign(tree.points.size(), 0);
  build_range(tree, 0, tree.points.size());
  return tree;
}

std::vector<double> widths_against(const VertexTree& tree, const std::vector<Point>& points) {
  std::vector<double> out;
  out.reserve(points.size());
  std::vector<Range> stack;
  for (const Point& p : points) {
    out.push_back(2.0 * std::sqrt(nearest_squared_distance(tree, p, stack)));
  }
  return out;
}

}  // namespace detail

}  // namespace linetopo
