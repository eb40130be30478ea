// The last step of every union: rings cleaned, put in a fixed order and sorted into polygons.
#pragma once

#include <vector>

#include "geometry/geometry.hpp"
#include "inflate/inflate.hpp"
#include "inflate/pieces.hpp"

namespace linetopo::inflate_parts {

// Drops the union's cracks, starts each ring at its least vertex, orders the rings by their
// geometry and sorts them into polygons: outer rings in ascending order of open length, each hole
// of at least min_hole_area and min_hole_width (mean width) with the outer ring that directly
// encloses it.
std::vector<BufferPolygon> polygons_of(std::vector<UnionRing> rings, double min_hole_area,
                                       double min_hole_width = 0.0);

// Where shapes far smaller than a unit go on the grid: scaled up by a power of two until the arc
// tolerance spans enough grid units for round offsets, and centred on the grid's zero, so that
// the scaling never carries them off it. Other shapes keep the plain grid.
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
