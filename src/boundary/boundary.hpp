// Boundary preparation: ring simplification, subdivision, uniform and adaptive resampling.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "boundary/budget.hpp"
#include "geometry/geometry.hpp"

namespace linetopo {

// What boundary preparation does, every option already resolved.
struct BoundarySettings {
  double buffer_distance = 0.0;   // the radius refinement scales with
  double tolerance = 0.0;         // ring simplification; 0 switches it off
  double max_edge = 0.0;          // subdivision mode cuts edges to at most this
  std::optional<double> ratio;    // refinement ratio; absent when refinement is off
  std::optional<double> spacing;  // even resampling spacing; absent in subdivision mode
  std::size_t max_points = kPointBudgetFloor;  // the most boundary points the call may create
};

// Never fails on degenerate geometry; throws InputError when a setting would create more boundary
// points than settings.max_points.
std::vector<BufferPolygon> preprocess_boundaries(const std::vector<BufferPolygon>& polygons,
                                                 const BoundarySettings& settings);

// Per ring of the polygon, outer ring first, whether an edge of it shares a point with an edge of
// another ring or with a non-adjacent edge of its own: the rings that simplification shortcuts
// may have made cross. Tested in floating point, so a near touch may count either way.
std::vector<char> meeting_rings(const BufferPolygon& polygon);

}  // namespace linetopo
