// Times try_get_triangles and try_skeleton on prepared scribble polygons against bare CGAL on the
// same points and constraint edges, to show what the adapter adds on top of the library.
#include <CGAL/Constrained_Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "boundary/boundary.hpp"
#include "pipeline/pipeline.hpp"
#include "scribble.hpp"
#include "skeleton_cdt/skeleton_cdt.hpp"

namespace {

using linetopo::BufferPolygon;
using linetopo::Point;
using linetopo::Polyline;
using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Cdt = CGAL::Constrained_Delaunay_triangulation_2<Kernel>;
using Clock = std::chrono::steady_clock;

using linetopo::bench::scribble;

// The library's points and closed constraint edges of one polygon, rings of fewer than three
// vertices left out as the adapter does.
struct BareInput {
  std::vector<Kernel::Point_2> points;
  std::vector<std::pair<std::size_t, std::size_t>> edges;
  std::vector<Point> plain;  // the same points and closed index contours for triangulate_contours
  std::vector<std::vector<std::size_t>> contours;
};

BareInput bare_input(const BufferPolygon& polygon) {
  BareInput in;
  const auto add = [&in](const linetopo::Ring& ring) {
    if (ring.size() <= 2) return;
    const std::size_t s = in.points.size();
    in.plain.insert(in.plain.end(), ring.begin(), ring.end());
    in.contours.emplace_back();
    for (std::size_t i = 0; i < ring.size(); ++i) {
      in.points.emplace_back(ring[i].x, ring[i].y);
      in.edges.emplace_back(s + i, s + (i + 1) % ring.size());
      in.contours.back().push_back(s + i);
    }
    in.contours.back().push_back(s);
  };
  add(polygon.outer);
  for (const auto& hole : polygon.holes) add(hole);
  return in;
}

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int strokes = argc > 1 ? std::atoi(argv[1]) : 200;
  linetopo::TopologizeParams params;
  params.buffer_distance = 1.0;
  params.feature_size = 1.0;
  const auto inflated = linetopo::build_buffer_polygons(scribble(7, strokes, 500, 400.0), params);
  const auto prepare = [&](const std::vector<BufferPolygon>& in, std::optional<double> tolerance) {
    return linetopo::preprocess_boundaries(
        in, linetopo::resolve_boundary(params.feature_size, params.buffer_distance, std::nullopt,
                                       std::nullopt, tolerance));
  };
  auto polygons = prepare(inflated, std::nullopt);
  // As the pipeline does, a polygon whose simplified rings cross is prepared again without
  // simplification, so that every timed input is one the library accepts.
  std::size_t retried = 0;
  const auto t_check = Clock::now();
  for (std::size_t i = 0; i < polygons.size(); ++i) {
    if (!linetopo::try_get_triangles(polygons[i].outer, polygons[i].holes)) {
      polygons[i] = prepare({inflated[i]}, 0.0).front();
      ++retried;
    }
  }
  const double t_first_try = ms_since(t_check);
  std::vector<BareInput> bare;
  std::size_t points = 0;
  for (const auto& polygon : polygons) {
    bare.push_back(bare_input(polygon));
    points += bare.back().points.size();
  }
  std::printf(
      "%d strokes x 500 points: %zu polygons (%zu prepared without simplification), "
      "%zu boundary points; best of 3\n",
      strokes, polygons.size(), retried, points);

  const double inf = std::numeric_limits<double>::infinity();
  double t_cgal = inf, t_contours = inf, t_triangles = inf, t_skeleton = inf;
  std::size_t faces = 0, triangles = 0, segments = 0, rejected = 0;
  const auto keep_best = [](double& best, const auto& run) {
    const auto t0 = Clock::now();
    run();
    best = std::min(best, ms_since(t0));
  };
  for (int rep = 0; rep < 3; ++rep) {  // interleaved, so that load on the machine hits all alike
    faces = rejected = triangles = segments = 0;
    keep_best(t_cgal, [&] {
      for (const BareInput& in : bare) {
        Cdt cdt;
        try {
          cdt.insert_constraints(in.points.begin(), in.points.end(), in.edges.begin(),
                                 in.edges.end());
        } catch (const Cdt::Intersection_of_constraints_exception&) {
          ++rejected;
        }
        faces += cdt.number_of_faces();
      }
    });
    keep_best(t_contours, [&] {
      for (const BareInput& in : bare) linetopo::triangulate_contours(in.plain, in.contours);
    });
    keep_best(t_triangles, [&] {
      for (const auto& p : polygons) {
        const auto found = linetopo::try_get_triangles(p.outer, p.holes);
        triangles += found ? found->size() : 0;
      }
    });
    keep_best(t_skeleton, [&] {
      for (const auto& p : polygons) {
        const auto skeleton = linetopo::try_skeleton(p.outer, p.holes);
        segments += skeleton ? skeleton->segments.size() : 0;
      }
    });
  }
  std::printf("  first try, default-prepared rings  %8.1f ms  (once)\n", t_first_try);
  std::printf("  bare CGAL CDT (insert_constraints)  %8.1f ms  (%zu finite faces, %zu rejected)\n",
              t_cgal, faces, rejected);
  std::printf("  triangulate_contours, no jitter     %8.1f ms\n", t_contours);
  std::printf("  try_get_triangles                   %8.1f ms  (%zu interior triangles)\n",
              t_triangles, triangles);
  std::printf("  try_skeleton                        %8.1f ms  (%zu segments)\n", t_skeleton,
              segments);
  std::printf(
      "  overhead over bare CGAL: triangulate_contours %+.1f%%, try_get_triangles %+.1f%% "
      "(goal at most +30%%), try_skeleton %+.1f%%\n",
      100.0 * (t_contours / t_cgal - 1.0), 100.0 * (t_triangles / t_cgal - 1.0),
      100.0 * (t_skeleton / t_cgal - 1.0));
  return 0;
}
