// The user's options resolved into the concrete settings of every stage. Every option's default
// lives here, as a named multiple of feature_size (fs) unless its comment says otherwise; the
// stages' own tolerances live beside the code they tune.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "boundary/boundary.hpp"
#include "inflate/inflate.hpp"
#include "pipeline/params.hpp"

namespace linetopo {

namespace defaults {

// Curve ends closer than this x fs are joined before inflating.
inline constexpr double kMergeToleranceFraction = 0.01;
// Input points closer than this x fs along a curve are thinned out.
inline constexpr double kDecimationFraction = 0.15;
// Buffer boundaries are simplified at this x fs.
inline constexpr double kBoundarySimplificationFraction = 0.05;
// Boundary edges are always cut to at most this x fs.
inline constexpr double kMaxEdgeFraction = 1.5;
// Near sharp turns the boundary is refined down to this x buffer_distance ...
inline constexpr double kSubdivisionRatio = 0.5;
// ... and never below this x buffer_distance, whatever ratio is asked for.
inline constexpr double kMinSubdivisionRatio = 0.01;
// A resample spacing is never finer than this x fs: finer sampling keeps no detail the clean-up
// would keep, and only costs time and memory.
inline constexpr double kMinResampleFraction = 0.01;
// Skeleton points within fs / this are welded.
inline constexpr double kWeldDivisor = 20.0;
// Dead ends shorter than this x fs are pruned, ...
inline constexpr double kMinTipFraction = 2.0;
// ... or, measured by protrusion, reaching less than this x fs past the stroke they leave.
inline constexpr double kMinProtrusionFraction = 1.0;
// Junctions closer than this x fs are merged.
inline constexpr double kJunctionMergeFraction = 1.5;
// Chains are simplified at fs / this.
inline constexpr double kSimplificationDivisor = 10.0;
// Areas (polygons, scans, drawings' fills) have no buffer of their own: buffer_distance, which
// then only scales boundary refinement, is this x fs unless given.
inline constexpr double kAreaBufferFraction = 0.5;
// Pixels, not a multiple of fs: chains traced from a scan are simplified at no more than this,
// the precision of a traced outline, so that a wide stroke's centerline stays on its pixels.
inline constexpr double kScanSimplificationPixels = 0.5;
// A local threshold weighs the grey levels within a window of this x fs a side, and at least
// kLocalWindowPixels (pixels).
inline constexpr double kLocalWindowFeatureSizes = 6.0;
inline constexpr double kLocalWindowPixels = 15.0;
// Pixels: a traced outline whose points lie, at the median, farther than this from the midpoint
// of their neighbours is noisy, and smoothed once.
inline constexpr double kScanJitterPixels = 0.25;
// Round offsets stay within this x fs of the true arc.
inline constexpr double kArcToleranceFraction = 0.2;
// Holes of the union smaller than this x fs² are filled: too small to hold a centerline.
inline constexpr double kMinHoleAreaFraction = 0.1;
// An angle, not a multiple of fs: resampling keeps every vertex that turns more than this.
inline constexpr double kCornerAngleDegrees = 60.0;
// Cut ends on a tile border pair up within this x fs.
inline constexpr double kStitchToleranceFraction = 0.5;
// A count, not a multiple of fs: above kPointBudgetFloor a call may create this many boundary
// points per input point, so that a large input is never refused for its size (the bench
// generators make at most 2 per point at the defaults, and 7 with resample at fs / 10).
inline constexpr std::size_t kBoundaryPointsPerInputPoint = 16;
// ... and this many more per curve: its square caps are four sharp corners that refinement cuts
// finer whatever the curve's length (a lone two-point segment takes about 40 at the defaults, so
// scattered short segments need more than their points allow).
inline constexpr std::size_t kBoundaryPointsPerCurve = 32;
// A count: a run of at least this many boundary points hands its free memory back on finishing;
// below, its heap is small and the walk over it not worth its time.
inline constexpr std::size_t kReleaseMemoryAfterPoints = 1'000'000;

// Whether pruning keeps the longest path of a component it would remove whole (a dot, a small
// closed shape): off for curves, whose stray specks are noise, on for polygons and scans, whose
// small shapes were drawn.
inline constexpr bool kKeepComponents = false;
inline constexpr bool kKeepComponentsOfAreas = true;
// How tips are measured: by length for curves, whose over-drawn strokes make bumps as long as
// the stroke is wide; by how far they reach past the stroke for polygons and scans, whose
// serifs and crossbars are short.
inline constexpr TipRule kTipRule = TipRule::kLength;
inline constexpr TipRule kTipRuleOfAreas = TipRule::kProtrusion;
// Density centerlines: cells of fs / this, ...
inline constexpr double kDensityCellDivisor = 12.0;
// ... blurred with a Gaussian of deviation fs / this, ...
inline constexpr double kDensitySigmaDivisor = 5.0;
// ... compared with the highest density within this x fs (half the side of a square) ...
inline constexpr double kDensityRadiusFraction = 1.6;
// ... and kept as road where at least this share of it (a share, not a multiple of fs) ...
inline constexpr double kDensityRelative = 0.35;
// ... and at least this share of the peak one trace alone gives. Holes in the road narrower
// than this x fs on average are slivers between the lanes of one road, and filled.
inline constexpr double kDensityMinCount = 0.5;
inline constexpr double kDensityMinHoleWidthFraction = 0.25;

// The default tip length, in fs, of a way of measuring tips.
constexpr double tip_fraction(TipRule rule) {
  return rule == TipRule::kProtrusion ? kMinProtrusionFraction : kMinTipFraction;
}

}  // namespace defaults

// A density centerline's options in cells of its lattice.
struct DensitySettings {
  double cell = 0.0;      // the side of a cell
  double sigma = 0.0;     // cells
  std::size_t reach = 0;  // cells: the half-side of the square of the local maximum
  double relative = 0.0;
  double min_count = 0.0;
};

// Checks the options (cell positive and finite, the others at least zero and finite, relative
// at most one) and resolves them against feature_size, which must already be valid.
DensitySettings resolve_density(const DensityParams& params, double feature_size);

struct Settings {
  double feature_size = 0.0;
  double buffer_distance = 0.0;
  double merge_tolerance = 0.0;  // 0 switches merging off
  double decimation_spacing = 0.0;
  InflateSettings inflation;
  BoundarySettings boundary;
  double weld_tolerance = 0.0;
  double tip_length = 0.0;               // 0 switches pruning off
  bool keep_components = false;          // pruning never empties a component
  bool tip_protrusion = false;           // tips measured from the stroke's edge
  double junction_merge_distance = 0.0;  // 0 switches merging off
  std::optional<std::size_t> max_nodes;  // absent: no limit
  double simplification = 0.0;           // <= 0 switches simplification off
  bool compute_widths = false;
};

// Throws InputError unless feature_size is positive and finite.
void validate_feature_size(double feature_size);

// Checks feature_size and derives every stage's setting from the options. Options given as
// NaN or <= 0 switch their step off, where they can.
Settings resolve(const TopologizeParams& params);

// resolve() with the defaults of polygons and scans where params leave keep_components and
// tip_rule open.
Settings resolve_areas(const TopologizeParams& params);

// A scan's own default at feature size fs, beyond those of areas: simplification, unless given,
// fs / kSimplificationDivisor but at most kScanSimplificationPixels.
void apply_scan_defaults(TopologizeParams& params, double fs);

// resolve() with the boundary point budget of a call on these curves.
Settings resolve(const TopologizeParams& params, const std::vector<Polyline>& curves);

// The most boundary points a call on this many input points in this many curves may create: the
// value of kMaxPointsVariable when it is set, else the larger of kPointBudgetFloor and
// kBoundaryPointsPerInputPoint per point plus kBoundaryPointsPerCurve per curve (rings have no
// caps: 0 curves). Throws InputError when the variable holds anything but a positive integer.
std::size_t boundary_point_limit(std::size_t input_points, std::size_t curves = 0);

// The inflation part of resolve().
InflateSettings resolve_inflation(double feature_size);

// The boundary part of resolve().
BoundarySettings resolve_boundary(double feature_size, double buffer_distance,
                                  std::optional<double> subdivision_ratio,
                                  std::optional<double> resample,
                                  std::optional<double> boundary_simplification);

}  // namespace linetopo
