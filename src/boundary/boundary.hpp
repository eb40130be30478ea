// Boundary preparation: ring simplification, subdivision, uniform and adaptive resampling.
#pragma once

#include <optional>

#include "geometry/geometry.hpp"

namespace linetopo {

// Never fails on degenerate geometry; throws InputError when a setting would create more boundary
// points than kMaxBoundaryPoints.
std::vector<BufferPolygon> preprocess_boundaries(const std::vector<BufferPolygon>& polygons,
                                                 double feature_size, double buffer_distance,
                                                 std::optional<double> subdivision_ratio,
                                                 std::optional<double> resample,
                                                 std::optional<double> boundary_simplification);

Ring subdivide_ring(const Ring& ring, double max_len);

}  // namespace linetopo
