// Boundary preparation: ring simplification, subdivision, uniform and adaptive resampling.
#include "boundary/boundary.hpp"

#include <exception>
#include <utility>

#include "boundary/curvature.hpp"
#include "boundary/resample.hpp"
#include "geometry/rdp.hpp"
#include "parallel/parallel.hpp"

namespace linetopo {

namespace {

constexpr double kQuarterPi = kPi / 4.0;

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
std::vector<BufferPolygon> map_rings(const std::vector<BufferPolygon>& polygons, const Fn& fn,
                                     const CancelCheck& cancelled) {
  const std::vector<const Ring*> rings = ring_list(polygons);
  std::vector<Ring> mapped(rings.size());
  parallel_for(rings.size(), [&](std::size_t i) {
    throw_if_cancelled(cancelled);
    mapped[i] = fn(i, *rings[i]);
  });
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
                                              const char* option, std::size_t limit, const Fn& fn,
                                              const CancelCheck& cancelled) {
  const std::vector<const Ring*> rings = ring_list(polygons);
  std::vector<char> failed(rings.size(), 0);
  std::vector<BufferPolygon> out = map_rings(
      polygons,
      [&](std::size_t i, const Ring& ring) {
        try {
          return fn(ring, PointBudget{option, 0, limit});
        } catch (const InputError&) {
          failed[i] = 1;
          return Ring{};
        }
      },
      cancelled);
  const std::vector<const Ring*> results = ring_list(out);
  std::size_t used = 0;
  for (std::size_t i = 0; i < results.size(); ++i) {
    const std::size_t total = detail::saturating_add(used, results[i]->size());
    if (failed[i] || total > limit) {
      fn(*rings[i], PointBudget{option, used, limit});
      check_point_budget(PointBudget{option, used, limit}, results[i]->size());
    }
    used = total;
  }
  return out;
}

// The index over the sharp vertices of every ring, ring(r) giving the ring to index; the rings
// are read on the pool and added in order, and a failure is that of the first ring that fails.
template <typename RingFn>
CurvatureIndex curvature_index(const std::vector<BufferPolygon>& polygons, double buffer_distance,
                               double min_angle, const RingFn& ring,
                               const CancelCheck& cancelled) {
  const std::vector<const Ring*> rings = ring_list(polygons);
  std::vector<std::vector<CurvatureEntry>> sharp(rings.size());
  std::vector<std::exception_ptr> failures(rings.size());
  parallel_for(rings.size(), [&](std::size_t i) {
    throw_if_cancelled(cancelled);
    try {
      sharp[i] = CurvatureIndex::sharp_vertices(ring(*rings[i]), min_angle);
    } catch (...) {
      failures[i] = std::current_exception();
    }
  });
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
  CurvatureIndex index(buffer_distance);
  for (const std::vector<CurvatureEntry>& entries : sharp) index.add_entries(entries);
  return index;
}

}  // namespace

RingPreparation::RingPreparation(const std::vector<BufferPolygon>& polygons,
                                 const BoundarySettings& s, const CancelCheck& cancelled)
    : settings_(s), index_(s.buffer_distance) {
  if (!s.spacing) {
    shared_ = map_rings_budgeted(
        polygons, "feature_size", s.max_points,
        [&](const Ring& ring, const PointBudget& budget) {
          return subdivide_ring(simplify(ring, s.tolerance), s.max_edge, budget);
        },
        cancelled);
    if (s.ratio) {
      // The rings themselves, which outlive the call.
      // NOLINTNEXTLINE(bugprone-return-const-ref-from-parameter)
      const auto itself = [](const Ring& ring) -> const Ring& { return ring; };
      index_ = curvature_index(shared_, s.buffer_distance, kQuarterPi, itself, cancelled);
    }
    return;
  }
  shared_ = map_rings(
      polygons, [&](std::size_t, const Ring& ring) { return simplify(ring, s.tolerance); },
      cancelled);
  if (!s.ratio) return;
  double min_angle = *s.spacing / (10.0 * s.buffer_distance);
  if (min_angle < 0.0) min_angle = 0.0;
  if (min_angle > kHalfPi) min_angle = kHalfPi;
  // The index records the sharp vertices of the uniformly resampled rings; those copies are
  // dropped at once and the rings are finished from the simplified ones.
  const PointBudget budget{"resample", 0, s.max_points};
  index_ = curvature_index(
      shared_, s.buffer_distance, min_angle,
      [&](const Ring& ring) { return resample_ring(ring, *s.spacing, s.corner_angle, budget); },
      cancelled);
}

const char* RingPreparation::option() const {
  if (!settings_.spacing) return settings_.ratio ? "subdivision_ratio" : nullptr;
  return settings_.ratio ? "resample or subdivision_ratio" : "resample";
}

Ring RingPreparation::finish(const Ring& ring, const PointBudget& budget) const {
  const BoundarySettings& s = settings_;
  if (!s.spacing) {
    return s.ratio ? refine_ring_from_index(ring, index_, s.buffer_distance, *s.ratio, budget)
                   : ring;
  }
  return s.ratio ? resample_ring_adaptive(ring, index_, *s.spacing, s.buffer_distance, *s.ratio,
                                          s.corner_angle, budget)
                 : resample_ring(ring, *s.spacing, s.corner_angle, budget);
}

std::vector<BufferPolygon> preprocess_boundaries(const std::vector<BufferPolygon>& polygons,
                                                 const BoundarySettings& s,
                                                 const CancelCheck& cancelled) {
  RingPreparation preparation(polygons, s, cancelled);
  const char* option = preparation.option();
  if (!option) return std::move(preparation).shared();
  return map_rings_budgeted(
      preparation.shared(), option, s.max_points,
      [&](const Ring& ring, const PointBudget& budget) { return preparation.finish(ring, budget); },
      cancelled);
}

}  // namespace linetopo
