// Boundary preparation: ring simplification, subdivision, uniform and adaptive resampling.
#include "boundary/boundary.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "boundary/curvature.hpp"
#include "boundary/resample.hpp"
#include "geometry/rdp.hpp"
#include "parallel/parallel.hpp"

namespace linetopo {

namespace detail {

std::size_t saturating_count(double v) {
  if (!(v > 0.0)) return 0;
  constexpr double kTwo64 = 18446744073709551616.0;
  if (v >= kTwo64) return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(v);
}

std::size_t saturating_add(std::size_t a, std::size_t b) {
  const std::size_t max = std::numeric_limits<std::size_t>::max();
  return a > max - b ? max : a + b;
}

Ring cut_edges(const Ring& ring, const std::vector<std::size_t>& pieces, std::size_t total) {
  const std::size_t n = ring.size();
  if (pieces.size() != n) throw InternalError("internal error: edge piece counts out of step");
  Ring out;
  out.reserve(total);
  for (std::size_t i = 0; i < n; ++i) {
    const Point& p = ring[i];
    const Point& q = ring[(i + 1) % n];
    out.push_back(p);
    const double md = static_cast<double>(pieces[i]);
    for (std::size_t k = 1; k < pieces[i]; ++k) {
      const double f = static_cast<double>(k) / md;
      out.push_back({p.x + (q.x - p.x) * f, p.y + (q.y - p.y) * f});
    }
  }
  return out;
}

}  // namespace detail

void check_point_budget(const PointBudget& budget, std::size_t count) {
  const std::size_t total = detail::saturating_add(budget.used, count);
  if (total <= kMaxBoundaryPoints) return;
  throw InputError(std::string(budget.option) +
                   " is too small: boundary preparation would create at least " +
                   std::to_string(total) + " boundary points, more than the limit of " +
                   std::to_string(kMaxBoundaryPoints));
}

Ring subdivide_ring(const Ring& ring, double max_len, const PointBudget& budget) {
  const std::size_t n = ring.size();
  if (n <= 1) return ring;
  // Counted first so an absurd max_len fails before anything is allocated.
  std::vector<std::size_t> pieces(n, 1);
  std::size_t total = n;
  for (std::size_t j = 0; j < n; ++j) {
    const double len = dist(ring[j], ring[(j + 1) % n]);
    if (!(len > max_len)) continue;  // an edge of exactly max_len stays whole
    const std::size_t m = detail::saturating_count(std::ceil(len / max_len));
    if (m >= 2) {
      pieces[j] = m;
      total = detail::saturating_add(total, m - 1);
    }
  }
  check_point_budget(budget, total);
  return detail::cut_edges(ring, pieces, total);
}

namespace {

constexpr double kCornerAngle = 1.0471975511965976;  // pi/3
constexpr double kQuarterPi = 0.7853981633974483;
constexpr double kHalfPi = 1.5707963267948966;

struct Settings {
  double tolerance = 0.0;         // T; 0 switches simplification off
  double max_edge = 0.0;          // E
  std::optional<double> ratio;    // R; absent when refinement is off
  std::optional<double> spacing;  // S; absent in subdivision mode
};

Settings derive_settings(double feature_size, double buffer_distance,
                         std::optional<double> subdivision_ratio, std::optional<double> resample,
                         std::optional<double> boundary_simplification) {
  Settings s;
  if (boundary_simplification) {
    s.tolerance = *boundary_simplification > 0.0 ? *boundary_simplification : 0.0;  // NaN -> 0
  } else {
    s.tolerance = 0.05 * feature_size;
  }
  s.max_edge = 1.5 * feature_size;
  std::optional<double> ratio;
  if (!subdivision_ratio) {
    ratio = 0.5;
  } else if (*subdivision_ratio > 0.0) {
    ratio = std::max(*subdivision_ratio, 0.01);
  }
  if (ratio && buffer_distance > 0.0) s.ratio = ratio;
  if (resample && *resample > 0.0) s.spacing = resample;
  return s;
}

Ring simplify(const Ring& ring, double tolerance) {
  return tolerance > 0.0 ? rdp(ring, tolerance) : ring;
}

// Every ring, polygons in order and outer before holes.
std::vector<const Ring*> ring_list(const std::vector<BufferPolygon>& polygons) {
  std::vector<const Ring*> rings;
  for (const BufferPolygon& polygon : polygons) {
    rings.push_back(&polygon.outer);
    for (const Ring& hole : polygon.holes) rings.push_back(&hole);
  }
  return rings;
}

// Applies fn(index in ring_list order, ring) to every ring in parallel, keeping polygon and hole
// counts and order.
template <typename Fn>
std::vector<BufferPolygon> map_rings(const std::vector<BufferPolygon>& polygons, const Fn& fn) {
  const std::vector<const Ring*> rings = ring_list(polygons);
  std::vector<Ring> mapped(rings.size());
  parallel_for(rings.size(), [&](std::size_t i) { mapped[i] = fn(i, *rings[i]); });
  std::vector<BufferPolygon> out(polygons.size());
  std::size_t k = 0;
  for (std::size_t p = 0; p < polygons.size(); ++p) {
    out[p].outer = std::move(mapped[k++]);
    out[p].holes.reserve(polygons[p].holes.size());
    for (std::size_t h = 0; h < polygons[p].holes.size(); ++h) {
      out[p].holes.push_back(std::move(mapped[k++]));
    }
  }
  return out;
}

// Maps every ring while charging the points of all results to one budget for the whole call.
// Rings are mapped in parallel, each against the budget alone; the running total is then
// checked in ring order, and the first ring that passes it is mapped again against what came
// before, so that the failure and its message are those of a walk in order.
template <typename Fn>
std::vector<BufferPolygon> map_rings_budgeted(const std::vector<BufferPolygon>& polygons,
                                              const char* option, const Fn& fn) {
  const std::vector<const Ring*> rings = ring_list(polygons);
  std::vector<char> failed(rings.size(), 0);
  std::vector<BufferPolygon> out = map_rings(polygons, [&](std::size_t i, const Ring& ring) {
    try {
      return fn(ring, PointBudget{option, 0});
    } catch (const InputError&) {
      failed[i] = 1;
      return Ring{};
    }
  });
  const std::vector<const Ring*> results = ring_list(out);
  std::size_t used = 0;
  for (std::size_t i = 0; i < results.size(); ++i) {
    const std::size_t total = detail::saturating_add(used, results[i]->size());
    if (failed[i] || total > kMaxBoundaryPoints) {
      fn(*rings[i], PointBudget{option, used});
      check_point_budget(PointBudget{option, used}, results[i]->size());
    }
    used = total;
  }
  return out;
}

}  // namespace

std::vector<BufferPolygon> preprocess_boundaries(const std::vector<BufferPolygon>& polygons,
                                                 double feature_size, double buffer_distance,
                                                 std::optional<double> subdivision_ratio,
                                                 std::optional<double> resample,
                                                 std::optional<double> boundary_simplification) {
  const Settings s = derive_settings(feature_size, buffer_distance, subdivision_ratio, resample,
                                     boundary_simplification);

  if (!s.spacing) {
    std::vector<BufferPolygon> subdivided = map_rings_budgeted(
        polygons, "feature_size", [&](const Ring& ring, const PointBudget& budget) {
          return subdivide_ring(simplify(ring, s.tolerance), s.max_edge, budget);
        });
    if (!s.ratio) return subdivided;
    // The index is complete before any ring is refined and is only read afterwards.
    CurvatureIndex index(buffer_distance);
    for (const BufferPolygon& polygon : subdivided) {
      index.add_ring(polygon.outer, kQuarterPi);
      for (const Ring& hole : polygon.holes) index.add_ring(hole, kQuarterPi);
    }
    return map_rings_budgeted(
        subdivided, "subdivision_ratio", [&](const Ring& ring, const PointBudget& budget) {
          return refine_ring_from_index(ring, index, buffer_distance, *s.ratio, budget);
        });
  }

  const double spacing = *s.spacing;
  std::vector<BufferPolygon> simplified = map_rings(
      polygons, [&](std::size_t, const Ring& ring) { return simplify(ring, s.tolerance); });
  if (!s.ratio) {
    return map_rings_budgeted(simplified, "resample",
                              [&](const Ring& ring, const PointBudget& budget) {
                                return resample_ring(ring, spacing, kCornerAngle, budget);
                              });
  }

  double min_angle = spacing / (10.0 * buffer_distance);
  if (min_angle < 0.0) min_angle = 0.0;
  if (min_angle > kHalfPi) min_angle = kHalfPi;
  // The index records the sharp vertices of the uniformly resampled rings; those copies are
  // dropped at once and the output is resampled from the simplified rings.
  CurvatureIndex index(buffer_distance);
  for (const BufferPolygon& polygon : simplified) {
    index.add_ring(resample_ring(polygon.outer, spacing, kCornerAngle, {"resample", 0}), min_angle);
    for (const Ring& hole : polygon.holes) {
      index.add_ring(resample_ring(hole, spacing, kCornerAngle, {"resample", 0}), min_angle);
    }
  }
  return map_rings_budgeted(simplified, "resample or subdivision_ratio",
                            [&](const Ring& ring, const PointBudget& budget) {
                              return resample_ring_adaptive(ring, index, spacing, buffer_distance,
                                                            *s.ratio, kCornerAngle, budget);
                            });
}

}  // namespace linetopo
