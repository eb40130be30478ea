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

MergedCurves merge_connected(const std::vector<Polyline>& curves,
                             const std::optional<Widths>& widths, double buffer_distance,
                             double merge_tolerance);

Polyline decimate_curve(const Polyline& points, double spacing);

std::vector<Polyline> decimate_curves(const std::vector<Polyline>& curves, bool has_widths,
                                      double spacing);

}  // namespace linetopo
