// Curvature index over sharply turning boundary vertices, and the resampling and refinement that
// put more points where the boundary nearby turns sharply.
#include "boundary/curvature.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "boundary/resample.hpp"

namespace linetopo {

namespace {

// Turns below pi/12 never cut an edge; from pi/2 up they ask for the finest target.
constexpr double kPi12 = kPi / 12.0;
constexpr double kFivePi12 = kHalfPi - kPi12;  // the width of that range

// floor(v) as a signed 64-bit integer, saturating, NaN giving 0.
std::int64_t floor_i64(double v) { return round_half_away_i64(std::floor(v)); }

}  // namespace

CurvatureIndex::CurvatureIndex(double buffer_distance) {
  const double size = 4.0 * buffer_distance;
  cell_size = std::isfinite(size) && size > 0.0 ? size : 1.0;
}

CellKey CurvatureIndex::cell_of(double x, double y) const {
  const double inv = 1.0 / cell_size;
  return {floor_i64(x * inv), floor_i64(y * inv)};
}

void CurvatureIndex::add_ring(const Ring& ring, double min_angle) {
  add_entries(sharp_vertices(ring, min_angle));
}

std::vector<CurvatureEntry> CurvatureIndex::sharp_vertices(const Ring& ring, double min_angle) {
  std::vector<CurvatureEntry> sharp;
  if (ring.size() < 3) return sharp;
  for (std::size_t i = 0; i < ring.size(); ++i) {
    const std::optional<double> c = detail::turn_cosine(ring, i);
    if (!c) continue;
    const double angle = std::acos(*c);
    if (!(angle >= min_angle)) continue;  // NaN angles are not indexed
    sharp.push_back({ring[i].x, ring[i].y, angle});
  }
  return sharp;
}

void CurvatureIndex::add_entries(const std::vector<CurvatureEntry>& sharp) {
  // Each cell stays sorted by descending angle, so that a query stops reading a cell at the first
  // entry no sharper than what it has found: the new entries of a cell are sorted and merged in.
  std::vector<std::pair<CellKey, std::size_t>> touched;  // cell, its size before
  for (const CurvatureEntry& e : sharp) {
    const CellKey key = cell_of(e.x, e.y);
    std::vector<CurvatureEntry>* cell = grid.try_emplace(key, {}).first;
    if (touched.empty() || !(touched.back().first == key)) {
      touched.emplace_back(key, cell->size());
    }
    entries.push_back(e);
    cell->push_back(e);
  }
  std::sort(touched.begin(), touched.end(), [](const auto& a, const auto& b) {
    return a.first.x < b.first.x || (a.first.x == b.first.x && a.first.y < b.first.y) ||
           (a.first == b.first && a.second < b.second);
  });
  const auto sharper = [](const CurvatureEntry& a, const CurvatureEntry& b) {
    return a.angle > b.angle;
  };
  for (std::size_t k = 0; k < touched.size(); ++k) {
    if (k > 0 && touched[k].first == touched[k - 1].first) continue;  // the least size is first
    std::vector<CurvatureEntry>& cell = *grid.try_emplace(touched[k].first, {}).first;
    const auto middle = cell.begin() + static_cast<std::ptrdiff_t>(touched[k].second);
    std::stable_sort(middle, cell.end(), sharper);
    std::inplace_merge(cell.begin(), middle, cell.end(), sharper);
  }
}

double CurvatureIndex::max_angle_near(double x, double y, double inner_radius,
                                      double outer_radius) const {
  const double inv = 1.0 / cell_size;
  const std::int64_t c0 = floor_i64((x - outer_radius) * inv);
  const std::int64_t c1 = floor_i64((x + outer_radius) * inv);
  const std::int64_t r0 = floor_i64((y - outer_radius) * inv);
  const std::int64_t r1 = floor_i64((y + outer_radius) * inv);
  if (c0 > c1 || r0 > r1) return 0.0;

  const double outer2 = outer_radius * outer_radius;
  double result = 0.0;
  const auto consider = [&](const CurvatureEntry& e) {
    const double d2 = (e.x - x) * (e.x - x) + (e.y - y) * (e.y - y);
    if (d2 > outer2) return;
    const double d = std::sqrt(d2);
    const double weight =
        d <= inner_radius ? 1.0 : 1.0 - (d - inner_radius) / (outer_radius - inner_radius);
    result = std::max(result, e.angle * weight);
  };

  // A rectangle of more cells than there are entries (a huge or infinite radius) is cheaper, and
  // bounded, to answer by testing every entry's cell against it; the maximum is the same.
  const double cells = (static_cast<double>(c1) - static_cast<double>(c0) + 1.0) *
                       (static_cast<double>(r1) - static_cast<double>(r0) + 1.0);
  if (cells > static_cast<double>(entries.size())) {
    for (const CurvatureEntry& e : entries) {
      const CellKey key = cell_of(e.x, e.y);
      if (key.x >= c0 && key.x <= c1 && key.y >= r0 && key.y <= r1) consider(e);
    }
    return result;
  }
  for (std::int64_t c = c0;; ++c) {
    for (std::int64_t r = r0;; ++r) {
      if (const std::vector<CurvatureEntry>* found = grid.find(CellKey{c, r})) {
        for (const CurvatureEntry& e : *found) {
          if (e.angle <= result) break;  // the rest are no sharper, and weights are at most 1
          consider(e);
        }
      }
      if (r == r1) break;
    }
    if (c == c1) break;
  }
  return result;
}

std::vector<Point> adaptive_resample_span_open(const std::vector<Point>& span,
                                               const CurvatureIndex& index, double spacing,
                                               double buffer_distance, double ratio,
                                               const PointBudget& budget) {
  const std::size_t n = span.size();
  if (n <= 1) return span;
  const std::vector<double> cum = detail::cumulative_lengths(span);
  const double total = cum[n - 1];
  if (total <= kLengthEpsilon) return {span.front(), span.back()};

  const double w = buffer_distance;
  const double lo = std::fmin(w * ratio, spacing);
  const double inner = 3.0 * w;
  const double outer = 4.0 * w;
  const double flat_radius = 10.0 * w;
  std::vector<Point> out{span.front()};
  double pos = 0.0;
  std::size_t j = 1;
  for (;;) {
    const Point& last = out.back();
    const double a = index.max_angle_near(last.x, last.y, inner, outer);
    double step = spacing;
    if (a > 1e-9) {
      // q: radius of an arc turning by a over one spacing; below 10 w it shrinks the step.
      const double q = spacing / a;
      if (!(q >= flat_radius)) {
        step = spacing * std::sqrt(q / flat_radius);
        if (step < lo) step = lo;
        if (step > spacing) step = spacing;
      }
    }
    step = std::fmax(step, 1e-6);
    pos += step;
    if (pos >= total - 0.5 * step) break;
    // The count is unknown ahead, so the budget is checked as points are made (with the end
    // point still to come); this also bounds the loop when pos stops advancing.
    check_point_budget(budget, detail::saturating_add(out.size(), 2));
    out.push_back(detail::point_at_arc_length(span, cum, pos, j));
  }
  out.push_back(span.back());
  return out;
}

Ring resample_ring_adaptive(const Ring& ring, const CurvatureIndex& index, double spacing,
                            double buffer_distance, double ratio, double corner_angle,
                            const PointBudget& budget) {
  if (ring.size() < 3 || spacing <= 0.0) return ring;
  return detail::resample_ring_with(ring, corner_anchors(ring, corner_angle), budget,
                                    [&](const std::vector<Point>& span, const PointBudget& b) {
                                      return adaptive_resample_span_open(span, index, spacing,
                                                                         buffer_distance, ratio, b);
                                    });
}

Ring refine_ring_from_index(const Ring& ring, const CurvatureIndex& index, double base_spacing,
                            double ratio, const PointBudget& budget) {
  const std::size_t n = ring.size();
  if (n < 3 || ratio <= 0.0) return ring;
  const double b = base_spacing;
  const double inner = 3.0 * b;
  const double outer = 4.0 * b;

  return cut_ring(ring, budget, [&](const Point& p, const Point& q) {
    const double a = index.max_angle_near((p.x + q.x) * 0.5, (p.y + q.y) * 0.5, inner, outer);
    if (a < kPi12) return std::numeric_limits<double>::infinity();  // the edge stays whole
    double t = (std::min(a, kHalfPi) - kPi12) / kFivePi12;
    if (t < 0.0) t = 0.0;
    if (t > 1.0) t = 1.0;
    return b + (b * ratio - b) * (t * t);
  });
}

}  // namespace linetopo
