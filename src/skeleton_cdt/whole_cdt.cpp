// One constrained Delaunay triangulation with CGAL: the points inserted in spatial order, the
// contour edges constrained, and the faces inside by even-odd parity collected with their
// neighbours.
#include <CGAL/Constrained_Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Spatial_sort_traits_adapter_2.h>
#include <CGAL/Triangulation_face_base_with_info_2.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>
#include <CGAL/property_map.h>
#include <CGAL/spatial_sort.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "skeleton_cdt/cdt_detail.hpp"

namespace linetopo {
namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using VertexBase = CGAL::Triangulation_vertex_base_with_info_2<std::size_t, Kernel>;
// Per face: the even-odd parity from the flood fill (-1 while unvisited), and one bit per edge i
// (opposite vertex i) telling that an odd number of contour edges runs along it.
struct FaceInfo {
  int parity = -1;
  std::uint8_t contour_edges = 0;
  std::size_t index = 0;  // among the returned triangles, once collected
};
using FaceBase = CGAL::Constrained_triangulation_face_base_2<
    Kernel, CGAL::Triangulation_face_base_with_info_2<FaceInfo, Kernel>>;
using Tds = CGAL::Triangulation_data_structure_2<VertexBase, FaceBase>;
// The default intersection tag throws on crossings instead of constructing new points.
using Cdt = CGAL::Constrained_Delaunay_triangulation_2<Kernel, Tds>;
// Contour edges the triangulation already has are marked constrained in place, which matches
// the library's own insertion only under this tag: a repeated edge is no crossing.
static_assert(std::is_same_v<Cdt::Intersection_tag,
                             CGAL::No_constraint_intersection_requiring_constructions_tag>);
using VertexHandle = Cdt::Vertex_handle;
using FaceHandle = Cdt::Face_handle;

// Flips the contour bit of edge i of face f, on both of its sides.
void flip_contour_bit(const Cdt& cdt, FaceHandle f, int i) {
  f->info().contour_edges ^= static_cast<std::uint8_t>(1U << i);
  const FaceHandle g = f->neighbor(i);
  g->info().contour_edges ^= static_cast<std::uint8_t>(1U << cdt.mirror_index(f, i));
}

// Marks every triangulation edge along which an odd number of contour edges runs. A contour edge
// that passes through other vertices was split by CGAL into collinear sub-edges, each marked; a
// doubled edge cancels out, so that even-odd parity never depends on the path.
void mark_contour_edges(const Cdt& cdt, const std::vector<VertexHandle>& vertex_of,
                        const std::vector<std::vector<std::size_t>>& contours) {
  const auto orientation = cdt.geom_traits().orientation_2_object();
  const auto strictly_ordered =
      cdt.geom_traits().collinear_are_strictly_ordered_along_line_2_object();
  for (const auto& contour : contours) {
    for (std::size_t i = 0; i + 1 < contour.size(); ++i) {
      const VertexHandle va = vertex_of[contour[i]];
      const VertexHandle vb = vertex_of[contour[i + 1]];
      if (va == vb) continue;
      FaceHandle f;
      int fi = 0;
      if (cdt.is_edge(va, vb, f, fi)) {  // the common case: the edge was not split
        flip_contour_bit(cdt, f, fi);
        continue;
      }
      VertexHandle cur = va;
      std::size_t steps = 0;
      while (cur != vb) {
        VertexHandle next;
        auto w = cdt.incident_vertices(cur);
        const auto done = w;
        do {
          if (cdt.is_infinite(w)) continue;
          if (VertexHandle(w) == vb) {
            next = vb;
            break;
          }
          if (next == VertexHandle() &&
              orientation(va->point(), vb->point(), w->point()) == CGAL::COLLINEAR &&
              strictly_ordered(cur->point(), w->point(), vb->point())) {
            next = w;
          }
        } while (++w != done);
        if (next == VertexHandle() || ++steps > vertex_of.size() ||
            !cdt.is_edge(cur, next, f, fi)) {
          throw InternalError("internal error: constraint edge missing from the triangulation");
        }
        flip_contour_bit(cdt, f, fi);
        cur = next;
      }
    }
  }
}

// Insertions between two asks of the CancelCheck: a few milliseconds of work.
constexpr std::size_t kCancelStride = 4096;

// Inserts the points in CGAL's spatial order with hints, as its ranged insertion does, but keeps
// every handle, so that indices landing on one vertex map to it and it carries the lowest of them.
std::vector<VertexHandle> insert_points(Cdt& cdt, const std::vector<Point>& points,
                                        const CancelCheck& cancelled) {
  const std::size_t n = points.size();
  std::vector<Kernel::Point_2> cgal_points;
  cgal_points.reserve(n);
  for (const Point& p : points) cgal_points.emplace_back(p.x, p.y);
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  using PointMap = CGAL::Pointer_property_map<Kernel::Point_2>::type;
  using SortTraits = CGAL::Spatial_sort_traits_adapter_2<Kernel, PointMap>;
  CGAL::spatial_sort(order.begin(), order.end(),
                     SortTraits(CGAL::make_property_map(cgal_points), Kernel()));
  std::vector<VertexHandle> vertex_of(n);
  FaceHandle hint;
  std::size_t done = 0;
  for (const std::size_t j : order) {
    if (++done % kCancelStride == 0) throw_if_cancelled(cancelled);
    const std::size_t before = cdt.number_of_vertices();
    const VertexHandle v = cdt.insert(cgal_points[j], hint);
    if (cdt.number_of_vertices() > before) {
      v->info() = j;
    } else {
      v->info() = std::min(v->info(), j);
    }
    vertex_of[j] = v;
    hint = v->face();
  }
  return vertex_of;
}

// The contour edges the triangulation already had, each as one of its sides, in contour order;
// meaningful only when no edge had to be inserted, since insertion flips faces.
struct FoundEdges {
  std::vector<std::pair<FaceHandle, int>> sides;
  bool all_found = true;
};

// False when two contour edges cross. An edge the triangulation already has is marked
// constrained on both sides in place, which is all the library's insertion would do with it,
// without its per-call work list; the others go through the library, in the same order.
bool insert_constraints(Cdt& cdt, const std::vector<VertexHandle>& vertex_of,
                        const std::vector<std::vector<std::size_t>>& contours, FoundEdges& found,
                        const CancelCheck& cancelled) {
  found.sides.clear();
  found.all_found = cdt.dimension() == 2;
  std::size_t done = 0;
  try {
    for (const auto& contour : contours) {
      for (std::size_t i = 0; i + 1 < contour.size(); ++i) {
        if (++done % kCancelStride == 0) throw_if_cancelled(cancelled);
        const VertexHandle va = vertex_of[contour[i]];
        const VertexHandle vb = vertex_of[contour[i + 1]];
        if (va == vb) continue;
        FaceHandle f;
        int fi = 0;
        if (cdt.dimension() == 2 && cdt.is_edge(va, vb, f, fi)) {
          f->set_constraint(fi, true);
          f->neighbor(fi)->set_constraint(cdt.mirror_index(f, fi), true);
          found.sides.emplace_back(f, fi);
        } else {
          cdt.insert_constraint(va, vb);
          found.all_found = false;
        }
      }
    }
  } catch (const Cdt::Intersection_of_constraints_exception&) {
    return false;
  }
  return true;
}

// Flood fill from the infinite face; a face is inside (parity 1) when reaching it crosses an odd
// number of contour edges.
void mark_interior(Cdt& cdt) {
  std::vector<FaceHandle> stack{cdt.infinite_face()};
  stack.back()->info().parity = 0;
  while (!stack.empty()) {
    const FaceHandle f = stack.back();
    stack.pop_back();
    for (int i = 0; i < 3; ++i) {
      const FaceHandle g = f->neighbor(i);
      if (g->info().parity != -1) continue;
      g->info().parity = f->info().parity ^ ((f->info().contour_edges >> i) & 1);
      stack.push_back(g);
    }
  }
}

using cdt_detail::Across;
using cdt_detail::kNone;

// The inside faces as index triangles, with the triangles across their edges when asked for.
std::vector<IndexTriangle> collect_interior(Cdt& cdt, std::vector<Across>* across) {
  std::vector<IndexTriangle> out;
  out.reserve(cdt.number_of_faces());
  for (const FaceHandle f : cdt.finite_face_handles()) {
    if (f->info().parity != 1) continue;
    f->info().index = out.size();
    out.push_back({f->vertex(0)->info(), f->vertex(1)->info(), f->vertex(2)->info()});
  }
  if (across) {
    across->clear();
    across->reserve(out.size());
    for (const FaceHandle f : cdt.finite_face_handles()) {
      if (f->info().parity != 1) continue;
      Across a{kNone, kNone, kNone};
      for (int i = 0; i < 3; ++i) {
        const FaceHandle g = f->neighbor(i);
        if (g->info().parity == 1) a[static_cast<std::size_t>(i)] = g->info().index;
      }
      across->push_back(a);
    }
  }
  return out;
}

}  // namespace

std::optional<std::vector<IndexTriangle>> cdt_detail::triangulate_whole(
    const std::vector<Point>& points, const std::vector<std::vector<std::size_t>>& contours,
    std::vector<Across>* across, const CancelCheck& cancelled) {
  const std::size_t n = points.size();
  for (const auto& contour : contours) {
    for (const std::size_t i : contour) check_index(i, n, "contour");
  }
  for (const Point& p : points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return std::nullopt;
  }
  if (n < 3) return std::vector<IndexTriangle>{};
  Cdt cdt;
  const std::vector<VertexHandle> vertex_of = insert_points(cdt, points, cancelled);
  FoundEdges found;
  if (!insert_constraints(cdt, vertex_of, contours, found, cancelled)) return std::nullopt;
  throw_if_cancelled(cancelled);
  if (cdt.dimension() < 2) return std::vector<IndexTriangle>{};
  if (found.all_found) {
    for (const auto& [f, fi] : found.sides) flip_contour_bit(cdt, f, fi);
  } else {
    mark_contour_edges(cdt, vertex_of, contours);
  }
  mark_interior(cdt);
  return collect_interior(cdt, across);
}

}  // namespace linetopo
