// Which shapes meet: edges listed per grid cell, crowded cells split by a quadtree.
#include "inflate/meeting.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <unordered_map>
#include <utility>

#include "geometry/cell_grid.hpp"
#include "geometry/segments.hpp"
#include "parallel/parallel.hpp"

namespace linetopo::inflate_parts {
namespace {

// Rings of different shapes this close (grid units) count as meeting: each sweep rounds the
// points where edges cross by up to half a unit, so rings closer than this, united apart, could
// end up touching.
constexpr std::int64_t kApart = 2;
// Coordinates spanning more than this lose whole units in doubles, which the nearness test uses.
constexpr double kMaxExactSpan = 0x1p50;
// An edge's box may cover at most kMaxEdgeCells cells; a cell of more than kCrowdedCell edges is
// split by a quadtree, whose leaves hold at most kLeafEdges edges unless kMaxDepth is reached or
// most of their edges reach several quarters. The pairs tested number at most kPairsPerEdge per
// edge (plus kPairsFloor): beyond, a sweep does no worse.
constexpr double kMaxEdgeCells = 4096.0;
// Cells per axis of the coarse grid that leaves out edges no other shape's box reaches: about
// one per kCoarseEdges edges, at most kMaxCoarse.
constexpr double kCoarseEdges = 16.0;
constexpr double kMaxCoarse = 256.0;
constexpr std::size_t kCrowdedCell = 48;
constexpr std::size_t kLeafEdges = 16;
constexpr int kMaxDepth = 56;
constexpr double kPairsPerEdge = 64.0;
constexpr double kPairsFloor = 1e6;

struct RingEdge {
  std::uint32_t ring;
  std::uint32_t index;  // from vertex index to the next
};

Wide cross(const c2::Point64& o, const c2::Point64& a, const c2::Point64& b) {
  return static_cast<Wide>(a.x - o.x) * (b.y - o.y) - static_cast<Wide>(a.y - o.y) * (b.x - o.x);
}

// Whether p lies within kApart of the segment ab, in doubles (exact enough below
// kMaxExactSpan).
bool near_point(const c2::Point64& p, const c2::Point64& a, const c2::Point64& b) {
  const double dx = static_cast<double>(b.x - a.x);
  const double dy = static_cast<double>(b.y - a.y);
  const double px = static_cast<double>(p.x - a.x);
  const double py = static_cast<double>(p.y - a.y);
  const double length2 = dx * dx + dy * dy;
  const double t = length2 > 0.0 ? std::clamp((px * dx + py * dy) / length2, 0.0, 1.0) : 0.0;
  const double ex = px - t * dx;
  const double ey = py - t * dy;
  const auto apart = static_cast<double>(kApart);
  return ex * ex + ey * ey <= apart * apart;
}

// Segments that do not cross are nearest at an end of one of them.
bool near(const c2::Point64& a, const c2::Point64& b, const c2::Point64& c, const c2::Point64& d) {
  if (std::max(a.x, b.x) + kApart < std::min(c.x, d.x) ||
      std::max(c.x, d.x) + kApart < std::min(a.x, b.x) ||
      std::max(a.y, b.y) + kApart < std::min(c.y, d.y) ||
      std::max(c.y, d.y) + kApart < std::min(a.y, b.y)) {
    return false;
  }
  return segments_meet(a, b, c, d, cross) || near_point(a, c, d) || near_point(b, c, d) ||
         near_point(c, a, b) || near_point(d, a, b);
}

// Whether a ring folds back on itself or repeats a point at one of its vertices, which the cell
// test (skipping neighbouring edges) cannot see.
bool folds(const c2::Path64& ring) {
  const std::size_t n = ring.size();
  for (std::size_t k = 0; k < n; ++k) {
    const c2::Point64& a = ring[(k + n - 1) % n];
    const c2::Point64& v = ring[k];
    const c2::Point64& b = ring[(k + 1) % n];
    if (v == a || v == b) return true;
    const Wide dot = static_cast<Wide>(a.x - v.x) * (b.x - v.x) +
                     static_cast<Wide>(a.y - v.y) * (b.y - v.y);
    if (cross(v, a, b) == 0 && dot > 0) return true;
  }
  return false;
}

std::size_t root(std::vector<std::size_t>& up, std::size_t v) {
  while (up[v] != v) v = up[v] = up[up[v]];
  return v;
}

// An edge's box, grown by kApart, on the grid (corners included).
struct Box {
  std::int64_t x0, y0, x1, y1;
};

// The leaves of a quadtree over the items within `area`: each leaf lists the items whose boxes
// reach it.
std::vector<std::vector<std::uint32_t>> quadtree_leaves(const std::vector<std::uint32_t>& items,
                                                        const Box& area,
                                                        const std::vector<Box>& boxes) {
  struct Node {
    Box box;
    std::vector<std::uint32_t> items;
    int depth;
  };
  std::vector<std::vector<std::uint32_t>> leaves;
  std::vector<Node> stack{{area, items, 0}};
  while (!stack.empty()) {
    Node node = std::move(stack.back());
    stack.pop_back();
    const Box& n = node.box;
    const std::size_t count = node.items.size();
    bool leaf =
        count <= kLeafEdges || node.depth == kMaxDepth || n.x1 - n.x0 < 2 || n.y1 - n.y0 < 2;
    std::array<Node, 4> quarters;
    if (!leaf) {
      const std::int64_t mx = n.x0 + (n.x1 - n.x0) / 2;
      const std::int64_t my = n.y0 + (n.y1 - n.y0) / 2;
      quarters[0].box = {n.x0, n.y0, mx, my};
      quarters[1].box = {mx + 1, n.y0, n.x1, my};
      quarters[2].box = {n.x0, my + 1, mx, n.y1};
      quarters[3].box = {mx + 1, my + 1, n.x1, n.y1};
      std::size_t placed = 0;
      for (Node& q : quarters) {
        q.depth = node.depth + 1;
        for (const std::uint32_t i : node.items) {
          const Box& e = boxes[i];
          if (e.x0 <= q.box.x1 && q.box.x0 <= e.x1 && e.y0 <= q.box.y1 && q.box.y0 <= e.y1) {
            q.items.push_back(i);
          }
        }
        placed += q.items.size();
      }
      // Where most edges reach several quarters, splitting only copies them.
      leaf = placed > 2 * count;
    }
    if (leaf) {
      leaves.push_back(std::move(node.items));
      continue;
    }
    for (Node& q : quarters) {
      if (!q.items.empty()) stack.push_back(std::move(q));
    }
  }
  return leaves;
}

}  // namespace

std::optional<Meeting> meeting(const std::vector<const c2::Path64*>& rings,
                               const std::vector<std::size_t>& owner, std::size_t shapes,
                               bool within) {
  Meeting out;
  out.group.resize(shapes);
  std::iota(out.group.begin(), out.group.end(), std::size_t{0});
  std::vector<c2::Rect64> shape_boxes(shapes, c2::InvalidRect64);
  c2::Rect64 all = c2::InvalidRect64;
  for (std::size_t r = 0; r < rings.size(); ++r) {
    const c2::Path64& ring = *rings[r];
    if (within && (ring.size() < 3 || folds(ring))) {
      out.self_meets = true;
      return out;
    }
    for (c2::Rect64* b : {&shape_boxes[owner[r]], &all}) {
      for (const c2::Point64& q : ring) {
        b->left = std::min(b->left, q.x);
        b->top = std::min(b->top, q.y);
        b->right = std::max(b->right, q.x);
        b->bottom = std::max(b->bottom, q.y);
      }
    }
  }
  if (rings.empty() || all.left > all.right) return out;
  if (rings.size() >= std::numeric_limits<std::uint32_t>::max() ||
      !(static_cast<double>(all.right) - static_cast<double>(all.left) < kMaxExactSpan) ||
      !(static_cast<double>(all.bottom) - static_cast<double>(all.top) < kMaxExactSpan)) {
    return std::nullopt;
  }
  // Between shapes, only edges where another shape's box reaches can meet: a coarse grid over
  // the boxes tells, per cell, how many shapes' boxes reach it (at most two counted) and one of
  // them. A large shape's edges far from the others then stay out of the finer test.
  const std::int64_t reach = kApart;
  std::size_t vertices = 0;
  for (const c2::Path64* ring : rings) vertices += ring->size();
  const auto side = static_cast<std::size_t>(std::clamp(
      std::sqrt(static_cast<double>(vertices) / kCoarseEdges), 1.0, kMaxCoarse));
  const auto per_axis = static_cast<double>(side);
  const double coarse_w = (static_cast<double>(all.right - all.left) + 1.0) / per_axis;
  const double coarse_h = (static_cast<double>(all.bottom - all.top) + 1.0) / per_axis;
  const auto coarse = [side](std::int64_t lo, std::int64_t hi, std::int64_t origin, double step) {
    const auto at = [&](std::int64_t v) {
      const double c = std::floor(static_cast<double>(v - origin) / step);
      return static_cast<std::size_t>(std::clamp(c, 0.0, static_cast<double>(side - 1)));
    };
    return std::pair{at(lo), at(hi)};
  };
  std::vector<std::uint8_t> covers;
  std::vector<std::size_t> first_shape;
  if (!within) {
    covers.assign(side * side, 0);
    first_shape.assign(side * side, 0);
    for (std::size_t s = 0; s < shapes; ++s) {
      const c2::Rect64& b = shape_boxes[s];
      if (b.left > b.right) continue;
      const auto [x0, x1] = coarse(b.left - reach, b.right + reach, all.left, coarse_w);
      const auto [y0, y1] = coarse(b.top - reach, b.bottom + reach, all.top, coarse_h);
      for (std::size_t y = y0; y <= y1; ++y) {
        for (std::size_t x = x0; x <= x1; ++x) {
          std::uint8_t& c = covers[y * side + x];
          if (c == 0) first_shape[y * side + x] = s;
          c = static_cast<std::uint8_t>(std::min(2, c + 1));
        }
      }
    }
  }
  const auto shared = [&](const c2::Point64& a, const c2::Point64& b, std::size_t s) {
    const auto [x0, x1] = coarse(std::min(a.x, b.x), std::max(a.x, b.x), all.left, coarse_w);
    const auto [y0, y1] = coarse(std::min(a.y, b.y), std::max(a.y, b.y), all.top, coarse_h);
    for (std::size_t y = y0; y <= y1; ++y) {
      for (std::size_t x = x0; x <= x1; ++x) {
        const std::size_t c = y * side + x;
        if (covers[c] == 2 || (covers[c] == 1 && first_shape[c] != s)) return true;
      }
    }
    return false;
  };
  std::vector<RingEdge> edges;
  c2::Rect64 box = c2::InvalidRect64;
  double length = 0.0;
  for (std::size_t r = 0; r < rings.size(); ++r) {
    const c2::Path64& ring = *rings[r];
    for (std::size_t k = 0; k < ring.size(); ++k) {
      const c2::Point64& a = ring[k];
      const c2::Point64& b = ring[(k + 1) % ring.size()];
      if (!within && !shared(a, b, owner[r])) continue;
      edges.push_back({static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(k)});
      const double dx = static_cast<double>(b.x - a.x);
      const double dy = static_cast<double>(b.y - a.y);
      length += std::sqrt(dx * dx + dy * dy);
      box.left = std::min({box.left, a.x, b.x});
      box.top = std::min({box.top, a.y, b.y});
      box.right = std::max({box.right, a.x, b.x});
      box.bottom = std::max({box.bottom, a.y, b.y});
    }
  }
  if (edges.empty()) return out;
  if (edges.size() >= std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  const auto ends = [&](const RingEdge& e) {
    const c2::Path64& ring = *rings[e.ring];
    return std::pair<const c2::Point64&, const c2::Point64&>{ring[e.index],
                                                            ring[(e.index + 1) % ring.size()]};
  };
  // Cells about an edge long, each edge's box grown by kApart; a cell crowded with edges (short
  // ones, where others are long: rings of a fixed count of points, one inside another) is split
  // further by a quadtree. Each unit of work is a cell or a quadtree leaf.
  const double h =
      std::max(length / static_cast<double>(edges.size()), 4.0 * static_cast<double>(reach));
  std::vector<CellSpan> cells(edges.size());
  std::vector<Box> boxes(edges.size());
  double rows = 0.0;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const auto [a, b] = ends(edges[i]);
    boxes[i] = {std::min(a.x, b.x) - reach, std::min(a.y, b.y) - reach,
                std::max(a.x, b.x) + reach, std::max(a.y, b.y) + reach};
    const auto at = [&](std::int64_t v, std::int64_t origin) {
      return std::floor(std::max(0.0, static_cast<double>(v - origin)) / h);
    };
    const double x0 = at(boxes[i].x0, box.left);
    const double x1 = at(boxes[i].x1, box.left);
    const double y0 = at(boxes[i].y0, box.top);
    const double y1 = at(boxes[i].y1, box.top);
    if ((x1 - x0 + 1.0) * (y1 - y0 + 1.0) > kMaxEdgeCells) return std::nullopt;
    cells[i] = {static_cast<std::uint32_t>(x0), static_cast<std::uint32_t>(y0),
                static_cast<std::uint32_t>(x1), static_cast<std::uint32_t>(y1)};
    rows = std::max(rows, y1 + 1.0);
  }
  if (rows > 4.0 * static_cast<double>(edges.size()) + 1024.0) return std::nullopt;
  const CellRuns grid = cell_runs(cells, static_cast<std::uint32_t>(rows));
  struct Unit {
    std::size_t begin, end;  // into unit_items
    std::uint32_t x, y;      // the cell, in which each pair is tested first
  };
  std::vector<Unit> units;
  std::vector<std::uint32_t> unit_items;
  double pairs = 0.0;
  const auto add_unit = [&](auto first, auto last, std::uint32_t x, std::uint32_t y) {
    const auto count = static_cast<double>(last - first);
    pairs += 0.5 * count * (count - 1.0);
    units.push_back({unit_items.size(), unit_items.size() + (last - first), x, y});
    unit_items.insert(unit_items.end(), first, last);
  };
  std::vector<std::uint32_t> crowd;
  for (std::size_t c = 0; c + 1 < grid.runs.size(); ++c) {
    const auto& cell = grid.entries[grid.runs[c]];
    crowd.clear();
    bool mixed = false;  // edges of more than one shape
    for (std::size_t u = grid.runs[c]; u < grid.runs[c + 1]; ++u) {
      crowd.push_back(grid.entries[u].item);
      mixed = mixed || owner[edges[crowd.back()].ring] != owner[edges[crowd.front()].ring];
    }
    if (!mixed && !within) continue;
    if (crowd.size() <= kCrowdedCell) {
      add_unit(crowd.begin(), crowd.end(), cell.x, cell.y);
    } else {
      const auto corner = [&](std::uint32_t k, std::int64_t origin) {
        return origin + static_cast<std::int64_t>(std::floor(static_cast<double>(k) * h));
      };
      const Box area{corner(cell.x, box.left), corner(cell.y, box.top),
                     corner(cell.x + 1, box.left), corner(cell.y + 1, box.top)};
      for (const std::vector<std::uint32_t>& leaf : quadtree_leaves(crowd, area, boxes)) {
        add_unit(leaf.begin(), leaf.end(), cell.x, cell.y);
      }
    }
    if (pairs > kPairsPerEdge * static_cast<double>(edges.size()) + kPairsFloor) {
      return std::nullopt;
    }
  }

  // Leaves in blocks on the pool, each block linking shapes in a map of its own (looked up only),
  // joined after: the same groups whatever the thread count. A pair in several leaves is tested
  // in each.
  const std::size_t blocks = std::min<std::size_t>(64, (edges.size() + 4095) / 4096);
  std::vector<std::vector<std::pair<std::size_t, std::size_t>>> links(blocks);
  std::vector<char> self(blocks, 0);
  parallel_for(blocks, [&](std::size_t block) {
    std::unordered_map<std::size_t, std::size_t> up;  // shape -> linked shape, a forest
    const auto find = [&up](std::size_t v) {
      for (auto it = up.find(v); it != up.end() && it->second != v; it = up.find(v)) {
        v = it->second;
      }
      return v;
    };
    const std::size_t first = units.size() * block / blocks;
    const std::size_t last = units.size() * (block + 1) / blocks;
    for (std::size_t c = first; c < last; ++c) {
      const Unit& unit = units[c];
      for (std::size_t u = unit.begin; u < unit.end; ++u) {
        for (std::size_t v = u + 1; v < unit.end; ++v) {
          const std::uint32_t i = unit_items[u];
          const std::uint32_t j = unit_items[v];
          if (!first_shared_cell(cells[i], cells[j], unit.x, unit.y)) continue;
          const RingEdge& e = edges[i];
          const RingEdge& f = edges[j];
          const std::size_t s = owner[e.ring];
          const std::size_t t = owner[f.ring];
          if (s == t && (!within || self[block])) continue;
          const auto [a, b] = ends(e);
          const auto [p, q] = ends(f);
          if (s == t) {
            const std::size_t n = rings[e.ring]->size();
            const std::size_t gap = e.index > f.index ? e.index - f.index : f.index - e.index;
            const bool neighbours = e.ring == f.ring && (gap == 1 || gap == n - 1);
            if (!neighbours && segments_meet(a, b, p, q, cross)) self[block] = 1;
            continue;
          }
          const std::size_t rs = find(s);
          const std::size_t rt = find(t);
          if (rs == rt || !near(a, b, p, q)) continue;
          up[rs] = rt;
          up.try_emplace(rt, rt);
          links[block].emplace_back(s, t);
        }
      }
    }
  });
  for (std::size_t b = 0; b < blocks; ++b) {
    out.self_meets = out.self_meets || self[b] != 0;
    for (const auto& [s, t] : links[b]) {
      const std::size_t rs = root(out.group, s);
      const std::size_t rt = root(out.group, t);
      out.group[std::max(rs, rt)] = std::min(rs, rt);
    }
  }
  for (std::size_t s = 0; s < shapes; ++s) out.group[s] = root(out.group, s);
  return out;
}

}  // namespace linetopo::inflate_parts
