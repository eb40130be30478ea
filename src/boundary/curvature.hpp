// Curvature index over sharply turning boundary vertices, and the resampling and refinement that
// put more points where the boundary nearby turns sharply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "boundary/budget.hpp"
#include "geometry/keys.hpp"

namespace linetopo {

struct CurvatureEntry {
  double x = 0.0;
  double y = 0.0;
  double angle = 0.0;
};

// A uniform hash grid of indexed vertices; only looked up, never iterated, so results do not depend
// on hashing. Each cell holds its own entries, so that a query reads them in one run.
struct CurvatureIndex {
  std::vector<CurvatureEntry> entries;
  FlatMap<CellKey, std::vector<CurvatureEntry>, KeyHash> grid;
  double cell_size = 1.0;

  // Cell size 4 x buffer_distance when that is finite and positive, 1.0 otherwise.
  explicit CurvatureIndex(double buffer_distance);

  CellKey cell_of(double x, double y) const;

  // Indexes every vertex whose turning angle is at least min_angle.
  void add_ring(const Ring& ring, double min_angle);

  // The vertices add_ring would index, in ring order; add them with add_entries.
  static std::vector<CurvatureEntry> sharp_vertices(const Ring& ring, double min_angle);
  void add_entries(const std::vector<CurvatureEntry>& sharp);

  // Largest angle x weight over entries within outer_radius of (x, y); the weight is 1 up to
  // inner_radius and falls linearly to 0 at outer_radius. 0 when nothing is near.
  double max_angle_near(double x, double y, double inner_radius, double outer_radius) const;
};

// Like resample_span_open, but the step shrinks near sharp turns, down to min(w x ratio, spacing);
// the remainder at the end is not spread out.
std::vector<Point> adaptive_resample_span_open(const std::vector<Point>& span,
                                               const CurvatureIndex& index, double spacing,
                                               double buffer_distance, double ratio,
                                               const PointBudget& budget = {"spacing", 0});

// resample_ring with every span resampled adaptively.
Ring resample_ring_adaptive(const Ring& ring, const CurvatureIndex& index, double spacing,
                            double buffer_distance, double ratio, double corner_angle,
                            const PointBudget& budget = {"spacing", 0});

// Cuts each edge finer the sharper the boundary turns near its midpoint, down to base_spacing x
// ratio.
Ring refine_ring_from_index(const Ring& ring, const CurvatureIndex& index, double base_spacing,
                            double ratio, const PointBudget& budget = {"ratio", 0});

}  // namespace linetopo
