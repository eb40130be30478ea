// Uniform ring resampling: corners found by turning angle, spans between them resampled evenly.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "boundary/budget.hpp"

namespace linetopo {

// Indices, ascending, of the vertices that turn more sharply than corner_angle.
std::vector<std::size_t> corner_anchors(const Ring& ring, double corner_angle);

// ring[start] walking forward (wrapping) up to and including ring[end]; start == end goes once
// round, giving n + 1 points.
std::vector<Point> ring_span(const Ring& ring, std::size_t start, std::size_t end);

// max(1, round(L / spacing)) equal pieces along the open polyline: first point, then one point
// every L / m of arc length.
std::vector<Point> resample_span_open(const std::vector<Point>& span, double spacing,
                                      const PointBudget& budget = {"spacing", 0});

// Resamples each span between corners at an even spacing; corners are kept exactly and rings that
// would fall below 3 vertices come back unchanged.
Ring resample_ring(const Ring& ring, double spacing, double corner_angle,
                   const PointBudget& budget = {"spacing", 0});

namespace detail {

// Clamped cosine of the turn at vertex i (cyclic), or nothing when an adjacent edge is shorter
// than kLengthEpsilon.
std::optional<double> turn_cosine(const Ring& ring, std::size_t i);

// cum[0] = 0, cum[i] = cum[i-1] + |p[i] - p[i-1]|.
std::vector<double> cumulative_lengths(const std::vector<Point>& span);

// The point at arc length t. The search for the first cum[j] >= t starts at j (1 for the first
// query) and leaves j where it stopped, so increasing targets cost one pass overall.
Point point_at_arc_length(const std::vector<Point>& span, const std::vector<double>& cum, double t,
                          std::size_t& j);

// Shared by uniform and adaptive ring resampling, which differ only in how a span is resampled.
template <typename ResampleSpan>
Ring resample_ring_with(const Ring& ring, const std::vector<std::size_t>& anchors,
                        const PointBudget& budget, const ResampleSpan& resample_span) {
  if (anchors.empty()) {
    std::vector<Point> closed = ring;
    closed.push_back(ring[0]);
    std::vector<Point> r = resample_span(closed, budget);
    if (r.size() <= 3) return ring;
    r.pop_back();  // repeats the first point
    return r;
  }
  Ring out;
  const std::size_t k = anchors.size();
  for (std::size_t i = 0; i < k; ++i) {
    const std::vector<Point> span = ring_span(ring, anchors[i], anchors[(i + 1) % k]);
    const std::vector<Point> r = resample_span(
        span, PointBudget{budget.option, saturating_add(budget.used, out.size()), budget.limit});
    // The last point is the next anchor, which starts the next span.
    if (!r.empty()) out.insert(out.end(), r.begin(), r.end() - 1);
  }
  if (out.size() <= 2) return ring;
  return out;
}

}  // namespace detail

}  // namespace linetopo
