// Inflation of curves into buffer polygons with Clipper2: offset every curve, unite all shapes.
#pragma once

#include <optional>

#include "geometry/geometry.hpp"

namespace linetopo {

std::vector<BufferPolygon> inflate(const std::vector<Polyline>& curves,
                                   const std::optional<Widths>& widths, double buffer_distance,
                                   double feature_size);

// The per-vertex route for one curve; widths.size() must equal pts.size().
std::vector<std::vector<Point>> inflate_curve_variable(const Polyline& pts,
                                                       const std::vector<double>& widths,
                                                       double arc_tolerance);

}  // namespace linetopo
