// Which polygons hold a point: a chain of a polygon's centerline comes from the polygon it lies
// in, as a chain of lines comes from the curves that run along it.
#pragma once

#include <cstddef>
#include <vector>

#include "geometry/geometry.hpp"

namespace linetopo {

// For each point, the indices, ascending, of the polygons whose region holds it: inside an odd
// number of the polygon's rings (its outer ring and not a hole, for a valid polygon). A point on
// a ring may count either way. Throws InputError for a point or ring vertex that is not finite.
// Each point casts one ray through a band of the rings' edges, so that the work grows with the
// points and the edges, not with their product.
std::vector<std::vector<std::size_t>> polygons_at(const std::vector<Point>& points,
                                                  const std::vector<BufferPolygon>& polygons);

}  // namespace linetopo
