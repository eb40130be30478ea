// One topologize computation from curves to finished chains, and the batch runner.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "geometry/geometry.hpp"
#include "graph/graph.hpp"
#include "skeleton_cdt/skeleton_cdt.hpp"

namespace linetopo {

// The options of one call; curves travel separately so that callers never copy them.
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
};

struct TopologyResult {
  std::vector<Polyline> chains;
  std::vector<Point> nodes;
  std::vector<std::pair<std::size_t, std::size_t>> chain_node_ids;
  Widths widths;
};

struct FinishedChain {
  std::vector<Point> points;
  std::size_t start = 0;
  std::size_t end = 0;
};

// Throws InputError unless feature_size is positive and finite.
void validate_feature_size(double feature_size);
// Throws InputError for a widths entry beyond the curves or of the wrong length.
void check_per_curve_widths(const std::vector<Polyline>& curves,
                            const std::optional<Widths>& widths);

// Checks, merge, decimation and inflation: the polygons every entry point starts from.
std::vector<BufferPolygon> build_buffer_polygons(const std::vector<Polyline>& curves,
                                                 const TopologizeParams& params);
// build_buffer_polygons, boundary preparation and the triangles of each polygon; a polygon the
// triangulation rejects is tried once more with unsimplified rings.
std::vector<Triangle> triangulate_curves(const std::vector<Polyline>& curves,
                                         const TopologizeParams& params);

std::vector<Point> smooth_chain_taubin(const std::vector<Point>& points, std::size_t iterations,
                                       double lambda, double mu);
FinishedChain finish_chain(const Chain& chain, double simplification);
// Twice the distance from every point to the nearest boundary vertex.
std::vector<double> chain_widths(const std::vector<Point>& points,
                                 const std::vector<Point>& boundary_cloud);

// Throws InputError with the message the caller raises (widths check, node limit).
TopologyResult topologize_inner(const std::vector<Polyline>& curves,
                                const TopologizeParams& params);

struct BatchJob {
  std::vector<Polyline> curves;
  TopologizeParams params;
};

// Runs every job on the shared worker pool; results in job order. The first failure throws
// InputError "topologize_batch job i failed: " + message.
std::vector<TopologyResult> run_batch(const std::vector<BatchJob>& jobs);

}  // namespace linetopo
