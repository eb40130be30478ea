// Constrained Delaunay triangulation of buffer polygons (CGAL) and the skeleton segments of it.
#pragma once

#include <array>
#include <cstddef>
#include <optional>

#include "geometry/geometry.hpp"

namespace linetopo {

using Triangle = std::array<Point, 3>;
using IndexTriangle = std::array<std::size_t, 3>;

// Triangles inside the closed contours by the even-odd rule, or nullopt when the library
// rejects the input (for example crossing constraint edges).
std::optional<std::vector<IndexTriangle>> triangulate_contours(
    const std::vector<Point>& points, const std::vector<std::vector<std::size_t>>& contours);

std::vector<Triangle> get_triangles(const Ring& outer, const std::vector<Ring>& holes);

std::vector<Segment> skeletonize(const Ring& outer, const std::vector<Ring>& holes);

}  // namespace linetopo
