// Boundary preparation: ring simplification, subdivision, uniform and adaptive resampling.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "boundary/budget.hpp"
#include "boundary/curvature.hpp"
#include "geometry/geometry.hpp"
#include "parallel/cancel.hpp"

namespace linetopo {

// What boundary preparation does, every option already resolved.
struct BoundarySettings {
  double buffer_distance = 0.0;   // the radius refinement scales with
  double tolerance = 0.0;         // ring simplification; 0 switches it off
  double max_edge = 0.0;          // subdivision mode cuts edges to at most this
  std::optional<double> ratio;    // refinement ratio; absent when refinement is off
  std::optional<double> spacing;  // even resampling spacing; absent in subdivision mode
  double corner_angle = 0.0;      // resampling keeps vertices that turn more than this (radians)
  std::size_t max_points = kPointBudgetFloor;  // the most boundary points the call may create
};

// Never fails on degenerate geometry; throws InputError when a setting would create more boundary
// points than settings.max_points. `cancelled` is asked once per ring and step.
std::vector<BufferPolygon> preprocess_boundaries(const std::vector<BufferPolygon>& polygons,
                                                 const BoundarySettings& settings,
                                                 const CancelCheck& cancelled = {});

// Boundary preparation in two steps, so that a caller may finish only some rings: the step all
// rings share (simplified or subdivided rings, and the curvature index over every ring of every
// polygon) is taken at construction, which throws InputError past the point budget; each ring is
// finished on its own.
class RingPreparation {
 public:
  RingPreparation(const std::vector<BufferPolygon>& polygons, const BoundarySettings& settings,
                  const CancelCheck& cancelled = {});

  // The polygons after the shared step; preprocess_boundaries gives these finished ring by ring.
  const std::vector<BufferPolygon>& shared() const& { return shared_; }
  std::vector<BufferPolygon> shared() && { return std::move(shared_); }

  // The option a finishing step's budget blames; nullptr when rings need no finishing.
  const char* option() const;

  // One ring of shared() finished; throws InputError past the budget.
  Ring finish(const Ring& ring, const PointBudget& budget) const;

 private:
  BoundarySettings settings_;
  std::vector<BufferPolygon> shared_;
  CurvatureIndex index_;
};

// Per ring of the polygon, outer ring first, whether an edge of it shares a point with an edge of
// another ring or with a non-adjacent edge of its own: the rings that simplification shortcuts
// may have made cross. Tested in floating point, so a near touch may count either way. With a
// focus (one flag per ring), only pairs in which a focused ring takes part are tested.
std::vector<char> meeting_rings(const BufferPolygon& polygon, const std::vector<char>& focus = {});

}  // namespace linetopo
