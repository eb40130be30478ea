// Ramer-Douglas-Peucker simplification of an open polyline, used on rings and on chains.
#pragma once

#include "geometry/geometry.hpp"

namespace linetopo {

// Keeps the first and last point; epsilon must be positive (callers skip the call otherwise).
std::vector<Point> rdp(const std::vector<Point>& points, double epsilon);

}  // namespace linetopo
