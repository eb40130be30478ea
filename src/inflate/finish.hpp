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

// Where the grid's zero goes for shapes with these points: (0, 0), or for shapes far from it
// their box's centre in whole units. Clipper2 computes in doubles, exact only up to 2^53 grid
// units, which coordinates of a few 1e9 pass although the shapes' own extent rarely does.
Point grid_origin(const std::vector<const Polyline*>& lines);

// Each point moved by `by`.
Polyline shifted(const Polyline& line, const Point& by);
void shift(std::vector<BufferPolygon>& polygons, const Point& by);

}  // namespace linetopo::inflate_parts
