// A k-d tree over boundary vertices giving the exact smallest squared distance to a query point.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/geometry.hpp"

namespace linetopo::detail {

// Implicit tree: the range [lo, hi) splits at mid = lo + (hi - lo) / 2 on axis[mid] (0 = x,
// 1 = y); ranges of at most kVertexTreeLeaf points are scanned.
struct VertexTree {
  std::vector<Point> points;  // the finite cloud points, permuted into tree order
  std::vector<std::uint8_t> axis;
};

inline constexpr std::size_t kVertexTreeLeaf = 8;

VertexTree build_vertex_tree(const std::vector<Point>& cloud);

// Twice the distance from every point to its nearest tree vertex, bit-identical to a brute-force
// scan of min((p.x - q.x)^2 + (p.y - q.y)^2) that ignores NaN distances and starts at +inf.
std::vector<double> widths_against(const VertexTree& tree, const std::vector<Point>& points);

}  // namespace linetopo::detail
