// The offset shapes of single curves, the leaves of the union.
#pragma once

#include <vector>

#include "geometry/geometry.hpp"
#include "inflate/pieces.hpp"

namespace linetopo::inflate_parts {

c2::Path64 to_grid(const Polyline& pts);

// The offset of one curve with one radius per vertex, square joins and ends.
c2::Paths64 offset_variable(const c2::Path64& path, const std::vector<double>& widths,
                            double arc_tolerance);

// The offset shapes of one curve as leaves of the union tree: one, or one per piece of a long
// uniform curve, or the pieces already joined into one clean outline when the curve's buffer
// never reaches back onto itself. A zero buffer leaves the curve itself as a path.
Pieces offset_curve(const Polyline& curve, const std::vector<double>* radii, double buffer_distance,
                    double arc_tolerance);

}  // namespace linetopo::inflate_parts
