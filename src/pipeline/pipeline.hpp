// The entry points of the core: one topologize computation from curves to finished chains, its
// intermediate results, and the batch runner.
#pragma once

#include <optional>
#include <vector>

#include "geometry/geometry.hpp"
#include "pipeline/params.hpp"
#include "pipeline/settings.hpp"
#include "skeleton_cdt/skeleton_cdt.hpp"

namespace linetopo {

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

// Throws InputError with the message the caller raises (widths check, node limit).
TopologyResult topologize_inner(const std::vector<Polyline>& curves,
                                const TopologizeParams& params);

// The halo a tile's core is widened by: twice the largest radius, so that the buffer reaching into
// the core is whole, plus the reaches of tip pruning and junction merging, plus one feature size
// for the smoothing and simplification of chain ends.
double tile_halo(const Settings& settings, double largest_radius);

// topologize_inner on square tiles of side tile_size, each given the curves within its core
// widened by tile_halo, run on the worker pool a wave at a time; the chains are clipped to the
// cores and stitched. Throws InputError "tile (col, row) failed: " + message for a tile's
// failure.
TopologyResult topologize_tiled(const std::vector<Polyline>& curves, const TopologizeParams& params,
                                double tile_size);

struct BatchJob {
  std::vector<Polyline> curves;
  TopologizeParams params;
};

// Runs every job on the shared worker pool; results in job order. Every job's feature_size is
// checked before any job runs; after that the first failure throws InputError
// "topologize_batch job i failed: " + message.
std::vector<TopologyResult> run_batch(const std::vector<BatchJob>& jobs);

}  // namespace linetopo
