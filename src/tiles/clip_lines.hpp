// Clipping polylines to boxes, shared by the tile planning and the clipping of chains to cores.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "tiles/tiles.hpp"

namespace linetopo::tiles_detail {

// The parameter range [t0, t1] of the segment p -> q inside the closed box, if any.
std::optional<std::pair<double, double>> clip_segment(const Point& p, const Point& q,
                                                      const Box& b);

// The point at t, or for a cut (0 < t < 1) the point put exactly on the nearest border, so that
// later stages can tell which border it crossed.
inline Point at(const Point& p, const Point& q, double t, const Box& b) {
  if (t <= 0.0) return p;
  if (t >= 1.0) return q;
  Point r{p.x + (q.x - p.x) * t, p.y + (q.y - p.y) * t};
  r.x = std::clamp(r.x, b.x0, b.x1);
  r.y = std::clamp(r.y, b.y0, b.y1);
  const double gaps[] = {r.x - b.x0, b.x1 - r.x, r.y - b.y0, b.y1 - r.y};
  switch (std::min_element(std::begin(gaps), std::end(gaps)) - std::begin(gaps)) {
    case 0:
      r.x = b.x0;
      break;
    case 1:
      r.x = b.x1;
      break;
    case 2:
      r.y = b.y0;
      break;
    default:
      r.y = b.y1;
      break;
  }
  return r;
}

inline double lerp(double a, double b, double t) { return a + (b - a) * t; }

// Walks the polyline's segments through a box, calling open(point, radius, is_cut) where a part
// starts and add(point, radius, is_cut) for each further point of the part.
template <typename Open, typename Add>
void clip_polyline(const Polyline& line, const std::vector<double>* radii, const Box& box,
                   const Open& open, const Add& add) {
  bool inside = false;  // the current part reaches the start of the next segment
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    const Point& p = line[i];
    const Point& q = line[i + 1];
    const auto range = clip_segment(p, q, box);
    if (!range) {
      inside = false;
      continue;
    }
    const auto [t0, t1] = *range;
    const double rp = radii ? (*radii)[i] : 0.0;
    const double rq = radii ? (*radii)[i + 1] : 0.0;
    if (!inside || t0 > 0.0) open(at(p, q, t0, box), lerp(rp, rq, t0), t0 > 0.0);
    add(at(p, q, t1, box), lerp(rp, rq, t1), t1 < 1.0);
    inside = t1 >= 1.0;
  }
}

}  // namespace linetopo::tiles_detail
