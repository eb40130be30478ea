// Per-polygon triangulation with one retry, shared by the driver and triangulate_curves.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "chains/vertex_tree.hpp"
#include "graph/graph.hpp"
#include "pipeline/pipeline.hpp"

namespace linetopo::detail {

// How many prepared polygons had rings that met and were prepared again before triangulating,
// how many the triangulation still rejected, and how many of those the retry saved.
struct RejectionCount {
  std::size_t crossed = 0;
  std::size_t rejected = 0;
  std::size_t recovered = 0;
};

// Checks, merge, decimation and inflation for settings already resolved.
std::vector<BufferPolygon> buffer_polygons(const std::vector<Polyline>& curves,
                                           const std::optional<Widths>& per_curve_widths,
                                           const Settings& settings,
                                           const CancelCheck& cancelled = {});

// One skeleton per prepared polygon, empty for a polygon that gave none or whose outer ring has
// fewer than 3 points. Rings that simplification made meet are prepared again unsimplified first.
// A polygon the triangulation still rejects is prepared again from its inflated form without
// boundary simplification and tried once more; on success it replaces the prepared polygon, so
// that the widths measure against the rings actually triangulated. `count`, when given, adds up
// how often each happened. Unless `keep_rings`, each prepared polygon is emptied once its
// skeleton is made, so that the rings and the skeletons are not all held at once.
std::vector<Skeleton> polygon_skeletons(std::vector<BufferPolygon>& prepared,
                                        const std::vector<BufferPolygon>& inflated,
                                        const BoundarySettings& boundary, RejectionCount* count,
                                        const CancelCheck& cancelled = {}, bool keep_rings = true);

// The chains of the skeletons' graph: welded, tips pruned and close junctions merged. Skeletons
// that weld apart are cleaned each on its own, on the pool, with the result of cleaning them as
// one graph. Chain ends are numbered over all skeletons. With `boundary` (the prepared rings'
// vertices), tips are measured from where they leave the stroke at their junction.
std::vector<Chain> skeleton_chains(std::vector<Skeleton> skeletons, const Settings& settings,
                                   const CancelCheck& cancelled,
                                   const VertexTree* boundary = nullptr);

// The same for the triangles of every prepared polygon.
std::vector<Triangle> polygon_triangles(std::vector<BufferPolygon>& prepared,
                                        const std::vector<BufferPolygon>& inflated,
                                        const BoundarySettings& boundary, RejectionCount* count,
                                        const CancelCheck& cancelled = {});

}  // namespace linetopo::detail
