// The last step of every union: rings cleaned, put in a fixed order and sorted into polygons.
#pragma once

#include <vector>

#include "geometry/geometry.hpp"
#include "inflate/pieces.hpp"

namespace linetopo::inflate_parts {

// Drops the union's cracks, starts each ring at its least vertex, orders the rings by their
// geometry and sorts them into polygons: outer rings in ascending order of open length, each hole
// of at least min_hole_area with the outer ring that directly encloses it.
std::vector<BufferPolygon> polygons_of(std::vector<UnionRing> rings, double min_hole_area);

}  // namespace linetopo::inflate_parts
