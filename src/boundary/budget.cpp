// The boundary point budget and the edge cutting every refinement step shares.
#include "boundary/budget.hpp"

#include <cmath>
#include <limits>
#include <string>

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
  if (total <= budget.limit) return;
  throw InputError(std::string(budget.option) +
                   " is too small: boundary preparation would create at least " +
                   std::to_string(total) + " boundary points, more than the limit of " +
                   std::to_string(budget.limit) + "; set " + kMaxPointsVariable + " to allow more");
}

Ring subdivide_ring(const Ring& ring, double max_len, const PointBudget& budget) {
  if (ring.size() <= 1) return ring;
  return cut_ring(ring, budget, [max_len](const Point&, const Point&) { return max_len; });
}

}  // namespace linetopo
