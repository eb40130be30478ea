// Input clean-up before inflation: joining curves that meet end to end, and thinning dense points.
#pragma once

#include <optional>
#include <utility>

#include "geometry/geometry.hpp"

namespace linetopo {

struct MergedCurves {
  std::vector<Polyline> curves;
  std::optional<Widths> widths;  // present exactly when widths were given
};

// Joins curves whose end points share a cell of side merge_tolerance (a cell holding exactly two
// end points is a joint); each merged curve runs in the direction of its lowest-indexed curve.
// Single-point curves follow in input order; empty curves are dropped. With widths, every merged
// curve carries one radius per point (buffer_distance where a curve had no entry).
MergedCurves merge_connected(const std::vector<Polyline>& curves,
                             const std::optional<Widths>& widths, double buffer_distance,
                             double merge_tolerance);

// Drops interior points closer than spacing to the last kept point; both ends always stay.
Polyline decimate_curve(const Polyline& points, double spacing);

// Thins every curve, or none at all when has_widths is set (radii must stay aligned).
std::vector<Polyline> decimate_curves(const std::vector<Polyline>& curves, bool has_widths,
                                      double spacing);

}  // namespace linetopo
