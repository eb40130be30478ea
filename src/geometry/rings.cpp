// Measures of closed rings, shared by the stages that sort or weigh them.
#include "geometry/geometry.hpp"

namespace linetopo {

double signed_area(const Ring& ring) {
  // Measured from the first vertex: products of whole coordinates far from the origin (a few
  // 1e9) round off more than a small ring's whole area, and can turn its sign.
  if (ring.empty()) return 0.0;
  const Point& o = ring.front();
  double twice = 0.0;
  const std::size_t n = ring.size();
  for (std::size_t k = 0; k < n; ++k) {
    const Point& a = ring[k];
    const Point& b = ring[(k + 1) % n];
    twice += (a.x - o.x) * (b.y - o.y) - (b.x - o.x) * (a.y - o.y);
  }
  return 0.5 * twice;
}

double ring_length(const Ring& ring) {
  double total = 0.0;
  for (std::size_t k = 0; k < ring.size(); ++k) total += dist(ring[k], ring[(k + 1) % ring.size()]);
  return total;
}

}  // namespace linetopo
