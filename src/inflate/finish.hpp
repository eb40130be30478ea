// The last step of every union: rings cleaned, put in a fixed order and sorted into polygons.
#pragma once

#include <vector>

#include "geometry/geometry.hpp"
#include "inflate/inflate.hpp"
#include "inflate/pieces.hpp"

namespace linetopo::inflate_parts {

// Drops the union's cracks, starts each ring at its least vertex, orders the rings by their
// geometry and sorts them into polygons: outer rings in ascending order of open length, each hole
// of at least min_hole_area with the outer ring that directly encloses it.
std::vector<BufferPolygon> polygons_of(std::vector<UnionRing> rings, double min_hole_area);

// Where the shapes go on the grid: moved so that the grid's zero is their box's centre in whole
// units when they lie far from (0, 0) (Clipper2 computes in doubles, exact only up to 2^53 grid
// units, which coordinates of a few 1e9 pass although the shapes' own extent rarely does), and
// scaled up by a power of two when the arc tolerance spans too few grid units for round offsets.
struct GridFrame {
  Point origin{0.0, 0.0};
  double scale = 1.0;

  bool plain() const { return origin == Point{0.0, 0.0} && scale == 1.0; }
  Polyline to_local(const Polyline& line) const;
  InflateSettings local_settings(const InflateSettings& settings) const;
  void to_world(std::vector<BufferPolygon>& polygons) const;
};

GridFrame grid_frame(const std::vector<const Polyline*>& lines, const InflateSettings& settings);

}  // namespace linetopo::inflate_parts
