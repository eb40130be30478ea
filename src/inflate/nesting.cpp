// Nesting of a union's rings by rays along bands of edges.
#include "inflate/nesting.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <ranges>
#include <utility>

#include "inflate/bands.hpp"
#include "parallel/parallel.hpp"

namespace linetopo::inflate_parts {

std::vector<std::ptrdiff_t> nesting(const c2::Paths64& rings) {
  std::vector<std::ptrdiff_t> parent(rings.size(), -1);
  if (rings.size() < 2) return parent;
  // Outer rings nest only inside holes, and the ring of largest area, an outer one, tells the
  // outer sense. With one outer ring, every hole is its own; otherwise only a ring that some
  // hole's box holds (holes included) can have a parent.
  std::vector<double> area(rings.size());
  std::size_t largest = 0;
  for (std::size_t i = 0; i < rings.size(); ++i) {
    area[i] = c2::Area(rings[i]);
    if (std::fabs(area[i]) > std::fabs(area[largest])) largest = i;
  }
  const bool outer_positive = area[largest] > 0.0;
  std::vector<c2::Rect64> hole_boxes;
  std::size_t outers = 0;
  for (std::size_t i = 0; i < rings.size(); ++i) {
    if ((area[i] > 0.0) == outer_positive) {
      ++outers;
    } else {
      hole_boxes.push_back(c2::GetBounds(rings[i]));
    }
  }
  if (hole_boxes.empty()) return parent;
  if (outers == 1) {
    for (std::size_t i = 0; i < rings.size(); ++i) {
      if (i != largest) parent[i] = static_cast<std::ptrdiff_t>(largest);
    }
    return parent;
  }
  std::vector<char> outer(rings.size());
  for (std::size_t i = 0; i < rings.size(); ++i) {
    outer[i] = (area[i] > 0.0) == outer_positive ? 1 : 0;
    area[i] = std::fabs(area[i]);
  }
  constexpr std::size_t kBoxChecks = std::size_t{1} << 22;
  std::vector<char> asks(rings.size(), 1);
  if (hole_boxes.size() * rings.size() <= kBoxChecks) {
    for (std::size_t i = 0; i < rings.size(); ++i) {
      const c2::Rect64 box = c2::GetBounds(rings[i]);
      const bool held = std::any_of(hole_boxes.begin(), hole_boxes.end(), [&](const c2::Rect64& h) {
        return h.left <= box.left && box.right <= h.right && h.top <= box.top &&
               box.bottom <= h.bottom;
      });
      asks[i] = held ? 1 : 0;
    }
  }
  std::vector<const c2::Path64*> all(rings.size());
  for (std::size_t i = 0; i < rings.size(); ++i) all[i] = &rings[i];
  const RingBands bands(all);

  // Each ring's ray on the pool. A hole's parent is an outer ring and an island's a hole, so a
  // ray counts only the crossings of rings of the other kind.
  parallel_for(rings.size(), [&](std::size_t i) {
    if (!asks[i]) return;
    const c2::Path64& r = rings[i];
    std::vector<std::size_t> around;
    std::vector<std::size_t> on;
    const auto same_kind = [&](std::size_t ring) { return outer[ring] == outer[i]; };
    // The midpoint of one of the ring's edges, in doubled coordinates to stay on the grid;
    // tried again at the next edge when it lies on another ring (rings may touch).
    for (std::size_t k = 0; k < r.size(); ++k) {
      const Wide px = Wide{r[k].x} + r[(k + 1) % r.size()].x;
      const Wide py = Wide{r[k].y} + r[(k + 1) % r.size()].y;
      bands.locate(px, py, same_kind, around, on);
      // Of the rings that hold the point, the least holds it directly.
      std::ptrdiff_t holder = -1;
      for (const std::size_t c : around) {
        if (holder < 0 || area[c] < area[static_cast<std::size_t>(holder)]) {
          holder = static_cast<std::ptrdiff_t>(c);
        }
      }
      parent[i] = holder;
      if (on.empty()) break;
    }
  });
  return parent;
}

// The pieces of a union's answer, one per top-level ring with the rings nested in it.
Pieces pieces_of(c2::Paths64 rings) {
  const std::vector<std::ptrdiff_t> parent = nesting(rings);
  std::vector<std::vector<std::size_t>> inside(rings.size());
  for (std::size_t i = 0; i < rings.size(); ++i) {
    if (parent[i] >= 0) inside[static_cast<std::size_t>(parent[i])].push_back(i);
  }
  Pieces out;
  std::vector<std::pair<std::size_t, std::ptrdiff_t>> stack;  // ring, its parent in the piece
  for (std::size_t top = 0; top < rings.size(); ++top) {
    if (parent[top] >= 0) continue;
    Piece piece;
    piece.box = c2::GetBounds(rings[top]);
    piece.clean = true;
    stack.assign(1, {top, -1});
    while (!stack.empty()) {
      const auto [i, up] = stack.back();
      stack.pop_back();
      piece.rings.push_back({std::move(rings[i]), up});
      const auto here = static_cast<std::ptrdiff_t>(piece.rings.size()) - 1;
      for (const auto& k : std::views::reverse(inside[i])) stack.emplace_back(k, here);
    }
    out.push_back(std::move(piece));
  }
  return out;
}

}  // namespace linetopo::inflate_parts
