// Constrained Delaunay triangulation of buffer polygons (CGAL) and the skeleton segments of it.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "geometry/geometry.hpp"
#include "parallel/cancel.hpp"

namespace linetopo {

using Triangle = std::array<Point, 3>;
using IndexTriangle = std::array<std::size_t, 3>;

// Triangles inside the closed contours by the even-odd rule, or nullopt when the library
// rejects the input (for example crossing constraint edges). Points that coincide share one
// vertex, reported by the lowest of their indices. Throws InternalError for a contour index
// outside `points`.
std::optional<std::vector<IndexTriangle>> triangulate_contours(
    const std::vector<Point>& points, const std::vector<std::vector<std::size_t>>& contours);

// Interior triangles of one polygon in jittered coordinates: empty when the polygon has too few
// vertices, nullopt when the triangulation rejects the rings, so that the caller can retry the
// polygon with other rings. `cancelled` is asked every few thousand insertions, and
// Cancelled thrown when it says so (likewise below).
std::optional<std::vector<Triangle>> try_get_triangles(const Ring& outer,
                                                       const std::vector<Ring>& holes,
                                                       const CancelCheck& cancelled = {});

// The skeleton of one polygon as its points and the segments between them: midpoint to midpoint
// through sleeve triangles, midpoints to the centroid in junction triangles. A midpoint is one
// point for both triangles that share its edge; points are listed in the order the segments
// first reach them, so that welding them in that order welds the segments' ends in theirs.
struct Skeleton {
  std::vector<Point> points;
  std::vector<std::pair<std::size_t, std::size_t>> segments;  // indices into points
};

// The skeleton, or nullopt when the triangulation rejects the rings.
std::optional<Skeleton> try_skeleton(const Ring& outer, const std::vector<Ring>& holes,
                                     const CancelCheck& cancelled = {});

}  // namespace linetopo
