// The resolve step: user options to stage settings.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "pipeline/settings.hpp"

namespace linetopo {
namespace {

// A given value <= 0 or NaN switches its step off.
double positive_or_zero(double v) { return v > 0.0 ? v : 0.0; }

}  // namespace

BoundarySettings resolve_boundary(double feature_size, double buffer_distance,
                                  std::optional<double> subdivision_ratio,
                                  std::optional<double> resample,
                                  std::optional<double> boundary_simplification) {
  BoundarySettings s;
  s.buffer_distance = buffer_distance;
  s.tolerance = boundary_simplification ? positive_or_zero(*boundary_simplification)
                                        : defaults::kBoundarySimplificationFraction * feature_size;
  s.max_edge = defaults::kMaxEdgeFraction * feature_size;
  s.corner_angle = defaults::kCornerAngleDegrees * kPi / 180.0;
  std::optional<double> ratio;
  if (!subdivision_ratio) {
    ratio = defaults::kSubdivisionRatio;
  } else if (*subdivision_ratio > 0.0) {
    ratio = std::max(*subdivision_ratio, defaults::kMinSubdivisionRatio);
  }
  // Refinement scales with the buffer, so a zero or NaN buffer has nothing to refine by.
  if (ratio && buffer_distance > 0.0) s.ratio = ratio;
  if (resample && *resample > 0.0) {
    s.spacing = std::max(*resample, defaults::kMinResampleFraction * feature_size);
  }
  return s;
}

InflateSettings resolve_inflation(double feature_size) {
  return {.arc_tolerance = defaults::kArcToleranceFraction * feature_size,
          .min_hole_area = defaults::kMinHoleAreaFraction * feature_size * feature_size};
}

Settings resolve(const TopologizeParams& p) {
  validate_feature_size(p.feature_size);
  const double fs = p.feature_size;
  Settings s;
  s.feature_size = fs;
  s.buffer_distance = p.buffer_distance;
  s.merge_tolerance = p.merge_tolerance ? positive_or_zero(*p.merge_tolerance)
                                        : defaults::kMergeToleranceFraction * fs;
  s.decimation_spacing = defaults::kDecimationFraction * fs;
  s.inflation = resolve_inflation(fs);
  s.boundary = resolve_boundary(fs, p.buffer_distance, p.subdivision_ratio, p.resample,
                                p.boundary_simplification);
  s.weld_tolerance = fs / defaults::kWeldDivisor;
  const TipRule rule = p.tip_rule.value_or(defaults::kTipRule);
  s.tip_protrusion = rule == TipRule::kProtrusion;
  s.tip_length =
      positive_or_zero(fs * p.min_tip_fraction.value_or(defaults::tip_fraction(rule)));
  s.junction_merge_distance =
      positive_or_zero(fs * p.junction_merge_fraction.value_or(defaults::kJunctionMergeFraction));
  s.max_nodes = p.max_nodes;
  s.simplification = p.simplification.value_or(fs / defaults::kSimplificationDivisor);
  s.compute_widths = p.compute_widths;
  s.keep_components = p.keep_components.value_or(defaults::kKeepComponents);
  return s;
}

Settings resolve_areas(const TopologizeParams& params) {
  TopologizeParams p = params;
  p.keep_components = p.keep_components.value_or(defaults::kKeepComponentsOfAreas);
  p.tip_rule = p.tip_rule.value_or(defaults::kTipRuleOfAreas);
  return resolve(p);
}

Settings resolve(const TopologizeParams& params, const std::vector<Polyline>& curves) {
  Settings s = resolve(params);
  std::size_t points = 0;
  for (const Polyline& c : curves) points += c.size();
  s.boundary.max_points = boundary_point_limit(points, curves.size());
  return s;
}

void apply_scan_defaults(TopologizeParams& params, double fs) {
  if (!params.simplification) {
    params.simplification =
        std::min(fs / defaults::kSimplificationDivisor, defaults::kScanSimplificationPixels);
  }
}

std::size_t boundary_point_limit(std::size_t input_points, std::size_t curves) {
  constexpr std::size_t kMost = std::numeric_limits<std::size_t>::max();
  const auto times = [](std::size_t n, std::size_t per) {
    return n > kMost / per ? kMost : n * per;
  };
  const std::size_t grown =
      detail::saturating_add(times(input_points, defaults::kBoundaryPointsPerInputPoint),
                             times(curves, defaults::kBoundaryPointsPerCurve));
  return budget_limit(kMaxPointsVariable, grown, 1, kPointBudgetFloor);
}

DensitySettings resolve_density(const DensityParams& p, double feature_size) {
  namespace d = defaults;
  const auto checked = [](std::optional<double> given, double fallback, const char* name,
                          bool positive, double most) {
    const double v = given.value_or(fallback);
    if (!(positive ? v > 0.0 : v >= 0.0) || !std::isfinite(v) || !(v <= most)) {
      const std::string range = most < std::numeric_limits<double>::infinity()
                                    ? "from 0 to " + number_text(most)
                                    : positive ? "positive and finite" : "at least 0 and finite";
      throw InputError(std::string(name) + " must be " + range + ", got " + number_text(v));
    }
    return v;
  };
  constexpr double kFinite = std::numeric_limits<double>::infinity();
  DensitySettings out;
  out.cell = checked(p.cell, feature_size / d::kDensityCellDivisor, "cell", true, kFinite);
  out.sigma =
      checked(p.sigma, feature_size / d::kDensitySigmaDivisor, "sigma", false, kFinite) / out.cell;
  const double radius =
      checked(p.radius, d::kDensityRadiusFraction * feature_size, "radius", false, kFinite);
  // Saturated: a reach beyond any raster covers it all.
  out.reach = static_cast<std::size_t>(std::min(std::round(radius / out.cell), 1e15));
  out.relative = checked(p.relative, d::kDensityRelative, "relative", false, 1.0);
  out.min_count = checked(p.min_count, d::kDensityMinCount, "min_count", false, kFinite);
  return out;
}

}  // namespace linetopo
