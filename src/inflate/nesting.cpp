// Nesting of a union's rings by rays along bands of edges.
#include "inflate/nesting.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <ranges>
#include <utility>

#include "parallel/parallel.hpp"

namespace linetopo::inflate_parts {

std::vector<std::ptrdiff_t> nesting(const c2::Paths64& rings) {
  struct Edge {
    c2::Point64 a, b;
    std::size_t ring;
  };
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
  std::size_t edges = 0;
  std::int64_t ymin = std::numeric_limits<std::int64_t>::max();
  std::int64_t ymax = std::numeric_limits<std::int64_t>::lowest();
  for (const c2::Path64& r : rings) {
    edges += r.size();
    for (const c2::Point64& q : r) {
      ymin = std::min(ymin, q.y);
      ymax = std::max(ymax, q.y);
    }
  }

  // Bands about as high as an edge runs on average, so that an edge lies in one or two; laid
  // out as one array with an offset per band.
  double rise = 0.0;
  for (const c2::Path64& r : rings) {
    for (std::size_t k = 0; k < r.size(); ++k) {
      rise += std::fabs(static_cast<double>(r[(k + 1) % r.size()].y) - static_cast<double>(r[k].y));
    }
  }
  const double y0 = static_cast<double>(ymin);
  const double extent = static_cast<double>(ymax) - y0 + 1.0;
  const double bands_by_rise = extent / std::max(1.0, rise / static_cast<double>(edges));
  const auto bands =
      static_cast<std::size_t>(std::clamp(bands_by_rise, 1.0, std::floor(0.5 * static_cast<double>(edges)) + 1.0));
  const double height = extent / static_cast<double>(bands);
  const auto band_of = [&](double y) {
    const double b = std::floor((y - y0) / height);
    return static_cast<std::size_t>(std::clamp(b, 0.0, static_cast<double>(bands - 1)));
  };
  const auto for_each_edge = [&](auto&& visit) {
    for (std::size_t i = 0; i < rings.size(); ++i) {
      const c2::Path64& r = rings[i];
      for (std::size_t k = 0; k < r.size(); ++k) {
        const c2::Point64& a = r[k];
        const c2::Point64& b = r[(k + 1) % r.size()];
        const std::size_t last = band_of(static_cast<double>(std::max(a.y, b.y)));
        for (std::size_t j = band_of(static_cast<double>(std::min(a.y, b.y))); j <= last; ++j) {
          visit(j, Edge{a, b, i});
        }
      }
    }
  };
  std::vector<std::size_t> start(bands + 1, 0);
  for_each_edge([&](std::size_t j, const Edge&) { ++start[j + 1]; });
  std::partial_sum(start.begin(), start.end(), start.begin());
  std::vector<Edge> banded(start.back());
  std::vector<std::size_t> fill(start.begin(), start.end() - 1);
  for_each_edge([&](std::size_t j, const Edge& e) { banded[fill[j]++] = e; });

  // Each ring's ray on the pool. A hole's parent is an outer ring and an island's a hole, so a
  // ray counts only the crossings of rings of the other kind.
  parallel_for(rings.size(), [&](std::size_t i) {
    if (!asks[i]) return;
    const c2::Path64& r = rings[i];
    std::vector<std::size_t> crossed;  // each ring once per crossing
    // The midpoint of one of the ring's edges, in doubled coordinates to stay on the grid;
    // tried again at the next edge when it lies on another ring (rings may touch).
    for (std::size_t k = 0; k < r.size(); ++k) {
      const Wide px = Wide{r[k].x} + r[(k + 1) % r.size()].x;
      const Wide py = Wide{r[k].y} + r[(k + 1) % r.size()].y;
      bool on_edge = false;
      crossed.clear();
      const std::size_t j = band_of(static_cast<double>(py) / 2.0);
      for (std::size_t m = start[j]; m < start[j + 1]; ++m) {
        const Edge& e = banded[m];
        if (outer[e.ring] == outer[i]) continue;
        const Wide ax = 2 * Wide{e.a.x}, ay = 2 * Wide{e.a.y};
        const Wide bx = 2 * Wide{e.b.x}, by = 2 * Wide{e.b.y};
        const Wide turn = (bx - ax) * (py - ay) - (by - ay) * (px - ax);
        if (turn == 0 && std::min(ax, bx) <= px && px <= std::max(ax, bx) &&
            std::min(ay, by) <= py && py <= std::max(ay, by)) {
          on_edge = true;
          break;
        }
        if ((ay > py) == (by > py)) continue;
        // The crossing lies left of the point when the point is right of the edge as it runs.
        if ((by > ay) ? turn < 0 : turn > 0) crossed.push_back(e.ring);
      }
      // The rings crossed an odd number of times hold the point; the least of them holds it
      // directly.
      std::sort(crossed.begin(), crossed.end());
      std::ptrdiff_t holder = -1;
      for (std::size_t a = 0; a < crossed.size();) {
        std::size_t b = a;
        while (b < crossed.size() && crossed[b] == crossed[a]) ++b;
        const std::size_t c = crossed[a];
        if ((b - a) % 2 == 1 && (holder < 0 || area[c] < area[static_cast<std::size_t>(holder)])) {
          holder = static_cast<std::ptrdiff_t>(c);
        }
        a = b;
      }
      parent[i] = holder;
      if (!on_edge) break;
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
