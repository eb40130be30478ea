// Turns the interior triangles of a buffer polygon's constrained Delaunay triangulation into
// skeleton segments, after jittering its points off exact ties.
#include "skeleton_cdt/skeleton_cdt.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <utility>

#include "geometry/keys.hpp"
#include "parallel/parallel.hpp"
#include "skeleton_cdt/cdt_detail.hpp"

namespace linetopo {
namespace {

using cdt_detail::Across;
using cdt_detail::kNone;

// The vertices of all rings that take part, and one explicitly closed index contour per ring.
struct ContourInput {
  std::vector<Point> points;
  std::vector<std::vector<std::size_t>> contours;
};

ContourInput assemble(const Ring& outer, const std::vector<Ring>& holes) {
  ContourInput in;
  const auto add = [&in](const Ring& ring) {
    if (ring.size() <= 2) return;
    const std::size_t s = in.points.size();
    in.points.insert(in.points.end(), ring.begin(), ring.end());
    std::vector<std::size_t> contour(ring.size() + 1);
    std::iota(contour.begin(), contour.end() - 1, s);
    contour.back() = s;
    in.contours.push_back(std::move(contour));
  };
  add(outer);
  for (const Ring& hole : holes) add(hole);
  return in;
}

bool too_small(const ContourInput& in) { return in.points.size() <= 2 || in.contours.empty(); }

// Triangles per block of the skeleton's passes on the pool.
constexpr std::size_t kTriangleBlock = 16384;

Point midpoint(const std::vector<Point>& p, const IndexPair& e) {
  const Point& a = p[e.lo];
  const Point& b = p[e.hi];
  return {(a.x + b.x) * 0.5, (a.y + b.y) * 0.5};
}

}  // namespace

namespace {

// From this many points on, a triangulation is split into strips on the pool, one per this many.
constexpr std::size_t kSplitPoints = 60000;
constexpr std::size_t kPointsPerStrip = 40000;
constexpr std::size_t kMaxStrips = 64;

// The triangulation behind triangulate_contours, in strips when it is large. When `across` is
// given, it receives per returned triangle its returned neighbours, which is how the skeleton
// finds shared edges without a look-up.
std::optional<std::vector<IndexTriangle>> triangulate(
    const std::vector<Point>& points, const std::vector<std::vector<std::size_t>>& contours,
    std::vector<Across>* across, const CancelCheck& cancelled) {
  if (points.size() >= kSplitPoints) {
    const std::size_t strips = std::min(kMaxStrips, points.size() / kPointsPerStrip);
    // Strips are cut across the long side: cut along it, each would be a sliver that the
    // triangles around its cuts fill, left to the one triangulation after.
    double x0 = points.front().x, x1 = x0, y0 = points.front().y, y1 = y0;
    for (const Point& p : points) {
      x0 = std::fmin(x0, p.x), x1 = std::fmax(x1, p.x);
      y0 = std::fmin(y0, p.y), y1 = std::fmax(y1, p.y);
    }
    if (y1 - y0 > x1 - x0) {
      std::vector<Point> turned(points.size());
      for (std::size_t i = 0; i < points.size(); ++i) turned[i] = {points[i].y, points[i].x};
      if (auto split = cdt_detail::triangulate_split(turned, contours, strips, across, cancelled)) {
        // The mirror image runs clockwise: two corners swapped, and the triangles across them.
        if (*split) {
          for (IndexTriangle& t : **split) std::swap(t[1], t[2]);
        }
        if (across != nullptr) {
          for (Across& a : *across) std::swap(a[1], a[2]);
        }
        return std::move(*split);
      }
    } else if (auto split =
                   cdt_detail::triangulate_split(points, contours, strips, across, cancelled)) {
      return std::move(*split);
    }
  }
  return cdt_detail::triangulate_whole(points, contours, across, cancelled);
}

}  // namespace

std::optional<std::vector<IndexTriangle>> triangulate_contours(
    const std::vector<Point>& points, const std::vector<std::vector<std::size_t>>& contours) {
  return triangulate(points, contours, nullptr, {});
}

std::optional<std::vector<Triangle>> try_get_triangles(const Ring& outer,
                                                       const std::vector<Ring>& holes,
                                                       const CancelCheck& cancelled) {
  ContourInput in = assemble(outer, holes);
  if (too_small(in)) return std::vector<Triangle>{};
  cdt_detail::jitter(in.points, in.contours);
  const auto triples = triangulate(in.points, in.contours, nullptr, cancelled);
  if (!triples) return std::nullopt;
  const std::size_t n = in.points.size();
  std::vector<Triangle> out;
  out.reserve(triples->size());
  for (const IndexTriangle& t : *triples) {
    out.push_back({in.points[check_index(t[0], n, "triangle")],
                   in.points[check_index(t[1], n, "triangle")],
                   in.points[check_index(t[2], n, "triangle")]});
  }
  return out;
}

std::optional<Skeleton> try_skeleton(const Ring& outer, const std::vector<Ring>& holes,
                                     const CancelCheck& cancelled) {
  ContourInput in = assemble(outer, holes);
  if (too_small(in)) return Skeleton{};
  const std::size_t n = in.points.size();

  // Ring number and position of every point, and the vertex count of every ring.
  std::vector<std::size_t> ring_of(n, 0);
  std::vector<std::size_t> position_of(n, 0);
  std::vector<std::size_t> ring_size(in.contours.size(), 0);
  for (std::size_t r = 0; r < in.contours.size(); ++r) {
    const auto& contour = in.contours[r];
    ring_size[r] = contour.size() - 1;
    for (std::size_t i = 0; i + 1 < contour.size(); ++i) {
      const std::size_t j = check_index(contour[i], n, "contour");
      ring_of[j] = r;
      position_of[j] = i;
    }
  }

  cdt_detail::jitter(in.points, in.contours);
  std::vector<Across> across;
  const auto triples = triangulate(in.points, in.contours, &across, cancelled);
  if (!triples) return std::nullopt;
  const std::size_t count = triples->size();
  if (across.size() != count) {
    throw InternalError("internal error: triangle neighbours out of step");
  }
  // Every index in range, and each link returned across the same edge: the passes below share
  // an edge's point between the two triangles by that alone.
  // The corner of the triangle across edge i of triangle ti that is not on that edge, or 3.
  const auto far_corner = [&](std::size_t ti, std::size_t i) {
    const IndexTriangle& t = (*triples)[ti];
    const IndexTriangle& o = (*triples)[across[ti][i]];
    std::size_t far = 0;
    while (far < 3 && (o[far] == t[(i + 1) % 3] || o[far] == t[(i + 2) % 3])) ++far;
    return far;
  };
  std::atomic<bool> unmatched{false};
  parallel_for_blocks(count, kTriangleBlock, [&](std::size_t, std::size_t first, std::size_t last) {
    for (std::size_t ti = first; ti < last; ++ti) {
      for (const std::size_t i : (*triples)[ti]) check_index(i, n, "triangle");
      for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t g = across[ti][i];
        if (g == kNone) continue;
        check_index(g, count, "neighbour triangle");
        const std::size_t far = far_corner(ti, i);
        if (far == 3 || across[g][far] != ti) unmatched.store(true, std::memory_order_relaxed);
      }
    }
  });
  if (unmatched.load()) throw InternalError("internal error: triangle neighbours do not match");

  // Shared by two triangles and not a short chord between near neighbours of one ring.
  const auto internal = [&](const IndexPair& e, bool is_shared) {
    if (!is_shared) return false;
    if (ring_of[e.lo] != ring_of[e.hi]) return true;
    const std::size_t ring_n = ring_size[check_index(ring_of[e.lo], ring_size.size(), "ring")];
    const std::size_t pa = position_of[e.lo];
    const std::size_t pb = position_of[e.hi];
    const std::size_t d = pa > pb ? pa - pb : pb - pa;
    return std::min(d, ring_n - d) > 2;
  };

  // Which edges of each triangle the skeleton crosses: bit e for edge E_e, where E0 = (t0, t1),
  // E1 = (t1, t2), E2 = (t0, t2) lie opposite vertices 2, 0 and 1.
  constexpr std::array<std::size_t, 3> kOpposite{2, 0, 1};
  std::vector<std::uint8_t> kept_edges(count);
  parallel_for_blocks(count, kTriangleBlock, [&](std::size_t, std::size_t first, std::size_t last) {
    for (std::size_t ti = first; ti < last; ++ti) {
      const IndexTriangle& t = (*triples)[ti];
      const std::array<IndexPair, 3> edges{index_pair(t[0], t[1]), index_pair(t[1], t[2]),
                                           index_pair(t[0], t[2])};
      std::uint8_t mask = 0;
      for (std::size_t e = 0; e < 3; ++e) {
        if (internal(edges[e], across[ti][kOpposite[e]] != kNone)) mask |= 1U << e;
      }
      kept_edges[ti] = mask;
    }
  });
  const auto kept_count = [&](std::size_t ti) { return std::popcount(kept_edges[ti]); };
  // A triangle with two or three kept edges adds segments; the point on an edge is made by the
  // first such triangle beside it, and a centroid right after a triangle's first edge point.
  const auto makes = [&](std::size_t ti, std::size_t opposite) {
    const std::size_t other = across[ti][opposite];
    return other > ti || kept_count(other) < 2;
  };
  // Visits triangle ti's points in the order it makes or meets them: each kept edge's, telling
  // whether ti makes it, and with three kept edges the centroid after the first.
  const auto walk = [&](std::size_t ti, auto&& on_edge, auto&& on_centre) {
    const int k = kept_count(ti);
    if (k < 2) return;
    bool first_edge = true;
    for (std::size_t e = 0; e < 3; ++e) {
      if ((kept_edges[ti] & (1U << e)) == 0) continue;
      on_edge(kOpposite[e], makes(ti, kOpposite[e]));
      if (first_edge && k == 3) on_centre();
      first_edge = false;
    }
  };

  // Blocks of triangles on the pool, numbering points and segments in triangle order, so that
  // the skeleton is the same whatever the thread count.
  const std::size_t blocks = block_count(count, kTriangleBlock);
  std::vector<std::size_t> point_base(blocks + 1, 0);
  std::vector<std::size_t> segment_base(blocks + 1, 0);
  parallel_for_blocks(count, kTriangleBlock, [&](std::size_t block, std::size_t first,
                                                 std::size_t last) {
    std::size_t points = 0;
    std::size_t segments = 0;
    for (std::size_t ti = first; ti < last; ++ti) {
      walk(
          ti, [&](std::size_t, bool made) { points += made ? 1 : 0; }, [&] { ++points; });
      const int k = kept_count(ti);
      segments += k == 2 ? 1 : k == 3 ? 3 : 0;
    }
    point_base[block + 1] = points;
    segment_base[block + 1] = segments;
  });
  for (std::size_t b = 0; b < blocks; ++b) {
    point_base[b + 1] += point_base[b];
    segment_base[b + 1] += segment_base[b];
  }

  Skeleton out;
  const std::vector<Point>& p = in.points;
  out.points.resize(point_base.back());
  out.segments.resize(segment_base.back());
  // The point made on each triangle's edge i, written for both triangles beside it.
  std::vector<std::size_t> edge_point(3 * count, kNone);
  parallel_for_blocks(count, kTriangleBlock, [&](std::size_t block, std::size_t first,
                                                 std::size_t last) {
    std::size_t next = point_base[block];
    for (std::size_t ti = first; ti < last; ++ti) {
      const IndexTriangle& t = (*triples)[ti];
      walk(
          ti,
          [&](std::size_t opposite, bool made) {
            if (!made) return;
            const IndexPair edge = index_pair(t[(opposite + 1) % 3], t[(opposite + 2) % 3]);
            out.points[next] = midpoint(p, edge);
            edge_point[3 * ti + opposite] = next;
            edge_point[3 * across[ti][opposite] + far_corner(ti, opposite)] = next;
            ++next;
          },
          [&] {
            const Point& a = p[t[0]];
            const Point& b = p[t[1]];
            const Point& c = p[t[2]];
            out.points[next++] = {((a.x + b.x) + c.x) / 3.0, ((a.y + b.y) + c.y) / 3.0};
          });
    }
  });
  parallel_for_blocks(count, kTriangleBlock, [&](std::size_t block, std::size_t first,
                                                 std::size_t last) {
    std::size_t next = point_base[block];
    std::size_t segment = segment_base[block];
    for (std::size_t ti = first; ti < last; ++ti) {
      std::array<std::size_t, 3> ends{};
      std::size_t k = 0;
      std::size_t centre = kNone;
      walk(
          ti,
          [&](std::size_t opposite, bool made) {
            next += made ? 1 : 0;
            ends[k] = edge_point[3 * ti + opposite];
            if (ends[k++] == kNone) throw InternalError("internal error: a skeleton point unmade");
          },
          [&] { centre = next++; });
      if (k == 2) {
        out.segments[segment++] = {ends[0], ends[1]};
      } else if (k == 3) {
        for (const std::size_t m : ends) out.segments[segment++] = {m, centre};
      }
    }
  });
  return out;
}

}  // namespace linetopo
