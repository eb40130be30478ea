// Ramer-Douglas-Peucker simplification of an open polyline, used on rings and on chains.
#pragma once

#include "geometry/geometry.hpp"

namespace linetopo {

// Inputs longer than this are simplified in spans of this many points that share their end
// points: within epsilon of the input all the same, in time at most linear times this.
inline constexpr std::size_t kRdpSpan = 16384;

// Keeps the first and last point; epsilon must be positive (callers skip the call otherwise).
std::vector<Point> rdp(const std::vector<Point>& points, double epsilon);

}  // namespace linetopo
