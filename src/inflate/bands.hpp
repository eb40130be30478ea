// A ring set's edges listed per horizontal band, for rays cast along a band.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "inflate/pieces.hpp"

namespace linetopo::inflate_parts {

// Bands about as high as an edge rises on average, so that an edge lies in one or two; laid out
// as one array with an offset per band. A horizontal ray from a point meets only edges of the
// band that holds the point.
class RingBands {
 public:
  struct Edge {
    c2::Point64 a, b;
    std::size_t ring;
  };

  explicit RingBands(const std::vector<const c2::Path64*>& rings);

  // The edges of the band that holds height y, given doubled (2 y), as rays from edge midpoints
  // stay on the grid that way.
  std::span<const Edge> at_doubled(Wide y2) const;

  // Where a point (doubled) lies among the rings that `skip` leaves in: `around` gets each ring
  // that a ray from it to the left crosses an odd number of times, which holds it, and `on` each
  // ring it lies on, both ascending.
  template <class Skip>
  void locate(Wide px, Wide py, const Skip& skip, std::vector<std::size_t>& around,
              std::vector<std::size_t>& on) const;

 private:
  std::size_t band_of(double y) const;

  double y0_ = 0.0;
  double height_ = 1.0;
  std::size_t bands_ = 1;
  std::vector<std::size_t> start_;
  std::vector<Edge> edges_;
};

// The z of (b - a) x (p - a) with a and b doubled, p given doubled: positive when p lies left of
// a -> b (in Clipper2's axes).
inline Wide turn_doubled(const c2::Point64& a, const c2::Point64& b, Wide px, Wide py) {
  const Wide ax = 2 * Wide{a.x}, ay = 2 * Wide{a.y};
  const Wide bx = 2 * Wide{b.x}, by = 2 * Wide{b.y};
  return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
}

// How a ray from p (doubled) to the left crosses the edge a -> b: +1 where the edge runs up
// through it, -1 down, 0 where it misses (p on the edge included).
inline int crossing_doubled(const c2::Point64& a, const c2::Point64& b, Wide px, Wide py) {
  const Wide ay = 2 * Wide{a.y}, by = 2 * Wide{b.y};
  if ((ay > py) == (by > py)) return 0;
  // The crossing lies left of the point when the point is right of the edge as it runs.
  const Wide turn = turn_doubled(a, b, px, py);
  if (by > ay) return turn < 0 ? 1 : 0;
  return turn > 0 ? -1 : 0;
}

template <class Skip>
void RingBands::locate(Wide px, Wide py, const Skip& skip, std::vector<std::size_t>& around,
                       std::vector<std::size_t>& on) const {
  around.clear();
  on.clear();
  for (const Edge& e : at_doubled(py)) {
    if (skip(e.ring)) continue;
    const Wide ax = 2 * Wide{e.a.x}, ay = 2 * Wide{e.a.y};
    const Wide bx = 2 * Wide{e.b.x}, by = 2 * Wide{e.b.y};
    const Wide turn = turn_doubled(e.a, e.b, px, py);
    if (turn == 0 && std::min(ax, bx) <= px && px <= std::max(ax, bx) && std::min(ay, by) <= py &&
        py <= std::max(ay, by)) {
      on.push_back(e.ring);
      continue;
    }
    if (crossing_doubled(e.a, e.b, px, py) != 0) around.push_back(e.ring);
  }
  std::sort(around.begin(), around.end());
  std::size_t kept = 0;
  for (std::size_t a = 0; a < around.size();) {
    std::size_t b = a;
    while (b < around.size() && around[b] == around[a]) ++b;
    if ((b - a) % 2 == 1) around[kept++] = around[a];
    a = b;
  }
  around.resize(kept);
  std::sort(on.begin(), on.end());
  on.erase(std::unique(on.begin(), on.end()), on.end());
}

}  // namespace linetopo::inflate_parts
