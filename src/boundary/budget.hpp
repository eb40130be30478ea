// The boundary point budget and the edge cutting every refinement step shares.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "geometry/geometry.hpp"

namespace linetopo {

// Boundary points any call may create, whatever its input: at most about 1 GB and 75 s of one core
// through the whole pipeline (a long straight stroke at a tiny feature size, the slowest shape
// measured). Also the limit of a budget that names none.
inline constexpr std::size_t kPointBudgetFloor = 4'000'000;
// The environment variable that sets a call's limit instead; the pipeline reads it, and the
// budget's message names it.
inline constexpr const char* kMaxPointsVariable = "LINETOPO_MAX_POINTS";

// The most boundary points the current call may create, the points already created, and the
// option to blame when a step would pass the limit; it stops a tiny spacing or ratio from
// exhausting memory.
struct PointBudget {
  const char* option = "spacing";
  std::size_t used = 0;
  std::size_t limit = kPointBudgetFloor;
};

// Throws InputError naming budget.option and kMaxPointsVariable when budget.used + count exceeds
// budget.limit.
void check_point_budget(const PointBudget& budget, std::size_t count);

namespace detail {

// A non-negative double as an unsigned count: NaN and values <= 0 give 0, too large saturates.
std::size_t saturating_count(double v);

// a + b, saturating at the largest size_t.
std::size_t saturating_add(std::size_t a, std::size_t b);

// The ring with edge i cut into pieces[i] equal parts; total is the output size, already checked
// against the point budget.
Ring cut_edges(const Ring& ring, const std::vector<std::size_t>& pieces, std::size_t total);

}  // namespace detail

// The ring with every edge p -> q (the closing one too) cut into ceil(len / target(p, q)) equal
// pieces; an edge not longer than its target stays whole. The pieces are counted first, so that
// an absurd target fails the budget before anything is allocated.
template <typename Target>
Ring cut_ring(const Ring& ring, const PointBudget& budget, const Target& target) {
  const std::size_t n = ring.size();
  std::vector<std::size_t> pieces(n, 1);
  std::size_t total = n;
  for (std::size_t j = 0; j < n; ++j) {
    const Point& p = ring[j];
    const Point& q = ring[(j + 1) % n];
    const double longest = target(p, q);
    const double len = dist(p, q);
    if (!(len > longest)) continue;
    const std::size_t m = detail::saturating_count(std::ceil(len / longest));
    if (m >= 2) {
      pieces[j] = m;
      total = detail::saturating_add(total, m - 1);
    }
  }
  check_point_budget(budget, total);
  return detail::cut_edges(ring, pieces, total);
}

// Cuts every edge longer than max_len (the closing edge too) into ceil(len / max_len) equal pieces.
Ring subdivide_ring(const Ring& ring, double max_len, const PointBudget& budget = {"max_len", 0});

}  // namespace linetopo
