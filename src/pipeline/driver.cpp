// The topologize driver: every stage in order with thresholds derived from feature_size.
#include <algorithm>
#include <string>
#include <unordered_map>

#include "boundary/boundary.hpp"
#include "curves/curves.hpp"
#include "inflate/inflate.hpp"
#include "parallel/parallel.hpp"
#include "pipeline/driver_detail.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/vertex_tree.hpp"

namespace linetopo {
namespace {

// A given tolerance is clamped at 0 (NaN counts as 0); absent, it is 1% of feature_size.
double merge_tolerance_of(const TopologizeParams& p) {
  if (!p.merge_tolerance) return 0.01 * p.feature_size;
  return *p.merge_tolerance > 0.0 ? *p.merge_tolerance : 0.0;
}

std::vector<BufferPolygon> prepare(const std::vector<BufferPolygon>& polygons,
                                   const TopologizeParams& p,
                                   std::optional<double> boundary_simplification) {
  return preprocess_boundaries(polygons, p.feature_size, p.buffer_distance, p.subdivision_ratio,
                               p.resample, boundary_simplification);
}

// Simplification shortcuts are what make prepared rings cross; subdivision and refinement only
// add points on existing edges, so the unsimplified rings keep the inflated polygon's topology.
std::optional<BufferPolygon> prepare_unsimplified(const BufferPolygon& inflated,
                                                  const TopologizeParams& p) {
  std::vector<BufferPolygon> out;
  try {
    out = prepare({inflated}, p, 0.0);
  } catch (const InputError&) {
    return std::nullopt;  // the full-detail rings would pass the point budget: give up instead
  }
  if (out.size() != 1) throw InternalError("internal error: boundary preparation lost a polygon");
  if (out.front().outer.size() < 3) return std::nullopt;
  return std::move(out.front());
}

template <class T, class TryFn>
std::vector<T> per_polygon(std::vector<BufferPolygon>& prepared,
                           const std::vector<BufferPolygon>& inflated, const TopologizeParams& p,
                           detail::RejectionCount* count, TryFn try_fn) {
  if (prepared.size() != inflated.size()) {
    throw InternalError("internal error: boundary preparation changed the polygon count");
  }
  // Polygons are independent: each runs on the pool, and the pieces are joined in polygon order.
  std::vector<std::optional<std::vector<T>>> parts(prepared.size());
  std::vector<char> rejected(prepared.size(), 0);
  std::vector<char> recovered(prepared.size(), 0);
  parallel_for(prepared.size(), [&](std::size_t i) {
    BufferPolygon& poly = prepared[i];
    if (poly.outer.size() < 3) return;
    auto items = try_fn(poly.outer, poly.holes);
    if (!items) {
      rejected[i] = 1;
      if (auto again = prepare_unsimplified(inflated[i], p)) {
        items = try_fn(again->outer, again->holes);
        if (items) {
          poly = std::move(*again);
          recovered[i] = 1;
        }
      }
    }
    parts[i] = std::move(items);
  });
  if (count) {
    count->rejected += static_cast<std::size_t>(std::count(rejected.begin(), rejected.end(), 1));
    count->recovered += static_cast<std::size_t>(std::count(recovered.begin(), recovered.end(), 1));
  }
  std::size_t total = 0;
  for (const auto& part : parts) total += part ? part->size() : 0;
  std::vector<T> out;
  out.reserve(total);
  for (auto& part : parts) {
    if (part) out.insert(out.end(), part->begin(), part->end());
  }
  return out;
}

std::vector<Point> boundary_cloud(const std::vector<BufferPolygon>& polygons) {
  std::size_t total = 0;
  for (const BufferPolygon& poly : polygons) {
    total += poly.outer.size();
    for (const Ring& hole : poly.holes) total += hole.size();
  }
  std::vector<Point> cloud;
  cloud.reserve(total);
  for (const BufferPolygon& poly : polygons) {
    cloud.insert(cloud.end(), poly.outer.begin(), poly.outer.end());
    for (const Ring& hole : poly.holes) cloud.insert(cloud.end(), hole.begin(), hole.end());
  }
  return cloud;
}

}  // namespace

namespace detail {

std::vector<Segment> skeleton_segments(std::vector<BufferPolygon>& prepared,
                                       const std::vector<BufferPolygon>& inflated,
                                       const TopologizeParams& params, RejectionCount* count) {
  return per_polygon<Segment>(prepared, inflated, params, count,
                              [](const Ring& outer, const std::vector<Ring>& holes) {
                                return try_skeletonize(outer, holes);
                              });
}

std::vector<Triangle> polygon_triangles(std::vector<BufferPolygon>& prepared,
                                        const std::vector<BufferPolygon>& inflated,
                                        const TopologizeParams& params, RejectionCount* count) {
  return per_polygon<Triangle>(prepared, inflated, params, count,
                               [](const Ring& outer, const std::vector<Ring>& holes) {
                                 return try_get_triangles(outer, holes);
                               });
}

}  // namespace detail

std::vector<BufferPolygon> build_buffer_polygons(const std::vector<Polyline>& curves,
                                                 const TopologizeParams& params) {
  validate_feature_size(params.feature_size);
  check_per_curve_widths(curves, params.per_curve_widths);
  // On the raw input, so that messages name the caller's indices and decimation cannot hide a NaN.
  check_inflation_input(curves, params.per_curve_widths, params.buffer_distance);
  const double tolerance = merge_tolerance_of(params);
  std::vector<Polyline> decimated;
  const double spacing = 0.15 * params.feature_size;
  if (tolerance > 0.0) {
    MergedCurves merged =
        merge_connected(curves, params.per_curve_widths, params.buffer_distance, tolerance);
    decimated = decimate_curves(merged.curves, merged.widths.has_value(), spacing);
    return inflate(decimated, merged.widths, params.buffer_distance, params.feature_size);
  }
  decimated = decimate_curves(curves, params.per_curve_widths.has_value(), spacing);
  return inflate(decimated, params.per_curve_widths, params.buffer_distance, params.feature_size);
}

std::vector<Triangle> triangulate_curves(const std::vector<Polyline>& curves,
                                         const TopologizeParams& params) {
  const std::vector<BufferPolygon> inflated = build_buffer_polygons(curves, params);
  std::vector<BufferPolygon> prepared = prepare(inflated, params, params.boundary_simplification);
  return detail::polygon_triangles(prepared, inflated, params, nullptr);
}

TopologyResult topologize_inner(const std::vector<Polyline>& curves,
                                const TopologizeParams& params) {
  const double fs = params.feature_size;
  std::vector<Segment> segments;
  std::vector<BufferPolygon> prepared;
  {
    const std::vector<BufferPolygon> inflated = build_buffer_polygons(curves, params);
    prepared = prepare(inflated, params, params.boundary_simplification);
    segments = detail::skeleton_segments(prepared, inflated, params, nullptr);
  }
  if (segments.empty()) return {};

  std::optional<detail::VertexTree> tree;
  if (params.compute_widths) tree = detail::build_vertex_tree(boundary_cloud(prepared));
  prepared = {};

  Graph graph = segments_to_graph(segments, fs / 20.0);
  segments = {};
  if (params.max_nodes && graph.nodes.size() > *params.max_nodes) {
    throw InputError("skeleton has " + std::to_string(graph.nodes.size()) +
                     " nodes, exceeding max_nodes limit of " + std::to_string(*params.max_nodes));
  }
  const double tip_length = fs * params.min_tip_fraction.value_or(2.0);
  if (tip_length > 0.0) graph = prune_short_tips(graph, tip_length);
  const double merge_fraction = params.junction_merge_fraction.value_or(1.5);
  if (merge_fraction > 0.0) graph = merge_close_junctions(graph, fs * merge_fraction);
  const std::vector<Chain> chains = extract_chains(graph);
  graph = {};

  const double simplification = params.simplification.value_or(fs / 10.0);
  TopologyResult result;
  result.chains.reserve(chains.size());
  result.chain_node_ids.reserve(chains.size());
  // Graph node index to output node index; output order follows the chains only.
  std::unordered_map<std::size_t, std::size_t> node_table;
  node_table.reserve(2 * chains.size());
  const auto output_node = [&](std::size_t graph_node, const Point& position) {
    const auto [it, inserted] = node_table.try_emplace(graph_node, result.nodes.size());
    if (inserted) result.nodes.push_back(position);
    return it->second;
  };
  for (const Chain& chain : chains) {
    FinishedChain finished = finish_chain(chain, simplification);
    if (finished.points.empty()) throw InternalError("internal error: empty chain");
    const std::size_t start = output_node(finished.start, finished.points.front());
    const std::size_t end = output_node(finished.end, finished.points.back());
    result.chain_node_ids.emplace_back(start, end);
    if (tree) result.widths.push_back(detail::widths_against(*tree, finished.points));
    result.chains.push_back(std::move(finished.points));
  }
  return result;
}

}  // namespace linetopo
