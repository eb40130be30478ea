// The topologize driver: every stage in order, with the settings resolve() derives.
#include <algorithm>
#include <functional>
#include <string>

#include "boundary/boundary.hpp"
#include "chains/chains.hpp"
#include "chains/vertex_tree.hpp"
#include "curves/curves.hpp"
#include "graph/graph.hpp"
#include "inflate/inflate.hpp"
#include "parallel/memory.hpp"
#include "parallel/parallel.hpp"
#include "pipeline/driver_detail.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/traced.hpp"

namespace linetopo {
namespace {

// Simplification shortcuts are what make prepared rings cross; subdivision and refinement only
// add points on existing edges, so the unsimplified rings keep the inflated polygon's topology.
std::optional<BufferPolygon> prepare_unsimplified(const BufferPolygon& inflated,
                                                  BoundarySettings boundary) {
  boundary.tolerance = 0.0;
  std::vector<BufferPolygon> out;
  try {
    out = preprocess_boundaries({inflated}, boundary);
  } catch (const InputError&) {
    return std::nullopt;  // the full-detail rings would pass the point budget: give up instead
  }
  if (out.size() != 1) throw InternalError("internal error: boundary preparation lost a polygon");
  if (out.front().outer.size() < 3) return std::nullopt;
  return std::move(out.front());
}

// The prepared polygon with each ring that meets another (or itself) taken unsimplified instead,
// again until no ring that still meets is simplified; nothing when no ring meets, a ring cannot
// be had unsimplified, or every ring was replaced. `meets` is meeting_rings(prepared);
// unsimplified(r) gives ring r (outer first) unsimplified, or nothing.
template <class Unsimplified>
std::optional<BufferPolygon> unsimplified_where_rings_meet(const BufferPolygon& prepared,
                                                           std::vector<char> meets,
                                                           const Unsimplified& unsimplified) {
  BufferPolygon mixed = prepared;
  const std::size_t rings = 1 + prepared.holes.size();
  std::vector<char> replaced(rings, 0);
  while (true) {
    // Rings left simplified met no ring before, and pairs of them are unchanged: only the rings
    // just replaced can make them meet now.
    std::vector<char> fresh(rings, 0);
    bool more = false;
    for (std::size_t r = 0; r < rings; ++r) {
      if (meets[r] && !replaced[r]) {
        std::optional<Ring> ring = unsimplified(r);
        if (!ring) return std::nullopt;
        (r == 0 ? mixed.outer : mixed.holes[r - 1]) = std::move(*ring);
        replaced[r] = fresh[r] = 1;
        more = true;
      }
    }
    if (!more) break;
    meets = meeting_rings(mixed, fresh);
  }
  const auto count = std::count(replaced.begin(), replaced.end(), 1);
  if (count == 0 || count == static_cast<std::ptrdiff_t>(rings)) return std::nullopt;
  return mixed;
}

// The rings that meet taken from a polygon prepared unsimplified in full.
std::optional<BufferPolygon> unsimplified_where_rings_meet(const BufferPolygon& prepared,
                                                           const BufferPolygon& unsimplified) {
  if (prepared.holes.size() != unsimplified.holes.size()) return std::nullopt;
  return unsimplified_where_rings_meet(
      prepared, meeting_rings(prepared), [&](std::size_t r) -> std::optional<Ring> {
        return r == 0 ? unsimplified.outer : unsimplified.holes[r - 1];
      });
}

// The rings that meet prepared again unsimplified, one by one: a huge polygon in which a few rings
// meet does not pay for finishing all its rings. Points past the budget give nothing.
std::optional<BufferPolygon> unsimplified_where_rings_meet(const BufferPolygon& prepared,
                                                           const BufferPolygon& inflated,
                                                           BoundarySettings boundary,
                                                           std::vector<char> meets) {
  boundary.tolerance = 0.0;
  try {
    const RingPreparation preparation({inflated}, boundary);
    const BufferPolygon& shared = preparation.shared().front();
    if (prepared.holes.size() != shared.holes.size()) return std::nullopt;
    const PointBudget budget{"", 0, boundary.max_points};
    std::optional<BufferPolygon> mixed = unsimplified_where_rings_meet(
        prepared, std::move(meets), [&](std::size_t r) -> std::optional<Ring> {
          const Ring& ring = r == 0 ? shared.outer : shared.holes[r - 1];
          Ring finished = preparation.option() ? preparation.finish(ring, budget) : ring;
          if (r == 0 && finished.size() < 3) return std::nullopt;
          return finished;
        });
    if (mixed) {
      std::size_t points = mixed->outer.size();
      for (const Ring& hole : mixed->holes) points += hole.size();
      check_point_budget(budget, points);
    }
    return mixed;
  } catch (const InputError&) {
    return std::nullopt;  // past the point budget: the simplified polygon is tried as it is
  }
}

// One result per prepared polygon, R{} for a polygon too small or rejected twice.
template <class R, class TryFn>
std::vector<R> per_polygon(std::vector<BufferPolygon>& prepared,
                           const std::vector<BufferPolygon>& inflated,
                           const BoundarySettings& boundary, detail::RejectionCount* count,
                           const CancelCheck& cancelled, TryFn try_fn, bool keep_rings = true) {
  if (prepared.size() != inflated.size()) {
    throw InternalError("internal error: boundary preparation changed the polygon count");
  }
  // Polygons are independent: each runs on the pool.
  std::vector<R> parts(prepared.size());
  std::vector<char> crossed(prepared.size(), 0);
  std::vector<char> rejected(prepared.size(), 0);
  std::vector<char> recovered(prepared.size(), 0);
  parallel_for(prepared.size(), [&](std::size_t i) {
    BufferPolygon& poly = prepared[i];
    if (poly.outer.size() < 3) return;
    throw_if_cancelled(cancelled);
    // Rings that simplification made meet are found before the triangulation, which would
    // only fail on them after most of its work; they are prepared again unsimplified.
    if (boundary.tolerance > 0.0) {
      std::vector<char> meets = meeting_rings(poly);
      if (std::find(meets.begin(), meets.end(), 1) != meets.end()) {
        if (auto mixed = unsimplified_where_rings_meet(poly, inflated[i], boundary,
                                                       std::move(meets))) {
          poly = std::move(*mixed);
          crossed[i] = 1;
        }
      }
    }
    throw_if_cancelled(cancelled);
    auto items = try_fn(poly.outer, poly.holes);
    if (!items) {
      rejected[i] = 1;
      if (std::optional<BufferPolygon> again = prepare_unsimplified(inflated[i], boundary)) {
        // First with only the rings that meet taken unsimplified, then with all of them.
        std::optional<BufferPolygon> tries[] = {unsimplified_where_rings_meet(poly, *again),
                                                std::move(again)};
        for (std::optional<BufferPolygon>& t : tries) {
          if (!t) continue;
          items = try_fn(t->outer, t->holes);
          if (items) {
            poly = std::move(*t);
            recovered[i] = 1;
            break;
          }
        }
      }
    }
    if (items) parts[i] = std::move(*items);
    if (!keep_rings) poly = {};
  });
  if (count) {
    count->crossed += static_cast<std::size_t>(std::count(crossed.begin(), crossed.end(), 1));
    count->rejected += static_cast<std::size_t>(std::count(rejected.begin(), rejected.end(), 1));
    count->recovered += static_cast<std::size_t>(std::count(recovered.begin(), recovered.end(), 1));
  }
  return parts;
}

// The parts joined in order.
template <class T>
std::vector<T> joined(std::vector<std::vector<T>> parts) {
  std::size_t total = 0;
  for (const auto& part : parts) total += part.size();
  std::vector<T> out;
  out.reserve(total);
  for (auto& part : parts) out.insert(out.end(), part.begin(), part.end());
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

std::vector<Skeleton> polygon_skeletons(std::vector<BufferPolygon>& prepared,
                                        const std::vector<BufferPolygon>& inflated,
                                        const BoundarySettings& boundary, RejectionCount* count,
                                        const CancelCheck& cancelled, bool keep_rings) {
  return per_polygon<Skeleton>(
      prepared, inflated, boundary, count, cancelled,
      [&](const Ring& outer, const std::vector<Ring>& holes) {
        return try_skeleton(outer, holes, cancelled);
      },
      keep_rings);
}

std::vector<Triangle> polygon_triangles(std::vector<BufferPolygon>& prepared,
                                        const std::vector<BufferPolygon>& inflated,
                                        const BoundarySettings& boundary, RejectionCount* count,
                                        const CancelCheck& cancelled) {
  return joined(per_polygon<std::vector<Triangle>>(
      prepared, inflated, boundary, count, cancelled,
      [&](const Ring& outer, const std::vector<Ring>& holes) {
        return try_get_triangles(outer, holes, cancelled);
      }));
}

std::vector<Chain> skeleton_chains(std::vector<Skeleton> skeletons, const Settings& s,
                                   const CancelCheck& cancelled, const VertexTree* boundary) {
  std::function<double(const Point&)> reach;
  if (boundary != nullptr) {
    // Half the stroke's width at a point: its distance to the boundary.
    reach = [boundary](const Point& p) { return 0.5 * widths_against(*boundary, {p}).front(); };
  }
  std::vector<Graph> graphs;
  const WeldNeighbours near = weld_neighbours(skeletons, s.weld_tolerance);
  if (near.apart) {
    graphs.resize(skeletons.size());
    parallel_for(skeletons.size(), [&](std::size_t i) {
      throw_if_cancelled(cancelled);
      graphs[i] = weld_skeletons(std::span(&skeletons[i], 1), std::span(&near.crowded[i], 1),
                                 s.weld_tolerance);
      skeletons[i] = {};
    });
  } else {
    graphs.push_back(weld_skeletons(skeletons, near.crowded, s.weld_tolerance));
  }
  skeletons = {};
  throw_if_cancelled(cancelled);
  std::size_t nodes = 0;
  for (const Graph& g : graphs) nodes += g.nodes.size();
  if (s.max_nodes && nodes > *s.max_nodes) {
    throw InputError("skeleton has " + std::to_string(nodes) +
                     " nodes, exceeding max_nodes limit of " + std::to_string(*s.max_nodes));
  }
  std::vector<ChainLists> lists(graphs.size());
  std::vector<std::size_t> node_count(graphs.size());  // after cleaning, for the numbering
  parallel_for(graphs.size(), [&](std::size_t i) {
    throw_if_cancelled(cancelled);
    Graph graph = std::move(graphs[i]);
    if (s.tip_length > 0.0) {
      graph = prune_short_tips(graph, s.tip_length, s.keep_components, reach);
    }
    if (s.junction_merge_distance > 0.0) {
      graph = merge_close_junctions(graph, s.junction_merge_distance);
    }
    lists[i] = extract_chain_lists(graph);
    node_count[i] = graph.nodes.size();
  });
  // Open chains of every graph come before the loops of any, as in one graph's chain list.
  std::vector<Chain> chains;
  for (const bool loops : {false, true}) {
    std::size_t offset = 0;
    for (std::size_t i = 0; i < lists.size(); ++i) {
      for (Chain& c : loops ? lists[i].loops : lists[i].open) {
        c.start += offset;
        c.end += offset;
        chains.push_back(std::move(c));
      }
      offset += node_count[i];
    }
  }
  return chains;
}

std::vector<BufferPolygon> buffer_polygons(const std::vector<Polyline>& curves,
                                           const std::optional<Widths>& per_curve_widths,
                                           const Settings& s, const CancelCheck& cancelled) {
  check_per_curve_widths(curves, per_curve_widths);
  // On the raw input, so that messages name the caller's indices and decimation cannot hide a NaN.
  check_inflation_input(curves, per_curve_widths, s.buffer_distance);
  if (s.merge_tolerance > 0.0) {
    const MergedCurves merged =
        merge_connected(curves, per_curve_widths, s.buffer_distance, s.merge_tolerance);
    return inflate(decimate_curves(merged.curves, merged.widths.has_value(), s.decimation_spacing),
                   merged.widths, s.buffer_distance, s.inflation, cancelled);
  }
  return inflate(decimate_curves(curves, per_curve_widths.has_value(), s.decimation_spacing),
                 per_curve_widths, s.buffer_distance, s.inflation, cancelled);
}

}  // namespace detail

std::vector<BufferPolygon> build_buffer_polygons(const std::vector<Polyline>& curves,
                                                 const TopologizeParams& params,
                                                 const CancelCheck& cancelled) {
  return detail::buffer_polygons(curves, params.per_curve_widths, resolve(params), cancelled);
}

std::vector<Triangle> triangulate_curves(const std::vector<Polyline>& curves,
                                         const TopologizeParams& params,
                                         const CancelCheck& cancelled) {
  const Settings s = resolve(params, curves);
  const std::vector<BufferPolygon> inflated =
      detail::buffer_polygons(curves, params.per_curve_widths, s, cancelled);
  throw_if_cancelled(cancelled);
  std::vector<BufferPolygon> prepared = preprocess_boundaries(inflated, s.boundary, cancelled);
  throw_if_cancelled(cancelled);
  return detail::polygon_triangles(prepared, inflated, s.boundary, nullptr, cancelled);
}

namespace {

// Finished chains with output node ids: graph node indices are renumbered in the order the
// chains first reach them.
TopologyResult finish(const std::vector<Chain>& chains, const Settings& s,
                      const detail::VertexTree* tree) {
  TopologyResult result;
  result.chains.reserve(chains.size());
  result.chain_node_ids.reserve(chains.size());
  NodeNumbering output_node(result.nodes, 2 * chains.size());
  // Chains are finished independently on the pool; nodes are numbered afterwards, in order.
  std::vector<FinishedChain> finished(chains.size());
  if (tree) result.widths.resize(chains.size());
  parallel_for(chains.size(), [&](std::size_t i) {
    finished[i] = finish_chain(chains[i], s.simplification);
    if (tree && !finished[i].points.empty()) {
      result.widths[i] = detail::widths_against(*tree, finished[i].points);
    }
  });
  for (FinishedChain& f : finished) {
    if (f.points.empty()) throw InternalError("internal error: empty chain");
    const std::size_t start = output_node(f.start, f.points.front());
    const std::size_t end = output_node(f.end, f.points.back());
    result.chain_node_ids.emplace_back(start, end);
    result.chains.push_back(std::move(f.points));
  }
  return result;
}

// Declared first in a run, so that it outlives the run's other locals: a large run hands its free
// memory back once everything but the result is gone.
struct ReleaseWhenLarge {
  std::size_t boundary_points = 0;
  ReleaseWhenLarge() = default;
  ReleaseWhenLarge(const ReleaseWhenLarge&) = delete;
  ReleaseWhenLarge& operator=(const ReleaseWhenLarge&) = delete;
  ~ReleaseWhenLarge() {
    if (boundary_points >= defaults::kReleaseMemoryAfterPoints) release_free_memory();
  }
};

// Everything after the union: boundary preparation, skeletons, the graph and the finished chains.
TopologyResult topology_of(std::vector<BufferPolygon> united, const Settings& s,
                           const CancelCheck& cancelled) {
  ReleaseWhenLarge release;
  std::vector<Skeleton> skeletons;
  std::vector<BufferPolygon> prepared;
  const bool protrusion = s.tip_protrusion && s.tip_length > 0.0;
  // Only the widths, and tips measured against the stroke, read the boundary after the skeletons.
  const bool keep_rings = s.compute_widths || protrusion;
  {
    const std::vector<BufferPolygon> inflated = std::move(united);
    throw_if_cancelled(cancelled);
    prepared = preprocess_boundaries(inflated, s.boundary, cancelled);
    for (const BufferPolygon& p : prepared) {
      release.boundary_points += p.outer.size();
      for (const Ring& hole : p.holes) release.boundary_points += hole.size();
    }
    throw_if_cancelled(cancelled);
    skeletons =
        detail::polygon_skeletons(prepared, inflated, s.boundary, nullptr, cancelled, keep_rings);
  }
  const bool any = std::any_of(skeletons.begin(), skeletons.end(),
                               [](const Skeleton& k) { return !k.segments.empty(); });
  if (!any) return {};
  throw_if_cancelled(cancelled);
  if (!keep_rings) prepared = {};

  std::optional<detail::VertexTree> tree;
  std::vector<Chain> chains;
  if (protrusion) {
    tree = detail::build_vertex_tree(boundary_cloud(prepared));
    prepared = {};
    chains = detail::skeleton_chains(std::move(skeletons), s, cancelled, &*tree);
    if (!s.compute_widths) tree.reset();
    return finish(chains, s, tree ? &*tree : nullptr);
  }
  // The widths' tree is built beside the graph stages, which run one huge polygon on one thread.
  parallel_for(2, [&](std::size_t k) {
    if (k == 0) {
      chains = detail::skeleton_chains(std::move(skeletons), s, cancelled);
    } else if (s.compute_widths) {
      tree = detail::build_vertex_tree(boundary_cloud(prepared));
      prepared = {};
    }
  });
  return finish(chains, s, tree ? &*tree : nullptr);
}

}  // namespace

TopologyResult topologize_inner(const std::vector<Polyline>& curves, const TopologizeParams& params,
                                const CancelCheck& cancelled) {
  const Settings s = resolve(params, curves);
  return topology_of(detail::buffer_polygons(curves, params.per_curve_widths, s, cancelled), s,
                     cancelled);
}

TopologyResult topologize_rings(std::vector<Ring> rings, const TopologizeParams& params,
                                const CancelCheck& cancelled, double min_hole_width) {
  Settings s = resolve_areas(params);
  s.inflation.min_hole_width = min_hole_width;
  std::size_t points = 0;
  for (const Ring& r : rings) points += r.size();
  s.boundary.max_points = boundary_point_limit(points);
  std::vector<BufferPolygon> nested = nest_rings(std::move(rings), s.inflation, cancelled);
  return topology_of(thinned_outlines(std::move(nested), s, cancelled), s, cancelled);
}

TopologyResult topologize_polygons(const std::vector<BufferPolygon>& polygons,
                                   const TopologizeParams& params, const CancelCheck& cancelled) {
  Settings s = resolve_areas(params);
  check_polygon_input(polygons);
  std::size_t points = 0;
  for (const BufferPolygon& p : polygons) {
    points += p.outer.size();
    for (const Ring& h : p.holes) points += h.size();
  }
  s.boundary.max_points = boundary_point_limit(points);
  return topology_of(unite_polygons(polygons, s.inflation, cancelled), s, cancelled);
}

}  // namespace linetopo
