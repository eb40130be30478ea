// The options of one topologize call as the user gives them, and its result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "geometry/geometry.hpp"
#include "geometry/topology.hpp"

namespace linetopo {

// How pruning measures a tip: its whole length, or how far it reaches past the stroke it leaves
// (its length less the stroke's half-width at its junction).
enum class TipRule : std::uint8_t { kLength, kProtrusion };

// Absent options take the defaults that resolve() derives from feature_size; curves travel
// separately so that callers never copy them.
struct TopologizeParams {
  double buffer_distance = 0.0;
  double feature_size = 0.0;
  std::optional<double> simplification;
  std::optional<double> min_tip_fraction;
  std::optional<double> junction_merge_fraction;
  std::optional<Widths> per_curve_widths;
  bool compute_widths = false;
  std::optional<double> subdivision_ratio;
  std::optional<std::size_t> max_nodes;
  std::optional<double> resample;
  std::optional<double> boundary_simplification;
  std::optional<double> merge_tolerance;
  double tile_size = 0.0;  // topologize_tiled only
  std::optional<bool> keep_components;
  std::optional<TipRule> tip_rule;
};

// The options of a density centerline beyond those of topologize_polygons; absent ones take
// the defaults resolve_density() derives from feature_size.
struct DensityParams {
  std::optional<double> cell;
  std::optional<double> sigma;
  std::optional<double> radius;
  std::optional<double> relative;
  std::optional<double> min_count;
};

}  // namespace linetopo
