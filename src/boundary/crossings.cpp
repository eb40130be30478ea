// Which rings of a prepared polygon meet: simplification shortcuts can make them cross.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

#include "boundary/boundary.hpp"
#include "geometry/cell_grid.hpp"
#include "geometry/segments.hpp"
#include "parallel/parallel.hpp"

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

// Renumbers the rows so that those no span reaches are dropped, keeping every span's rows
// consecutive and in order; gives the rows left. A focus on a few rings far apart along a long
// polygon leaves most rows empty, and the grid's rows would outnumber its edges.
double drop_empty_rows(std::vector<CellSpan>& spans) {
  std::uint32_t top = 0;
  for (const CellSpan& span : spans) top = std::max(top, span.hi_y);
  if (top < spans.size() + 1024) {
    // Rows few beside the spans: which rows are reached, by a difference count over them, and each
    // row's new number from the rows reached before it.
    std::vector<std::int64_t> starts(static_cast<std::size_t>(top) + 2, 0);
    for (const CellSpan& span : spans) {
      ++starts[span.lo_y];
      --starts[static_cast<std::size_t>(span.hi_y) + 1];
    }
    std::vector<std::uint32_t> renumbered(static_cast<std::size_t>(top) + 1);
    std::int64_t depth = 0;
    std::uint32_t kept = 0;
    for (std::size_t y = 0; y <= top; ++y) {
      depth += starts[y];
      renumbered[y] = kept;
      if (depth > 0) ++kept;
    }
    for (CellSpan& span : spans) {
      span.lo_y = renumbered[span.lo_y];
      span.hi_y = renumbered[span.hi_y];
    }
    return kept;
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> reach(spans.size());
  for (std::size_t i = 0; i < spans.size(); ++i) reach[i] = {spans[i].lo_y, spans[i].hi_y};
  std::sort(reach.begin(), reach.end());
  // Runs of rows that spans reach without a gap: (first row, its new number).
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
  std::uint32_t kept = 0;
  std::uint32_t end = 0;  // one past the last row of the current run
  for (const auto& [lo, hi] : reach) {
    if (runs.empty() || lo > end) {
      runs.emplace_back(lo, kept);
      end = lo;
    }
    if (hi + 1 > end) {
      kept += hi + 1 - end;
      end = hi + 1;
    }
  }
  for (CellSpan& span : spans) {
    const auto run = std::prev(std::upper_bound(
        runs.begin(), runs.end(), std::pair{span.lo_y, std::numeric_limits<std::uint32_t>::max()}));
    const std::uint32_t shift = run->first - run->second;
    span.lo_y -= shift;
    span.hi_y -= shift;
  }
  return kept;
}

}  // namespace

std::vector<char> meeting_rings(const BufferPolygon& polygon, const std::vector<char>& focus) {
  std::vector<const Ring*> rings{&polygon.outer};
  for (const Ring& hole : polygon.holes) rings.push_back(&hole);
  std::vector<char> meets(rings.size(), 0);
  const bool everything = focus.empty();
  if (!everything && focus.size() != rings.size()) {
    throw InternalError("internal error: meeting_rings focus of the wrong size");
  }
  const auto focused = [&](std::size_t r) { return everything || focus[r] != 0; };

  // Only edges that reach a cell of a coarse grid that a focused ring's box covers take part.
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr std::size_t kCoarse = 512;
  Point all_lo{kInf, kInf};
  Point all_hi{-kInf, -kInf};
  std::vector<std::pair<Point, Point>> boxes(rings.size(), {all_lo, all_hi});
  if (!everything) {
    for (std::size_t r = 0; r < rings.size(); ++r) {
      for (const Point& p : *rings[r]) {
        boxes[r].first = {std::fmin(boxes[r].first.x, p.x), std::fmin(boxes[r].first.y, p.y)};
        boxes[r].second = {std::fmax(boxes[r].second.x, p.x), std::fmax(boxes[r].second.y, p.y)};
      }
      all_lo = {std::fmin(all_lo.x, boxes[r].first.x), std::fmin(all_lo.y, boxes[r].first.y)};
      all_hi = {std::fmax(all_hi.x, boxes[r].second.x), std::fmax(all_hi.y, boxes[r].second.y)};
    }
  }
  const double coarse_w = (all_hi.x - all_lo.x) / kCoarse;
  const double coarse_h = (all_hi.y - all_lo.y) / kCoarse;
  const auto coarse_range = [&](double v0, double v1, double origin, double step) {
    const auto at = [&](double v) {
      const double c = step > 0.0 ? std::floor((v - origin) / step) : 0.0;
      return static_cast<std::size_t>(std::clamp(c, 0.0, double{kCoarse - 1}));
    };
    return std::pair{at(v0), at(v1)};
  };
  std::vector<char> marked(everything ? 0 : kCoarse * kCoarse, 0);
  for (std::size_t r = 0; r < rings.size() && !everything; ++r) {
    if (!focus[r] || rings[r]->empty()) continue;
    const auto [x0, x1] = coarse_range(boxes[r].first.x, boxes[r].second.x, all_lo.x, coarse_w);
    const auto [y0, y1] = coarse_range(boxes[r].first.y, boxes[r].second.y, all_lo.y, coarse_h);
    for (std::size_t y = y0; y <= y1; ++y) {
      for (std::size_t x = x0; x <= x1; ++x) marked[y * kCoarse + x] = 1;
    }
  }
  const auto reaches_focus = [&](const Point& a, const Point& b) {
    const auto [x0, x1] = coarse_range(std::fmin(a.x, b.x), std::fmax(a.x, b.x), all_lo.x, coarse_w);
    const auto [y0, y1] = coarse_range(std::fmin(a.y, b.y), std::fmax(a.y, b.y), all_lo.y, coarse_h);
    for (std::size_t y = y0; y <= y1; ++y) {
      for (std::size_t x = x0; x <= x1; ++x) {
        if (marked[y * kCoarse + x]) return true;
      }
    }
    return false;
  };

  std::vector<RingEdge> edges;
  double length = 0.0;
  Point lo{kInf, kInf};
  for (std::size_t r = 0; r < rings.size(); ++r) {
    const Ring& ring = *rings[r];
    if (ring.size() < 2) continue;
    for (std::size_t k = 0; k < ring.size(); ++k) {
      const Point& a = ring[k];
      const Point& b = ring[(k + 1) % ring.size()];
      if (!focused(r) && !reaches_focus(a, b)) continue;
      edges.push_back({r, k, ring.size()});
      length += dist(a, b);
      lo = {std::fmin(lo.x, std::fmin(a.x, b.x)), std::fmin(lo.y, std::fmin(a.y, b.y))};
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
  if (!(h > 0.0)) {
    std::fill(meets.begin(), meets.end(), 1);
    return meets;
  }
  // Spans in blocks on the pool; a span too wide for the grid gives up on all of it.
  std::vector<CellSpan> spans(edges.size());
  std::atomic<bool> off_grid{false};
  constexpr std::size_t kSpanBlock = 65536;
  parallel_for_blocks(edges.size(), kSpanBlock, [&](std::size_t, std::size_t first,
                                                    std::size_t last) {
    for (std::size_t i = first; i < last; ++i) {
      const auto [a, b] = end_points(edges[i]);
      const double x0 = std::floor((std::fmin(a.x, b.x) - lo.x) / h);
      const double x1 = std::floor((std::fmax(a.x, b.x) - lo.x) / h);
      const double y0 = std::floor((std::fmin(a.y, b.y) - lo.y) / h);
      const double y1 = std::floor((std::fmax(a.y, b.y) - lo.y) / h);
      if (!(x1 < kMaxCells && y1 < kMaxCells) || (x1 - x0 + 1) * (y1 - y0 + 1) > 4096) {
        off_grid.store(true, std::memory_order_relaxed);
        return;
      }
      spans[i] = {static_cast<std::uint32_t>(x0), static_cast<std::uint32_t>(y0),
                  static_cast<std::uint32_t>(x1), static_cast<std::uint32_t>(y1)};
    }
  });
  if (off_grid.load()) {
    std::fill(meets.begin(), meets.end(), 1);
    return meets;
  }
  const double rows = drop_empty_rows(spans);
  if (rows > 4.0 * static_cast<double>(edges.size()) + 1024.0 ||
      edges.size() >= std::numeric_limits<std::uint32_t>::max()) {
    std::fill(meets.begin(), meets.end(), 1);
    return meets;
  }
  const CellRuns grid = cell_runs(spans, static_cast<std::uint32_t>(rows));
  // Cells in blocks on the pool, each block with flags of its own, joined after: the same flags
  // whatever the thread count.
  const std::size_t cells = grid.runs.size() - 1;
  const std::size_t blocks = std::min<std::size_t>(64, (edges.size() + 4095) / 4096);
  std::vector<std::vector<char>> block_meets(blocks, std::vector<char>(rings.size(), 0));
  parallel_for(blocks, [&](std::size_t block) {
    std::vector<char>& found = block_meets[block];
    for (std::size_t c = cells * block / blocks; c < cells * (block + 1) / blocks; ++c) {
      const auto& cell = grid.entries[grid.runs[c]];
      for (std::size_t u = grid.runs[c]; u < grid.runs[c + 1]; ++u) {
        for (std::size_t v = u + 1; v < grid.runs[c + 1]; ++v) {
          const std::size_t i = grid.entries[u].item;
          const std::size_t j = grid.entries[v].item;
          const RingEdge& e = edges[i];
          const RingEdge& f = edges[j];
          if (adjacent(e, f) || (found[e.ring] && found[f.ring])) continue;
          if (!focused(e.ring) && !focused(f.ring)) continue;
          if (!first_shared_cell(spans[i], spans[j], cell.x, cell.y)) continue;
          const auto [a, b] = end_points(e);
          const auto [c2, d] = end_points(f);
          // In floating point: a near miss either way is settled by the triangulation after.
          if (segments_meet(a, b, c2, d, orient)) found[e.ring] = found[f.ring] = 1;
        }
      }
    }
  });
  for (const std::vector<char>& found : block_meets) {
    for (std::size_t r = 0; r < rings.size(); ++r) meets[r] = (meets[r] || found[r]) ? 1 : 0;
  }
  return meets;
}

}  // namespace linetopo
