// Inflation of curves into buffer polygons with Clipper2: offset every curve, unite all shapes.
#pragma once

#include <optional>

#include "geometry/geometry.hpp"
#include "parallel/cancel.hpp"

namespace linetopo {

// Largest coordinate or radius magnitude accepted: Clipper2 works on integers at a scale of 1e6
// and holds magnitudes up to about 2.3e18, which leaves room for the buffer around the curves.
inline constexpr int kMaxInflationExponent = 12;
inline constexpr double kMaxInflationMagnitude = [] {
  double v = 1.0;
  for (int i = 0; i < kMaxInflationExponent; ++i) v *= 10.0;  // exact up to 1e22
  return v;
}();

// The tolerances of inflation, resolved from the feature size with the rest of the settings.
struct InflateSettings {
  double arc_tolerance = 0.0;  // largest gap between a round offset and its polygon
  double min_hole_area = 0.0;  // holes of a smaller area are filled
  // ... and holes of a smaller mean width (twice their area over their outline's length): the
  // slivers between two lanes of one road, where the road is traced from a field.
  double min_hole_width = 0.0;
};

// Throws InputError, naming the curve and point, when a coordinate or a radius that inflation
// would use is not finite or exceeds kMaxInflationMagnitude. Only curves of two or more points
// are looked at; buffer_distance only when such a curve has no per-vertex radii. The entry points
// run it once, on the raw input before merging and thinning, so that messages use the caller's
// indices; inflate takes curves that passed it.
void check_inflation_input(const std::vector<Polyline>& curves, const std::optional<Widths>& widths,
                           double buffer_distance);

// Throws InputError, naming the polygon, ring and point, when a coordinate is not finite or
// exceeds kMaxInflationMagnitude.
void check_polygon_input(const std::vector<BufferPolygon>& polygons);

// The region the polygons cover, made valid: each polygon's outer ring filled by the non-zero
// rule (so either orientation, self-touching and self-crossing rings all fill what they
// enclose), its holes cut out by the same rule, and all polygons united; then sorted into
// polygons as inflate sorts its union. Rings of fewer than 3 distinct points are skipped. The
// polygons must have passed check_polygon_input. `cancelled` is asked per polygon and union.
std::vector<BufferPolygon> unite_polygons(const std::vector<BufferPolygon>& polygons,
                                          const InflateSettings& settings,
                                          const CancelCheck& cancelled = {});

// The region that rings bound which neither cross nor touch, outer rings counter-clockwise and
// the rings of their holes clockwise (positive and negative shoelace area), as marching squares
// traces them: such rings need no union, only to know which holds which. Sorted into polygons
// as unite_polygons sorts its union. The rings are consumed.
std::vector<BufferPolygon> nest_rings(std::vector<Ring> rings, const InflateSettings& settings,
                                      const CancelCheck& cancelled = {});

// Offsets every curve of two or more points (which passed check_inflation_input, or were made
// from curves that did) by its radius (widths entry i when present and not empty,
// buffer_distance otherwise), unites all shapes and returns the polygons in ascending
// order of outer open length, each hole attached to the first polygon that encloses it.
// `cancelled` is asked for each curve's offset and each union of the tree or strips, so that a
// large inflation stops soon after it says so (throwing Cancelled).
std::vector<BufferPolygon> inflate(const std::vector<Polyline>& curves,
                                   const std::optional<Widths>& widths, double buffer_distance,
                                   const InflateSettings& settings,
                                   const CancelCheck& cancelled = {});

}  // namespace linetopo
