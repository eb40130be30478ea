// Which rings of a prepared polygon meet: simplification shortcuts can make them cross.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "boundary/boundary.hpp"
#include "geometry/cell_grid.hpp"
#include "geometry/segments.hpp"

namespace linetopo {
namespace {

struct RingEdge {
  std::size_t ring;
  std::size_t index;  // the edge from vertex index to the next
  std::size_t size;   // of its ring
};

double orient(const Point& o, const Point& a, const Point& b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

bool adjacent(const RingEdge& e, const RingEdge& f) {
  if (e.ring != f.ring) return false;
  const std::size_t d = e.index > f.index ? e.index - f.index : f.index - e.index;
  return d <= 1 || d == e.size - 1;
}

}  // namespace

std::vector<char> meeting_rings(const BufferPolygon& polygon) {
  std::vector<const Ring*> rings{&polygon.outer};
  for (const Ring& hole : polygon.holes) rings.push_back(&hole);
  std::vector<char> meets(rings.size(), 0);
  std::vector<RingEdge> edges;
  double length = 0.0;
  Point lo{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  for (std::size_t r = 0; r < rings.size(); ++r) {
    const Ring& ring = *rings[r];
    if (ring.size() < 2) continue;
    for (std::size_t k = 0; k < ring.size(); ++k) {
      edges.push_back({r, k, ring.size()});
      length += dist(ring[k], ring[(k + 1) % ring.size()]);
      lo = {std::fmin(lo.x, ring[k].x), std::fmin(lo.y, ring[k].y)};
    }
  }
  if (edges.empty()) return meets;
  // Edges listed per cell of a grid of about one edge length; pairs are tested within cells,
  // each pair in the first cell both reach.
  const double h = length / static_cast<double>(edges.size());
  const auto end_points = [&](const RingEdge& e) {
    const Ring& ring = *rings[e.ring];
    return std::pair<const Point&, const Point&>{ring[e.index], ring[(e.index + 1) % e.size]};
  };
  // Per axis; beyond it, or where rows would outnumber the edges (rings far apart, which a
  // prepared polygon does not have), every ring counts as meeting.
  constexpr double kMaxCells = 1e9;
  std::vector<CellSpan> spans(edges.size());
  double rows = 0.0;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const auto [a, b] = end_points(edges[i]);
    const double x0 = std::floor((std::fmin(a.x, b.x) - lo.x) / h);
    const double x1 = std::floor((std::fmax(a.x, b.x) - lo.x) / h);
    const double y0 = std::floor((std::fmin(a.y, b.y) - lo.y) / h);
    const double y1 = std::floor((std::fmax(a.y, b.y) - lo.y) / h);
    if (!(h > 0.0) || !(x1 < kMaxCells && y1 < kMaxCells) || (x1 - x0 + 1) * (y1 - y0 + 1) > 4096) {
      std::fill(meets.begin(), meets.end(), 1);
      return meets;
    }
    spans[i] = {static_cast<std::uint32_t>(x0), static_cast<std::uint32_t>(y0),
                static_cast<std::uint32_t>(x1), static_cast<std::uint32_t>(y1)};
    rows = std::fmax(rows, y1 + 1);
  }
  if (rows > 4.0 * static_cast<double>(edges.size()) + 1024.0 ||
      edges.size() >= std::numeric_limits<std::uint32_t>::max()) {
    std::fill(meets.begin(), meets.end(), 1);
    return meets;
  }
  const CellRuns grid = cell_runs(spans, static_cast<std::uint32_t>(rows));
  for (std::size_t c = 0; c + 1 < grid.runs.size(); ++c) {
    const auto& cell = grid.entries[grid.runs[c]];
    for (std::size_t u = grid.runs[c]; u < grid.runs[c + 1]; ++u) {
      for (std::size_t v = u + 1; v < grid.runs[c + 1]; ++v) {
        const std::size_t i = grid.entries[u].item;
        const std::size_t j = grid.entries[v].item;
        const RingEdge& e = edges[i];
        const RingEdge& f = edges[j];
        if (adjacent(e, f) || (meets[e.ring] && meets[f.ring])) continue;
        if (!first_shared_cell(spans[i], spans[j], cell.x, cell.y)) continue;
        const auto [a, b] = end_points(e);
        const auto [c2, d] = end_points(f);
        // In floating point: a near miss either way is settled by the triangulation after.
        if (segments_meet(a, b, c2, d, orient)) meets[e.ring] = meets[f.ring] = 1;
      }
    }
  }
  return meets;
}

}  // namespace linetopo
