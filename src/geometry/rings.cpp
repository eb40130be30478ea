// Measures of closed rings, shared by the stages that sort or weigh them.
#include "geometry/geometry.hpp"

namespace linetopo {

double signed_area(const Ring& ring) {
  double twice = 0.0;
  const std::size_t n = ring.size();
  for (std::size_t k = 0; k < n; ++k) {
    const Point& a = ring[k];
    const Point& b = ring[(k + 1) % n];
    twice += a.x * b.y - b.x * a.y;
  }
  return 0.5 * twice;
}

double ring_length(const Ring& ring) {
  double total = 0.0;
  for (std::size_t k = 0; k < ring.size(); ++k) total += dist(ring[k], ring[(k + 1) % ring.size()]);
  return total;
}

}  // namespace linetopo
